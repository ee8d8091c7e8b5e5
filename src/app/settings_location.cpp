#include "app/settings_location.h"

#include "storage/file_store.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zqn::app {

QString settingsFileBeside(const QString& executablePath)
{
    const QFileInfo executable(executablePath);
    return executable.dir().filePath(executable.completeBaseName() + QStringLiteral(".Ini"));
}

QString settingsFilePath(const QString& executablePath)
{
    const QString besideExecutable = settingsFileBeside(executablePath);
    if (QFileInfo::exists(besideExecutable) || QFileInfo(QFileInfo(executablePath).absolutePath()).isWritable())
        return besideExecutable;
    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configFolder);
    return QDir(configFolder).filePath(QStringLiteral("zqnlist.Ini"));
}

storage::Status saveSettingsFile(const QString& path, const settings::Settings& settings)
{
    std::string existing;
    if (auto bytes = storage::readExistingFile(path); bytes && *bytes)
        existing = std::move(**bytes);
    return storage::replaceFile(path, settings::writeSettings(existing, settings));
}

storage::Result<std::optional<settings::Settings>> readSettingsFile(const QString& path)
{
    auto bytes = storage::readExistingFile(path);
    if (!bytes)
        return storage::Failure{bytes.error()};
    if (!*bytes)
        return std::optional<settings::Settings>();
    return std::optional<settings::Settings>(settings::parseSettings(**bytes));
}

} // namespace zqn::app
