#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

// What differs between platforms, kept in this one place.
namespace zqn::app {

// False when a window program could not open a window here: on X11 and Wayland systems, when
// neither display is named (Qt would abort). Elsewhere a display is taken to be there.
bool displayAvailable();

// Catches SIGTERM and SIGINT from the very start of the program. The handlers only write a byte
// into a pipe; nothing else runs inside them. Call before anything else in main.
void installTerminationHandlers();

// Runs onTerminate in the event loop once a termination signal has arrived, also one that
// arrived before this call.
void watchTerminationSignals(QObject* context, std::function<void()> onTerminate);

// A regular file opened for reading, for the web endpoint, which then owns the descriptor.
// Nothing where the file cannot be opened, or where files are not served by descriptor.
struct ReadableFile {
    int descriptor = -1;
    std::uint64_t size = 0;
};
std::optional<ReadableFile> openForServing(const QString& path);

// A reader that leaves early must not end the program with SIGPIPE. False where the signal is
// not there to ignore.
bool ignoreBrokenPipes();

} // namespace zqn::app
