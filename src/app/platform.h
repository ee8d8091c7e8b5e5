#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "discovery/datagram_batch.h"

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

// Reads the listener's socket in batches where the system can (recvmmsg on Linux); nothing where
// it cannot, or when ZQN_PORTABLE_RECEIVE=1 asks for the portable path, so that it is tested here.
std::unique_ptr<discovery::DatagramBatchReader> datagramBatchReader();

} // namespace zqn::app
