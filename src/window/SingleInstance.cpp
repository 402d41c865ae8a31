#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int handOverTimeoutMs = 3000;
// A link is a short line; anything longer is not from our own program.
constexpr qint64 longestMessage = 16 * 1024;
const QString linkScheme = QStringLiteral("quorvaleid");

// Why the folder is no place for the socket; nothing when it is. In a folder another user can write to or
// swap, that user could listen first, receive the links and keep the client from starting; so only a real
// folder of this user's, closed to everyone else, will do.
std::optional<QString> folderProblem(const QString& folder) {
    struct stat status {};
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0)
        return QStringLiteral("%1 does not exist").arg(folder);
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("%1 is a symbolic link").arg(folder);
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (status.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user").arg(folder);
    if ((status.st_mode & 0777) != 0700)
        return QStringLiteral("%1 has mode %2, not 0700")
            .arg(folder)
            .arg(status.st_mode & 0777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath() {
    // Never the shared temporary folder: without a runtime folder of its own the client runs alone.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("quorvaleid.socket"));
}

std::optional<QUrl> SingleInstance::linkFromArguments(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QUrl url(arguments[i], QUrl::StrictMode);
        if (url.isValid() && url.scheme().compare(linkScheme, Qt::CaseInsensitive) == 0)
            return url;
    }
    return std::nullopt;
}

SingleInstance::Role SingleInstance::claim(const std::optional<QUrl>& link) {
    if (m_socketPath.isEmpty()) {
        m_error = QStringLiteral("this user has no runtime folder of their own");
        return Role::alone;
    }
    if (const auto problem = folderProblem(QFileInfo(m_socketPath).absolutePath())) {
        m_error = *problem;
        return Role::alone;
    }
    // Two starts at the same moment must not both decide to listen, nor remove each other's socket.
    QLockFile lock(m_socketPath + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(handOverTimeoutMs)) {
        m_error = QStringLiteral("the start-up lock %1 stays taken").arg(lock.fileName());
        return Role::alone;
    }
    switch (handOver(link)) {
    case HandOver::delivered:
        return Role::handedOver;
    case HandOver::unanswered:
        return Role::unanswered;
    case HandOver::nobodyListening:
        break;
    }

    // Nobody answered: whatever socket file is there belongs to a run that ended without removing it.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        m_error = m_server->errorString();
        m_server.reset();
        return Role::alone;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return Role::primary;
}

SingleInstance::HandOver SingleInstance::handOver(const std::optional<QUrl>& link) {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(handOverTimeoutMs))
        return HandOver::nobodyListening;
    const QByteArray message = (link ? link->toEncoded() : QByteArray()) + '\n';
    socket.write(message);
    // The running client closes the connection once it has the link.
    if (socket.state() != QLocalSocket::UnconnectedState && !socket.waitForBytesWritten(handOverTimeoutMs) &&
        socket.state() != QLocalSocket::UnconnectedState)
        return HandOver::unanswered;
    if (socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(handOverTimeoutMs))
        return HandOver::delivered;
    return HandOver::unanswered;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > longestMessage)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(longestMessage).trimmed();
    socket->disconnectFromServer();
    if (line.isEmpty()) {
        emit linkReceived(std::nullopt);
        return;
    }
    const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
    if (url.isValid() && url.scheme().compare(linkScheme, Qt::CaseInsensitive) == 0)
        emit linkReceived(url);
}
