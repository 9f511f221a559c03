#include "core/history.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/history_plot.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

constexpr std::int64_t kS = 1'000'000;
constexpr std::int64_t kHour = 3600 * kS;
constexpr std::int64_t kDay = 24 * kHour;
// 2026-12-08 00:00:00 UTC.
constexpr std::int64_t kDec8 = 20'795 * kDay;

HistoryRecord Setting(std::int64_t at, std::optional<std::int64_t> offset,
                      const std::string& correction = "step") {
    HistoryRecord r;
    r.atMicros = at;
    r.server = "ntp.example";
    r.protocol = "NTP";
    r.offsetMicros = offset;
    r.roundTripMicros = 1234;
    r.correction = correction;
    r.set = true;
    return r;
}

HistoryRecord Failed(std::int64_t at, const std::string& reason) {
    HistoryRecord r;
    r.atMicros = at;
    r.server = "ntp.example";
    r.protocol = "NTP";
    r.reason = reason;
    return r;
}

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(HistoryCsvTest, RecordsRoundTripAndTextsStayInTheirField) {
    struct Case {
        std::string name;
        HistoryRecord record;
        std::string server;  // as read back
        std::string reason;
    };
    HistoryRecord plain = Setting(kDec8 + 123'456, -90'123);
    HistoryRecord comma = Failed(kDec8 + 5 * kS, "the reply held no time: \"12,34\"");
    comma.server = "host,with \"quotes\"";
    HistoryRecord lines = Failed(kDec8 - 1, "connection failed:\r\nreset\tby peer");
    lines.server = " blank edges ";
    HistoryRecord formula = Failed(kDec8, "=HYPERLINK(\"x\")");
    formula.server = "-cmd";
    formula.protocol = "@SUM(1)";
    HistoryRecord none = Setting(-3 * kS + 7, std::nullopt, "none");
    none.roundTripMicros.reset();
    none.set = false;
    HistoryRecord apostrophe = Failed(kDec8, "'quoted");
    HistoryRecord big = Setting(kDec8, 43'200 * kS - 1);
    HistoryRecord unicode = Setting(kDec8, 0, "slew");
    unicode.server = "zeit.b\xC3\xBCro.example";
    const std::vector<Case> cases = {
        {"plain", plain, plain.server, ""},
        {"comma and quotes", comma, comma.server, comma.reason},
        {"line breaks", lines, lines.server, "connection failed:  reset by peer"},
        {"formula signs", formula, formula.server, formula.reason},
        {"no measurement, before 1970", none, none.server, ""},
        {"apostrophe", apostrophe, apostrophe.server, apostrophe.reason},
        {"twelve hours", big, big.server, ""},
        {"utf-8", unicode, unicode.server, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = FormatHistoryLine(c.record);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        // A spreadsheet never sees a formula at the start of a field.
        for (const char* sign : {",=", ",-c", ",@", ",\"="})
            EXPECT_EQ(line.find(sign), std::string::npos) << line;
        const auto back = ParseHistoryLine(line);
        ASSERT_TRUE(back.has_value()) << line;
        HistoryRecord expected = c.record;
        expected.server = c.server;
        expected.reason = c.reason;
        EXPECT_EQ(*back, expected) << line;
    }
    EXPECT_EQ(FormatHistoryLine(plain),
              "2026-12-08T00:00:00.123456Z,ntp.example,NTP,-0.090123,0.001234,step,set,");
    EXPECT_EQ(FormatHistoryLine(comma),
              "2026-12-08T00:00:05.000000Z,\"host,with \"\"quotes\"\"\",NTP,,,none,"
              "failed,\"the reply held no time: \"\"12,34\"\"\"");
}

TEST(HistoryCsvTest, DamagedLinesAreSkippedAndTheRestIsSortedByTime) {
    const std::string text =
        std::string(kHistoryHeader) + "\n" +
        "2026-12-08T01:00:00.000000Z,b,NTP,0.5,0.01,step,set,\r\n"  // CRLF
        "2026-12-08T00:00:00Z,a,Daytime,-1,,none,failed,x\n"        // no fraction
        "2026-13-08T00:00:00.000000Z,bad month,NTP,0,0,step,set,\n"
        "2026-12-08T00:00:00.000000Z,too,few,fields\n"
        "2026-12-08T00:00:00.000000Z,x,NTP,zero,0,step,set,\n"
        "2026-12-08T00:00:00.000000Z,x,NTP,0,0,jump,set,\n"
        "2026-12-08T00:00:00.000000Z,x,NTP,0,0,step,maybe,\n"
        "2026-12-08T00:00:00.000000Z,\"open quote,NTP,0,0,step,set,\n"
        "2026-12-08T00:00:00.0000001Z,x,NTP,0,0,step,set,\n"
        "\n"
        "2026-12-08T00:30:00.000000Z,c,NTS,0.000001,0.02,slew,set,";  // no final break
    const ParsedHistory parsed = ParseHistory(text);
    EXPECT_EQ(parsed.skipped, 7u);
    ASSERT_EQ(parsed.records.size(), 3u);
    EXPECT_EQ(parsed.records[0].server, "a");
    EXPECT_EQ(parsed.records[0].offsetMicros, -kS);
    EXPECT_FALSE(parsed.records[0].roundTripMicros.has_value());
    EXPECT_EQ(parsed.records[1].server, "c");
    EXPECT_EQ(parsed.records[1].offsetMicros, 1);
    EXPECT_EQ(parsed.records[2].server, "b");
    EXPECT_EQ(parsed.records[2].offsetMicros, kS / 2);
}

TEST(HistoryLogTest, FileGetsAHeaderAndStaysBounded) {
    fake::FakePlatform p;
    fake::FakeStateFile& file = p.history();
    HistoryLog log(file);
    ASSERT_FALSE(log.append(Setting(kDec8, 5)).has_value());
    ASSERT_TRUE(file.text.has_value());
    EXPECT_EQ(file.text->substr(0, kHistoryHeader.size() + 1), std::string(kHistoryHeader) + "\n");
    EXPECT_EQ(LineCount(*file.text), 2u);

    // A file cut off mid-line keeps the new record on a line of its own.
    file.text = *file.text + "2026-12-08T00:00";
    ASSERT_FALSE(log.append(Setting(kDec8 + kS, 6)).has_value());
    EXPECT_EQ(ParseHistory(*file.text).records.size(), 2u);
    EXPECT_EQ(ParseHistory(*file.text).skipped, 1u);

    // A file just below the bound: the header and 9,990 records.
    std::string full = std::string(kHistoryHeader) + "\n";
    for (int i = 0; i < 9'990; ++i) full += FormatHistoryLine(Setting(kDec8 + i * kS, i)) + "\n";
    file.text = full;
    std::size_t most = 0;
    for (int i = 9'990; i < 10'050; ++i) {
        ASSERT_FALSE(log.append(Setting(kDec8 + i * kS, i)).has_value());
        most = std::max(most, LineCount(*file.text));
    }
    EXPECT_LE(most, kHistoryMaxLines);
    EXPECT_EQ(file.replaces, 1);
    const ParsedHistory kept = ParseHistory(*file.text);
    EXPECT_EQ(kept.skipped, 0u);
    // The 10,000th record made 10,001 lines: records 5,000 to 9,999 were
    // kept, and 50 came after.
    EXPECT_EQ(kept.records.size(), kHistoryKeep + 50);
    EXPECT_EQ(kept.records.front().offsetMicros, 5'000);
    EXPECT_EQ(kept.records.back().offsetMicros, 10'049);
    EXPECT_EQ(file.text->rfind(std::string(kHistoryHeader), 0), 0u);

    EXPECT_EQ(BoundedHistory(std::string(kHistoryMaxLines, '\n')), std::nullopt);
}

TEST(HistoryLogTest, UnreadableFilesAreRefusedWithTheirReason) {
    fake::FakePlatform p;
    fake::FakeStateFile& file = p.history();
    HistoryLog log(file);
    file.kind = fake::FakeStateFile::Kind::Fifo;
    EXPECT_EQ(log.append(Setting(kDec8, 1)), "not a regular file");
    EXPECT_EQ(log.load().refused, "not a regular file");
    EXPECT_EQ(file.appends, 0);

    file.kind = fake::FakeStateFile::Kind::Regular;
    file.text = std::string(kHistoryMaxBytes + 1, 'x');
    EXPECT_EQ(log.append(Setting(kDec8, 1)), "too large");
    EXPECT_EQ(log.load().refused, "too large");

    file.text.reset();
    file.writeFailure = "No space left on device";
    EXPECT_EQ(log.append(Setting(kDec8, 1)), "No space left on device");
    EXPECT_FALSE(log.load().refused.has_value());
}

TEST(DriftTest, MedianOfTheLastPairsAfterACorrection) {
    struct Case {
        std::string name;
        std::vector<HistoryRecord> records;
        std::optional<double> perDay;  // s/day; nullopt: no drift named
        int pairs = 0;
    };
    // A clock 50 ppm fast is 90 ms ahead 30 minutes after a setting.
    auto regular = [](int n, std::int64_t gap, std::int64_t offset, const std::string& how) {
        std::vector<HistoryRecord> r;
        for (int i = 0; i < n; ++i) r.push_back(Setting(kDec8 + i * gap, offset, how));
        return r;
    };
    std::vector<HistoryRecord> outlier = regular(11, 1800 * kS, -90'000, "step");
    outlier[10].offsetMicros = 5 * kS;  // one bad server answer
    std::vector<HistoryRecord> gaps = regular(4, 1800 * kS, -90'000, "step");
    gaps.insert(gaps.begin() + 2, Failed(kDec8 + 1800 * kS + 1, "no answer within 3 s"));
    std::vector<HistoryRecord> uncorrected = regular(5, 1800 * kS, -90'000, "none");
    std::vector<HistoryRecord> old = regular(15, 1800 * kS, -90'000, "slew");
    for (int i = 0; i < 5; ++i) old[i].offsetMicros = 90'000;  // older than the last ten
    std::vector<HistoryRecord> close = regular(5, 30 * kS, -90'000, "step");
    const std::vector<Case> cases = {
        {"50 ppm fast", regular(4, 1800 * kS, -90'000, "step"), 4.32, 3},
        {"slow", regular(4, 3600 * kS, 36'000, "slew"), -0.864, 3},
        {"two pairs", regular(3, 1800 * kS, -90'000, "step"), std::nullopt, 0},
        {"outlier", outlier, 4.32, 10},
        {"failure between", gaps, 4.32, 3},
        {"nothing corrected", uncorrected, std::nullopt, 0},
        {"last ten only", old, 4.32, 10},
        {"seconds apart", close, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Drift> drift = ComputeDrift(c.records);
        ASSERT_EQ(drift.has_value(), c.perDay.has_value());
        if (!drift) continue;
        EXPECT_NEAR(drift->secondsPerDay, *c.perDay, 1e-9);
        EXPECT_NEAR(drift->ppm, *c.perDay / 86400 * 1e6, 1e-6);
        EXPECT_EQ(drift->pairs, c.pairs);
    }
}

TEST(DriftTest, SentenceNamesGainOrLossInTwoFigures) {
    const std::vector<std::pair<Drift, std::string>> cases = {
        {{1.2096, 14.0, 3}, "This clock gains about 1.2 s a day (14 ppm)"},
        {{-4.32, -50.0, 3}, "This clock loses about 4.3 s a day (50 ppm)"},
        {{12.96, 150.0, 3}, "This clock gains about 13 s a day (150 ppm)"},
        {{0.0432, 0.5, 3}, "This clock gains about 0.04 s a day (0.5 ppm)"},
    };
    for (const auto& [drift, sentence] : cases) EXPECT_EQ(DriftSentence(drift), sentence);
}

TEST(PlotScaleTest, NiceTicksCoverTheRangeInRoundSteps) {
    struct Case {
        double low, high;
        double step, first, last;
    };
    const std::vector<Case> cases = {
        {0, 100, 20, 0, 100},
        {-93.2, 0, 20, -100, 0},
        {-0.4, 0.9, 0.5, -0.5, 1.0},
        {0, 0, 0.5, -1, 1},
        {3, 3, 0.5, 2, 4},
        {-12000, 4500, 5000, -15000, 5000},
        {0.001, 0.004, 0.0005, 0.001, 0.004},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + " " + std::to_string(c.high));
        const NiceAxis axis = NiceTicks(c.low, c.high, 7);
        EXPECT_NEAR(axis.step, c.step, 1e-12);
        ASSERT_FALSE(axis.ticks.empty());
        EXPECT_NEAR(axis.ticks.front(), c.first, 1e-9);
        EXPECT_NEAR(axis.ticks.back(), c.last, 1e-9);
        EXPECT_LE(axis.ticks.size(), 8u);
        EXPECT_LE(axis.low, c.low);
        EXPECT_GE(axis.high, c.high);
    }
}

TEST(PlotScaleTest, RangesTicksAndLabels) {
    std::vector<HistoryRecord> records;
    for (int i = 0; i < 14 * 48; ++i)
        records.push_back(Setting(kDec8 - 14 * kDay + i * 1800 * kS, -90'000 + (i % 2) * 1000));
    records[records.size() - 60].offsetMicros = -250'000;  // a day and a bit ago
    records[3].offsetMicros = 2 * kS;                      // two weeks ago
    const std::int64_t now = kDec8 + 9 * kHour + 17 * 60 * kS;

    const PlotScale day = ComputeScale(records, HistoryRange::Day, now, 3600);
    EXPECT_EQ(day.toMicros - day.fromMicros, kDay);
    EXPECT_DOUBLE_EQ(day.highMs, 0);  // zero is always in view
    EXPECT_LE(day.lowMs, -90);
    EXPECT_GT(day.lowMs, -250);  // the day before is not in view
    ASSERT_FALSE(day.timeTicks.empty());
    EXPECT_LE(day.timeTicks.size(), 8u);
    // Whole local hours (UTC+1), labelled as the clock shows them.
    EXPECT_EQ(day.timeTicks.front().label, "12:00");
    EXPECT_EQ(static_cast<std::int64_t>(day.timeTicks.front().value), kDec8 - 13 * kHour);

    const PlotScale week = ComputeScale(records, HistoryRange::Week, now, 0);
    EXPECT_EQ(week.toMicros - week.fromMicros, 7 * kDay);
    EXPECT_LE(week.lowMs, -250);
    EXPECT_LT(week.highMs, 2000);
    EXPECT_EQ(week.timeTicks.front().label, "12-02");
    EXPECT_EQ(week.timeTicks.back().label, "12-08");

    const PlotScale all = ComputeScale(records, HistoryRange::Everything, now, 0);
    EXPECT_EQ(all.fromMicros, records.front().atMicros);
    EXPECT_GE(all.highMs, 2000);

    // Centuries apart (a damaged line): still a handful of year ticks.
    const std::vector<HistoryRecord> ages = {Setting(-30'000 * kDay, 0), Setting(kDec8, 0)};
    const PlotScale centuries = ComputeScale(ages, HistoryRange::Everything, now, 0);
    EXPECT_GE(centuries.timeTicks.size(), 2u);
    EXPECT_LE(centuries.timeTicks.size(), 8u);
    EXPECT_EQ(centuries.timeTicks.front().label.substr(4), "-01");

    const PlotScale empty = ComputeScale({}, HistoryRange::Everything, now, 0);
    EXPECT_EQ(empty.toMicros - empty.fromMicros, kHour);
    EXPECT_LT(empty.lowMs, 0);
    EXPECT_GT(empty.highMs, 0);
}

TEST(PlotScaleTest, DrawingMarksKindsAndThePointerFindsTheNearest) {
    std::vector<HistoryRecord> records = {
        Setting(kDec8 + 1 * kHour, -50'000, "step"),
        Setting(kDec8 + 2 * kHour, -20'000, "slew"),
        Failed(kDec8 + 3 * kHour, "no answer within 3 s"),
        Setting(kDec8 + 4 * kHour, 10'000, "step"),
    };
    const PlotScale scale = ComputeScale(records, HistoryRange::Day, kDec8 + 5 * kHour, 0);
    const PlotFrame frame = FrameFor(scale, 600, 300);
    const platform::Drawing d = DrawHistory(records, frame, 1);
    using Shape = platform::Drawing::Shape;
    // Within the plot; the legend above it has one of each.
    auto count = [&d, &frame](Shape s) {
        return std::count_if(d.marks.begin(), d.marks.end(),
                             [&](const auto& m) { return m.shape == s && m.y >= frame.top; });
    };
    EXPECT_EQ(count(Shape::Disc), 2);
    EXPECT_EQ(count(Shape::Ring), 1);
    EXPECT_EQ(count(Shape::Cross), 1);
    EXPECT_EQ(count(Shape::Square), 1);  // the selection
    for (const auto& m : d.marks) {
        if (m.shape == Shape::Cross && m.y >= frame.top) {
            EXPECT_EQ(m.y, frame.bottom);  // on the time axis
        }
        EXPECT_GE(m.x, frame.left);
        EXPECT_LE(m.x, frame.right);
    }
    // Later settings lie to the right, larger offsets higher up.
    EXPECT_LT(frame.xOf(records[0].atMicros), frame.xOf(records[3].atMicros));
    EXPECT_GT(frame.yOf(-50), frame.yOf(10));
    EXPECT_TRUE(std::any_of(d.lines.begin(), d.lines.end(), [&](const auto& l) {
        return l.dotted && l.y1 == frame.yOf(0) && l.y2 == l.y1;
    }));

    // A selection outside the span is left out, not drawn off the canvas.
    const PlotScale later = ComputeScale(records, HistoryRange::Day, kDec8 + 30 * kHour, 0);
    const platform::Drawing none = DrawHistory(records, FrameFor(later, 600, 300), 0);
    EXPECT_FALSE(std::any_of(none.marks.begin(), none.marks.end(),
                             [](const auto& m) { return m.shape == Shape::Square; }));

    const std::vector<int> visible = VisibleRecords(records, scale);
    const int x2 = frame.xOf(records[2].atMicros);
    EXPECT_EQ(RecordNear(records, visible, frame, x2 + 3, 8), 2);
    EXPECT_EQ(RecordNear(records, visible, frame, frame.left, 8), -1);
}

}  // namespace
}  // namespace tempikon::core
