#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/query/failure.h"
#include "core/server_address.h"
#include "platform/platform.h"

namespace tempikon::core {

// The most reply text a data arrival keeps; the rest is dropped.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
inline constexpr int kDaytimePort = 13;

// At most 8 characters from two before the first colon; empty when the
// reply is empty or its first colon is at position 1 or 2 (or absent).
std::string CutTimeText(std::string_view reply);

// The reply so far holds the whole time: a line end after the first colon,
// the five characters after it that the cut takes, or minutes that a blank
// ends ("12:34 "). Until then a query keeps reading.
bool ReplyHoldsTheTime(std::string_view reply);

// A reply that ended (closed, or nothing more came) right after two digits
// of minutes, or with only blanks and line ends behind them: "12:34" is
// 12:34:00. One cut inside the minutes ("12:3") holds no time.
bool ReplyEndsAfterTheMinutes(std::string_view reply);

// The time text of a reply that has ended: its cut when it holds a whole
// time, up to a line end; empty otherwise.
std::string FinalTimeText(std::string_view reply);

// The failure of a reply without a whole time: it held none, or it ended
// before the time in it was whole.
QueryFailure NoTimeFailure(std::string_view reply);

// One Daytime question over the platform's TCP client: connect, send
// nothing, read the first text. Events reach it from the event loop; whoever
// started it waits until done(), then calls close(). Data that arrives after
// done() and before close() replaces the reply: the last read counts.
class DaytimeExchange {
public:
    DaytimeExchange(platform::Platform& platform, platform::Timer& timer,
                    platform::TcpClient& socket);
    ~DaytimeExchange();
    DaytimeExchange(const DaytimeExchange&) = delete;
    DaytimeExchange& operator=(const DaytimeExchange&) = delete;

    // Starts the time-out and connects.
    void start(const ServerAddress& server, int timeoutMs);
    bool done() const { return done_; }
    // Closes the socket and stops the timer; later notifications change
    // nothing. The reply and failure stay.
    void close();
    // Ends it at once with no reply (the query was stopped or shut down).
    void stop();

    // The reply as received (bytes), empty after a time-out or an error.
    const std::string& reply() const { return reply_; }
    // The time text cut from a whole reply; empty when it holds none.
    std::string timeText() const;
    // Why the reply holds no time; kind None while it may.
    const QueryFailure& failure() const { return failure_; }
    // Microseconds from the connection attempt to the first data; -1 when
    // no data came.
    std::int64_t roundTripMicros() const { return roundTripMicros_; }
    // The monotonic moment of that first data.
    std::int64_t firstDataMicros() const { return startMicros_ + roundTripMicros_; }

    platform::Timer& timer() { return timer_; }
    platform::TcpClient& socket() { return socket_; }

    // Handlers, public so that tests can reach them.
    void onTimeout();
    void onSocketError(platform::SocketErrorKind kind, const std::string& description);
    void onDataArrival();
    void onPeerClosed();

private:
    platform::Platform& platform_;
    platform::Timer& timer_;
    platform::TcpClient& socket_;
    // Between start() and close(): the handlers act only then, so that a
    // late notification of an earlier connection touches nothing.
    bool active_ = false;
    bool done_ = false;
    std::string reply_;
    std::int64_t startMicros_ = 0;
    std::int64_t roundTripMicros_ = -1;
    int timeoutSeconds_ = 0;
    QueryFailure failure_;
};

}  // namespace tempikon::core
