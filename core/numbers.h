#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tempikon::core {

// The number at the start of the text after leading blanks; a period is the
// only decimal separator; 0 when the text does not begin with a number.
double LeadingNumber(std::string_view text);

// Halves go to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// value rounded half-to-even, or nullopt when it does not fit 32 bits.
std::optional<std::int32_t> RoundToInt32(double value);

// The dialog's number text: period, "-" for negatives, no trailing zeros,
// a leading zero below 1, the shortest text that reads back as the same
// single-precision value (at most 7 significant digits).
std::string NumberText(float value);
std::string NumberText(std::int32_t value);

// Leading and trailing blanks removed.
std::string Trim(std::string_view text);

}  // namespace tempikon::core
