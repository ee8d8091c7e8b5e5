#include "app/maker_registry.h"

#include <QDir>

#include <system_error>

#include "app/platform.h"
#include "storage/file_store.h"

namespace zqn::app {

namespace {

discovery::MakerTable readTable(const QString& folder)
{
    discovery::MakerTable table;
    // The 24-bit blocks, then those carved out of them: 28 bits (MA-M), 36 bits (MA-S, IAB).
    for (const char* name : {"oui.csv", "mam.csv", "oui36.csv", "iab.csv"}) {
        if (const auto bytes = storage::readExistingFile(QDir(folder).filePath(QLatin1String(name))); bytes && *bytes)
            table.addCsv(**bytes);
    }
    table.seal();
    // Reading held the files' text and an index of the names besides.
    releaseFreedMemory();
    return table;
}

} // namespace

MakerRegistry::MakerRegistry(QString folder)
    : folder_(std::move(folder))
    , receiver_(std::make_unique<QObject>())
{
}

MakerRegistry::~MakerRegistry()
{
    // Its last word goes to receiver_, which must outlive it.
    const std::lock_guard lock(readingMutex_);
    if (reading_.valid())
        reading_.wait();
}

const discovery::MakerTable& MakerRegistry::table() const
{
    std::call_once(once_, [this] {
        std::unique_lock lock(readingMutex_);
        if (reading_.valid()) {
            auto reading = std::move(reading_);
            lock.unlock();
            table_.emplace(reading.get());
        } else {
            lock.unlock();
            table_.emplace(readTable(folder_));
        }
        read_ = true;
    });
    return *table_;
}

QString MakerRegistry::makerOf(std::string_view macText) const
{
    const std::string_view maker = table().makerOf(macText);
    return QString::fromUtf8(maker.data(), static_cast<qsizetype>(maker.size()));
}

void MakerRegistry::whenRead(QObject* context, std::function<void()> then) const
{
    if (read_ && waiting_.empty()) {
        then();
        return;
    }
    waiting_.emplace_back(context, std::move(then));
    const std::lock_guard lock(readingMutex_);
    if (read_ || reading_.valid())
        return;
    try {
        reading_ = std::async(std::launch::async, [this, folder = folder_, receiver = receiver_.get()] {
            discovery::MakerTable table = readTable(folder);
            QMetaObject::invokeMethod(receiver, [this] { deliver(); }, Qt::QueuedConnection);
            return table;
        });
    } catch (const std::system_error&) {
        // No thread to be had: read here after all, once this slot is done.
        QMetaObject::invokeMethod(receiver_.get(), [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void MakerRegistry::deliver() const
{
    table();
    // A call may ask again: it joins the end of the line.
    while (!waiting_.empty()) {
        auto [context, then] = std::move(waiting_.front());
        waiting_.erase(waiting_.begin());
        if (context)
            then();
    }
}

} // namespace zqn::app
