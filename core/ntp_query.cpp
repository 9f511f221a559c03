#include "core/ntp_query.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <utility>

#include "core/nts_fields.h"
#include "core/nts_ke.h"
#include "platform/translate.h"

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
    sessionSpent_ = false;
    phase_ = Phase::LookingUp;
    if (udp_.isOpen()) udp_.close();
    // The lookup shares the first request's time-out.
    timer_.setInterval(timeoutMs_);
    timer_.setEnabled(true);
    udp_.open(server.host, server.port);
}

void NtpBurst::setNts(NtsSession* session, platform::Crypto* crypto) {
    nts_ = crypto ? session : nullptr;
    crypto_ = crypto;
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
    if (nts_) {
        if (nts_->cookies.empty()) {
            sessionSpent_ = true;
            if (samples_.empty())
                failure_ = {FailureKind::Unauthenticated, "no NTS cookies are left"};
            finish();
            return;
        }
        // Each cookie goes out once; placeholders ask for enough new ones
        // to hold kMaxCookies again.
        const std::string cookie = std::move(nts_->cookies.front());
        nts_->cookies.pop_front();
        const int placeholders = static_cast<int>(
            nts::kMaxCookies - 1 - std::min(nts::kMaxCookies - 1, nts_->cookies.size()));
        uniqueId_ = crypto_->randomBytes(nts::kUniqueIdBytes);
        std::optional<std::string> sealed =
            nts::BuildRequest(request, uniqueId_, cookie, placeholders, nts_->c2sKey, *crypto_);
        if (!sealed) {
            failure_ = {FailureKind::Unauthenticated, "the NTS request could not be sealed"};
            finish();
            return;
        }
        request = std::move(*sealed);
    }
    nakPending_ = false;
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
    if (nts_) {
        nts::ReplyCheck authenticated =
            nts::CheckReply(datagram.bytes, uniqueId_, nts_->s2cKey, *crypto_);
        switch (authenticated.verdict) {
            case nts::ReplyCheck::Verdict::Ok:
                break;
            case nts::ReplyCheck::Verdict::Nak:
                // Anyone on the path can send a NAK (RFC 8915, 5.7): it
                // counts only when no authenticated reply comes by the end
                // of this request's wait.
                nakPending_ = true;
                failure_ = {FailureKind::Unauthenticated, authenticated.reason};
                return;
            case nts::ReplyCheck::Verdict::WrongId:
                failure_ = {FailureKind::Rejected, authenticated.reason};
                return;
            case nts::ReplyCheck::Verdict::AuthFailed:
            case nts::ReplyCheck::Verdict::Malformed:
                // Never used, and the wait goes on: a forgery must not
                // keep the real answer out.
                failure_ = {FailureKind::Unauthenticated, authenticated.reason};
                return;
        }
        for (std::string& cookie : authenticated.cookies) {
            if (nts_->cookies.size() >= nts::kMaxCookies) break;
            nts_->cookies.push_back(std::move(cookie));
        }
    }
    const ntp::Check check = ntp::CheckReply(datagram.bytes, sentTransmit_);
    switch (check.verdict) {
        case ntp::Verdict::Ok:
            break;
        case ntp::Verdict::WrongOrigin:
            failure_ = {FailureKind::Rejected, check.reason};
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
    switch (kind) {
        case platform::SocketErrorKind::HostNotFound:
            failure_ = {FailureKind::HostNotFound, description.empty()
                                                       ? std::string("host not found")
                                                       : "host not found: " + description};
            break;
        case platform::SocketErrorKind::Refused:
            failure_ = {FailureKind::Refused, QT_TRANSLATE_NOOP("Tempikon", "connection refused")};
            break;
        default:
            failure_ = {FailureKind::ConnectionFailed,
                        description.empty() ? std::string("the request could not be sent")
                                            : "the request could not be sent: " + description};
            break;
    }
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
            // A NAK and no authenticated reply: the server no longer knows
            // the cookie.
            if (nakPending_) sessionSpent_ = true;
            // A reply rejected meanwhile says more than the silence.
            if (samples_.empty() && failure_.kind == FailureKind::None)
                failure_ = {FailureKind::TimedOut,
                            "no answer within " + std::to_string(timeoutMs_ / 1000) + " s"};
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
