#pragma once

#include <QAbstractSocket>
#include <QString>

#include "discovery/udp_listener.h"

// The words a user can act on for the failures a user meets, in Japanese; the system's own words
// stay beside them in the status tooltip.
namespace zqn::app {

// A bind that failed, by the socket's error or the errno of the bind; empty when neither is a
// port in use or a port not allowed.
QString portFailureWords(QAbstractSocket::SocketError error);
QString portFailureWords(int errnoValue);

// Why the listener could not take port (or why a port out of range cannot be taken): the short
// words for the status, and the system's own for its tooltip.
struct PortFailure {
    QString words;
    QString detail;
};
PortFailure portFailure(const discovery::UdpListener& listener, int port, bool inRange);

// Why a file at path cannot be written, from what the file system shows now: its folder is
// missing, or it or its folder may not be written. Empty when neither holds.
QString fileFailureWords(const QString& path);

} // namespace zqn::app
