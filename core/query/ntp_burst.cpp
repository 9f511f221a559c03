#include "core/query/ntp_burst.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <utility>

#include "core/text.h"

namespace tempikon::core {

namespace {

// The value a request carries where its send time would be: random, so
// that only an answer to this request can echo it (and the real send time
// stays with us).
ntp::Timestamp RandomTransmit() {
    static std::random_device device;
    std::uint64_t raw = 0;
    while (raw == 0) raw = (std::uint64_t{device()} << 32) | device();
    return ntp::Timestamp::fromRaw(raw);
}

}  // namespace

std::optional<QueryFailure> PausedByRate(const RateBackoff& rates, const std::string& key,
                                         std::int64_t nowMicros) {
    const std::int64_t left = rates.pauseLeftMicros(key, nowMicros);
    if (left <= 0) return std::nullopt;
    return QueryFailure{FailureKind::Rejected,
                        "the server asked to be asked less often (kiss code RATE); not asked for "
                        "another " +
                            PauseText(left)};
}

void NoteRate(RateBackoff& rates, const std::string& key, const NtpBurst& burst,
              std::int64_t nowMicros, QueryFailure& failure) {
    if (burst.rated()) {
        rates.kissed(key, nowMicros);
        failure.reason += "; not asked again for " + PauseText(rates.pauseMicros(key));
    } else if (burst.best()) {
        rates.answered(key);
    }
}

bool IsNistHost(std::string_view host) {
    std::string h;
    for (const char c : host) h += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (!h.empty() && h.back() == '.') h.pop_back();
    return h == "nist.gov" || (h.size() > 9 && h.ends_with(".nist.gov"));
}

NtpBurst::NtpBurst(platform::Platform& platform, platform::Timer& timer, platform::UdpClient& udp)
    : platform_(platform), timer_(timer), udp_(udp) {
    timer_.setEnabled(false);
    timer_.onTimer = [this] { onTimer(); };
    udp_.onReady = [this] { onReady(); };
    udp_.onDatagram = [this](const platform::Datagram& d) { onDatagram(d); };
    udp_.onError = [this](platform::SocketErrorKind kind, const std::string& description) {
        onError(kind, description);
    };
}

NtpBurst::~NtpBurst() {
    timer_.onTimer = nullptr;
    udp_.onReady = nullptr;
    udp_.onDatagram = nullptr;
    udp_.onError = nullptr;
}

void NtpBurst::start(const ServerAddress& server, int timeoutMs, int maxRequests, int spacingMs) {
    server_ = server;
    timeoutMs_ = std::max(timeoutMs, 1);
    maxRequests_ = std::max(maxRequests, 1);
    spacingMs_ = std::max(spacingMs, 0);
    requestsSent_ = 0;
    samples_.clear();
    best_.reset();
    failure_ = {};
    denied_ = false;
    rated_ = false;
    phase_ = Phase::LookingUp;
    if (udp_.isOpen()) udp_.close();
    // The lookup shares the first request's time-out.
    timer_.setInterval(timeoutMs_);
    timer_.setEnabled(true);
    udp_.open(server.host, server.port);
}

void NtpBurst::stop() {
    timer_.setEnabled(false);
    udp_.close();
    phase_ = Phase::Done;
}

void NtpBurst::onReady() {
    if (phase_ != Phase::LookingUp) return;
    sendRequest();
}

void NtpBurst::sendRequest() {
    sentTransmit_ = RandomTransmit();
    std::string request = ntp::BuildRequest(sentTransmit_);
    if (hooks_) {
        if (std::optional<QueryFailure> refused = hooks_->prepare()) {
            if (samples_.empty()) failure_ = std::move(*refused);
            finish();
            return;
        }
        std::optional<std::string> sealed = hooks_->seal(request, failure_);
        if (!sealed) {
            finish();
            return;
        }
        request = std::move(*sealed);
    }
    sentMonotonic_ = platform_.monotonicMicros();
    const std::optional<std::int64_t> sentAt = udp_.send(request);
    // A failed send has reported its error, which ended the burst.
    if (!sentAt || phase_ == Phase::Done) return;
    sentMicros_ = *sentAt;
    ++requestsSent_;
    phase_ = Phase::Waiting;
    timer_.setInterval(timeoutMs_);
    timer_.setEnabled(true);
}

void NtpBurst::onDatagram(const platform::Datagram& datagram) {
    if (phase_ != Phase::Waiting) return;
    // Anyone can send to our port: what does not come from the server, or
    // does not answer this request, is noted and the wait goes on.
    if (!datagram.fromServer) {
        failure_ = {FailureKind::Rejected, "a reply from another address (" +
                                               QuoteReply(datagram.from) + ") was not used"};
        return;
    }
    if (hooks_) {
        BurstHooks::Opened opened = hooks_->open(datagram.bytes);
        switch (opened.verdict) {
            case BurstHooks::Opened::Verdict::Ok:
                break;
            case BurstHooks::Opened::Verdict::Ignored:
                failure_ = std::move(opened.failure);
                return;
            case BurstHooks::Opened::Verdict::Ends:
                reject(opened.failure.kind, std::move(opened.failure.reason));
                return;
        }
    }
    const ntp::Check check = ntp::CheckReply(datagram.bytes, sentTransmit_);
    switch (check.verdict) {
        case ntp::Verdict::Ok:
            break;
        case ntp::Verdict::WrongOrigin:
            failure_ = {FailureKind::Rejected, check.reason};
            return;
        case ntp::Verdict::KissRate:
            rated_ = true;
            reject(FailureKind::Rejected, check.reason);
            return;
        case ntp::Verdict::KissDeny:
        case ntp::Verdict::KissRstr:
            denied_ = true;
            reject(FailureKind::Refused, check.reason);
            return;
        default:
            reject(FailureKind::Rejected, check.reason);
            return;
    }
    // Stamps that cannot be true, a clock that moved during the wait, or a
    // time from before this version was made: no sample.
    ntp::SampleLimits limits;
    limits.maxRoundTripMicros = std::int64_t{timeoutMs_} * 1000;
    limits.floorMicros = platform_.version().buildSeconds * platform::kMicrosPerSecond;
    ntp::SampleCheck sample =
        ntp::CheckSample(*check.packet, sentMicros_, datagram.receivedMicros, limits);
    if (!sample.sample) {
        reject(FailureKind::Rejected, std::move(sample.reason));
        return;
    }
    samples_.push_back(*sample.sample);
    failure_ = {};
    if (samples_.back().delayMicros <= kGoodEnoughDelayMicros || requestsSent_ >= maxRequests_) {
        finish();
        return;
    }
    // The next request leaves spacingMs after this one did.
    const std::int64_t waited = (platform_.monotonicMicros() - sentMonotonic_) / 1000;
    phase_ = Phase::Spacing;
    timer_.setInterval(static_cast<int>(std::max<std::int64_t>(1, spacingMs_ - waited)));
    timer_.setEnabled(true);
}

void NtpBurst::reject(FailureKind kind, std::string reason) {
    // Samples already taken still count; the reason is kept either way, so
    // that a kiss-o'-death is reported.
    failure_ = {kind, std::move(reason)};
    finish();
}

void NtpBurst::onError(platform::SocketErrorKind kind, const std::string& description) {
    if (phase_ == Phase::Done || phase_ == Phase::Idle) return;
    failure_ = ConnectionFailure(kind, description);
    finish();
}

void NtpBurst::onTimer() {
    timer_.setEnabled(false);
    switch (phase_) {
        case Phase::Spacing:
            sendRequest();
            return;
        case Phase::LookingUp:
        case Phase::Waiting:
            // A reply rejected meanwhile says more than the silence.
            if (samples_.empty() && failure_.kind == FailureKind::None)
                failure_ = TimeoutFailure(timeoutMs_ / 1000);
            finish();
            return;
        default:
            return;
    }
}

void NtpBurst::finish() {
    timer_.setEnabled(false);
    udp_.close();
    best_ = ntp::BestSample(samples_);
    if (best_ && failure_.kind != FailureKind::Refused && failure_.kind != FailureKind::Rejected &&
        failure_.kind != FailureKind::Unauthenticated)
        failure_ = {};
    phase_ = Phase::Done;
}

}  // namespace tempikon::core
