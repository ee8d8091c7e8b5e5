#pragma once

#include <QFileDevice>
#include <QObject>

#include <functional>

#include "storage/result.h"

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

// Reserves room for size bytes in file before a rewrite in place, without changing its length
// or a byte of it, and checks the file-size limit: a full disk then fails before the old file is
// touched. Succeeds where the file system cannot reserve space (the write finds out, as before).
// For storage::setSpaceReserver.
storage::Status reserveFileSpace(QFileDevice& file, qint64 size);

} // namespace zqn::app
