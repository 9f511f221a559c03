#include "settings_dialog/server_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

namespace tempikon::settings_dialog {
namespace {

std::string Padded(std::string text) {
    text.resize(55, ' ');
    return text;
}

std::size_t Columns(const std::string& utf8) {
    return DecodeLenient(utf8).size();
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> entries;
};

TEST(ServerListEntries, SplitsLinesAtCrLfAndCrAlone) {
    const std::string seventy(70, 'x');
    const std::vector<FileCase> cases = {
        {"empty file", "", {}},
        {"one terminator", "\r\n", {Padded("")}},
        {"three CR LF lines, terminator at the end",
         "US a.example A\r\nUS b.example B\r\nUS c.example C\r\n",
         {Padded("US a.example A"), Padded("US b.example B"), Padded("US c.example C")}},
        {"last line without terminator",
         "US a.example\r\nUS b.example",
         {Padded("US a.example"), Padded("US b.example")}},
        {"CR alone", "one\rtwo\r", {Padded("one"), Padded("two")}},
        {"CR CR is an empty line between",
         "one\r\rtwo",
         {Padded("one"), Padded(""), Padded("two")}},
        {"empty line kept", "a\r\n\r\nb", {Padded("a"), Padded(""), Padded("b")}},
        {"LF alone ends a line", "US a x\nUS b y\n", {Padded("US a x"), Padded("US b y")}},
        {"LF CR: two terminators", "a\n\rb", {Padded("a"), Padded(""), Padded("b")}},
        {"mixed CR, LF and CR LF",
         "a\rb\nc\r\nd",
         {Padded("a"), Padded("b"), Padded("c"), Padded("d")}},
        {"empty LF lines kept", "a\n\nb\n", {Padded("a"), Padded(""), Padded("b")}},
        {"70 characters give their first 55", seventy + "\r\n", {std::string(55, 'x')}},
        {"short lines", "ab\r\nabc\r\n", {Padded("ab"), Padded("abc")}},
    };
    for (const auto& c : cases) EXPECT_EQ(ServerListEntries(c.bytes), c.entries) << c.name;
}

TEST(ServerListEntries, CountsDecodedCharactersAsColumns) {
    // 60 two-byte characters: the entry keeps 55 of them, not 55 bytes.
    std::string umlauts;
    for (int i = 0; i < 60; ++i) umlauts += "\xC3\xBC";
    const auto entries = ServerListEntries(umlauts);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Columns(entries[0]), 55u);
    EXPECT_EQ(entries[0].size(), 110u);

