#include "app/device_notices.h"

#include "app/message_text.h"

namespace zqn::app {

DeviceNotices::DeviceNotices(int windowMs, QObject* parent)
    : QObject(parent)
{
    window_.setSingleShot(true);
    window_.setInterval(windowMs);
    connect(&window_, &QTimer::timeout, this, &DeviceNotices::flush);
}

void DeviceNotices::clear()
{
    window_.stop();
    appended_ = moved_ = 0;
}

void DeviceNotices::deviceAppended(const QString& mac, const QString& ip)
{
    if (++appended_ == 1) {
        appendedMac_ = mac;
        appendedIp_ = ip;
    }
    gathered();
}

void DeviceNotices::deviceMoved(const QString& mac, const QString& oldIp, const QString& newIp)
{
    if (++moved_ == 1)
        movedText_ = QStringLiteral("%1 の IP アドレスが %2 から %3 に変わりました").arg(mac, oldIp, newIp);
    gathered();
}

void DeviceNotices::gathered()
{
    if (!window_.isActive())
        window_.start();
}

void DeviceNotices::flush()
{
    QStringList lines;
    if (appended_ == 1) {
        const QString maker = makerOf_ ? makerOf_(appendedMac_) : QString();
        lines << (maker.isEmpty() ? QStringLiteral("新しい機器: %1 (%2)").arg(appendedMac_, appendedIp_)
                                  : QStringLiteral("新しい機器: %1 (%2) %3").arg(appendedMac_, appendedIp_, maker));
    } else if (appended_ > 1) {
        lines << QStringLiteral("新しい機器が %1 台見つかりました").arg(appended_);
    }
    if (moved_ == 1)
        lines << movedText_;
    else if (moved_ > 1)
        lines << QStringLiteral("%1 台の機器の IP アドレスが変わりました").arg(moved_);
    appended_ = moved_ = 0;
    if (!lines.isEmpty())
        emit noticeReady(programName(), lines.join(QLatin1Char('\n')));
}

} // namespace zqn::app
