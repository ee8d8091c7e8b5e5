#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqn::app {

namespace {

constexpr int kConnectMs = 5000;
// Longer than one launch's wait for a copy that hangs.
constexpr int kTurnMs = 3 * kConnectMs;
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

// Another user may make a folder of the expected name first, or link it elsewhere, to listen
// in the program's place.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat folder {};
    return ::lstat(path.constData(), &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid()
           && (folder.st_mode & 077) == 0;
}

QString privateFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    const QByteArray own = QFile::encodeName(QDir::tempPath() + QStringLiteral("/zqnlist-%1").arg(::geteuid()));
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(own) ? QFile::decodeName(own) : QString();
}

// Only the same user may send a copy away or bring it forward; root may reach any socket.
bool peerIsThisUser(const QLocalSocket& socket)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
           && peer.uid == ::geteuid();
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsPath, QObject* parent)
    : QObject(parent)
    , name_(serverName(settingsPath))
{
    // No access options: with them Qt renames its socket over one that is there, and a second
    // copy would take the name from the first instead of finding it. The folder is the user's.
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            if (!peerIsThisUser(*peer)) {
                peer->abort();
                peer->deleteLater();
                continue;
            }
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
    const QString folder = privateFolder();
    if (folder.isEmpty())
        return {};
    const QByteArray key = (QDir::homePath() + QLatin1Char('\n') + canonicalPath(settingsPath)).toUtf8();
    return folder + QStringLiteral("/zqnlist-")
           + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
}

bool SingleInstance::claim()
{
    if (name_.isEmpty())
        return true;
    // Two launches after a crash would each remove the socket left behind, the second the
    // first's new one, and both run. One that cannot get its turn goes ahead all the same.
    QLockFile turn(name_ + QStringLiteral(".lock"));
    turn.tryLock(kTurnMs);
    if (server_.listen(name_))
        return true;
    if (server_.serverError() == QAbstractSocket::AddressInUseError && askRunningCopy())
        return false;
    // No copy of this user's answers: a killed copy left the socket behind.
    QLocalServer::removeServer(name_);
    // Without the socket the program still runs: one copy per file is a convenience, not a need.
    server_.listen(name_);
    return true;
}

bool SingleInstance::askRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs) || !peerIsThisUser(socket))
        return false;
    // Not waited for further: a copy that hangs still owns the settings file.
    socket.write(kRaise);
    socket.waitForBytesWritten(kConnectMs);
    socket.disconnectFromServer();
    return true;
}

} // namespace zqn::app
