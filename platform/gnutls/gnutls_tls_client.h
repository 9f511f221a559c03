#pragma once

#include <memory>

#include "platform/tls_client.h"

namespace tempikon::qt {

// TLS 1.3 over a QTcpSocket, the session from GnuTLS.
class QtTlsClient : public platform::TlsClient {
public:
    QtTlsClient();
    ~QtTlsClient() override;
    QtTlsClient(const QtTlsClient&) = delete;
    QtTlsClient& operator=(const QtTlsClient&) = delete;

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

}  // namespace tempikon::qt
