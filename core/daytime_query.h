#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/public_stuff.h"
#include "platform/platform.h"

namespace tempikon::core {

// The most reply text a data arrival keeps; the rest is dropped.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
inline constexpr int kDaytimePort = 13;

// At most 8 characters from two before the first colon; empty when the
// reply is empty or its first colon is at position 1 or 2 (or absent).
std::string CutTimeText(std::string_view reply);

// Reply bytes (one byte per character) as UTF-8, for showing them in a control.
std::string Latin1ToUtf8(std::string_view bytes);

// The query's time-out in milliseconds: Timeout seconds clamped to
// 1 ... 2,147,483 so that a query always ends and the product fits 32 bits.
int TimeoutMilliseconds(std::int32_t timeoutSeconds);

// The query machinery of the main window: Timer1, Winsock1 and the wait.
// One query at a time; the timer and socket belong to the caller.
class DaytimeQuery {
public:
    DaytimeQuery(platform::Platform& platform, PublicStuff& stuff, platform::Timer& timer1,
                 platform::TcpClient& winsock1);
    ~DaytimeQuery();
    DaytimeQuery(const DaytimeQuery&) = delete;
    DaytimeQuery& operator=(const DaytimeQuery&) = delete;

    // Waits, handling window events, until the reply, an error or the
    // time-out. Returns TimeText (bytes) or empty text. While another query
    // waits, after shutdown(), or for a host name with a NUL in it, returns
    // empty text at once.
    std::string QueryTimeServer(const std::string& host);

    bool isBusy() const;
    // Ends a waiting query at once and refuses all later ones (the main
    // window is closing).
    void shutdown();
    bool isShutDown() const;

    // Called whenever isBusy() changes.
    int addBusyListener(std::function<void()> listener);
    void removeBusyListener(int id);
    std::size_t busyListenerCount() const { return listeners_.size(); }

    // Handlers, public so that tests can reach them.
    void Timer1_Timer();
    void Winsock1_Error();
    void Winsock1_DataArrival();

private:
    void setBusy(bool busy);
    void endQuery();

    platform::Platform& platform_;
    PublicStuff& stuff_;
    platform::Timer& timer1_;
    platform::TcpClient& winsock1_;
    bool busy_ = false;
    bool shutDown_ = false;
    int nextListenerId_ = 1;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
};

}  // namespace tempikon::core
