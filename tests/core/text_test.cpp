#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tempikon::core {
namespace {

TEST(EscapeText, EscapesWhatCouldDriveATerminalAndKeepsTheRestWhole) {
    EXPECT_EQ(EscapeText(std::string("a\x1b[2Jb\0c\xff\xc3(d\"\\", 14)),
              R"(a\x1b[2Jb\x00c\xff\xc3(d\"\\)");
    const std::string longName(300, 'n');
    EXPECT_EQ(EscapeText(longName), longName);  // not cut, unlike a quoted reply
    EXPECT_EQ(QuoteReply(longName), '"' + std::string(60, 'n') + "...\"");
}

TEST(Latin1ToUtf8, EncodesBytesAboveAsciiAsTwoBytes) {
    EXPECT_EQ(Latin1ToUtf8("12:00"), "12:00");
    EXPECT_EQ(Latin1ToUtf8("\xE9\xFF\x80"), "\xC3\xA9\xC3\xBF\xC2\x80");
}

}  // namespace
}  // namespace tempikon::core
