#pragma once

#include <QByteArrayView>
#include <QObject>

#include <memory>
#include <vector>

class QUdpSocket;

namespace zqn::discovery {

// One IPv4 datagram socket bound to 0.0.0.0 and a local port; readiness arrives through the
// Qt event loop and every datagram is handed on as one dataReceived notice.
class UdpListener : public QObject {
    Q_OBJECT

public:
    explicit UdpListener(QObject* parent = nullptr);
    ~UdpListener() override;

    // Closes the socket and binds a new one, also for the port it already has; 0 lets the system
    // choose a port, which is how the monitor stops listening. The port is bound exclusively.
    // Returns false when the bind fails (the port is held or not allowed); nothing is bound then.
    bool setLocalPort(quint16 port);
    quint16 localPort() const { return localPort_; }
    // The port actually bound (the system's choice for 0), or 0 when nothing is bound.
    quint16 boundPort() const;
    // The socket's last error text, for a failed bind.
    QString errorString() const;

    // Reads every datagram already waiting, now, and returns how many were handed on.
    int readPending();

signals:
    // fromIp is the sender's dotted IPv4 text ("%d.%d.%d.%d"). The views are valid only during
    // the notice. Datagrams over 2048 bytes are dropped before this.
    void dataReceived(QByteArrayView datagram, QByteArrayView fromIp, quint16 fromPort);

private:
    int readBatch(int limit);

    std::unique_ptr<QUdpSocket> socket_;
    quint16 localPort_ = 0;
    std::vector<char> buffer_;
};

} // namespace zqn::discovery
