#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tempikon::core {

// Seconds of the day for "h:m" or "h:m:s" (1-2 digits each, blanks around
// ignored, 0-23/0-59/0-59); nullopt when the text is not such a time.
std::optional<int> ParseTimeOfDay(std::string_view text);

// "hh:nn:ss", wrapped into 0..86399.
std::string FormatTimeOfDay(int secondsOfDay);

}  // namespace tempikon::core
