#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tempikon::core {

// Blanks are spaces and horizontal tabs, everywhere in this file: a tab pasted
// into a field or stored by hand is as harmless as a space.
bool IsBlank(char c);

// The number at the start of the text after leading blanks: an optional sign,
// digits, and a period as the only decimal separator (a comma, or anything
// else, ends the number). 0 when the text does not begin with a number.
// There is no exponent form. Any length is safe; a number too large for a
// double gives +-infinity, one too small gives 0.
double LeadingNumber(std::string_view text);

// Halves go to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// value rounded half-to-even, or nullopt when it does not fit 32 bits
// (NaN and infinities included).
std::optional<std::int32_t> RoundToInt32(double value);

// value as a float, or nullopt when it is NaN or lies beyond the float range
// (a plain cast of such a double is undefined behaviour).
std::optional<float> ToSingle(double value);

// The dialog's number text: period, "-" for negatives, no trailing zeros, a
// leading zero below 1, never an exponent, at most 7 significant digits; the
// shortest such text, so every float with a 7-digit decimal form reads back
// unchanged through LeadingNumber. NaN and infinities give "0".
std::string NumberText(float value);
std::string NumberText(std::int32_t value);

// Leading and trailing blanks removed.
std::string Trim(std::string_view text);

}  // namespace tempikon::core
