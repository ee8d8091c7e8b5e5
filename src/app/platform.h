#pragma once

#include <QFileDevice>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "discovery/datagram_batch.h"
#include "storage/result.h"
#include "web/metrics.h"

// What the program asks of the system, one source per concern: platform_signals.cpp (start and
// end), platform_service.cpp (the service manager), platform_files.cpp, platform_receive.cpp.
namespace zqn::app {

// False when a window program could not open a window here: when neither an X11 nor a Wayland
// display is named (Qt would abort), and no platform was chosen by hand.
bool displayAvailable();

// Catches SIGTERM and SIGINT from the very start of the program. The handlers only write a byte
// into a pipe; nothing else runs inside them. Call before anything else in main. A write beyond
// the file-size limit then fails instead of ending the program (SIGXFSZ is ignored).
void installTerminationHandlers();

// Runs onTerminate in the event loop once a termination signal has arrived, also one that
// arrived before this call.
void watchTerminationSignals(QObject* context, std::function<void()> onTerminate);

// Catches SIGHUP too, a daemon's usual ask to reload, and runs onReload in the event loop at each
// one that arrives after installTerminationHandlers. Call before watchTerminationSignals.
void watchReloadSignals(std::function<void()> onReload);

// Reserves room for size bytes in file before a rewrite in place, without changing its length
// or a byte of it, and checks the file-size limit: a full disk then fails before the old file is
// touched. Succeeds where the file system cannot reserve space: the write then finds out.
// For storage::setSpaceReserver.
storage::Status reserveFileSpace(QFileDevice& file, qint64 size);

// Supervision by systemd (Type=notify), through libsystemd. Without it, or without a service
// manager that listens, these do nothing.
// The program is ready: its sockets are open. status is what `systemctl status` shows.
void notifyServiceReady(const QString& status);
void notifyServiceStatus(const QString& status);
void notifyServiceStopping();
// A reload has begun; notifyServiceReady says when it is done.
void notifyServiceReloading(const QString& status);
// Pings the watchdog from context's event loop at half the interval the manager asked for, so
// that a stuck loop gets the program killed and restarted. Nothing when it asked for none.
void startServiceWatchdog(QObject* context);

// Sends one entry, as NAME=value fields, to the system's journal. False where it cannot (no
// journal listens, or no libsystemd).
bool sendToJournal(const std::vector<QByteArray>& fields);

// True when stderr is the journal's stream for this program (JOURNAL_STREAM names it): a line
// may then begin with its priority, such as "<3>" for an error.
bool stderrIsJournalStream();

// A regular file opened for reading, for the web endpoint, which then owns the descriptor.
// Nothing where the file cannot be opened or is not a regular file.
struct ReadableFile {
    int descriptor = -1;
    std::uint64_t size = 0;
};
std::optional<ReadableFile> openForServing(const QString& path);
// A private copy of the file as it is now, for the web endpoint, which then owns the descriptor:
// a later rewrite of the file in place does not reach it. In memory (memfd) where the system
// offers that, else in a temporary file that has no name; store asks for the latter outright.
enum class SnapshotStore { memory, unnamedFile };
std::optional<ReadableFile> snapshotForServing(const QString& path, SnapshotStore store = SnapshotStore::memory);
// For a file that could not be handed on after all.
void closeServable(const ReadableFile& file);

// A reader that leaves early must not end the program with SIGPIPE. False when it cannot be
// ignored.
bool ignoreBrokenPipes();

// Reads the listener's socket in batches, with recvmmsg. The listener takes nothing for its
// portable path, one datagram at a time through Qt.
std::unique_ptr<discovery::DatagramBatchReader> datagramBatchReader();

// The process's resident memory, CPU time, descriptors and start time, for the metrics; nothing
// where the system does not tell them.
std::optional<web::ProcessFigures> processFigures();

// Gives memory the allocator holds free back to the system, after a passing peak; nothing where
// the allocator has no way to.
void releaseFreedMemory();

} // namespace zqn::app
