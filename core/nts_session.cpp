#include "core/nts_session.h"

#include <algorithm>
#include <utility>

#include "core/nts_ke.h"

namespace tempikon::core {

NtsKeyExchange::NtsKeyExchange(platform::Timer& timer, platform::TlsClient& tls)
    : timer_(timer), tls_(tls) {
    timer_.setEnabled(false);
    timer_.onTimer = [this] { onTimer(); };
    tls_.onConnected = [this] { onConnected(); };
    tls_.onDataArrival = [this] { onDataArrival(); };
    tls_.onPeerClosed = [this] { onPeerClosed(); };
    tls_.onError = [this](platform::SocketErrorKind kind, const std::string& description) {
        onError(kind, description);
    };
    tls_.onTlsError = [this](platform::TlsErrorKind kind, const std::string& description) {
        onTlsError(kind, description);
    };
}

NtsKeyExchange::~NtsKeyExchange() {
    timer_.onTimer = nullptr;
    tls_.onConnected = nullptr;
    tls_.onDataArrival = nullptr;
    tls_.onPeerClosed = nullptr;
    tls_.onError = nullptr;
    tls_.onTlsError = nullptr;
}

void NtsKeyExchange::start(const ServerAddress& server, const std::string& trustFile,
                           int timeoutMs) {
    server_ = server;
    timeoutMs_ = std::max(timeoutMs, 1);
    answer_.clear();
    session_.reset();
    failure_ = {};
    warnings_.clear();
    phase_ = Phase::Connecting;
    if (tls_.isOpen()) tls_.close();
    timer_.setInterval(timeoutMs_);
    timer_.setEnabled(true);
    tls_.connect(server.host, server.port, nts::kAlpn, trustFile);
}

void NtsKeyExchange::stop() {
    timer_.setEnabled(false);
    tls_.close();
    phase_ = Phase::Done;
}

void NtsKeyExchange::onConnected() {
    if (phase_ != Phase::Connecting) return;
    phase_ = Phase::Waiting;
    if (!tls_.write(nts::BuildKeRequest()))
        fail(FailureKind::ConnectionFailed, "the key request could not be sent");
}

void NtsKeyExchange::onDataArrival() {
    if (phase_ != Phase::Waiting) return;
    readAnswer();
}

bool NtsKeyExchange::readAnswer() {
    const std::optional<std::string> bytes = tls_.readAll(nts::kMaxKeResponseBytes + 1);
    if (!bytes) {
        fail(FailureKind::ConnectionFailed, "the key answer could not be read");
        return true;
    }
    answer_ += *bytes;
    const nts::KeResult result = nts::ParseKeResponse(answer_);
    switch (result.state) {
        case nts::KeResult::State::Incomplete:
            return false;
        case nts::KeResult::State::Failed:
            fail(FailureKind::Refused, result.reason);
            return true;
        case nts::KeResult::State::Done:
            break;
    }
    const auto c2s =
        tls_.exportKeyingMaterial(nts::kExporterLabel, nts::ExporterContext(false), nts::kKeyBytes);
    const auto s2c =
        tls_.exportKeyingMaterial(nts::kExporterLabel, nts::ExporterContext(true), nts::kKeyBytes);
    if (!c2s || !s2c || c2s->size() != nts::kKeyBytes || s2c->size() != nts::kKeyBytes) {
        fail(FailureKind::ConnectionFailed, "no keys could be taken from the TLS session");
        return true;
    }
    NtsSession session;
    session.c2sKey = *c2s;
    session.s2cKey = *s2c;
    session.cookies.assign(result.response.cookies.begin(), result.response.cookies.end());
    // The NTP server is the key server's host unless it names another.
    session.ntpServer.host =
        result.response.ntpServer.empty() ? server_.host : result.response.ntpServer;
    session.ntpServer.port = result.response.ntpPort.value_or(ntp::kPort);
    session.subject = tls_.peerSubject();
    warnings_ = result.response.warnings;
    session_ = std::move(session);
    finish();
    return true;
}

void NtsKeyExchange::onPeerClosed() {
    if (phase_ == Phase::Done || phase_ == Phase::Idle) return;
    // The last records may come with the close.
    if (phase_ == Phase::Waiting && readAnswer()) return;
    fail(FailureKind::ConnectionFailed,
         phase_ == Phase::Waiting ? "the key server closed the connection before its answer "
                                    "was whole"
                                  : "the key server closed the connection");
}

void NtsKeyExchange::onError(platform::SocketErrorKind kind, const std::string& description) {
    if (phase_ == Phase::Done || phase_ == Phase::Idle) return;
    const QueryFailure failure = ConnectionFailure(kind, description);
    fail(failure.kind, failure.reason);
}

void NtsKeyExchange::onTlsError(platform::TlsErrorKind kind, const std::string& description) {
    if (phase_ == Phase::Done || phase_ == Phase::Idle) return;
    const bool certificate = kind == platform::TlsErrorKind::NotTrusted ||
                             kind == platform::TlsErrorKind::Expired ||
                             kind == platform::TlsErrorKind::NameMismatch;
    fail(certificate ? FailureKind::NotTrusted : FailureKind::ConnectionFailed, description);
}

void NtsKeyExchange::onTimer() {
    if (phase_ == Phase::Done || phase_ == Phase::Idle) return;
    fail(FailureKind::TimedOut,
         phase_ == Phase::Connecting
             ? "no secure connection to the key server within " +
                   std::to_string(timeoutMs_ / 1000) + " s"
             : "no keys from the key server within " + std::to_string(timeoutMs_ / 1000) + " s");
}

void NtsKeyExchange::fail(FailureKind kind, std::string reason) {
    failure_ = {kind, std::move(reason)};
    finish();
}

void NtsKeyExchange::finish() {
    timer_.setEnabled(false);
    tls_.close();
    phase_ = Phase::Done;
}

}  // namespace tempikon::core
