#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

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

    void deviceAppended(const QString& mac, const QString& ip);
    void deviceMoved(const QString& mac, const QString& oldIp, const QString& newIp);

signals:
    void noticeReady(const QString& title, const QString& message);

private:
    void gathered();
    void flush();

    QTimer window_;
    int appended_ = 0;
    QString appendedText_; // the one device, while there is only one
    int moved_ = 0;
    QString movedText_;
};

} // namespace zqn::app
