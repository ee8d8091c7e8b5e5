#include "ui/login_start.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "app/settings_location.h"
#include "app/single_instance.h"
#include "zqnlist_app_id.h"

namespace zqn::ui {

namespace {

// A value of the string type: its escapes, and a leading space that a reader would drop.
QString stringValue(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    if (value.startsWith(u' '))
        value.replace(0, 1, QStringLiteral("\\s"));
    return value;
}

// One argument of an Exec value, quoted as a desktop entry's command line wants.
QString quotedArgument(const QString& argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted.replace(u'%', QStringLiteral("%%"));
}

// An Exec value that runs exactly these arguments, then escaped as any of its string values.
QString execValue(const QStringList& arguments)
{
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted << quotedArgument(argument);
    return stringValue(quoted.join(u' '));
}

QString autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/autostart");
}

// An entry without a settings file of its own, as a user may have one.
QString sharedEntryPath()
{
    return autostartFolder() + QStringLiteral("/" ZQN_APP_ID ".desktop");
}

// The shared entry starts this executable without options, so it serves the copy whose settings
// file is the one found without options.
bool isSharedEntryOf(const QString& settingsPath)
{
    const QString program = QCoreApplication::applicationFilePath();
    if (app::SingleInstance::serverName(settingsPath) != app::SingleInstance::serverName(app::settingsFilePath(program)))
        return false;
    QFile entry(sharedEntryPath());
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    return entry.readAll().contains("\nExec=" + execValue({program}).toUtf8() + "\n");
}

bool fail(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

} // namespace

QString loginStartEntryPath(const QString& settingsPath)
{
    const QString key = app::SingleInstance::serverName(settingsPath).section(u'-', -1);
    return autostartFolder() + QStringLiteral("/" ZQN_APP_ID "-%1.desktop").arg(key);
}

bool launchesAtLogin(const QString& settingsPath)
{
    return QFileInfo::exists(loginStartEntryPath(settingsPath)) || isSharedEntryOf(settingsPath);
}

QByteArray loginStartEntry(const QString& programPath, const QString& settingsPath, const QString& workingFolder)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ZQN LIST\n"
                          "Comment=Network device monitor\n"
                          "Comment[ja]=ネットワーク機器モニター\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "Icon=" ZQN_APP_ID "\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue({programPath, QStringLiteral("--settings"), QFileInfo(settingsPath).absoluteFilePath()}),
             stringValue(workingFolder))
        .toUtf8();
}

bool setLaunchAtLogin(const QString& settingsPath, bool on, QString* error)
{
    const QString path = loginStartEntryPath(settingsPath);
    // Either way the shared entry goes: this copy's own entry replaces it.
    if (isSharedEntryOf(settingsPath)) {
        if (QFile shared(sharedEntryPath()); !shared.remove())
            return fail(error, shared.fileName(), shared.errorString());
    }
    if (!on) {
        QFile entry(path);
        if (!entry.exists() || entry.remove())
            return true;
        return fail(error, path, entry.errorString());
    }

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(error, folder, QStringLiteral("フォルダを作成できません"));
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(loginStartEntry(QCoreApplication::applicationFilePath(), settingsPath, QDir::currentPath())) < 0
        || !entry.commit())
        return fail(error, path, entry.errorString());
    return true;
}

} // namespace zqn::ui
