#include "core/time_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempikon::core {
namespace {

TEST(ParseTimeOfDay, AcceptsOnlyHoursMinutesAndOptionalSeconds) {
    const std::vector<std::pair<const char*, std::optional<int>>> cases = {
        {"12:34", 45240},
        {"14:03:27", 50607},
        {" 4:03:27", 14607},
        {"\t7:05\t", 25500},
        {"1:2:3", 3723},
        {"00:00:00", 0},
        {"23:59:59", 86399},
        {"24:00:00", std::nullopt},
        {"12:60", std::nullopt},
        {"12:00:60", std::nullopt},
        {"ab:cd:ef", std::nullopt},
        {"4:03:27 P", std::nullopt},
        {"123:45", std::nullopt},
        {"12:345", std::nullopt},
        {"12:34:", std::nullopt},
        {"12:", std::nullopt},
        {":30", std::nullopt},
        {"12 :34", std::nullopt},
        {"+1:00", std::nullopt},
        {"12:34:56:7", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(ParseTimeOfDay(text), seconds) << text;
}

TEST(FormatTimeOfDay, WritesTwoDigitsEachAndWrapsIntoOneDay) {
    EXPECT_EQ(FormatTimeOfDay(0), "00:00:00");
    EXPECT_EQ(FormatTimeOfDay(54207), "15:03:27");
    EXPECT_EQ(FormatTimeOfDay(86399), "23:59:59");
    EXPECT_EQ(FormatTimeOfDay(86400), "00:00:00");
    EXPECT_EQ(FormatTimeOfDay(-1), "23:59:59");
    EXPECT_EQ(FormatTimeOfDay(-86400 * 3 - 60), "23:59:00");
}

}  // namespace
}  // namespace tempikon::core
