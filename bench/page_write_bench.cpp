#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <ctime>
#include <fstream>

#include "app/page_publisher.h"
#include "bench_devices.h"
#include "report/list_page.h"
#include "settings/settings.h"
#include "storage/file_store.h"
#include "text/byte_sink.h"

namespace zqn::bench {
namespace {

constexpr std::string_view kStamp = "2024/05/01 09:15:30";

// What a page write makes of each file, kept in memory.
struct Rendered final : text::ByteSink {
    std::string bytes;
    void write(std::string_view piece) override { bytes.append(piece); }
};

std::string rendered(const report::PageBlocks& blocks, const discovery::DeviceList& devices, bool page)
{
    Rendered out;
    const std::string_view path = page ? "p" : "c";
    report::writeListPage(blocks, devices, {kStamp, 80, page ? path : "", page ? "" : path},
                          [&out](std::string_view, const std::function<void(text::ByteSink&)>& produce) {
                              produce(out);
                              return true;
                          });
    return out.bytes;
}

settings::Settings settingsFor(const std::string& htmlPath, const std::string& csvPath)
{
    settings::Settings settings;
    settings.htmlPath = htmlPath;
    settings.csvPath = csvPath;
    return settings;
}

// A page write of a list of that many devices and the bytes it produces, for writing them again
// plainly.
struct PageWriteSetup {
    explicit PageWriteSetup(std::size_t deviceCount) : devices(deviceListOf(deviceCount)) {}

    QTemporaryDir folder;
    std::string htmlPath = (folder.path() + "/zqnlist.htm").toStdString();
    std::string csvPath = (folder.path() + "/zqnlist.csv").toStdString();
    std::string plainPath = (folder.path() + "/plain.bin").toStdString();
    std::string ofstreamPath = (folder.path() + "/ofstream.bin").toStdString();
    report::PageBlocks blocks = report::buildBlocks(report::defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
    discovery::DeviceList devices;
    settings::Settings settings = settingsFor(htmlPath, csvPath);
    std::string page = rendered(blocks, devices, true);
    std::string csv = rendered(blocks, devices, false);
    std::string joined = page + csv;
    mutable app::PagePublisher publisher{settings, devices, [] { return text::LocalDateTime{2024, 5, 1, 9, 15, 30}; }};

    bool writePage() const
    {
        const auto outcome = publisher.publish();
        return !outcome.pageFailed && !outcome.csvFailed;
    }
    bool replacePlainly() const
    {
        return storage::replaceFile(std::string_view(htmlPath), page)
               && storage::replaceFile(std::string_view(csvPath), csv);
    }
    bool replaceOneFile() const { return storage::replaceFile(std::string_view(plainPath), joined).ok(); }
    void writeOfstream() const
    {
        std::ofstream out(ofstreamPath, std::ios::binary | std::ios::trunc);
        out.write(joined.data(), static_cast<std::streamsize>(joined.size()));
    }
};

void renderPage(benchmark::State& state)
{
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(rendered(setup.blocks, setup.devices, true));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.page.size()));
}
BENCHMARK(renderPage)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void pageAndCsvWrite(benchmark::State& state)
{
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!setup.writePage())
            state.SkipWithError("page write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.joined.size()));
}
BENCHMARK(pageAndCsvWrite)->Arg(10'000)->Unit(benchmark::kMillisecond);

void plainReplaceOfTheSameTwoFiles(benchmark::State& state)
{
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!setup.replacePlainly())
            state.SkipWithError("replace failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.joined.size()));
}
BENCHMARK(plainReplaceOfTheSameTwoFiles)->Arg(10'000)->Unit(benchmark::kMillisecond);

void plainReplaceOfOneFile(benchmark::State& state)
{
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!setup.replaceOneFile())
            state.SkipWithError("replace failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.joined.size()));
}
BENCHMARK(plainReplaceOfOneFile)->Arg(10'000)->Unit(benchmark::kMillisecond);

void plainOfstreamWrite(benchmark::State& state)
{
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        setup.writeOfstream();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.joined.size()));
}
BENCHMARK(plainOfstreamWrite)->Arg(10'000)->Unit(benchmark::kMillisecond);

// The page write and the plain replaces of the same bytes taken in turn in every iteration, so
// that the ratios are measured under the same disk and machine load. The ofstream write stays out:
// its unsynced data would be flushed by the next replace's sync and charged to it.
// The thread's CPU time (user and system), which a busy machine disturbs far less than the wall
// clock, and which leaves out the wait for the disk.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void pageWriteAgainstPlainWrites(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const PageWriteSetup setup(static_cast<std::size_t>(state.range(0)));
    Clock::duration page{}, twoFiles{}, oneFile{};
    double pageCpu = 0, twoFilesCpu = 0, oneFileCpu = 0;
    const auto timed = [](Clock::duration& total, double& cpuTotal, const auto& work) {
        const auto start = Clock::now();
        const double cpuStart = threadCpuMs();
        work();
        cpuTotal += threadCpuMs() - cpuStart;
        const auto spent = Clock::now() - start;
        total += spent;
        return spent;
    };
    for (auto _ : state) {
        Clock::duration iteration{};
        iteration += timed(page, pageCpu, [&] {
            if (!setup.writePage())
                state.SkipWithError("page write failed");
        });
        iteration += timed(twoFiles, twoFilesCpu, [&] { setup.replacePlainly(); });
        iteration += timed(oneFile, oneFileCpu, [&] { setup.replaceOneFile(); });
        state.SetIterationTime(std::chrono::duration<double>(iteration).count());
    }
    const auto ms = [&](Clock::duration total) {
        return std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(state.iterations());
    };
    state.counters["page_write_ms"] = ms(page);
    state.counters["plain_two_files_ms"] = ms(twoFiles);
    state.counters["plain_one_file_ms"] = ms(oneFile);
    state.counters["ratio_vs_two_files"] = ms(page) / ms(twoFiles);
    state.counters["ratio_vs_one_file"] = ms(page) / ms(oneFile);
    state.counters["cpu_ratio_vs_two_files"] = pageCpu / twoFilesCpu;
    state.counters["cpu_ratio_vs_one_file"] = pageCpu / oneFileCpu;
    state.counters["bytes"] = static_cast<double>(setup.joined.size());
}
BENCHMARK(pageWriteAgainstPlainWrites)->Arg(10'000)->Arg(65'536)->Arg(100'000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zqn::bench
