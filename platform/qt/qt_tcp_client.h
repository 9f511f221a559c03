#pragma once

#include <cstddef>
#include <memory>

#include "platform/reentrance.h"
#include "platform/tcp_client.h"

class QTcpSocket;

namespace tempikon::qt {

// The most bytes a socket buffers before it stops reading from the system,
// so that a flooding peer cannot grow the process.
inline constexpr std::size_t kSocketReadBufferBytes = 64 * 1024;

// A QTcpSocket per connection. close() detaches the socket at once, so no
// notification of a closed connection can arrive later, not even one that
// Qt had already queued.
class QtTcpClient : public platform::TcpClient {
public:
    QtTcpClient() = default;
    ~QtTcpClient() override;
    QtTcpClient(const QtTcpClient&) = delete;
    QtTcpClient& operator=(const QtTcpClient&) = delete;

    void connect(const std::string& host, std::uint16_t port) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    void close() override;
    bool isOpen() const override { return socket_ != nullptr; }

    // Bytes buffered and not yet read (for tests).
    std::size_t bufferedBytes() const;

private:
    void dataArrived(QTcpSocket* socket);
    void peerClosed(QTcpSocket* socket);
    void errorOccurred(QTcpSocket* socket, int error);
    void retire(QTcpSocket* socket);

    QTcpSocket* socket_ = nullptr;
    // The socket whose signal is being handled, which must not be deleted
    // under its own feet.
    QTcpSocket* emitting_ = nullptr;
    platform::Liveness liveness_;
};

}  // namespace tempikon::qt
