#include "core/query/server_query.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/nts_ke.h"
#include "core/query/daytime_exchange.h"
#include "core/query/nts_client.h"
#include "core/server_address.h"
#include "core/text.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {
constexpr std::int32_t kMaxTimeoutSeconds = 2'147'483;
}  // namespace

int TimeoutMilliseconds(std::int32_t timeoutSeconds) {
    return std::clamp(timeoutSeconds, std::int32_t{1}, kMaxTimeoutSeconds) * 1000;
}

ServerQuery::ServerQuery(platform::Platform& platform)
    : platform_(platform),
      daytimeTimer_(platform.createTimer()),
      daytimeSocket_(platform.createTcpClient()),
      daytime_(std::make_unique<DaytimeExchange>(platform, *daytimeTimer_, *daytimeSocket_)) {}

ServerQuery::~ServerQuery() {
    nts_.reset();
    burst_.reset();
    daytime_.reset();
}

int ServerQuery::ntsKeyExchanges() const {
    return nts_ ? nts_->keyExchanges() : 0;
}

QueryAnswer ServerQuery::ask(const ServerSpec& server, std::int32_t timeoutSeconds,
                             int ntpRequests) {
    // The timers, the sockets and the answer serve one query at a time.
    if (busy_ || shutDown_) return {};
    const std::optional<Protocol> protocol = server.protocol.kind();
    if (!protocol) {
        answer_ = {};
        answer_.failure = {FailureKind::UnknownProtocol, ProtocolProblem(server.protocol.text())};
        return answer_;
    }
    setBusy(true);
    // Leaves idle however the wait ends, even by an exception.
    const platform::ScopeExit finish([this] {
        stopExchanges();
        setBusy(false);
    });
    answer_ = {};
    cancelled_ = false;
    asking_ = *protocol;
    const int timeoutMs = TimeoutMilliseconds(timeoutSeconds);
    switch (*protocol) {
        case Protocol::Daytime:
            askDaytime(server.host, timeoutMs);
            break;
        case Protocol::Ntp:
            askNtp(server.host, timeoutMs, ntpRequests);
            break;
        case Protocol::Nts:
            askNts(server.host, server.trustFile, timeoutMs, ntpRequests);
            break;
    }
    return answer_;
}

void ServerQuery::askDaytime(const std::string& host, int timeoutMs) {
    // The system's resolver reads a name only up to a NUL and would ask
    // another host than the one named: such a name is never found.
    if (host.find('\0') != std::string::npos) {
        answer_.failure = {FailureKind::HostNotFound,
                           QT_TRANSLATE_NOOP("Tempikon", "host not found")};
        return;
    }
    const std::optional<ServerAddress> address = ParseServerAddress(host, kDaytimePort);
    if (!address) {
        answer_.failure = BadAddressFailure(host);
        return;
    }
    daytime_->start(*address, timeoutMs);
    const bool ended = waitUntil([this] { return daytime_->done(); });
    daytime_->close();
    answer_.reply = daytime_->reply();
    answer_.roundTripMicros = daytime_->roundTripMicros();
    answer_.firstDataMicros = daytime_->firstDataMicros();
    if (!ended) return;
    answer_.timeText = daytime_->timeText();
    // The last notification of the pass decides, as it does for the reply.
    if (!answer_.timeText.empty()) {
        answer_.failure = {};
    } else {
        answer_.failure = daytime_->failure().kind == FailureKind::None
                              ? NoTimeFailure(daytime_->reply())
                              : daytime_->failure();
    }
}

bool ServerQuery::makeBurst() {
    if (burst_) return true;
    udp_ = platform_.createUdpClient();
    if (!udp_) {
        answer_.failure = {FailureKind::ConnectionFailed, "NTP is not available on this system"};
        return false;
    }
    ntpTimer_ = platform_.createTimer();
    burst_ = std::make_unique<NtpBurst>(platform_, *ntpTimer_, *udp_);
    return true;
}

void ServerQuery::askNtp(const std::string& host, int timeoutMs, int requests) {
    if (!makeBurst()) return;
    const std::optional<ServerAddress> address = ParseServerAddress(host, ntp::kPort);
    if (!address || address->host.find('\0') != std::string::npos) {
        answer_.failure = BadAddressFailure(host);
        return;
    }
    const std::string key = address->host + " " + std::to_string(address->port);
    if (refusedServers_.count(key) != 0) {
        answer_.failure = {FailureKind::Refused,
                           "the server refused to answer earlier; not asked again until the "
                           "settings change"};
        return;
    }
    if (std::optional<QueryFailure> paused =
            PausedByRate(rates_, key, platform_.monotonicMicros())) {
        answer_.failure = std::move(*paused);
        return;
    }
    burst_->setHooks(nullptr);
    const int spacing = IsNistHost(address->host) ? kNistSpacingMs : kNtpSpacingMs;
    burst_->start(*address, timeoutMs, requests, spacing);
    if (!waitUntil([this] { return burst_->done(); })) return;
    answer_.failure = burst_->failure();
    answer_.sample = burst_->best();
    NoteRate(rates_, key, *burst_, platform_.monotonicMicros(), answer_.failure);
    if (answer_.sample) answer_.roundTripMicros = answer_.sample->delayMicros;
    if (burst_->denied()) refusedServers_.insert(key);
}

void ServerQuery::askNts(const std::string& host, const std::string& trustFile, int timeoutMs,
                         int requests) {
    if (!makeBurst()) return;
    if (!nts_)
        nts_ = std::make_unique<NtsClient>(
            platform_, *burst_, rates_,
            [this](const auto& finished) { return waitUntil(finished); });
    if (std::optional<QueryFailure> why = nts_->unavailable()) {
        answer_.failure = std::move(*why);
        return;
    }
    const std::optional<ServerAddress> address = ParseServerAddress(host, nts::kKePort);
    if (!address || address->host.find('\0') != std::string::npos) {
        answer_.failure = BadAddressFailure(host);
        return;
    }
    NtsResult result = nts_->ask(*address, trustFile, timeoutMs, requests);
    answer_.warnings = std::move(result.warnings);
    // Stopped or shut down: the wait has set the failure.
    if (result.stopped) return;
    answer_.failure = std::move(result.failure);
    answer_.sample = std::move(result.sample);
    answer_.ntsSubject = std::move(result.subject);
    if (answer_.sample) answer_.roundTripMicros = answer_.sample->delayMicros;
}

bool ServerQuery::waitUntil(const std::function<bool()>& finished) {
    while (!finished() && !shutDown_) platform_.waitForEvents();
    if (shutDown_) {
        answer_.failure = {};
        return false;
    }
    if (cancelled_) {
        answer_.failure = StoppedFailure();
        return false;
    }
    return true;
}

void ServerQuery::stopExchanges() {
    if (asking_ == Protocol::Daytime) {
        if (daytimeSocket_->isOpen()) daytimeSocket_->close();
        daytimeTimer_->setEnabled(false);
    } else {
        if (burst_ && !burst_->done()) burst_->stop();
        if (nts_) nts_->stop();
    }
}

void ServerQuery::cancel() {
    if (!busy_ || shutDown_) return;
    cancelled_ = true;
    if (burst_) burst_->stop();
    if (nts_) nts_->stop();
    daytime_->stop();
}

void ServerQuery::shutdown() {
    shutDown_ = true;
    if (!busy_) return;
    if (burst_) burst_->stop();
    if (nts_) nts_->stop();
    daytime_->stop();
}

int ServerQuery::addBusyListener(std::function<void()> listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void ServerQuery::removeBusyListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void ServerQuery::setBusy(bool busy) {
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

}  // namespace tempikon::core
