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

    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'%')
            value += QStringLiteral("%%");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else
            value += c;
    }
    return value;
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

QByteArray loginStartEntry(const QString& programPath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ZQN LIST\n"
                          "Comment=Network device monitor\n"
                          "Comment[ja]=ネットワーク機器モニター\n"
                          "Exec=%1\n"
                          "Icon=" ZQN_APP_ID "\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue(programPath))
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
    if (!entry.open(QIODevice::WriteOnly) || entry.write(loginStartEntry(QCoreApplication::applicationFilePath())) < 0
        || !entry.commit())
        return fail(error, path, entry.errorString());
    return true;
}

} // namespace zqn::ui
