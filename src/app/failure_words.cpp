#include "app/failure_words.h"

#include <QFileInfo>

#include <cerrno>

#include "app/message_text.h"

namespace zqn::app {

QString portFailureWords(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return messageText(text::messages::kPortInUse);
    case QAbstractSocket::SocketAccessError:
        return messageText(text::messages::kPortNotAllowed);
    default:
        return {};
    }
}

QString portFailureWords(int errnoValue)
{
    if (errnoValue == EADDRINUSE)
        return portFailureWords(QAbstractSocket::AddressInUseError);
    if (errnoValue == EACCES || errnoValue == EPERM)
        return portFailureWords(QAbstractSocket::SocketAccessError);
    return {};
}

QString fileFailureWords(const QString& path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return messageText(text::messages::kNoSuchFolder);
    if (file.exists() ? !file.isWritable() : !folder.isWritable())
        return messageText(text::messages::kNoPermission);
    return {};
}

PortFailure portFailure(const discovery::UdpListener& listener, int port, bool inRange)
{
    if (!inRange)
        return {messageText(text::messages::kPortNotAllowed),
                messageText(text::messages::kPortFailedBecause).arg(port).arg(QStringLiteral("0-65535"))};
    return {portFailureWords(listener.bindError()),
            messageText(text::messages::kPortFailedBecause).arg(port).arg(listener.errorString())};
}

} // namespace zqn::app
