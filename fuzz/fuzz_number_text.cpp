// The leading-number rule and the dialog's number text.
//
// The number text has at most 7 significant digits, so a float that needs 8
// or 9 digits cannot come back bit for bit; what must hold for every float:
// the text reads back to a float that gives the very same text (a field shown
// and saved again does not drift), within half a unit of the 7th digit. And
// every value a user can type with up to 7 significant digits in the
// dialog's offset range (+-23.5) comes back exactly.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/numbers.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tempikon;
using fuzz::IsBlankByte;
using fuzz::IsDigitByte;

// The leading number by the C library: the prefix the rule accepts (blanks,
// sign, digits, one period, digits; no exponent), read by strtod.
void CheckLeadingNumber(std::string_view text) {
    const double value = core::LeadingNumber(text);
    FUZZ_CHECK(!std::isnan(value));
    std::size_t i = 0;
    while (i < text.size() && IsBlankByte(text[i])) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigitByte(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigitByte(text[i])) ++i, ++digits;
    }
    if (digits == 0) {
        FUZZ_CHECK(value == 0.0);
        return;
    }
    const std::string prefix(text.substr(start, i - start));
    const double expected = std::strtod(prefix.c_str(), nullptr);
    // Numbers below the normal range may come out as 0.
    if (std::fabs(expected) < DBL_MIN) {
        FUZZ_CHECK(value == 0.0 || value == expected);
    } else {
        FUZZ_CHECK(value == expected);
    }
}

void CheckNumberText(float value) {
    const std::string text = core::NumberText(value);
    FUZZ_CHECK(!text.empty());
    if (!std::isfinite(value)) {
        FUZZ_CHECK(text == "0");
        return;
    }
    // Plain decimal: "-"?, digits, maybe "." and digits not ending in 0.
    std::size_t i = text[0] == '-' ? 1 : 0;
    FUZZ_CHECK(text != "-0");
    FUZZ_CHECK(i < text.size() && IsDigitByte(text[i]));
    FUZZ_CHECK(!(text[i] == '0' && i + 1 < text.size() && IsDigitByte(text[i + 1])));
    const std::size_t point = text.find('.');
    for (std::size_t k = i; k < text.size(); ++k) FUZZ_CHECK(IsDigitByte(text[k]) || k == point);
    if (point != std::string::npos) {
        FUZZ_CHECK(point + 1 < text.size() && text.back() != '0');
        FUZZ_CHECK(text.find('.', point + 1) == std::string::npos);
    }
    std::string significant;
    for (char c : text)
        if (IsDigitByte(c)) significant += c;
    significant.erase(0, significant.find_first_not_of('0'));
    if (point == std::string::npos) {
        while (significant.size() > 1 && significant.back() == '0') significant.pop_back();
    }
    FUZZ_CHECK(significant.size() <= 7);
    FUZZ_CHECK((text[0] == '-') == (value < 0.0f));

    const double read = core::LeadingNumber(text);
    const float back = static_cast<float>(read);
    FUZZ_CHECK(core::NumberText(back) == text);
    // Within half a unit of the 7th significant digit (below the normal
    // range a float has fewer digits, and its shortest text may be coarser).
    if (std::fabs(value) >= FLT_MIN) {
        const double scale = std::pow(10.0, std::floor(std::log10(std::fabs(double(value)))) - 6);
        // A shorter text that gives the same float may lie up to an ulp away.
        const double ulp = double(std::nextafter(std::fabs(value), FLT_MAX)) - std::fabs(value);
        FUZZ_CHECK(std::fabs(read - double(value)) <= std::fmax(0.5 * scale * (1 + 1e-9), ulp));
    }
    // A float with a decimal form of 7 digits or fewer comes back exactly.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7g", double(value));
    if (std::strtof(buf, nullptr) == value) FUZZ_CHECK(back == value);
}

// A value typed into an offset field: up to 7 significant digits within
// +-23.5, built from fuzz bytes.
void CheckTypedOffset(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return;
    std::uint32_t digits = 0;
    std::memcpy(&digits, data, 4);
    digits %= 10'000'000;  // at most 7 digits
    const int decimals = data[4] % 8;
    const bool negative = data[4] & 0x80;
    double magnitude = digits / std::pow(10.0, decimals);
    if (magnitude > 23.5) return;
    char typed[32];
    std::snprintf(typed, sizeof typed, "%s%.*f", negative ? "-" : "", decimals, magnitude);
    const auto value = core::ToSingle(core::LeadingNumber(typed));
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(*value == std::strtof(typed, nullptr));
    const std::string shown = core::NumberText(*value);
    FUZZ_CHECK(static_cast<float>(core::LeadingNumber(shown)) == *value);
    (void)magnitude;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckLeadingNumber(std::string_view(reinterpret_cast<const char*>(data), size));
    if (size >= 4) {
        float value;
        std::memcpy(&value, data, sizeof value);
        CheckNumberText(value);
        // The same value through the double a field gives, as the dialog
        // stores it.
        if (const auto single = core::ToSingle(double(value))) CheckNumberText(*single);
    }
    CheckTypedOffset(data, size);

    // Whole numbers: the time-out and the interval.
    if (size >= 4) {
        std::int32_t whole;
        std::memcpy(&whole, data, sizeof whole);
        const std::string text = core::NumberText(whole);
        FUZZ_CHECK(core::LeadingNumber(text) == double(whole));
        FUZZ_CHECK(core::RoundToInt32(core::LeadingNumber(text)) == whole);
    }
    return 0;
}
