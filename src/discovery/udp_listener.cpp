#include "discovery/udp_listener.h"

#include "discovery/announcement.h"

#include <QHostAddress>
#include <QUdpSocket>
#include <QVariant>

#include <charconv>

namespace zqn::discovery {

namespace {

// Room for the largest IPv4 datagram, so a long one is read whole (and then dropped) instead of
// being cut to a length that would look valid.
constexpr qint64 kReceiveBufferBytes = 64 * 1024;
// Keeps one readiness notice short enough that timers and user input are not starved by a flood.
constexpr int kReadsPerNotice = 64;
// readPending stops here even if senders keep the queue full; more than the socket can hold.
constexpr int kMostReadsAtOnce = 1 << 16;
// Room in the kernel for bursts that arrive while the event loop is busy (e.g. a page write).
constexpr int kSocketReceiveBufferBytes = 4 * 1024 * 1024;

// "%d.%d.%d.%d", first octet first, without the cost of a format string per datagram.
qsizetype dottedText(quint32 ip, char (&out)[16])
{
    char* end = out;
    char* const limit = out + sizeof out; // "255.255.255.255" takes 15
    for (int shift = 24; shift >= 0; shift -= 8) {
        end = std::to_chars(end, limit, (ip >> shift) & 0xFF).ptr;
        if (shift > 0 && end < limit)
            *end++ = '.';
    }
    return end - out;
}

} // namespace

UdpListener::UdpListener(QObject* parent) : QObject(parent), buffer_(kReceiveBufferBytes)
{
    // Stopped means bound to a port of the system's choice, which nobody sends to.
    setLocalPort(0);
}

UdpListener::~UdpListener() = default;

bool UdpListener::setLocalPort(quint16 port)
{
    if (socket_) {
        socket_->disconnect(this);
        socket_->close();
        // This may run inside the old socket's own readyRead; deleting it there would pull the
        // object out from under Qt's notifier code. Parented, so it cannot outlive the listener.
        QUdpSocket* const retired = socket_.release();
        retired->setParent(this);
        retired->deleteLater();
    }
    localPort_ = port;
    socket_ = std::make_unique<QUdpSocket>();
    connect(socket_.get(), &QUdpSocket::readyRead, this, [this] { readBatch(kReadsPerNotice); });
    if (!socket_->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress))
        return false;
    socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(kSocketReceiveBufferBytes));
    return true;
}

quint16 UdpListener::boundPort() const
{
    if (!socket_ || socket_->state() != QAbstractSocket::BoundState)
        return 0;
    return socket_->localPort();
}

QString UdpListener::errorString() const
{
    return socket_ ? socket_->errorString() : QString();
}

int UdpListener::readPending()
{
    return readBatch(kMostReadsAtOnce);
}

int UdpListener::readBatch(int limit)
{
    QUdpSocket* const reading = socket_.get();
    int delivered = 0;
    QHostAddress sender;
    quint16 senderPort = 0;
    for (int reads = 0; reads < limit && socket_.get() == reading && reading
         && reading->state() == QAbstractSocket::BoundState && reading->hasPendingDatagrams();
         ++reads) {
        const qint64 length = reading->readDatagram(buffer_.data(), kReceiveBufferBytes, &sender, &senderPort);
        if (length < 0 || length > static_cast<qint64>(kMaxDatagramLength))
            continue;
        char ipText[16];
        const qsizetype ipLength = dottedText(sender.toIPv4Address(), ipText);
        ++delivered;
        emit dataReceived(QByteArrayView(buffer_.data(), length), QByteArrayView(ipText, ipLength), senderPort);
    }
    // Each readDatagram re-arms the socket's read notifier, so whatever the limit left behind
    // raises readyRead again once the event loop runs.
    return delivered;
}

} // namespace zqn::discovery
