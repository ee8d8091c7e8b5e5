#include "discovery/udp_listener.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QUdpSocket>
#include <QVariant>

#include <charconv>

namespace zqn::discovery {

namespace {

// Room for the largest IPv4 datagram, so a long one is read whole (and then dropped) instead of
// being cut to a length that would look valid.
constexpr qint64 kReceiveBufferBytes = 64 * 1024;
// Keep one readiness notice short enough that timers and user input are not starved by a flood:
// 64 datagrams read through Qt, or four batches of 64 (about a millisecond's work).
constexpr int kReadsPerNotice = 64;
constexpr std::size_t kBatchSize = 64;
constexpr int kBatchesPerNotice = 4;
// A notice that found several datagrams and emptied the socket means a flood the listener keeps up
// with: without a pause it would wake for every few datagrams, and waking costs more than reading.
// A millisecond lets a flood of 250,000 a second queue some 250 (the kernel holds about 10,000),
// which the next notice reads in a few batches; the monitor has no use for less delay.
constexpr int kBusyNotice = 2;
constexpr int kPauseMs = 1;
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

UdpListener::UdpListener(QObject* parent) : UdpListener(nullptr, parent) {}

UdpListener::UdpListener(std::unique_ptr<DatagramBatchReader> batchReader, QObject* parent)
    : QObject(parent), batchReader_(std::move(batchReader))
{
    resumeTimer_.setSingleShot(true);
    resumeTimer_.setInterval(kPauseMs);
    connect(&resumeTimer_, &QTimer::timeout, this, [this] {
        if (notifier_)
            notifier_->setEnabled(true);
    });
    if (batchReader_)
        batch_.resize(kBatchSize);
    else
        buffer_.resize(kReceiveBufferBytes);
    bindStopped();
}

UdpListener::~UdpListener()
{
    retireSocket();
}

void UdpListener::retireSocket()
{
    batchFilled_ = batchNext_ = 0; // what was read of the old socket goes with it
    resumeTimer_.stop();
    boundPort_ = 0;
    // Either may be inside its own notice now; deleting it there would pull the object out from
    // under Qt's notifier code. Parented, so neither can outlive the listener.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->setParent(this);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (descriptor_ >= 0) {
        batchReader_->release(descriptor_);
        descriptor_ = -1;
    }
    if (socket_) {
        socket_->disconnect(this);
        socket_->close();
        QUdpSocket* const retired = socket_.release();
        retired->setParent(this);
        retired->deleteLater();
    }
}

bool UdpListener::setLocalPort(quint16 port)
{
    return bind(QHostAddress(QHostAddress::AnyIPv4), port);
}

bool UdpListener::bindStopped()
{
    return bind(QHostAddress(QHostAddress::LocalHost), 0);
}

bool UdpListener::bind(const QHostAddress& address, quint16 port)
{
    retireSocket();
    localPort_ = port;
    error_.clear();
    socket_ = std::make_unique<QUdpSocket>();
    if (!socket_->bind(address, port, QAbstractSocket::DontShareAddress)) {
        error_ = socket_->errorString();
        bindError_ = socket_->error();
        return false;
    }
    socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(kSocketReceiveBufferBytes));
    boundPort_ = socket_->localPort();

    if (batchReader_)
        descriptor_ = batchReader_->adopt(socket_->socketDescriptor());
    if (descriptor_ < 0) {
        connect(socket_.get(), &QUdpSocket::readyRead, this, [this] { readThroughQt(kReadsPerNotice); });
        return true;
    }
    // The reader's descriptor keeps the socket bound; Qt's goes, and its read notifier with it,
    // so that one readiness notice wakes one reader.
    socket_->close();
    socket_.reset();
    notifier_ = new QSocketNotifier(static_cast<qintptr>(descriptor_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UdpListener::onBatchesReady);
    return true;
}

int UdpListener::readPending()
{
    return descriptor_ >= 0 ? readBatches(kMostReadsAtOnce / static_cast<int>(kBatchSize))
                            : readThroughQt(kMostReadsAtOnce);
}

void UdpListener::deliver(QByteArrayView datagram, std::uint32_t senderIpv4, quint16 senderPort)
{
    char ipText[16];
    const qsizetype ipLength = dottedText(senderIpv4, ipText);
    emit dataReceived(datagram, QByteArrayView(ipText, ipLength), senderPort);
}

void UdpListener::onBatchesReady()
{
    const int read = readBatches(kBatchesPerNotice);
    if (read >= kBusyNotice && drained_ && notifier_) {
        notifier_->setEnabled(false);
        resumeTimer_.start();
    }
}

int UdpListener::readBatches(int batches)
{
    int delivered = 0;
    drained_ = false;
    for (;;) {
        if (batchNext_ == batchFilled_) {
            // A short batch emptied the queue; what arrives later raises a notice of its own.
            drained_ = batchFilled_ < batch_.size() && batchFilled_ > 0;
            batchFilled_ = batchNext_ = 0;
            if (drained_ || batches-- <= 0 || descriptor_ < 0)
                break;
            batchFilled_ = batchReader_->read(descriptor_, batch_);
            drained_ = batchFilled_ == 0;
            if (drained_)
                break;
        }
        const ReceivedDatagram& datagram = batch_[batchNext_++];
        if (datagram.truncated)
            continue;
        ++delivered;
        deliver(QByteArrayView(datagram.bytes, static_cast<qsizetype>(datagram.length)), datagram.senderIpv4,
                datagram.senderPort);
    }
    return delivered;
}

int UdpListener::readThroughQt(int limit)
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
        ++delivered;
        deliver(QByteArrayView(buffer_.data(), length), sender.toIPv4Address(), senderPort);
    }
    // Each readDatagram re-arms the socket's read notifier, so whatever the limit left behind
    // raises readyRead again once the event loop runs.
    return delivered;
}

} // namespace zqn::discovery
