#include "core/query/nts_client.h"

#include <algorithm>
#include <utility>

#include "core/nts_fields.h"
#include "core/nts_ke.h"
#include "core/text.h"
#include "platform/reentrance.h"

namespace tempikon::core {

bool CookieStash::store(std::string cookie) {
    if (cookies_.size() >= capacity_) return false;
    cookies_.push_back(std::move(cookie));
    return true;
}

std::optional<std::string> CookieStash::take() {
    if (cookies_.empty()) return std::nullopt;
    std::string cookie = std::move(cookies_.front());
    cookies_.pop_front();
    return cookie;
}

std::size_t CookieStash::missing() const {
    const std::size_t wanted = capacity_ == 0 ? 0 : capacity_ - 1;
    return wanted - std::min(wanted, cookies_.size());
}

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
    for (const std::string& cookie : result.response.cookies) session.cookies.store(cookie);
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
    QueryFailure failure = ConnectionFailure(kind, description);
    fail(failure.kind, std::move(failure.reason));
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

// ---- the burst's hooks ---------------------------------------------------------

std::optional<QueryFailure> NtsBurstHooks::prepare() {
    if (!session_.cookies.empty()) return std::nullopt;
    sessionSpent_ = true;
    return QueryFailure{FailureKind::Unauthenticated, "no NTS cookies are left"};
}

std::optional<std::string> NtsBurstHooks::seal(const std::string& request, QueryFailure& failure) {
    // Each cookie goes out once; placeholders ask for enough new ones to
    // fill the stash again.
    const std::optional<std::string> cookie = session_.cookies.take();
    const int placeholders = static_cast<int>(session_.cookies.missing());
    uniqueId_ = crypto_.randomBytes(nts::kUniqueIdBytes);
    nakPending_ = false;
    std::optional<std::string> sealed =
        cookie
            ? nts::BuildRequest(request, uniqueId_, *cookie, placeholders, session_.c2sKey, crypto_)
            : std::nullopt;
    if (!sealed) failure = {FailureKind::Unauthenticated, "the NTS request could not be sealed"};
    return sealed;
}

BurstHooks::Opened NtsBurstHooks::open(const std::string& reply) {
    using Verdict = Opened::Verdict;
    nts::ReplyCheck check = nts::CheckReply(reply, uniqueId_, session_.s2cKey, crypto_);
    switch (check.verdict) {
        case nts::ReplyCheck::Verdict::Ok:
            break;
        case nts::ReplyCheck::Verdict::Nak:
            // Anyone on the path can send a NAK (RFC 8915, 5.7): it counts
            // only when no authenticated reply to this request comes by the
            // end of its wait, and the wait goes on.
            nakPending_ = true;
            return {Verdict::Ignored, {FailureKind::Unauthenticated, std::move(check.reason)}};
        case nts::ReplyCheck::Verdict::WrongId:
            return {Verdict::Ignored, {FailureKind::Rejected, std::move(check.reason)}};
        case nts::ReplyCheck::Verdict::AuthFailed:
        case nts::ReplyCheck::Verdict::Malformed:
            // Never used, and the wait goes on: a forgery must not keep the
            // real answer out.
            return {Verdict::Ignored, {FailureKind::Unauthenticated, std::move(check.reason)}};
    }
    nakPending_ = false;
    for (std::string& cookie : check.cookies) {
        if (!session_.cookies.store(std::move(cookie))) break;
    }
    return {};
}

// ---- the client ------------------------------------------------------------------

NtsClient::NtsClient(platform::Platform& platform, NtpBurst& burst, RateBackoff& rates, Wait wait)
    : platform_(platform), burst_(burst), rates_(rates), wait_(std::move(wait)) {}

NtsClient::~NtsClient() {
    keyExchange_.reset();
}

void NtsClient::stop() {
    if (keyExchange_ && !keyExchange_->done()) keyExchange_->stop();
}

std::optional<QueryFailure> NtsClient::unavailable() {
    platform::Crypto* crypto = platform_.crypto();
    if (crypto && !keyExchange_) {
        tls_ = platform_.createTlsClient();
        if (tls_) {
            timer_ = platform_.createTimer();
            keyExchange_ = std::make_unique<NtsKeyExchange>(*timer_, *tls_);
        }
    }
    if (crypto && keyExchange_) return std::nullopt;
    const std::string why = platform_.ntsUnavailableReason();
    return QueryFailure{FailureKind::ConnectionFailed,
                        why.empty() ? std::string("NTS is not available on this system") : why};
}

NtsResult NtsClient::ask(const ServerAddress& server, const std::string& trustFile, int timeoutMs,
                         int maxRequests) {
    NtsResult result;
    platform::Crypto* crypto = platform_.crypto();
    const std::string key = server.host + " " + std::to_string(server.port) + " " + trustFile;

    // Keys from an earlier question are used while they last; fresh ones
    // are fetched at most once per question. An empty entry holds no session.
    std::unique_ptr<NtsSession>& session = sessions_[key];
    bool fetched = false;
    for (;;) {
        if (!session || session->cookies.empty()) {
            session.reset();
            fetched = true;
            ++keyExchanges_;
            keyExchange_->start(server, trustFile, timeoutMs);
            if (!wait_([this] { return keyExchange_->done(); })) {
                result.stopped = true;
                return result;
            }
            result.failure = keyExchange_->failure();
            result.warnings = keyExchange_->warnings();
            if (!keyExchange_->session()) return result;
            session = std::make_unique<NtsSession>(*keyExchange_->session());
        }
        const std::string rateKey =
            session->ntpServer.host + " " + std::to_string(session->ntpServer.port);
        if (std::optional<QueryFailure> paused =
                PausedByRate(rates_, rateKey, platform_.monotonicMicros())) {
            result.failure = std::move(*paused);
            return result;
        }
        NtsBurstHooks hooks(*session, *crypto);
        burst_.setHooks(&hooks);
        const platform::ScopeExit unhook([this] { burst_.setHooks(nullptr); });
        const int spacing = IsNistHost(session->ntpServer.host) ? kNistSpacingMs : kNtpSpacingMs;
        burst_.start(session->ntpServer, timeoutMs, maxRequests, spacing);
        if (!wait_([this] { return burst_.done(); })) {
            result.stopped = true;
            return result;
        }
        result.failure = burst_.failure();
        result.sample = burst_.best();
        NoteRate(rates_, rateKey, burst_, platform_.monotonicMicros(), result.failure);
        // The key server named another NTP server: a failure names the one
        // asked, so that the user looks where the fault is.
        if (!result.sample && session->ntpServer != ServerAddress{server.host, ntp::kPort} &&
            !result.failure.reason.empty()) {
            const ServerAddress& to = session->ntpServer;
            const bool v6 = to.host.find(':') != std::string::npos;
            result.failure.reason = "NTP server " + EscapeText(v6 ? "[" + to.host + "]" : to.host) +
                                    ":" + std::to_string(to.port) +
                                    " (named by the key server): " + result.failure.reason;
        }
        if (hooks.sessionSpent()) session->cookies.clear();
        if (result.sample) {
            result.subject = session->subject;
            return result;
        }
        // A NAK, no cookie left, or no answer at all (a server that changed
        // its keys may drop old cookies without a NAK): one new key
        // establishment, then give up.
        const bool unanswered = result.failure.kind == FailureKind::TimedOut;
        if (fetched || !(hooks.sessionSpent() || unanswered)) return result;
        session->cookies.clear();
    }
}

}  // namespace tempikon::core
