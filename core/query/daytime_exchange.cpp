#include "core/query/daytime_exchange.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/text.h"
#include "platform/translate.h"

namespace tempikon::core {

std::string CutTimeText(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    // A colon at 0-based index 0 or 1 leaves no room for two hour digits.
    if (colon == std::string_view::npos || colon < 2) return {};
    return std::string(reply.substr(colon - 2, 8));
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the minutes after the first colon end, and how many digits they
// have (0 when the reply ends first or holds none).
struct Minutes {
    std::size_t end = std::string_view::npos;
    std::size_t digits = 0;
};

Minutes MinutesAfter(std::string_view reply, std::size_t colon) {
    Minutes m;
    std::size_t i = colon + 1;
    while (i < reply.size() && m.digits < 2 && IsDigit(reply[i])) {
        ++i;
        ++m.digits;
    }
    m.end = i;
    return m;
}

}  // namespace

bool ReplyHoldsTheTime(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    if (colon == std::string_view::npos) return false;
    // NIST's replies begin with a line feed: only one after the colon ends
    // the time. Otherwise the cut ends five characters after the colon.
    if (reply.find_first_of("\r\n", colon) != std::string_view::npos || reply.size() - colon > 5)
        return true;
    // "hh:mm" and a blank: no seconds follow.
    const Minutes m = MinutesAfter(reply, colon);
    return m.digits > 0 && m.end < reply.size() && (reply[m.end] == ' ' || reply[m.end] == '\t');
}

bool ReplyEndsAfterTheMinutes(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    const Minutes m = MinutesAfter(reply, colon);
    if (m.digits != 2) return false;
    return reply.find_first_not_of(" \t\r\n", m.end) == std::string_view::npos;
}

std::string FinalTimeText(std::string_view reply) {
    if (!ReplyHoldsTheTime(reply) && !ReplyEndsAfterTheMinutes(reply)) return {};
    std::string cut = CutTimeText(reply);
    // A line end ends the time; the blanks before it the test of a time
    // of day ignores.
    const std::size_t lineEnd = cut.find_first_of("\r\n", 3);
    if (lineEnd != std::string::npos) cut.resize(lineEnd);
    return cut;
}

QueryFailure NoTimeFailure(std::string_view reply) {
    // A time begun but cut off by the close or the time-out.
    if (!CutTimeText(reply).empty() && !ReplyHoldsTheTime(reply) &&
        !ReplyEndsAfterTheMinutes(reply))
        return {FailureKind::NoTimeInReply, "the reply ended early: " + QuoteReply(reply)};
    return {FailureKind::NoTimeInReply, "the reply held no time: " + QuoteReply(reply)};
}

DaytimeExchange::DaytimeExchange(platform::Platform& platform, platform::Timer& timer,
                                 platform::TcpClient& socket)
    : platform_(platform), timer_(timer), socket_(socket) {
    timer_.setEnabled(false);
    timer_.onTimer = [this] { onTimeout(); };
    socket_.onDataArrival = [this] { onDataArrival(); };
    socket_.onError = [this](platform::SocketErrorKind kind, const std::string& description) {
        onSocketError(kind, description);
    };
    socket_.onPeerClosed = [this] { onPeerClosed(); };
}

DaytimeExchange::~DaytimeExchange() {
    timer_.onTimer = nullptr;
    socket_.onDataArrival = nullptr;
    socket_.onError = nullptr;
    socket_.onPeerClosed = nullptr;
}

void DaytimeExchange::start(const ServerAddress& server, int timeoutMs) {
    active_ = true;
    done_ = false;
    reply_.clear();
    roundTripMicros_ = -1;
    failure_ = {};
    timeoutSeconds_ = timeoutMs / 1000;
    timer_.setInterval(timeoutMs);
    timer_.setEnabled(true);
    if (socket_.isOpen()) socket_.close();
    startMicros_ = platform_.monotonicMicros();
    socket_.connect(server.host, server.port);
}

std::string DaytimeExchange::timeText() const {
    // A reply that ended before its time was whole holds none: "14:0" is
    // not 14:00:00, but "14:03" is.
    return FinalTimeText(reply_);
}

void DaytimeExchange::close() {
    socket_.close();
    timer_.setEnabled(false);
    active_ = false;
}

void DaytimeExchange::stop() {
    timer_.setEnabled(false);
    active_ = false;
    reply_.clear();
    done_ = true;
}

void DaytimeExchange::onTimeout() {
    timer_.setEnabled(false);
    if (!active_) return;
    // Hours and minutes and nothing more: that is the time.
    if (ReplyEndsAfterTheMinutes(reply_)) {
        done_ = true;
        return;
    }
    // Part of a reply came, but never the time in it.
    failure_ = reply_.empty() ? TimeoutFailure(timeoutSeconds_) : NoTimeFailure(reply_);
    reply_.clear();
    done_ = true;
}

void DaytimeExchange::onSocketError(platform::SocketErrorKind kind,
                                    const std::string& description) {
    timer_.setEnabled(false);
    if (!active_) return;
    reply_.clear();
    failure_ = ConnectionFailure(kind, description);
    done_ = true;
}

void DaytimeExchange::onDataArrival() {
    if (!active_) return;
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
    timer_.setEnabled(false);
    done_ = true;
}

void DaytimeExchange::onPeerClosed() {
    if (!active_ || done_) return;
    timer_.setEnabled(false);
    if (reply_.empty() && failure_.kind == FailureKind::None)
        failure_ = {FailureKind::ConnectionFailed,
                    QT_TRANSLATE_NOOP("Tempikon", "the server closed the connection unanswered")};
    done_ = true;
}

}  // namespace tempikon::core
