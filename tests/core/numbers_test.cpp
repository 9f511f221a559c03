#include "core/numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tempikon::core {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
    struct Case {
        const char* text;
        double value;
    };
    const std::vector<Case> cases = {
        {"5", 5},       {"  5.5", 5.5}, {"\t-0.5", -0.5},   {"+3", 3},    {"5,5", 5},
        {"1.2.3", 1.2}, {".5", 0.5},    {"-.5", -0.5},      {"5.", 5},    {"007", 7},
        {"12abc", 12},  {"1e3", 1},     {"30 minutes", 30}, {"0.1", 0.1}, {"-0", 0},
        {"", 0},        {"   ", 0},     {"abc", 0},         {"-", 0},     {".", 0},
        {"- 5", 0},     {"+-5", 0},     {"1 000", 1},       {"\n5", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(LeadingNumber, SurvivesHostileLengths) {
    const std::string digits(10'000, '9');
    EXPECT_EQ(LeadingNumber(digits), kInf);
    EXPECT_EQ(LeadingNumber("-" + digits), -kInf);
    EXPECT_EQ(LeadingNumber("0." + std::string(10'000, '0') + "1"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("0." + std::string(10'000, '3')), 1.0 / 3.0);
    EXPECT_EQ(LeadingNumber("1" + std::string(300, '0')), 1e300);
    EXPECT_EQ(LeadingNumber(std::string(10'000, '0') + "42.5"), 42.5);
    // Correctly rounded, not accumulated digit by digit.
    EXPECT_EQ(LeadingNumber("0.1000000000000000055511151231257827021181583404541015625"), 0.1);
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour) {
    const std::vector<std::pair<double, double>> cases = {
        {2.5, 2},
        {3.5, 4},
        {-2.5, -2},
        {-3.5, -4},
        {0.5, 0},
        {1.5, 2},
        {2.4999, 2},
        {2.5000001, 3},
        {-0.5, 0},
        {-1.2, -1},
        {7, 7},
        {1e300, 1e300},
        {4503599627370495.5, 4503599627370496},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(RoundHalfEven(in), out) << in;
    EXPECT_TRUE(std::isnan(RoundHalfEven(std::nan(""))));
}

TEST(RoundToInt32, RefusesWhatDoesNotFit) {
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(-3.5), -4);
    EXPECT_EQ(RoundToInt32(2147483647.0), INT32_MAX);
    EXPECT_EQ(RoundToInt32(2147483647.4), INT32_MAX);
    EXPECT_EQ(RoundToInt32(2147483647.5), std::nullopt);  // rounds to 2^31
    EXPECT_EQ(RoundToInt32(-2147483648.5), INT32_MIN);    // the even neighbour fits
    EXPECT_EQ(RoundToInt32(-2147483649.0), std::nullopt);
    EXPECT_EQ(RoundToInt32(1e300), std::nullopt);
    EXPECT_EQ(RoundToInt32(kInf), std::nullopt);
    EXPECT_EQ(RoundToInt32(-kInf), std::nullopt);
    EXPECT_EQ(RoundToInt32(std::nan("")), std::nullopt);
}

TEST(ToSingle, RefusesValuesBeyondTheFloatRange) {
    EXPECT_EQ(ToSingle(5.5), 5.5f);
    EXPECT_EQ(ToSingle(-FLT_MAX), -FLT_MAX);
    EXPECT_EQ(ToSingle(1e39), std::nullopt);
    EXPECT_EQ(ToSingle(-1e39), std::nullopt);
    EXPECT_EQ(ToSingle(kInf), std::nullopt);
    EXPECT_EQ(ToSingle(std::nan("")), std::nullopt);
    EXPECT_EQ(ToSingle(1e-60), 0.0f);
}

TEST(NumberText, WritesPlainDecimalText) {
    const std::vector<std::pair<float, const char*>> cases = {
        {0.5f, "0.5"},
        {-0.5f, "-0.5"},
        {3.0f, "3"},
        {-5.5f, "-5.5"},
        {2.5f, "2.5"},
        {24.0f, "24"},
        {30.0f, "30"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {0.1f, "0.1"},
        {100.0f, "100"},
        {1e-7f, "0.0000001"},
        {123456.7f, "123456.7"},
        {1234567.0f, "1234567"},
        {1.0f / 3.0f, "0.3333333"},
        {2.0f / 3.0f, "0.6666667"},
        {16777216.0f, "16777220"},  // eight digits are cut to seven
        {9999999.5f, "10000000"},   // the rounding carries into a new digit
        {1e10f, "10000000000"},
        {FLT_MAX, "340282300000000000000000000000000000000"},
        {-FLT_MAX, "-340282300000000000000000000000000000000"},
        {FLT_TRUE_MIN, "0.000000000000000000000000000000000000000000001"},
        {std::numeric_limits<float>::infinity(), "0"},
        {std::numeric_limits<float>::quiet_NaN(), "0"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(NumberText(value), text) << value;
    EXPECT_EQ(NumberText(std::int32_t{30}), "30");
    EXPECT_EQ(NumberText(std::int32_t{-7}), "-7");
    EXPECT_EQ(NumberText(INT32_MIN), "-2147483648");
}

// Every value with up to three decimals in the dialog's range reads back as
// the same float and gives its own shortest decimal text.
TEST(NumberText, RoundTripsEveryThousandthUpToAHundred) {
    for (int k = -100'000; k <= 100'000; ++k) {
        char canonical[32];
        std::snprintf(canonical, sizeof canonical, "%s%d.%03d", k < 0 ? "-" : "",
                      std::abs(k) / 1000, std::abs(k) % 1000);
        std::string expected = canonical;
        while (expected.back() == '0') expected.pop_back();
        if (expected.back() == '.') expected.pop_back();
        if (expected == "-0") expected = "0";
        const float value = std::strtof(canonical, nullptr);
        const std::string text = NumberText(value);
        ASSERT_EQ(text, expected) << canonical;
        ASSERT_EQ(static_cast<float>(LeadingNumber(text)), value) << text;
    }
}

// Checks against the C library: the text has the digits of the shortest
// "%.Ng" (N <= 7) that gives the same float as "%.7g", in plain notation.
TEST(NumberText, MatchesTheShortestSevenDigitFormOfRandomFloats) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::uint32_t> bits;
    int checked = 0;
    while (checked < 50'000) {
        const std::uint32_t pattern = bits(random);
        float value;
        std::memcpy(&value, &pattern, sizeof value);
        if (!std::isfinite(value) || value == 0.0f) continue;
        ++checked;

        char buf[64];
        std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(value));
        const float seven = std::strtof(buf, nullptr);
        int shortest = 7;
        for (int n = 1; n < 7; ++n) {
            std::snprintf(buf, sizeof buf, "%.*g", n, static_cast<double>(value));
            if (std::strtof(buf, nullptr) == seven) {
                shortest = n;
                break;
            }
        }

        const std::string text = NumberText(value);
        ASSERT_EQ(text.find_first_not_of("-0123456789."), std::string::npos) << text;
        ASSERT_EQ(static_cast<float>(LeadingNumber(text)), seven) << text;
        std::string digits;
        for (char c : text) {
            if (c >= '0' && c <= '9') digits += c;
        }
        const auto first = digits.find_first_not_of('0');
        ASSERT_NE(first, std::string::npos) << text;
        std::string significant = digits.substr(first);
        if (text.find('.') == std::string::npos) {
            while (significant.size() > 1 && significant.back() == '0') significant.pop_back();
        } else {
            ASSERT_NE(text.back(), '0') << text;
            ASSERT_NE(text.back(), '.') << text;
        }
        ASSERT_EQ(static_cast<int>(significant.size()), shortest) << text;
        ASSERT_EQ(text[0] == '-', value < 0) << text;
        if (std::fabs(value) < 1.0f) {
            ASSERT_EQ(text.substr(value < 0 ? 1 : 0, 2), "0.") << text;
        }
    }
}

TEST(Trim, RemovesSpacesAndTabsAtBothEnds) {
    EXPECT_EQ(Trim("  a b \t"), "a b");
    EXPECT_EQ(Trim("\tx"), "x");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim("\nx\r"), "\nx\r");  // line breaks are not blanks
}

}  // namespace
}  // namespace tempikon::core
