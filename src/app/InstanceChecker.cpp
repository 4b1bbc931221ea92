#include "app/InstanceChecker.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace corvane {

namespace {
constexpr qsizetype kMaxMessage = 64;
}

CInstanceChecker::CInstanceChecker(QString instanceName, QObject* parent)
    : QObject(parent)
    , name(std::move(instanceName))
{ }

CInstanceChecker::~CInstanceChecker() = default;

QString CInstanceChecker::MappingName() const
{
    return QStringLiteral("CInstanceChecker_MMF_") + name + QString::number(::getuid());
}

QString CInstanceChecker::ServerName() const
{
    // A per-session runtime folder keeps other users from squatting on or spoofing the name,
    // which a fixed name in a shared /tmp would allow.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(MappingName());
    return MappingName();
}

bool CInstanceChecker::FindRunningInstance(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    const bool found = socket.waitForConnected(timeoutMs);
    if (found)
        socket.disconnectFromServer();
    return found;
}

bool CInstanceChecker::ActivateRunningInstance(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(IS_ANOTHER_INSTANCE);
    socket.flush();
    bool delivered = true;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) {
            delivered = false;
            break;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return delivered;
}

bool CInstanceChecker::RegisterRunningInstance()
{
    if (server)
        return true;
    if (FindRunningInstance())
        return false;
    // Nobody answered, so a socket file that is still there belongs to a copy that ended
    // without cleaning up.
    QLocalServer::removeServer(ServerName());
    auto candidate = std::make_unique<QLocalServer>();
    candidate->setSocketOptions(QLocalServer::UserAccessOption);
    if (!candidate->listen(ServerName()))
        return false;
    connect(
        candidate.get(), &QLocalServer::newConnection, this, &CInstanceChecker::OnNewConnection);
    server = std::move(candidate);
    return true;
}

bool CInstanceChecker::IsRegistered() const
{
    return server != nullptr;
}

void CInstanceChecker::OnNewConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        // A probe from FindRunningInstance sends nothing; only the whole message acts, and a
        // client cannot make this process buffer more than a few bytes.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->read(kMaxMessage));
            if (*buffer == IS_ANOTHER_INSTANCE) {
                buffer->clear();
                emit anotherInstanceStarted();
            } else if (!QByteArray(IS_ANOTHER_INSTANCE).startsWith(*buffer)) {
                socket->abort();
            }
        });
    }
}

} // namespace corvane
