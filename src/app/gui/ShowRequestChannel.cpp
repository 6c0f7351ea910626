#include "app/gui/ShowRequestChannel.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace varnel {

namespace {
constexpr char kShow[] = "show\n";
}

QString ShowRequestChannel::PathForLock(const std::string& lockPath) {
    QString path = QString::fromStdString(lockPath);
    if (path.endsWith(".lock")) path.chop(5);
    return path + ".show";
}

ShowRequestChannel::ShowRequestChannel(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {}

ShowRequestChannel::~ShowRequestChannel() {
    if (server_ != nullptr) server_->close();  // takes the socket file away
}

bool ShowRequestChannel::Listen() {
    if (server_ != nullptr) return server_->isListening();
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(4);
    QLocalServer::removeServer(path_);
    if (!server_->listen(path_)) return false;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                // One short request; anything longer or different is dropped with the peer.
                const QByteArray request = peer->read(16);
                if (request.startsWith("show")) emit showRequested();
                peer->disconnectFromServer();
            });
        }
    });
    return true;
}

bool ShowRequestChannel::Ring(const QString& path, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kShow, sizeof kShow - 1);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.waitForDisconnected(timeoutMs);
    return sent;
}

}  // namespace varnel
