#include "settings_dialog/field_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::settings_dialog {
namespace {

struct OffsetCase {
    int hour, minute;
    std::string timeText;
    float offset;
    std::string text;
};

TEST(EstimateOffset, WorkedValues) {
    const std::vector<OffsetCase> cases = {
        {9, 35, "07:05:30", 2.5f, "2.5"},     {14, 20, "12:05:47", 2.0f, "2"},
        {10, 0, "09:45:10", 0.0f, "0"},       {10, 0, "09:15:00", 1.0f, "1"},
        {10, 0, "08:45:00", 1.0f, "1"},       {8, 0, "13:30:00", -5.5f, "-5.5"},
        {0, 30, "23:58:00", -23.5f, "-23.5"}, {23, 59, "00:00:00", 24.0f, "24"},
    };
    for (const auto& c : cases) {
        const float offset = EstimateOffset(c.hour, c.minute, c.timeText);
        EXPECT_EQ(offset, c.offset) << c.hour << ":" << c.minute << " " << c.timeText;
        EXPECT_EQ(core::NumberText(offset), c.text) << c.timeText;
    }
}

TEST(EstimateOffset, HalfHoursGoToTheEvenNumberOfHalfHours) {
    // Local minus server of 15, 45, 75, 105 minutes: 0.5, 1.5, 2.5, 3.5 half hours.
    EXPECT_EQ(EstimateOffset(12, 15, "12:00:00"), 0.0f);
    EXPECT_EQ(EstimateOffset(12, 45, "12:00:00"), 1.0f);
    EXPECT_EQ(EstimateOffset(13, 15, "12:00:00"), 1.0f);
    EXPECT_EQ(EstimateOffset(13, 45, "12:00:00"), 2.0f);
    // And below zero: -45 minutes is -1.5 half hours, which goes to -2.
    EXPECT_EQ(EstimateOffset(11, 15, "12:00:00"), -1.0f);
    EXPECT_EQ(EstimateOffset(11, 45, "12:00:00"), 0.0f);
}

TEST(EstimateOffset, ReadsOnlyHourAndMinuteCharacters) {
    // Seconds make no difference: 10:00 against 09:59 is one minute.
    EXPECT_EQ(EstimateOffset(10, 0, "09:59:59"), 0.0f);
    // Across midnight there is no correction.
    EXPECT_EQ(EstimateOffset(0, 5, "23:58:00"), -24.0f);
    // Characters that do not begin a number count as 0.
    EXPECT_EQ(EstimateOffset(3, 0, "ab:cd:ef"), 3.0f);
    EXPECT_EQ(EstimateOffset(5, 0, " 4:30:00"), 0.5f);  // " 4" is 4, a blank is skipped
    // A short text: missing minutes count as 0, one digit is read alone.
    EXPECT_EQ(EstimateOffset(10, 50, "10:"), 1.0f);
    EXPECT_EQ(EstimateOffset(10, 30, "10:4"), 0.5f);
}

struct TimeoutCase {
    std::string text;
    std::optional<std::int32_t> seconds;
};

TEST(TimeoutFromField, LeadingNumberRoundedHalfToEvenAndAboveZero) {
    const std::vector<TimeoutCase> cases = {
        {"7", 7},
        {"  7  ", 7},
        {"2.5", 2},
        {"3.5", 4},
        {"7abc", 7},
        {"10 s", 10},
        {"1,5", 1},
        {"0.51", 1},
        {"2147483647", 2147483647},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"0", std::nullopt},
        {"-5", std::nullopt},
        {"0.3", std::nullopt},  // rounds to 0
        {"0.5", std::nullopt},  // half goes to the even 0
        {"2147483648", std::nullopt},
        {std::string(400, '9'), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeoutFromField(c.text), c.seconds) << "'" << c.text << "'";
}

FieldTexts Valid() {
    return {"time.example", "0", "", "0", "3", "30"};
}

struct OkCase {
    const char* name;
    FieldTexts fields;
    bool accepted;
};

TEST(ValidatedConfig, RefusesAndAcceptsAsTheFieldRulesSay) {
    auto with = [](auto change) {
        FieldTexts f = Valid();
        change(f);
        return f;
    };
    const std::vector<OkCase> cases = {
        {"valid", Valid(), true},
        {"empty primary", with([](FieldTexts& f) { f.server = ""; }), false},
        {"blank primary", with([](FieldTexts& f) { f.server = " \t "; }), false},
        {"time-out 0", with([](FieldTexts& f) { f.timeout = "0"; }), false},
        {"time-out negative", with([](FieldTexts& f) { f.timeout = "-3"; }), false},
        {"time-out abc", with([](FieldTexts& f) { f.timeout = "abc"; }), false},
        {"time-out 0.3", with([](FieldTexts& f) { f.timeout = "0.3"; }), false},
        {"time-out beyond 32 bits", with([](FieldTexts& f) { f.timeout = "3000000000"; }), false},
        {"interval 0", with([](FieldTexts& f) { f.interval = "0"; }), false},
        {"interval empty", with([](FieldTexts& f) { f.interval = ""; }), false},
        {"interval 0.3", with([](FieldTexts& f) { f.interval = "0.3"; }), false},
        {"interval beyond 32 bits", with([](FieldTexts& f) { f.interval = "2147483648"; }), false},
        {"offset 23.5", with([](FieldTexts& f) { f.offset = "23.5"; }), true},
        {"offset -23.5", with([](FieldTexts& f) { f.offset = "-23.5"; }), true},
        {"offset -23.6", with([](FieldTexts& f) { f.offset = "-23.6"; }), false},
        {"offset 24", with([](FieldTexts& f) { f.offset = "24"; }), false},
        {"offset empty", with([](FieldTexts& f) { f.offset = ""; }), true},
        {"offset not a number", with([](FieldTexts& f) { f.offset = "east"; }), true},
        {"backup offset 24, backup empty", with([](FieldTexts& f) { f.offset2 = "24"; }), false},
        {"backup offset -23.5", with([](FieldTexts& f) { f.offset2 = "-23.5"; }), true},
        {"huge offset", with([](FieldTexts& f) { f.offset = std::string(400, '9'); }), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ValidatedConfig(c.fields).has_value(), c.accepted) << c.name;
}

TEST(ValidatedConfig, TakesTheFieldsOver) {
    const auto config =
        ValidatedConfig({"  prim ary.example ", "1,5", "\tbackup.example ", "5.25", "2.5", "3.5"});
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->primary().host, "prim ary.example");  // blanks inside stay
    EXPECT_EQ(config->backup().host, "backup.example");
    EXPECT_EQ(config->primary().offsetHours, 1.0f);  // a comma ends the number
    EXPECT_EQ(config->backup().offsetHours, 5.25f);
    EXPECT_EQ(config->timeout, 2);
    EXPECT_EQ(config->interval, 4);

    const auto blankBackup = ValidatedConfig({"a", "-0.5", "   ", "", "10 s", "30"});
    ASSERT_TRUE(blankBackup.has_value());
    EXPECT_EQ(blankBackup->backup().host, "");
    EXPECT_EQ(blankBackup->primary().offsetHours, -0.5f);
    EXPECT_EQ(blankBackup->backup().offsetHours, 0.0f);
    EXPECT_EQ(blankBackup->timeout, 10);

    // The trust files: trimmed, blanks inside kept, a missing file taken as
    // it is (the setting says it cannot be read); empty replaces a kept one.
    core::Config kept;
    kept.backup().trustFile = "/old/backup.pem";
    FieldTexts trust = Valid();
    trust.trust = " \t/home/u/my certs/ca.pem  ";
    trust.trust2 = "  ";
    const auto trusted = ValidatedConfig(trust, kept);
    ASSERT_TRUE(trusted.has_value());
    EXPECT_EQ(trusted->primary().trustFile, "/home/u/my certs/ca.pem");
    EXPECT_EQ(trusted->backup().trustFile, "");
}

TEST(NoAnswerWarning, PutsTheHostBetweenSingleQuotes) {
    EXPECT_EQ(NoAnswerWarning("time-a.example"),
              "WARNING: The selected server 'time-a.example' didn't answer within the selected "
              "timeout. Do you want to use this server anyway?");
}

TEST(HelpAddress, FirstInstalledPageAsFileAddressElseTheWebPage) {
    fake::FakePlatform platform;
    platform.dataDirs = {"/opt/tempikon/bin", "/usr/share/tempikon/", "/usr/local/share/tempikon"};
    EXPECT_EQ(HelpAddress(platform), kHelpWebAddress);

    platform.files["/usr/local/share/tempikon/help.html"] = "<html>";
    platform.files["/usr/share/tempikon/help.html"] = "<html>";
    EXPECT_EQ(HelpAddress(platform), "file:///usr/share/tempikon/help.html");

    // A relative folder cannot make a file:// address.
    platform.dataDirs = {"share", "/usr/local/share/tempikon"};
    platform.files["share/help.html"] = "<html>";
    EXPECT_EQ(HelpAddress(platform), "file:///usr/local/share/tempikon/help.html");
}

TEST(FileUrl, PercentEncodesWhatAnAddressCannotHold) {
    EXPECT_EQ(FileUrl("/home/a b/T#1/help.html"), "file:///home/a%20b/T%231/help.html");
    EXPECT_EQ(FileUrl("/usr/share/m\xC3\xBC/x%y"), "file:///usr/share/m%C3%BC/x%25y");
    EXPECT_EQ(FileUrl("C:\\Program Files\\Tempikon\\help.html"),
              "file:///C:/Program%20Files/Tempikon/help.html");
}

}  // namespace
}  // namespace tempikon::settings_dialog