    // A short line with a three-byte character is padded to 55 characters.
    const auto euro = ServerListEntries("EU \xE2\x82\xAC.example x");
    ASSERT_EQ(euro.size(), 1u);
    EXPECT_EQ(Columns(euro[0]), 55u);
    EXPECT_EQ(HostOfEntry(euro[0]), "\xE2\x82\xAC.example");
}

TEST(ServerListEntries, BadBytesBecomeOneReplacementColumnEachAndDoNotStopTheLoad) {
    const auto entries = ServerListEntries("US \xFF\xFEhost x\r\nUS next.example y\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(HostOfEntry(entries[0]), "\xEF\xBF\xBD\xEF\xBF\xBDhost");
    EXPECT_EQ(Columns(entries[0]), 55u);
    EXPECT_EQ(HostOfEntry(entries[1]), "next.example");
}

TEST(DecodeLenient, RejectsMalformedSequencesByteByByte) {
    EXPECT_EQ(DecodeLenient("a\xC3\xA9"), U"a\u00E9");
    EXPECT_EQ(DecodeLenient("\xF0\x9F\x95\x91"), U"\U0001F551");
    EXPECT_EQ(DecodeLenient("\xC0\xAF"), U"\uFFFD\uFFFD");                      // overlong
    EXPECT_EQ(DecodeLenient("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");            // surrogate
    EXPECT_EQ(DecodeLenient("\xF4\x90\x80\x80"), U"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
    EXPECT_EQ(DecodeLenient("x\xE2\x82"), U"x\uFFFD\uFFFD");    // cut off at the end
    EXPECT_EQ(DecodeLenient("\xE2\x82\r"), U"\uFFFD\uFFFD\r");  // a CR is never swallowed
    EXPECT_EQ(EncodeUtf8(DecodeLenient("h\xC3\xA9\xF0\x9F\x95\x91")), "h\xC3\xA9\xF0\x9F\x95\x91");
}

struct HostCase {
    const char* name;
    std::string entry;
    std::optional<std::string> host;
};

TEST(HostOfEntry, RunsFromColumnFourToTheFirstBlank) {
    const std::vector<HostCase> cases = {
        {"usual line", Padded("US timehost Some place"), "timehost"},
        {"tab does not end the host", Padded("US host\tmore text x"), "host\tmore"},
        {"blank in column 4", Padded("US  timehost"), std::nullopt},
        {"three characters only", Padded("abc"), std::nullopt},
        {"empty line", Padded(""), std::nullopt},
        {"host up to column 55", "US " + std::string(51, 'h') + " ", std::string(51, 'h')},
        {"no blank in columns 4 to 55", "US " + std::string(52, 'h'), std::nullopt},
        {"shorter than 4", "US", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(HostOfEntry(c.entry), c.host) << c.name;
}

TEST(HostOfEntry, ACheckedEntryKeepsItsHost) {
    const std::string entry = Padded("US time-a.example Somewhere");
    const std::string checked = EntryWithResult(entry, "14:03:27");
    EXPECT_EQ(HostOfEntry(checked), "time-a.example");

    // The blank in column 56 of a checked entry does not make a host out of
    // a line that had none.
    const std::string noBlank = "US " + std::string(52, 'h');
    EXPECT_EQ(HostOfEntry(EntryWithResult(noBlank, "")), std::nullopt);
}

TEST(EntryWithResult, AppendsOneResultColumnBehindColumn55) {
    const std::string entry = Padded("US time-a.example Somewhere");
    const std::string first = EntryWithResult(entry, "14:03:27");
    EXPECT_EQ(first, entry + "   [14:03:27]");
    EXPECT_EQ(first.size(), 68u);

    const std::string second = EntryWithResult(first, "");
    EXPECT_EQ(second, entry + "   [Timeout ]");
    EXPECT_EQ(second.size(), 68u);

    // A short time text keeps its own width; the column starts at the same place.
    EXPECT_EQ(EntryWithResult(second, "12:34"), entry + "   [12:34]");
    // Multi-byte characters before column 55 do not move the result column.
    const std::string wide = ServerListEntries("DE m\xC3\xBCnchen.example x")[0];
    EXPECT_EQ(Columns(EntryWithResult(wide, "14:03:27")), 68u);
}

TEST(EntryProtocol, TheWordNtpAfterTheHostMarksAnNtpServer) {
    struct Case {
        const char* name;
        std::string entry;
        core::Protocol protocol;
    };
    const std::vector<Case> cases = {
        {"marked", Padded("SE ntp.se                 NTP  Netnod"), core::Protocol::Ntp},
        {"mark among other words", Padded("-- t.example SMEAR,NTP x"), core::Protocol::Ntp},
        {"a Daytime line as before", Padded("US time-a-g.nist.gov      UTC  NIST"),
         core::Protocol::Daytime},
        {"ntp in the host only", Padded("SE NTP.example ntp.se x"), core::Protocol::Daytime},
        {"lower case", Padded("US host.example ntp"), core::Protocol::Daytime},
        {"within a longer word", Padded("US host.example NTPv4 SNTP"), core::Protocol::Daytime},
        {"beyond column 55", Padded("US host.example") + " NTP", core::Protocol::Daytime},
        {"no usable host", Padded("US  NTP"), core::Protocol::Daytime},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EntryProtocol(c.entry), c.protocol) << c.name;
        // A check's result behind column 55 does not change it.
        EXPECT_EQ(EntryProtocol(EntryWithResult(c.entry, "NTP")), c.protocol) << c.name;
    }
}

TEST(NtpResultText, TimeOfDayAndTheDifferenceToTheMillisecond) {
    struct Case {
        int secondsOfDay;
        std::int64_t offsetMicros;
        std::string text;
    };
    const std::vector<Case> cases = {
        {43'207, 1'502'000, "12:00:07 +1.502s"}, {0, 0, "00:00:00 +0.000s"},
        {86'399, -499, "23:59:59 +0.000s"},  // rounds to no difference: no sign of one
        {3'600, -1'502'499, "01:00:00 -1.502s"}, {3'600, -1'502'500, "01:00:00 -1.503s"},
        {60, 999'999'499, "00:01:00 +999.999s"}, {60, 999'999'500, "00:01:00 +1000s"},
        {60, -3'600'000'000, "00:01:00 -3600s"}, {60, INT64_MIN, "00:01:00 -9223372036855s"},
    };
    for (const auto& c : cases) EXPECT_EQ(NtpResultText(c.secondsOfDay, c.offsetMicros), c.text);
}

TEST(LoadServerListEntries, WorkingFolderFirstThenDataFoldersInOrder) {
    fake::FakePlatform platform;
    platform.dataDirs = {"/opt/tempikon/bin/", "/usr/share/tempikon"};
    platform.files["/usr/share/tempikon/timeservers.dat"] = "US installed.example x\r\n";
    EXPECT_EQ(LoadServerListEntries(platform), std::vector{Padded("US installed.example x")});
    EXPECT_EQ(platform.filesRead,
              (std::vector<std::string>{"timeservers.dat", "/opt/tempikon/bin/timeservers.dat",
                                        "/usr/share/tempikon/timeservers.dat"}));

    platform.files["/opt/tempikon/bin/timeservers.dat"] = "US next-to-exe.example x";
    EXPECT_EQ(LoadServerListEntries(platform), std::vector{Padded("US next-to-exe.example x")});

    platform.files["timeservers.dat"] = "US local.example x";
    platform.filesRead.clear();
    EXPECT_EQ(LoadServerListEntries(platform), std::vector{Padded("US local.example x")});
    EXPECT_EQ(platform.filesRead, std::vector<std::string>{"timeservers.dat"});
}

TEST(LoadServerListEntries, NoFileGivesAnEmptyList) {
    fake::FakePlatform platform;
    platform.dataDirs = {"/nowhere"};
    EXPECT_TRUE(LoadServerListEntries(platform).empty());
}

TEST(ServerListEntries, KeepsTheFirstLinesUpToTheLimit) {
    std::string text;
    for (std::size_t i = 0; i < kMaxListEntries + 5; ++i) text += "US h" + std::to_string(i) + "\r";
    const std::vector<std::string> entries = ServerListEntries(text);
    ASSERT_EQ(entries.size(), kMaxListEntries);
    EXPECT_EQ(HostOfEntry(entries.back()), "h" + std::to_string(kMaxListEntries - 1));
    // Without a terminator after the last kept line, too.
    EXPECT_EQ(ServerListEntries(std::string(kMaxListEntries, '\r') + "US x").size(),
              kMaxListEntries);
}

TEST(LoadServerListEntries, FileBeyondTheReadLimitCountsAsMissing) {
    fake::FakePlatform platform;
    platform.dataDirs = {"/usr/share/tempikon"};
    platform.files["timeservers.dat"] = std::string(platform::kMaxReadFileBytes + 1, 'x');
    platform.files["/usr/share/tempikon/timeservers.dat"] = "US installed.example x\r\n";
    EXPECT_EQ(LoadServerListEntries(platform), std::vector{Padded("US installed.example x")});
}

TEST(ShippedServerList, IsInTheFixedColumnFormat) {
    const std::optional<std::string> bytes = []() -> std::optional<std::string> {
        std::FILE* f = std::fopen(TEMPIKON_SOURCE_DIR "/data/timeservers.dat", "rb");
        if (!f) return std::nullopt;
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }();
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->find('\n'), bytes->find("\r\n") + 1) << "lines end with CR LF";
    const auto entries = ServerListEntries(*bytes);
    ASSERT_EQ(entries.size(), 56u);
    std::vector<std::string> daytime;
    std::vector<std::string> ntp;
    std::vector<std::string> nts;
    std::vector<std::string> smearing;
    for (const auto& e : entries) {
        const auto host = HostOfEntry(e);
        ASSERT_TRUE(host.has_value()) << e;
        // Every shipped line's first word after the host is its mark.
        const std::size_t markAt = e.find_first_not_of(' ', 3 + host->size());
        ASSERT_NE(markAt, std::string::npos) << e;
        const std::string mark = e.substr(markAt, e.find(' ', markAt) - markAt);
        if (mark == "NTS") {
            nts.push_back(*host);
            // An authenticated server is never asked over plain NTP.
            EXPECT_EQ(EntryProtocol(e), core::Protocol::Nts) << e;
            EXPECT_FALSE(EntryMarksUtc(e)) << e;
        } else if (EntryProtocol(e) == core::Protocol::Ntp) {
            EXPECT_EQ(mark, "NTP") << e;
            ntp.push_back(*host);
            // NTP gives UTC by itself; its servers carry no zone mark.
            EXPECT_FALSE(EntryMarksUtc(e)) << e;
        } else {
            EXPECT_EQ(mark, "UTC") << e;
            daytime.push_back(*host);
            EXPECT_TRUE(EntryMarksUtc(e)) << "every shipped Daytime server sends UTC: " << e;
        }
        if (e.find("SMEAR") != std::string::npos) smearing.push_back(*host);
        // The pool's rules forbid shipping its bare names.
        EXPECT_EQ(host->find("pool.ntp.org"), std::string::npos) << e;
    }
    ASSERT_EQ(daytime.size(), 19u);
    EXPECT_EQ(daytime.front(), "time-a-g.nist.gov");
    EXPECT_NE(std::find(daytime.begin(), daytime.end(), "time-e-wwv.nist.gov"), daytime.end());
    EXPECT_NE(std::find(daytime.begin(), daytime.end(), "time.nist.gov"), daytime.end());
    EXPECT_EQ(daytime.back(), "utcnist3.colorado.edu");
    // The Daytime lines come first, as older lists had them.
    EXPECT_EQ(HostOfEntry(entries[18]), "utcnist3.colorado.edu");
    for (const char* host :
         {"time.nist.gov", "time-a-g.nist.gov", "time-e-wwv.nist.gov", "ptbtime1.ptb.de",
          "ptbtime3.ptb.de", "ntp.se", "sth2.ntp.se", "time.cloudflare.com", "time.google.com"})
        EXPECT_NE(std::find(ntp.begin(), ntp.end(), host), ntp.end()) << host;
    EXPECT_EQ(
        nts, (std::vector<std::string>{
                 "ohio.time.system76.com", "virginia.time.system76.com", "oregon.time.system76.com",
                 "ptbtime1.ptb.de", "ptbtime2.ptb.de", "ptbtime3.ptb.de", "nts.netnod.se",
                 "sth1.nts.netnod.se", "sth2.nts.netnod.se", "time.cloudflare.com"}));
    // Leap smearing servers must not be mixed with the others: marked so.
    EXPECT_EQ(smearing, std::vector<std::string>{"time.google.com"});
    // No line is longer than the 55 columns that are shown.
    std::size_t start = 0;
    while (start < bytes->size()) {
        const std::size_t end = bytes->find("\r\n", start);
        EXPECT_LE(end - start, 55u);
        start = end + 2;
    }
}

}  // namespace
}  // namespace tempikon::settings_dialog
