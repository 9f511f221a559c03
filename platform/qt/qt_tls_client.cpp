#include "platform/qt/qt_tls_client.h"

namespace tempikon::qt {

// Placeholder until the GnuTLS session is in: every handshake fails.
struct QtTlsClient::Impl {
    bool open = false;
};

QtTlsClient::QtTlsClient() : impl_(std::make_unique<Impl>()) {}
QtTlsClient::~QtTlsClient() = default;

void QtTlsClient::connect(const std::string&, std::uint16_t, const std::string&,
                          const std::string&) {
    if (onTlsError) onTlsError(platform::TlsErrorKind::Handshake, "TLS is not built in yet");
}
bool QtTlsClient::write(const std::string&) {
    return false;
}
std::optional<std::string> QtTlsClient::readAll(std::size_t) {
    return std::nullopt;
}
std::optional<std::string> QtTlsClient::exportKeyingMaterial(const std::string&, const std::string&,
                                                             std::size_t) {
    return std::nullopt;
}
std::string QtTlsClient::peerSubject() const {
    return {};
}
void QtTlsClient::close() {
    impl_->open = false;
}
bool QtTlsClient::isOpen() const {
    return impl_->open;
}

}  // namespace tempikon::qt
