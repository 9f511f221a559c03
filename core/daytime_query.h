#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace tempikon::core {

// The most reply text a data arrival keeps; the rest is dropped.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
inline constexpr int kDaytimePort = 13;

// At most 8 characters from two before the first colon; empty when the
// reply is empty or its first colon is at position 1 or 2 (or absent).
std::string CutTimeText(std::string_view reply);

// The reply so far holds the whole time: a line end after the first colon,
// or the five characters after it that the cut takes. Until then a query
// keeps reading; a reply that ends sooner holds no time.
bool ReplyHoldsTheTime(std::string_view reply);

// Reply bytes (one byte per character) as UTF-8, for showing them in a control.
std::string Latin1ToUtf8(std::string_view bytes);

// The query's time-out in milliseconds: Timeout seconds clamped to
// 1 ... 2,147,483 so that a query always ends and the product fits 32 bits.
int TimeoutMilliseconds(std::int32_t timeoutSeconds);

// Why a query gave no usable time, for the user to act on.
enum class FailureKind {
    None,
    Refused,
    TimedOut,
    HostNotFound,
    Reset,
    ConnectionFailed,
    NoTimeInReply,
    InvalidTime,
};

struct QueryFailure {
    FailureKind kind = FailureKind::None;
    std::string reason;  // e.g. "connection refused", "no answer within 3 s"
};

// Bytes with control characters, quotes, backslashes and bytes beyond ASCII
// escaped (\x1b, \n, \"), so that a hostile reply or host name cannot drive
// the terminal it is shown on.
std::string EscapeText(std::string_view text);

// The first maxChars bytes of a reply, escaped, in quotes.
std::string QuoteReply(std::string_view reply, std::size_t maxChars = 60);

// The failure of a reply without a whole time: it held none, or it ended
// before the time in it was whole.
QueryFailure NoTimeFailure(std::string_view reply);

// The failure of a time text that is not a time of day.
QueryFailure InvalidTimeFailure(std::string_view timeText);

// Asks a Daytime server for its time: a time-out timer, a socket and the
// wait. One query at a time; the timer and socket belong to the caller.
class DaytimeQuery {
public:
    DaytimeQuery(platform::Platform& platform, platform::Timer& timeoutTimer,
                 platform::TcpClient& socket);
    ~DaytimeQuery();
    DaytimeQuery(const DaytimeQuery&) = delete;
    DaytimeQuery& operator=(const DaytimeQuery&) = delete;

    // Waits, handling window events, until the reply, an error or
    // timeoutSeconds (clamped as TimeoutMilliseconds says). Returns the time
    // text cut from the reply (bytes), or empty text. While another query
    // waits, after shutdown(), or for a host name with a NUL in it, returns
    // empty text at once.
    std::string ask(const std::string& host, std::int32_t timeoutSeconds);

    bool isBusy() const;
    // The last query's reply as received (bytes), empty after a time-out.
    const std::string& lastReply() const { return reply_; }
    // Microseconds from the connection attempt to the first data of the
    // last query; -1 when no data came.
    std::int64_t lastRoundTripMicros() const { return roundTripMicros_; }
    // The monotonic moment of that first data.
    std::int64_t lastFirstDataMicros() const { return startMicros_ + roundTripMicros_; }
    // Why the last query gave no time text; kind None when it gave one.
    const QueryFailure& lastFailure() const { return failure_; }
    // Ends a waiting query at once and refuses all later ones (the main
    // window is closing).
    void shutdown();
    bool isShutDown() const;

    // Called whenever isBusy() changes.
    int addBusyListener(std::function<void()> listener);
    void removeBusyListener(int id);
    std::size_t busyListenerCount() const { return listeners_.size(); }

    // Handlers, public so that tests can reach them.
    void onTimeout();
    void onSocketError(platform::SocketErrorKind kind, const std::string& description);
    void onDataArrival();
    void onPeerClosed();

private:
    void setBusy(bool busy);
    void endQuery();

    platform::Platform& platform_;
    platform::Timer& timeoutTimer_;
    platform::TcpClient& socket_;
    // The running query's state: done once the reply, an error or the
    // time-out came; the reply as received (one byte per character).
    bool done_ = false;
    std::string reply_;
    std::int64_t startMicros_ = 0;
    std::int64_t roundTripMicros_ = -1;
    int timeoutSeconds_ = 0;
    QueryFailure failure_;
    bool busy_ = false;
    bool shutDown_ = false;
    int nextListenerId_ = 1;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
};

}  // namespace tempikon::core
