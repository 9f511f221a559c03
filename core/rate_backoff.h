#pragma once

#include <cstdint>
#include <map>
#include <string>

// RFC 5905 section 7.4: a server that answers with the kiss code RATE asks
// to be asked less often. Pure bookkeeping on the monotonic clock.
namespace tempikon::core {

// The first pause after RATE, and the longest one.
inline constexpr std::int64_t kFirstRatePauseMicros = 64LL * 1'000'000;
inline constexpr std::int64_t kLongestRatePauseMicros = 86'400LL * 1'000'000;

class RateBackoff {
public:
    // The server said RATE at nowMicros: it is not asked again for 64 s,
    // twice as long after each further RATE, a day at most.
    void kissed(const std::string& server, std::int64_t nowMicros);
    // A good answer: the pause is forgotten.
    void answered(const std::string& server);
    // How long the server must still be left alone; 0 when it may be asked.
    std::int64_t pauseLeftMicros(const std::string& server, std::int64_t nowMicros) const;
    // The pause the last RATE set, 0 when none.
    std::int64_t pauseMicros(const std::string& server) const;

private:
    struct Pause {
        std::int64_t lengthMicros = 0;
        std::int64_t untilMicros = 0;
    };
    std::map<std::string, Pause> pauses_;
};

// "37 s" for the pause left, rounded up to whole seconds.
std::string PauseText(std::int64_t micros);

}  // namespace tempikon::core
