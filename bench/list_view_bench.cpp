// The device list's find and the maker table, over the real model and the real registry files.
// Needs a Qt application (offscreen unless QT_QPA_PLATFORM says otherwise), hence its own main.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/maker_registry.h"
#include "app/monitor_controller.h"
#include "bench_devices.h"
#include "ui/device_list_model.h"
#include "ui/device_list_view.h"

namespace zqn::bench {
namespace {

// A controller holding n devices as the monitor writes them (every seventh named プリンタ), loaded
// from its CSV file as at start-up, with the model and the view the window shows.
class ListFixture {
public:
    explicit ListFixture(std::size_t n)
    {
        QFile csv(dir_.filePath(QStringLiteral("zqnlist.csv")));
        std::string text;
        const discovery::DeviceList devices = deviceListOf(n);
        for (const auto& line : devices.lines())
            text.append(line).append("\r\n");
        csv.open(QIODevice::WriteOnly);
        csv.write(text.data(), static_cast<qint64>(text.size()));
        csv.close();
        QFile ini(dir_.filePath(QStringLiteral("zqnlist.Ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[SYSTEM]\r\nMAXDEV=1000000\r\n[DATA]\r\nCSV=%1\r\n")
                      .arg(QDir::toNativeSeparators(csv.fileName()))
                      .toLocal8Bit());
        ini.close();

        app::MonitorController::Options options;
        options.settingsPath = ini.fileName();
        options.scheduleDeferredStart = false;
        controller_ = std::make_unique<app::MonitorController>(std::move(options));
        controller_->startUp();
        model_ = std::make_unique<ui::DeviceListModel>(*controller_);
        view_ = std::make_unique<ui::DeviceListView>(*controller_, *model_);
        view_->resize(580, 340);
    }

    ui::DeviceFilterModel& filter() { return view_->filter(); }
    ui::DeviceListView& view() { return *view_; }
    app::MonitorController& controller() { return *controller_; }
    ui::DeviceListModel& model() { return *model_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<app::MonitorController> controller_;
    std::unique_ptr<ui::DeviceListModel> model_;
    std::unique_ptr<ui::DeviceListView> view_;
};

// What the user types, each a keystroke over the whole list: a text most lines hold, a name a
// seventh hold, a MAC prefix a sixteenth hold, and one no line holds.
const std::array<QString, 4> kTyped = {QStringLiteral("noname"), QStringLiteral("プリンタ"),
                                       QStringLiteral("0a:00:00:00:1"), QStringLiteral("zzz")};

// One keystroke: from the previous text to the next, the filter looks at every line again and the
// view follows. Alternates with the empty text, which shows every line, so both ways are timed.
void filterKeystroke(benchmark::State& state)
{
    ListFixture list(static_cast<std::size_t>(state.range(0)));
    const QString& typed = kTyped[static_cast<std::size_t>(state.range(1))];
    bool empty = false;
    int shown = 0;
    for (auto _ : state) {
        list.filter().setText(empty ? QString() : typed);
        shown = list.filter().rowCount();
        benchmark::DoNotOptimize(shown);
        empty = !empty;
    }
    list.filter().setText(typed);
    state.counters["shown"] = list.filter().rowCount();
    state.SetLabel(typed.toStdString());
}
BENCHMARK(filterKeystroke)
    ->ArgsProduct({{65536}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

// The announcement of a device of deviceListOf (MAC 0A followed by the device's five bytes).
QByteArray announcementOf(std::size_t device)
{
    QByteArray bytes(20, '\0');
    bytes[9] = 0x01;
    bytes[11] = 0x0C;
    bytes[14] = 0x0A;
    for (int k = 1; k < 6; ++k)
        bytes[14 + k] = static_cast<char>(device >> (8 * (5 - k)) & 0xFF);
    return bytes;
}

// A refresh interval of paced updates (100 renewed devices spread over the list, as 1,000/s give
// in 100 ms) with the view painted, without and with a filter set: the filter looks again only at
// the rows that changed.
void updatesWithFilter(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    ListFixture list(n);
    if (state.range(1) != 0)
        list.filter().setText(kTyped[2]);
    list.view().show();
    QApplication::processEvents();
    std::vector<QByteArray> datagrams;
    for (std::size_t j = 0; j < n; ++j)
        datagrams.push_back(announcementOf(j * 7919 % n));
    const QByteArray fromIp("192.168.7.7");
    std::size_t next = 0;
    for (auto _ : state) {
        for (int k = 0; k < 100; ++k) {
            list.controller().handleDatagram(datagrams[next], fromIp);
            next = (next + 1) % n;
        }
        list.model().refresh();
        list.view().viewport()->repaint();
    }
    state.SetItemsProcessed(state.iterations() * 100);
    state.SetLabel(state.range(1) != 0 ? "filter set" : "no filter");
}
BENCHMARK(updatesWithFilter)->ArgsProduct({{65536}, {0, 1}})->Unit(benchmark::kMicrosecond);

// The registry files of ieee-data, read and sorted as at the first tooltip.
void makerTableLoad(benchmark::State& state)
{
    const QString folder = app::MakerRegistry::defaultFolder();
    if (!QFile::exists(QDir(folder).filePath(QStringLiteral("oui.csv")))) {
        state.SkipWithError("no /usr/share/ieee-data/oui.csv (apt-get install ieee-data)");
        return;
    }
    std::size_t bytes = 0;
    std::size_t entries = 0;
    for (auto _ : state) {
        app::MakerRegistry registry(folder);
        const auto& table = registry.table();
        bytes = table.bytes();
        entries = table.size();
        benchmark::DoNotOptimize(table.makerOf("00:00:0C:00:00:01"));
    }
    state.counters["entries"] = static_cast<double>(entries);
    state.counters["table_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(makerTableLoad)->Unit(benchmark::kMillisecond);

void makerLookup(benchmark::State& state)
{
    app::MakerRegistry registry;
    if (registry.table().size() == 0) {
        state.SkipWithError("no registry files (apt-get install ieee-data)");
        return;
    }
    // MACs spread over the whole space, most of them of no known maker.
    std::string mac = "00:00:00:00:00:00";
    std::uint64_t value = 0;
    for (auto _ : state) {
        value = (value + 0x9E3779B97F4Aull) & 0xFFFFFFFFFFFFull;
        for (int k = 0; k < 6; ++k) {
            const auto byte = static_cast<unsigned>(value >> (8 * (5 - k)) & 0xFF);
            mac[3 * k] = "0123456789ABCDEF"[byte >> 4];
            mac[3 * k + 1] = "0123456789ABCDEF"[byte & 0xF];
        }
        benchmark::DoNotOptimize(registry.makerOf(mac));
    }
}
BENCHMARK(makerLookup);

} // namespace
} // namespace zqn::bench

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
