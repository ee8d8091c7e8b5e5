#pragma once

#include <QByteArrayView>
#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

#include "discovery/datagram_batch.h"

class QHostAddress;
class QSocketNotifier;
class QUdpSocket;

namespace zqn::discovery {

// One IPv4 datagram socket bound to 0.0.0.0 and a local port; readiness arrives through the
// Qt event loop and every datagram is handed on as one dataReceived notice.
class UdpListener : public QObject {
    Q_OBJECT

public:
    explicit UdpListener(QObject* parent = nullptr);
    // Reads through the batch reader when one is given, through Qt otherwise; what is handed on
    // is the same either way.
    explicit UdpListener(std::unique_ptr<DatagramBatchReader> batchReader, QObject* parent = nullptr);
    ~UdpListener() override;

    // Closes the socket and binds a new one on every address, also for the port it already has;
    // 0 lets the system choose a port. The port is bound exclusively. Returns false when the bind
    // fails (the port is held or not allowed); nothing is bound then.
    bool setLocalPort(quint16 port);
    // What stopped means: a new socket on a port of the system's choice, on the loopback address
    // only, so that nothing from the network arrives. What does arrive is handed on as ever.
    bool bindStopped();
    quint16 localPort() const { return localPort_; }
    // The port actually bound (the system's choice for 0), or 0 when nothing is bound.
    quint16 boundPort() const { return boundPort_; }
    // The socket's last error text and kind, for a failed bind.
    QString errorString() const { return error_; }
    QAbstractSocket::SocketError bindError() const { return bindError_; }
    // True while the bound socket is read in batches.
    bool readsInBatches() const { return descriptor_ >= 0; }

    // Reads every datagram already waiting, now, and returns how many were handed on.
    int readPending();

signals:
    // fromIp is the sender's dotted IPv4 text ("%d.%d.%d.%d"). The views are valid only during
    // the notice. Datagrams over 2048 bytes are dropped before this.
    void dataReceived(QByteArrayView datagram, QByteArrayView fromIp, quint16 fromPort);

private:
    void retireSocket();
    bool bind(const QHostAddress& address, quint16 port);
    int readThroughQt(int limit);
    int readBatches(int batches);
    void onBatchesReady();
    void deliver(QByteArrayView datagram, std::uint32_t senderIpv4, quint16 senderPort);

    std::unique_ptr<DatagramBatchReader> batchReader_;
    std::unique_ptr<QUdpSocket> socket_; // read through Qt; closed once a batch reader took it
    std::intptr_t descriptor_ = -1;      // the batch reader's, while it reads
    QSocketNotifier* notifier_ = nullptr;
    QTimer resumeTimer_; // ends a pause of the notifier
    quint16 localPort_ = 0;
    quint16 boundPort_ = 0;
    QString error_;
    QAbstractSocket::SocketError bindError_ = QAbstractSocket::UnknownSocketError;
    std::vector<char> buffer_;
    std::vector<ReceivedDatagram> batch_;
    std::size_t batchFilled_ = 0;
    // Shared with a nested read, so that none is handed on twice; a new bind empties the batch,
    // as closing the socket drops what it held.
    std::size_t batchNext_ = 0;
    bool drained_ = false; // the last batch read emptied the socket
};

} // namespace zqn::discovery
