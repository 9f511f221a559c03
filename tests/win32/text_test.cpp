// The pure helpers of the Win32 backend: text conversion at the boundary,
// the command line, twips, colours and the version numbers.
#include <gtest/gtest.h>

#include "platform/win32/win32_common.h"
#include "platform/win32/win32_text.h"

namespace tempikon::win32 {
namespace {

TEST(TextConversion, RoundTripsEveryPlaneAndReplacesBrokenInput) {
    const std::string samples[] = {
        "", "plain", "Zürich", "Größe 5,5 °C", "時計", "⌚ \xF0\x9F\x95\x90"};
    for (const std::string& s : samples) EXPECT_EQ(narrow(widen(s)), s) << s;
    // A clock face emoji is one character outside the BMP: two UTF-16 units.
    EXPECT_EQ(widen("\xF0\x9F\x95\x90").size(), 2u);
    // Broken UTF-8 from a hostile source never fails, it is replaced.
    EXPECT_EQ(widen("a\xFF"
                    "b"),
              std::wstring(L"a\uFFFDb"));
    EXPECT_EQ(narrow(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");  // a lone surrogate
}

TEST(CommandLine, ArgumentsFollowTheProgramNameQuotedOrNot) {
    struct Case {
        const wchar_t* line;
        const wchar_t* arguments;
    } cases[] = {
        {L"tempikon.exe /RUNONCE", L"/RUNONCE"},
        {L"\"C:\\Program Files\\Tempikon\\tempikon.exe\" /server /min", L"/server /min"},
        {L"\"C:\\Program Files\\Tempikon\\tempikon.exe\"/MIN", L"/MIN"},
        {L"tempikon.exe", L""},
        {L"tempikon.exe   \t /SERVER  ", L"/SERVER  "},  // trailing blanks are the logic's
        {L"\"unterminated name /RUNONCE", L""},
        {L"", L""},
        {L"C:\\a\"b\\tempikon.exe /RUNONCE", L"/RUNONCE"},  // a quote inside an unquoted name
    };
    for (const Case& c : cases) EXPECT_EQ(argumentsAfterProgramName(c.line), c.arguments) << c.line;
}

TEST(Twips, BecomePixelsAtTheWindowsDpiRoundedToTheNearest) {
    struct Case {
        int twips, dpi, pixels;
    } cases[] = {
        {3855, 96, 257}, {720, 96, 48},    {255, 96, 17}, {240, 120, 20},
        {255, 144, 26},  {3855, 192, 514}, {7, 96, 0},    {8, 96, 1},  // 0.47 and 0.53 pixel
        {-15, 96, -1},   {0, 288, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << "@" << c.dpi;
}

std::uint32_t fakeSystemColour(int index) {
    return 0x00010000u + static_cast<std::uint32_t>(index);
}

TEST(Colours, PlainValuesPassAndTheTopBitNamesASystemColour) {
    EXPECT_EQ(resolveColour(0x00C0FFFFu, fakeSystemColour), 0x00C0FFFFu);
    EXPECT_EQ(resolveColour(0x80000012u, fakeSystemColour), 0x00010012u);  // COLOR_BTNTEXT
    EXPECT_EQ(resolveColour(0x80000005u, fakeSystemColour), 0x00010005u);
    // Stray bits above the colour never reach GDI.
    EXPECT_EQ(resolveColour(0x7F123456u, fakeSystemColour), 0x00123456u);
    // The real table: the button-text colour is what Windows says it is.
    EXPECT_EQ(resolveColour(platform::kButtonTextColour,
                            [](int i) -> std::uint32_t { return GetSysColor(i); }),
              GetSysColor(COLOR_BTNTEXT));
}

TEST(Fonts, FixedPitchFacesAreKnownWhateverTheirCase) {
    for (const char* face :
         {"Courier New", "courier", "Consolas", "Lucida Console", "DejaVu Sans Mono"})
        EXPECT_TRUE(isFixedPitchFace(face)) << face;
    for (const char* face : {"", "Comic Sans MS", "Arial", "MS Sans Serif"})
        EXPECT_FALSE(isFixedPitchFace(face)) << face;
}

TEST(Messages, SystemTextsLoseTheirLineBreak) {
    EXPECT_EQ(tidyMessage(L"Access is denied.\r\n"), "Access is denied.");
    EXPECT_EQ(tidyMessage(L"No break"), "No break");
    const std::string refused = systemMessage(WSAECONNREFUSED);
    EXPECT_FALSE(refused.empty());
    EXPECT_EQ(refused.find('\n'), std::string::npos);
    // An unknown number still gives a text the user can quote.
    EXPECT_EQ(systemMessage(0x2FFFFFFFu), "Error 805306367");
}

TEST(Version, TheFourthNumberIsTheRevision) {
    const platform::Version v = versionFromFixedInfo(0x00010002u, 0x0000000Au);  // 1.2.0.10
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.revision, 10);
    const platform::Version w = versionFromFixedInfo(0x000B0016u, 0x00210FFFu);  // 11.22.33.4095
    EXPECT_EQ(w.major, 11);
    EXPECT_EQ(w.minor, 22);
    EXPECT_EQ(w.revision, 4095);
}

TEST(HeadlessBoxes, AnswerOkOrNoWithoutWaiting) {
    EXPECT_EQ(headlessAnswer(48), platform::kIdOk);
    EXPECT_EQ(headlessAnswer(64), platform::kIdOk);
    EXPECT_EQ(headlessAnswer(52), platform::kIdNo);  // the one question is answered No
    EXPECT_EQ(headlessAnswer(0), platform::kIdOk);
}

}  // namespace
}  // namespace tempikon::win32
