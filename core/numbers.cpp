#include "core/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tempikon::core {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits and decimal exponent of a non-zero finite float in scientific form,
// rounded to at most 7 significant digits, without trailing zeros.
struct Decimal {
    bool negative = false;
    std::string digits;  // first digit non-zero
    int exponent = 0;    // value = d.ddd x 10^exponent
};

Decimal ToDecimal(float value, int precision) {
    char buf[64];
    const auto res =
        precision < 0
            ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific)
            : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision);
    Decimal d;
    const char* p = buf;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (IsDigit(*p)) d.digits += *p;
    }
    if (p < res.ptr) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, d.exponent);
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

}  // namespace

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t intStart = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    const std::string_view intDigits = text.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        fracDigits = text.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty()) return 0.0;

    std::string clean = negative ? "-" : "";
    clean += intDigits.empty() ? std::string_view("0") : intDigits;
    if (!fracDigits.empty()) {
        clean += '.';
        clean += fracDigits;
    }
    double value = 0.0;
    const auto res =
        std::from_chars(clean.data(), clean.data() + clean.size(), value, std::chars_format::fixed);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large when the whole part has a non-zero digit, else too small.
        const bool large = intDigits.find_first_not_of('0') != std::string_view::npos;
        const double magnitude = large ? std::numeric_limits<double>::infinity() : 0.0;
        return negative ? -magnitude : magnitude;
    }
    if (res.ec != std::errc()) return 0.0;
    return value;
}

double RoundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    const double below = std::floor(value);
    const double rest = value - below;  // exact for doubles
    if (rest < 0.5) return below;
    if (rest > 0.5) return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::optional<std::int32_t> RoundToInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = RoundHalfEven(value);
    if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::optional<float> ToSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(value);
}

std::string NumberText(float value) {
    if (!std::isfinite(value) || value == 0.0f) return "0";
    Decimal d = ToDecimal(value, -1);
    if (d.digits.size() > 7) d = ToDecimal(value, 6);

    std::string out = d.negative ? "-" : "";
    const int n = static_cast<int>(d.digits.size());
    if (d.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += d.digits;
    } else if (d.exponent >= n - 1) {
        out += d.digits;
        out.append(static_cast<std::size_t>(d.exponent - (n - 1)), '0');
    } else {
        out += d.digits.substr(0, static_cast<std::size_t>(d.exponent) + 1);
        out += '.';
        out += d.digits.substr(static_cast<std::size_t>(d.exponent) + 1);
    }
    return out;
}

std::string NumberText(std::int32_t value) {
    return std::to_string(value);
}

std::string Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

}  // namespace tempikon::core
