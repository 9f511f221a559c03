#pragma once

#include <functional>
#include <memory>

#include "platform/tcp_client.h"
#include "platform/tls_client.h"

namespace tempikon::gnutls {

// What the TLS session runs over, from the backend: its non-blocking TCP
// client, that client's way of sending (the handshake writes before the
// connection stands), and a way to run a function from the event loop (a
// failure found inside connect() is reported from there).
struct TlsTransport {
    std::unique_ptr<platform::TcpClient> tcp;
    std::function<bool(const std::string& bytes)> send;
    std::function<void(std::function<void()> fn)> post;
};

// TLS 1.3 over the backend's TCP client, the session from GnuTLS.
class GnutlsTlsClient : public platform::TlsClient {
public:
    explicit GnutlsTlsClient(TlsTransport transport);
    ~GnutlsTlsClient() override;
    GnutlsTlsClient(const GnutlsTlsClient&) = delete;
    GnutlsTlsClient& operator=(const GnutlsTlsClient&) = delete;

    void connect(const std::string& host, std::uint16_t port, const std::string& alpn,
                 const std::string& extraTrust) override;
    bool write(const std::string& bytes) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    std::optional<std::string> exportKeyingMaterial(const std::string& label,
                                                    const std::string& context,
                                                    std::size_t length) override;
    std::string peerSubject() const override;
    void close() override;
    bool isOpen() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tempikon::gnutls
