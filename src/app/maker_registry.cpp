#include "app/maker_registry.h"

#include <QDir>

#include "storage/file_store.h"

namespace zqn::app {

namespace {

discovery::MakerTable read(const QString& folder)
{
    discovery::MakerTable table;
    // The 24-bit blocks, then those carved out of them: 28 bits (MA-M), 36 bits (MA-S, IAB).
    for (const char* name : {"oui.csv", "mam.csv", "oui36.csv", "iab.csv"}) {
        if (const auto bytes = storage::readExistingFile(QDir(folder).filePath(QLatin1String(name))); bytes && *bytes)
            table.addCsv(**bytes);
    }
    table.seal();
    return table;
}

} // namespace

const discovery::MakerTable& MakerRegistry::table() const
{
    if (!table_)
        table_.emplace(reading_.valid() ? reading_.get() : read(folder_));
    return *table_;
}

void MakerRegistry::readAhead() const
{
    if (!table_ && !reading_.valid())
        reading_ = std::async(std::launch::async, read, folder_);
}

QString MakerRegistry::makerOf(std::string_view macText) const
{
    const std::string_view maker = table().makerOf(macText);
    return QString::fromUtf8(maker.data(), static_cast<qsizetype>(maker.size()));
}

} // namespace zqn::app
