#include "ui/login_start.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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

// An Exec value that runs exactly programPath: quoted as a desktop entry's command line wants,
// then escaped as any of its string values.
QString execValue(const QString& programPath)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : programPath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return stringValue(quoted.replace(u'%', QStringLiteral("%%")));
}

bool fail(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

} // namespace

QString loginStartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        + QStringLiteral("/autostart/" ZQN_APP_ID ".desktop");
}

bool launchesAtLogin()
{
    return QFileInfo::exists(loginStartEntryPath());
}

QByteArray loginStartEntry(const QString& programPath, const QString& workingFolder)
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
        .arg(execValue(programPath), stringValue(workingFolder))
        .toUtf8();
}

bool setLaunchAtLogin(bool on, QString* error)
{
    const QString path = loginStartEntryPath();
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
    if (!entry.open(QIODevice::WriteOnly) || entry.write(loginStartEntry(QCoreApplication::applicationFilePath(), QDir::currentPath())) < 0
        || !entry.commit())
        return fail(error, path, entry.errorString());
    return true;
}

} // namespace zqn::ui
