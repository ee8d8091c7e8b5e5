#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace zqn::app {

// Gathers what a user asked to be told of (new devices, devices heard from another address) over
// a short window and turns it into one message, so that a burst of announcements is one notice,
// not a storm of them.
class DeviceNotices : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultWindowMs = 5000;

    explicit DeviceNotices(int windowMs = kDefaultWindowMs, QObject* parent = nullptr);

    // Drops what was gathered and not yet told.
    void clear();

    // Names a new device's maker in its notice; asked only when the notice is told.
    void setMakerLookup(std::function<QString(const QString& mac)> lookup) { makerOf_ = std::move(lookup); }

    void deviceAppended(const QString& mac, const QString& ip);
    void deviceMoved(const QString& mac, const QString& oldIp, const QString& newIp);

signals:
    void noticeReady(const QString& title, const QString& message);

private:
    void gathered();
    void flush();

    QTimer window_;
    int appended_ = 0;
    QString appendedMac_; // the one device, while there is only one
    QString appendedIp_;
    std::function<QString(const QString& mac)> makerOf_;
    int moved_ = 0;
    QString movedText_;
};

} // namespace zqn::app
