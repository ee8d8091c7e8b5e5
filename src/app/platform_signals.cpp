// The program's start and end: a display to open, termination signals, broken pipes.
#include "app/platform.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zqn::app {

bool displayAvailable()
{
    // A platform chosen by hand (offscreen, vnc, eglfs) needs neither.
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

namespace {

int wakePipe[2] = {-1, -1};
std::function<void()> reloadHandler;

// The byte written is the signal's number: the loop tells a reload from an end.
extern "C" void onTerminationSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void installTerminationHandlers()
{
    if (wakePipe[0] >= 0)
        return;
    if (::pipe(wakePipe) != 0)
        return;
    for (const int fd : wakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A file-size limit then fails the write (EFBIG), reported as any failed save, instead of
    // ending the program with what it had not yet written.
    ::signal(SIGXFSZ, SIG_IGN);
}

void watchReloadSignals(std::function<void()> onReload)
{
    if (wakePipe[0] < 0)
        return;
    reloadHandler = std::move(onReload);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
}

void watchTerminationSignals(QObject* context, std::function<void()> onTerminate)
{
    if (wakePipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, onTerminate] {
        char drain[64];
        bool reload = false;
        bool end = false;
        for (ssize_t n; (n = ::read(wakePipe[0], drain, sizeof drain)) > 0;) {
            for (ssize_t i = 0; i < n; ++i)
                (drain[i] == SIGHUP ? reload : end) = true;
        }
        if (end) {
            notifier->setEnabled(false);
            onTerminate();
        } else if (reload && reloadHandler) {
            reloadHandler();
        }
    });
}

bool ignoreBrokenPipes()
{
    return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

} // namespace zqn::app
