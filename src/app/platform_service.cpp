// Supervision by the service manager: readiness, reload, status, the watchdog, the journal.
#include "app/platform.h"

#include <sys/stat.h>
#include <unistd.h>

namespace zqn::app {

bool stderrIsJournalStream()
{
    // systemd names the stream as "device:inode"; stderr may have been redirected since.
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    bool deviceRead = false;
    bool inodeRead = false;
    const qulonglong device = named.left(colon).toULongLong(&deviceRead);
    const qulonglong inode = named.mid(colon + 1).toULongLong(&inodeRead);
    struct stat stderrFile {};
    return colon > 0 && deviceRead && inodeRead && ::fstat(STDERR_FILENO, &stderrFile) == 0
           && static_cast<qulonglong>(stderrFile.st_dev) == device && static_cast<qulonglong>(stderrFile.st_ino) == inode;
}

} // namespace zqn::app

#ifdef ZQN_HAVE_LIBSYSTEMD

#include <QTimer>

#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <sys/uio.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace zqn::app {

namespace {

void notifyManager(const QByteArray& state)
{
    sd_notify(0, state.constData());
}

QByteArray statusAssignment(const QString& status)
{
    return "STATUS=" + status.toUtf8().replace('\n', ' ');
}

} // namespace

void notifyServiceReady(const QString& status)
{
    notifyManager("READY=1\n" + statusAssignment(status));
}

void notifyServiceStatus(const QString& status)
{
    notifyManager(statusAssignment(status));
}

void notifyServiceStopping()
{
    notifyManager("STOPPING=1");
}

void notifyServiceReloading(const QString& status)
{
    notifyManager("RELOADING=1\n" + statusAssignment(status));
}

bool sendToJournal(const std::vector<QByteArray>& fields)
{
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const QByteArray& f : fields)
        parts.push_back({const_cast<char*>(f.constData()), static_cast<size_t>(f.size())});
    return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0;
}

void startServiceWatchdog(QObject* context)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    auto* timer = new QTimer(context);
    timer->setInterval(static_cast<int>(std::clamp<uint64_t>(usec / 2000, 1, INT_MAX)));
    QObject::connect(timer, &QTimer::timeout, context, [] { notifyManager("WATCHDOG=1"); });
    timer->start();
}

} // namespace zqn::app

#else

namespace zqn::app {

void notifyServiceReady(const QString&) {}
void notifyServiceStatus(const QString&) {}
void notifyServiceStopping() {}
void notifyServiceReloading(const QString&) {}
bool sendToJournal(const std::vector<QByteArray>&)
{
    return false;
}
void startServiceWatchdog(QObject*) {}

} // namespace zqn::app

#endif
