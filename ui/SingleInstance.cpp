#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace {

const QByteArray RestoreRequest = QByteArrayLiteral("restore\n");
const QByteArray RestoreAnswer = QByteArrayLiteral("ok\n");

} // namespace

TSingleInstance::TSingleInstance(QObject* parent)
    : QObject(parent)
{
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::serverName(const QString& sectionName)
{
    return sectionName + QLatin1Char('-') + QString::number(::getuid());
}

bool TSingleInstance::askRunningInstance(const QString& name, int timeoutMs)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(RestoreRequest);
    socket.waitForBytesWritten(timeoutMs);
    // The answer tells that the first instance is alive and has the request; a peer that accepted but never
    // answers still holds the name, so this start ends all the same.
    socket.waitForReadyRead(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool TSingleInstance::CheckSingleInstance(const QString& sectionName, int timeoutMs)
{
    const QString name = serverName(sectionName);
    if (askRunningInstance(name, timeoutMs)) {
        return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!m_server->listen(name)) {
        // Two starts at the same moment: the other one got the name first.
        delete m_server;
        m_server = nullptr;
        askRunningInstance(name, timeoutMs);
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &TSingleInstance::acceptConnections);
    return true;
}

bool TSingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void TSingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only a full request line counts; anything else on the socket is ignored.
            if (!socket->canReadLine() && socket->bytesAvailable() < RestoreRequest.size()) {
                return;
            }
            const QByteArray line = socket->readLine(64);
            if (line == RestoreRequest) {
                socket->write(RestoreAnswer);
                emit restoreRequested();
            }
            socket->disconnectFromServer();
        });
    }
}
