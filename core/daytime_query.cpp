#include "core/daytime_query.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/ntp_query.h"
#include "core/nts_ke.h"
#include "core/nts_session.h"
#include "core/server_address.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {
constexpr std::int32_t kMaxTimeoutSeconds = 2'147'483;

QueryFailure StoppedFailure() {
    return {FailureKind::Stopped, QT_TRANSLATE_NOOP("Tempikon", "the check was stopped")};
}
}  // namespace

std::string CutTimeText(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    // A colon at 0-based index 0 or 1 leaves no room for two hour digits.
    if (colon == std::string_view::npos || colon < 2) return {};
    return std::string(reply.substr(colon - 2, 8));
}

bool ReplyHoldsTheTime(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    if (colon == std::string_view::npos) return false;
    // NIST's replies begin with a line feed: only one after the colon ends
    // the time. Otherwise the cut ends five characters after the colon.
    return reply.find_first_of("\r\n", colon) != std::string_view::npos || reply.size() - colon > 5;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string EscapeText(std::string_view text) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
            case '\\':
                out += '\\';
                out += ch;
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

std::string QuoteReply(std::string_view reply, std::size_t maxChars) {
    std::string out = '"' + EscapeText(reply.substr(0, maxChars));
    if (reply.size() > maxChars) out += "...";
    return out + '"';
}

QueryFailure NoTimeFailure(std::string_view reply) {
    // A time begun but cut off by the close or the time-out.
    if (!CutTimeText(reply).empty() && !ReplyHoldsTheTime(reply))
        return {FailureKind::NoTimeInReply, "the reply ended early: " + QuoteReply(reply)};
    return {FailureKind::NoTimeInReply, "the reply held no time: " + QuoteReply(reply)};
}

QueryFailure InvalidTimeFailure(std::string_view timeText) {
    return {FailureKind::InvalidTime,
            "the time was not a valid time of day: " + QuoteReply(timeText)};
}

int TimeoutMilliseconds(std::int32_t timeoutSeconds) {
    return std::clamp(timeoutSeconds, std::int32_t{1}, kMaxTimeoutSeconds) * 1000;
}

QueryFailure ConnectionFailure(platform::SocketErrorKind kind, const std::string& description) {
    switch (kind) {
        case platform::SocketErrorKind::Refused:
            return {FailureKind::Refused, QT_TRANSLATE_NOOP("Tempikon", "connection refused")};
        case platform::SocketErrorKind::HostNotFound:
            // A lookup that never ran says so: the name itself may be fine.
            return {FailureKind::HostNotFound,
                    description == platform::kLookupNotStarted
                        ? "host not found: " + description
                        : std::string(QT_TRANSLATE_NOOP("Tempikon", "host not found"))};
        case platform::SocketErrorKind::Reset:
            return {FailureKind::Reset, QT_TRANSLATE_NOOP("Tempikon", "connection reset")};
        case platform::SocketErrorKind::Other:
            break;
    }
    return {FailureKind::ConnectionFailed,
            description.empty() ? std::string(QT_TRANSLATE_NOOP("Tempikon", "connection failed"))
                                : "connection failed: " + description};
}

DaytimeQuery::DaytimeQuery(platform::Platform& platform, platform::Timer& timeoutTimer,
                           platform::TcpClient& socket)
    : platform_(platform), timeoutTimer_(timeoutTimer), socket_(socket) {
    timeoutTimer_.setEnabled(false);
    timeoutTimer_.onTimer = [this] { onTimeout(); };
    socket_.onDataArrival = [this] { onDataArrival(); };
    socket_.onError = [this](platform::SocketErrorKind kind, const std::string& description) {
        onSocketError(kind, description);
    };
    socket_.onPeerClosed = [this] { onPeerClosed(); };
}

DaytimeQuery::~DaytimeQuery() {
    burst_.reset();
    keyExchange_.reset();
    timeoutTimer_.onTimer = nullptr;
    socket_.onDataArrival = nullptr;
    socket_.onError = nullptr;
    socket_.onPeerClosed = nullptr;
}

std::string DaytimeQuery::ask(const std::string& host, std::int32_t timeoutSeconds) {
    // The timer, the socket and the reply serve one query at a time.
    if (busy_ || shutDown_) return {};
    setBusy(true);
    // Leaves idle however the wait ends, even by an exception.
    const platform::ScopeExit finish([this] { endQuery(); });

    done_ = false;
    cancelled_ = false;
    reply_.clear();
    roundTripMicros_ = -1;
    lastSample_.reset();
    failure_ = {};
    // The system's resolver reads a name only up to a NUL and would ask
    // another host than the one named: such a name is never found.
    if (host.find('\0') != std::string::npos) {
        done_ = true;
        failure_ = {FailureKind::HostNotFound, QT_TRANSLATE_NOOP("Tempikon", "host not found")};
        return {};
    }
    const std::optional<ServerAddress> address = ParseServerAddress(host, kDaytimePort);
    if (!address) {
        done_ = true;
        failure_ = {FailureKind::BadAddress, "not a server address: " + QuoteReply(host)};
        return {};
    }
    timeoutSeconds_ = TimeoutMilliseconds(timeoutSeconds) / 1000;
    timeoutTimer_.setInterval(TimeoutMilliseconds(timeoutSeconds));
    timeoutTimer_.setEnabled(true);
    if (socket_.isOpen()) socket_.close();
    startMicros_ = platform_.monotonicMicros();
    socket_.connect(address->host, address->port);

    const bool ended = waitUntil([this] { return done_; });
    socket_.close();
    timeoutTimer_.setEnabled(false);
    if (!ended) return {};
    // A reply that ended before its time was whole holds none: "14:0" is
    // not 14:00:00.
    std::string timeText = ReplyHoldsTheTime(reply_) ? CutTimeText(reply_) : std::string();
    // The last notification of the pass decides, as it does for the reply.
    if (!timeText.empty()) {
        failure_ = {};
    } else if (failure_.kind == FailureKind::None) {
        failure_ = NoTimeFailure(reply_);
    }
    return timeText;
}

bool DaytimeQuery::beginNtp() {
    cancelled_ = false;
    reply_.clear();
    roundTripMicros_ = -1;
    lastSample_.reset();
    ntsSubject_.clear();
    ntsWarnings_.clear();
    failure_ = {};
    if (!burst_) {
        udp_ = platform_.createUdpClient();
        if (!udp_) {
            failure_ = {FailureKind::ConnectionFailed, "NTP is not available on this system"};
            return false;
        }
        ntpTimer_ = platform_.createTimer();
        burst_ = std::make_unique<NtpBurst>(platform_, *ntpTimer_, *udp_);
    }
    return true;
}

bool DaytimeQuery::waitUntil(const std::function<bool()>& finished) {
    while (!finished() && !shutDown_) platform_.waitForEvents();
    if (shutDown_) {
        failure_ = {};
        return false;
    }
    if (cancelled_) {
        failure_ = StoppedFailure();
        return false;
    }
    return true;
}

bool DaytimeQuery::runBurst(const ServerAddress& server, int maxRequests) {
    const int spacing = IsNistHost(server.host) ? kNistSpacingMs : kNtpSpacingMs;
    burst_->start(server, TimeoutMilliseconds(timeoutSeconds_), maxRequests, spacing);
    if (!waitUntil([this] { return burst_->done(); })) return false;
    failure_ = burst_->failure();
    lastSample_ = burst_->best();
    if (lastSample_) roundTripMicros_ = lastSample_->delayMicros;
    return true;
}

std::optional<ntp::Sample> DaytimeQuery::askNtp(const std::string& server,
                                                std::int32_t timeoutSeconds, int maxRequests) {
    if (busy_ || shutDown_) return std::nullopt;
    setBusy(true);
    const platform::ScopeExit finish([this] {
        if (burst_ && !burst_->done()) burst_->stop();
        setBusy(false);
    });
    if (!beginNtp()) return std::nullopt;

    const std::optional<ServerAddress> address = ParseServerAddress(server, ntp::kPort);
    if (!address || address->host.find('\0') != std::string::npos) {
        failure_ = {FailureKind::BadAddress, "not a server address: " + QuoteReply(server)};
        return std::nullopt;
    }
    const std::string key = address->host + " " + std::to_string(address->port);
    if (refusedServers_.count(key) != 0) {
        failure_ = {FailureKind::Refused,
                    "the server refused to answer earlier; not asked again until the settings "
                    "change"};
        return std::nullopt;
    }
    timeoutSeconds_ = TimeoutMilliseconds(timeoutSeconds) / 1000;
    burst_->setNts(nullptr, nullptr);
    if (!runBurst(*address, maxRequests)) return std::nullopt;
    if (burst_->denied()) refusedServers_.insert(key);
    return lastSample_;
}

bool DaytimeQuery::runKeyExchange(const ServerAddress& server, const std::string& trustFile) {
    ++ntsKeyExchanges_;
    keyExchange_->start(server, trustFile, TimeoutMilliseconds(timeoutSeconds_));
    if (!waitUntil([this] { return keyExchange_->done(); })) return false;
    failure_ = keyExchange_->failure();
    ntsWarnings_ = keyExchange_->warnings();
    return true;
}

std::optional<ntp::Sample> DaytimeQuery::askNts(const std::string& server,
                                                std::int32_t timeoutSeconds, int maxRequests,
                                                const std::string& trustFile) {
    if (busy_ || shutDown_) return std::nullopt;
    setBusy(true);
    const platform::ScopeExit finish([this] {
        if (burst_ && !burst_->done()) burst_->stop();
        if (keyExchange_ && !keyExchange_->done()) keyExchange_->stop();
        setBusy(false);
    });
    if (!beginNtp()) return std::nullopt;

    platform::Crypto* crypto = platform_.crypto();
    if (crypto && !keyExchange_) {
        tls_ = platform_.createTlsClient();
        if (tls_) {
            ntsTimer_ = platform_.createTimer();
            keyExchange_ = std::make_unique<NtsKeyExchange>(*ntsTimer_, *tls_);
        }
    }
    if (!crypto || !keyExchange_) {
        const std::string why = platform_.ntsUnavailableReason();
        failure_ = {FailureKind::ConnectionFailed,
                    why.empty() ? std::string("NTS is not available on this system") : why};
        return std::nullopt;
    }
    const std::optional<ServerAddress> address = ParseServerAddress(server, nts::kKePort);
    if (!address || address->host.find('\0') != std::string::npos) {
        failure_ = {FailureKind::BadAddress, "not a server address: " + QuoteReply(server)};
        return std::nullopt;
    }
    timeoutSeconds_ = TimeoutMilliseconds(timeoutSeconds) / 1000;
    const std::string key = address->host + " " + std::to_string(address->port) + " " + trustFile;

    // Keys from an earlier query are used while they last; fresh ones are
    // fetched at most once per query. An empty entry holds no session.
    std::unique_ptr<NtsSession>& session = ntsSessions_[key];
    bool fetched = false;
    for (;;) {
        if (!session || session->cookies.empty()) {
            session.reset();
            fetched = true;
            if (!runKeyExchange(*address, trustFile) || !keyExchange_->session())
                return std::nullopt;
            session = std::make_unique<NtsSession>(*keyExchange_->session());
        }
        burst_->setNts(session.get(), crypto);
        if (!runBurst(session->ntpServer, maxRequests)) return std::nullopt;
        if (burst_->sessionSpent()) session->cookies.clear();
        if (lastSample_) {
            ntsSubject_ = session->subject;
            return lastSample_;
        }
        // A NAK, no cookie left, or no answer at all (a server that
        // changed its keys may drop old cookies without a NAK): one new
        // key establishment, then give up.
        const bool unanswered = failure_.kind == FailureKind::TimedOut;
        if (fetched || !(burst_->sessionSpent() || unanswered)) return std::nullopt;
        session->cookies.clear();
    }
}

void DaytimeQuery::endQuery() {
    if (socket_.isOpen()) socket_.close();
    timeoutTimer_.setEnabled(false);
    setBusy(false);
}

bool DaytimeQuery::isBusy() const {
    return busy_;
}

void DaytimeQuery::cancel() {
    if (!busy_ || shutDown_) return;
    cancelled_ = true;
    if (burst_) burst_->stop();
    if (keyExchange_) keyExchange_->stop();
    timeoutTimer_.setEnabled(false);
    reply_.clear();
    done_ = true;
}

void DaytimeQuery::shutdown() {
    shutDown_ = true;
    if (!busy_) return;
    if (burst_) burst_->stop();
    if (keyExchange_) keyExchange_->stop();
    timeoutTimer_.setEnabled(false);
    reply_.clear();
    done_ = true;
}

bool DaytimeQuery::isShutDown() const {
    return shutDown_;
}

int DaytimeQuery::addBusyListener(std::function<void()> listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void DaytimeQuery::removeBusyListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void DaytimeQuery::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    // A listener may add or remove listeners: call those present at the
    // start that are still registered when their turn comes.
    std::vector<int> ids;
    for (const auto& entry : listeners_) ids.push_back(entry.first);
    for (const int id : ids) {
        auto it = std::find_if(listeners_.begin(), listeners_.end(),
                               [id](const auto& entry) { return entry.first == id; });
        if (it == listeners_.end() || !it->second) continue;
        const auto listener = it->second;
        listener();
    }
}

// The handlers act only while a query waits: a late notification of an
// earlier connection must not touch the next query's state.
void DaytimeQuery::onTimeout() {
    timeoutTimer_.setEnabled(false);
    if (!busy_ || shutDown_) return;
    // Part of a reply came, but never the time in it.
    if (!reply_.empty()) {
        failure_ = NoTimeFailure(reply_);
    } else {
        failure_ = {FailureKind::TimedOut,
                    "no answer within " + std::to_string(timeoutSeconds_) + " s"};
    }
    reply_.clear();
    done_ = true;
}

void DaytimeQuery::onSocketError(platform::SocketErrorKind kind, const std::string& description) {
    timeoutTimer_.setEnabled(false);
    if (!busy_ || shutDown_) return;
    reply_.clear();
    failure_ = ConnectionFailure(kind, description);
    done_ = true;
}

void DaytimeQuery::onDataArrival() {
    if (!busy_ || shutDown_) return;
    if (roundTripMicros_ < 0) roundTripMicros_ = platform_.monotonicMicros() - startMicros_;
    std::optional<std::string> bytes = socket_.readAll(kMaxReplyBytes);
    if (bytes) {
        failure_ = {};
    } else {
        failure_ = {FailureKind::ConnectionFailed,
                    QT_TRANSLATE_NOOP("Tempikon", "the reply could not be read")};
    }
    if (done_) {
        // More data behind a whole reply, before the wait looked: the newer
        // text counts, as it always did.
        if (bytes) reply_ = std::move(*bytes);
        return;
    }
    if (bytes) reply_ += bytes->substr(0, kMaxReplyBytes - std::min(kMaxReplyBytes, reply_.size()));
    // A reply split across segments: wait for the rest of the time, until
    // the time-out or the peer's closing.
    if (bytes && !ReplyHoldsTheTime(reply_) && reply_.size() < kMaxReplyBytes) return;
    timeoutTimer_.setEnabled(false);
    done_ = true;
}

void DaytimeQuery::onPeerClosed() {
    if (!busy_ || shutDown_ || done_) return;
    timeoutTimer_.setEnabled(false);
    if (reply_.empty() && failure_.kind == FailureKind::None)
        failure_ = {FailureKind::ConnectionFailed,
                    QT_TRANSLATE_NOOP("Tempikon", "the server closed the connection unanswered")};
    done_ = true;
}

}  // namespace tempikon::core
