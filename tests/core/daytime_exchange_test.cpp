#include "core/query/daytime_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

using fake::FakePlatform;

struct CutCase {
    std::string reply;
    std::string timeText;
};

TEST(CutTimeText, TakesEightCharactersFromTwoBeforeTheFirstColon) {
    const std::vector<CutCase> cases = {
        {"Sun Dec  6 14:03:27 2026\r\n", "14:03:27"},
        {"Sunday, December 6, 2026 14:03:27-UTC", "14:03:27"},
        {"Dec 6 4:03:27 2026", " 4:03:27"},
        {"12:34", "12:34"},
        {"4:03:27 PM", ""},
        {"a text without any colon", ""},
        {"", ""},
        {":12:00:00", ""},
        {"12:00:00 and more", "12:00:00"},  // colon third: the first 8 characters
        {"ab:cd:ef:gh", "ab:cd:ef"},
        {"x 1:", " 1:"},  // the reply ends early
        // Positions count bytes: two Latin-1 letters before the time.
        {"\xE9\xE9 14:03:27", "14:03:27"},
        {std::string("\0\0 09:08:07", 11), "09:08:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(CutTimeText(c.reply), c.timeText) << c.reply;
}

TEST(FinalTimeText, HoursAndMinutesThatEndTheReplyAreATime) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"12:34", "12:34"},
        {"12:34\r\n", "12:34"},
        {"x 12:34  \r\n", "12:34  "},
        {"Sun Dec  6 14:03:27 2026\r\n", "14:03:27"},
        {"14:03:27\r\n", "14:03:27"},
        // Cut inside the minutes or the seconds: no time.
        {"12:3", ""},
        {"x 14:03:2", ""},
        {"12:", ""},
        // Something else behind the minutes, or a colon too early.
        {"12:34x", ""},
        {"1:23", ""},
        {"", ""},
    };
    for (const auto& [reply, timeText] : cases) {
        EXPECT_EQ(FinalTimeText(reply), timeText) << QuoteReply(reply);
        EXPECT_EQ(ReplyEndsAfterTheMinutes(reply) || ReplyHoldsTheTime(reply), !timeText.empty())
            << QuoteReply(reply);
    }
}

TEST(ReplyHoldsTheTime, OnlyALineEndAfterTheColonOrFiveCharactersBehindItEndTheTime) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"Sun Dec  6 14:03:27 2026\r\n", true},
        {"14:03:27", true},
        {"14:03:2", false},
        {"14:0", false},
        {"12:34\r\n", true},
        {"12:34\n", true},
        // Minutes a blank ends: no seconds follow.
        {"12:34 ", true},
        {"x 12:34\t", true},
        // Nothing behind the minutes yet: seconds may still come.
        {"12:34", false},
        // NIST begins with a line feed: the time is still to come.
        {"\n", false},
        {"\n61381 26-12-07 14", false},
        {"\n61381 26-12-07 14:03:27 00 0 0  50.0 UTC(NIST) * \n", true},
        {"no time\r\n", false},
        {"", false},
    };
    for (const auto& [reply, holds] : cases)
        EXPECT_EQ(ReplyHoldsTheTime(reply), holds) << QuoteReply(reply);
}

TEST(DaytimeExchangeLifetime, DestructorUnhooksTheHandlers) {
    FakePlatform p;
    auto queryTimer = p.createTimer();
    auto querySocket = p.createTcpClient();
    {
        DaytimeExchange exchange(p, *queryTimer, *querySocket);
        EXPECT_TRUE(queryTimer->onTimer);
        EXPECT_TRUE(querySocket->onDataArrival);
        EXPECT_TRUE(querySocket->onError);
    }
    EXPECT_FALSE(queryTimer->onTimer);
    EXPECT_FALSE(querySocket->onDataArrival);
    EXPECT_FALSE(querySocket->onError);
}

}  // namespace
}  // namespace tempikon::core
