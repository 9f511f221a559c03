#include "core/rate_backoff.h"

#include <algorithm>

namespace tempikon::core {

void RateBackoff::kissed(const std::string& server, std::int64_t nowMicros) {
    Pause& pause = pauses_[server];
    pause.lengthMicros = pause.lengthMicros == 0
                             ? kFirstRatePauseMicros
                             : std::min(pause.lengthMicros * 2, kLongestRatePauseMicros);
    pause.untilMicros = nowMicros + pause.lengthMicros;
}

void RateBackoff::answered(const std::string& server) {
    pauses_.erase(server);
}

std::int64_t RateBackoff::pauseLeftMicros(const std::string& server, std::int64_t nowMicros) const {
    const auto found = pauses_.find(server);
    if (found == pauses_.end()) return 0;
    return std::max<std::int64_t>(0, found->second.untilMicros - nowMicros);
}

std::int64_t RateBackoff::pauseMicros(const std::string& server) const {
    const auto found = pauses_.find(server);
    return found == pauses_.end() ? 0 : found->second.lengthMicros;
}

std::string PauseText(std::int64_t micros) {
    return std::to_string((std::max<std::int64_t>(micros, 0) + 999'999) / 1'000'000) + " s";
}

}  // namespace tempikon::core
