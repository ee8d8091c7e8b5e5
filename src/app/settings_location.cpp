#include "app/settings_location.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zqn::app {

QString settingsFilePath(const QString& executablePath)
{
    const QFileInfo executable(executablePath);
    const QString besideExecutable = executable.dir().filePath(executable.completeBaseName() + QStringLiteral(".Ini"));
    if (QFileInfo::exists(besideExecutable) || QFileInfo(executable.absolutePath()).isWritable())
        return besideExecutable;
    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configFolder);
    return QDir(configFolder).filePath(QStringLiteral("zqnlist.Ini"));
}

} // namespace zqn::app
