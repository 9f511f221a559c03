#include "platform/qt/qt_tcp_client.h"

#include <QTcpSocket>
#include <algorithm>

#include "platform/qt/qt_convert.h"

namespace tempikon::qt {

QtTcpClient::~QtTcpClient() {
    liveness_.end();
    close();
}

void QtTcpClient::connect(const std::string& host, std::uint16_t port) {
    close();
    auto* socket = new QTcpSocket;
    socket->setReadBufferSize(static_cast<qint64>(kSocketReadBufferBytes));
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [this, socket] { dataArrived(socket); });
    QObject::connect(socket, &QAbstractSocket::disconnected, socket,
                     [this, socket] { peerClosed(socket); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, socket,
                     [this, socket](QAbstractSocket::SocketError error) {
                         errorOccurred(socket, static_cast<int>(error));
                     });
    socket_ = socket;
    socket->connectToHost(toQString(host), port);
}

std::optional<std::string> QtTcpClient::readAll(std::size_t maxBytes) {
    if (!socket_) return std::nullopt;
    const qint64 available = socket_->bytesAvailable();
    const qint64 wanted =
        std::min<qint64>(available, static_cast<qint64>(std::min<std::size_t>(maxBytes, 1u << 30)));
    std::string out(static_cast<std::size_t>(wanted), '\0');
    const qint64 got = wanted > 0 ? socket_->read(out.data(), wanted) : 0;
    if (got < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(got));
    // Whatever is beyond maxBytes is dropped, not kept for the next read.
    const qint64 rest = socket_->bytesAvailable();
    if (rest > 0) socket_->skip(rest);
    return out;
}

void QtTcpClient::close() {
    if (!socket_) return;
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->disconnect();
    socket->abort();
    retire(socket);
}

std::size_t QtTcpClient::bufferedBytes() const {
    return socket_ ? static_cast<std::size_t>(socket_->bytesAvailable()) : 0;
}

void QtTcpClient::retire(QTcpSocket* socket) {
    if (socket == emitting_) {
        socket->deleteLater();
    } else {
        delete socket;
    }
}

void QtTcpClient::dataArrived(QTcpSocket* socket) {
    if (socket != socket_ || !onDataArrival) return;
    const platform::Liveness::Watch watch = liveness_.watch();
    QTcpSocket* const outer = emitting_;
    emitting_ = socket;
    const auto handler = onDataArrival;
    handler();
    if (watch.alive()) emitting_ = outer;
}

void QtTcpClient::peerClosed(QTcpSocket* socket) {
    if (socket != socket_ || !onPeerClosed) return;
    // Data that came with the closing is handed over first.
    if (socket->bytesAvailable() > 0) {
        const platform::Liveness::Watch watch = liveness_.watch();
        dataArrived(socket);
        if (!watch.alive() || socket != socket_ || !onPeerClosed) return;
    }
    const platform::Liveness::Watch watch = liveness_.watch();
    QTcpSocket* const outer = emitting_;
    emitting_ = socket;
    const auto handler = onPeerClosed;
    handler();
    if (watch.alive()) emitting_ = outer;
}

void QtTcpClient::errorOccurred(QTcpSocket* socket, int error) {
    // The peer closing the connection (or resetting it, which Qt reports the
    // same way) is not an error of the query.
    if (socket != socket_ || error == QAbstractSocket::RemoteHostClosedError || !onError) return;
    const platform::Liveness::Watch watch = liveness_.watch();
    QTcpSocket* const outer = emitting_;
    emitting_ = socket;
    const std::string description = toStdString(socket->errorString());
    platform::SocketErrorKind kind = platform::SocketErrorKind::Other;
    if (error == QAbstractSocket::ConnectionRefusedError) kind = platform::SocketErrorKind::Refused;
    if (error == QAbstractSocket::HostNotFoundError) kind = platform::SocketErrorKind::HostNotFound;
    const auto handler = onError;
    handler(kind, description);
    if (watch.alive()) emitting_ = outer;
}

}  // namespace tempikon::qt
