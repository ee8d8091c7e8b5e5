#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace zqn::app {

namespace {

constexpr int kConnectMs = 5000;
constexpr char kRaise[] = "raise\n";

// The file need not exist yet (it is created at exit): then its folder's canonical path.
QString canonicalPath(const QString& path)
{
    const QFileInfo file(path);
    if (const QString canonical = file.canonicalFilePath(); !canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : QDir(folder).filePath(file.fileName());
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsPath, QObject* parent)
    : QObject(parent)
    , name_(serverName(settingsPath))
{
    // No access options: with them Qt renames its socket over one that is there, and a second
    // copy would take the name from the first instead of finding it. The umask keeps other users
    // from writing to the socket; the name is also the user's own.
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            const auto take = [this, peer] {
                if (peer->canReadLine() && peer->readLine() == kRaise)
                    emit raiseRequested();
            };
            connect(peer, &QLocalSocket::readyRead, this, take);
            take();
        }
    });
}

QString SingleInstance::serverName(const QString& settingsPath)
{
    const QByteArray key = (QDir::homePath() + QLatin1Char('\n') + canonicalPath(settingsPath)).toUtf8();
    return QStringLiteral("zqnlist-")
           + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
}

bool SingleInstance::claim()
{
    if (server_.listen(name_))
        return true;
    if (server_.serverError() == QAbstractSocket::AddressInUseError && askRunningCopy())
        return false;
    // Nobody answers: the socket is what a killed copy left behind.
    QLocalServer::removeServer(name_);
    // Without the socket the program still runs, as it always did.
    server_.listen(name_);
    return true;
}

bool SingleInstance::askRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    // Not waited for further: a copy that hangs still owns the settings file.
    socket.write(kRaise);
    socket.waitForBytesWritten(kConnectMs);
    socket.disconnectFromServer();
    return true;
}

} // namespace zqn::app
