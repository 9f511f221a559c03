#include "core/config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

class ConfigTest : public ::testing::Test {
protected:
    Config Load() { return LoadConfig(store); }

    fake::FakeSettingsStore store;
};

TEST_F(ConfigTest, EmptyStoreGivesTheDefaults) {
    const Config c = Load();
    EXPECT_EQ(c.primary().host, "");
    EXPECT_EQ(c.backup().host, "");
    EXPECT_EQ(c.primary().offsetHours, 0.0f);
    EXPECT_EQ(c.backup().offsetHours, 0.0f);
    EXPECT_EQ(c.timeout, 3);
    EXPECT_EQ(c.interval, 30);
    EXPECT_EQ(c.maxChange, 1000);
    store.seed("MaxChange", "0");
    EXPECT_EQ(Load().maxChange, 0);
    store.seed("MaxChange", "86400");
    EXPECT_EQ(Load().maxChange, 86400);
}

TEST_F(ConfigTest, StoreWithOnlyServerGivesDefaultsForTheRest) {
    store.seed("Server", " time.example ");
    const Config c = Load();
    EXPECT_EQ(c.primary().host, " time.example ");  // taken unchanged
    EXPECT_EQ(c.backup().host, "");
    EXPECT_EQ(c.primary().offsetHours, 0.0f);
    EXPECT_EQ(c.backup().offsetHours, 0.0f);
    EXPECT_EQ(c.timeout, 3);
    EXPECT_EQ(c.interval, 30);
}

TEST_F(ConfigTest, LoadTakesEveryKeyFromOneReadOfTheStore) {
    // Key by key, a save by another program in between mixes two versions.
    store.seed("Server", "a.example");
    store.seed("Offset", "4");
    store.seed("Interval", "12");
    const Config c = Load();
    EXPECT_EQ(store.reads, 1);
    EXPECT_EQ(c.primary().host, "a.example");
    EXPECT_EQ(c.primary().offsetHours, 4.0f);
    EXPECT_EQ(c.interval, 12);
}

TEST_F(ConfigTest, KeysTypedInAnotherCaseAreStillRead) {
    // The registry never minded the case of a value's name.
    store.seed("server", "a.example");
    store.seed("OFFSET", "4");
    store.seed("Offset2", "2");
    store.seed("offset2", "9");  // the exact name wins
    const Config c = Load();
    EXPECT_EQ(c.primary().host, "a.example");
    EXPECT_EQ(c.primary().offsetHours, 4.0f);
    EXPECT_EQ(c.backup().offsetHours, 2.0f);
}

TEST_F(ConfigTest, SaveWritesEveryKeyInOrderThenCommits) {
    Config c;
    c.primary().host = "a.example";
    c.timeout = 3;
    c.interval = 30;
    ASSERT_TRUE(SaveConfig(store, c).ok);
    EXPECT_EQ(store.writtenKeys, (std::vector<std::string>{
                                     "Server", "Server2", "Offset", "Offset2", "Timeout",
                                     "Interval", "Zone", "Zone2", "Protocol", "Protocol2", "Step",
                                     "TrustedCertificates", "TrustedCertificates2", "MaxChange"}));
    EXPECT_EQ(store.stored("MaxChange"), "1000");
    EXPECT_EQ(store.commits, 1);
    EXPECT_EQ(store.stored("Server2"), "");  // written even when empty
    EXPECT_EQ(store.stored("Offset"), "0");
    EXPECT_EQ(store.stored("Timeout"), "3");
    EXPECT_EQ(store.stored("Interval"), "30");

    store.failCommitWith = "No space left on device";
    const platform::StoreResult failed = SaveConfig(store, c);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.reason, "No space left on device");
}

TEST_F(ConfigTest, RoundTripUnderACommaLocale) {
    store.separator = ',';
    Config c;
    c.primary().host = "ntp.example";
    c.backup().host = "";
    c.primary().offsetHours = 5.5f;
    c.backup().offsetHours = -0.5f;
    c.timeout = 10;
    c.interval = -45;
    ASSERT_TRUE(SaveConfig(store, c).ok);
    EXPECT_EQ(store.stored("Offset"), "5,5");
    EXPECT_EQ(store.stored("Offset2"), "-0,5");
    EXPECT_EQ(store.stored("Interval"), "-45");

    const Config back = Load();
    EXPECT_EQ(back.primary().host, c.primary().host);
    EXPECT_EQ(back.backup().host, c.backup().host);
    EXPECT_EQ(back.primary().offsetHours, c.primary().offsetHours);
    EXPECT_EQ(back.backup().offsetHours, c.backup().offsetHours);
    EXPECT_EQ(back.timeout, c.timeout);
    EXPECT_EQ(back.interval, c.interval);
}

TEST_F(ConfigTest, RoundTripKeepsEveryOffsetTheDialogCanWrite) {
    for (char separator : {'.', ','}) {
        store.separator = separator;
        for (float offset : {0.25f, -12.75f, 0.3333333f, 1234567.0f, 0.0000001f, -0.001f}) {
            Config c;
            c.primary().offsetHours = offset;
            c.backup().offsetHours = -offset;
            c.timeout = INT32_MAX;
            c.interval = INT32_MIN;
            ASSERT_TRUE(SaveConfig(store, c).ok);
            const Config back = Load();
            EXPECT_EQ(back.primary().offsetHours, offset) << separator << *store.stored("Offset");
            EXPECT_EQ(back.backup().offsetHours, -offset) << separator;
            EXPECT_EQ(back.timeout, INT32_MAX);
            EXPECT_EQ(back.interval, INT32_MIN);
        }
    }
}

TEST_F(ConfigTest, NumbersWrittenUnderTheOtherSeparatorKeepTheirValue) {
    struct Case {
        char locale;
        const char* stored;
        float offset;
    };
    const std::vector<Case> cases = {
        {'.', "5,5", 5.5f}, {',', "5.5", 5.5f}, {'.', " -2,25 ", -2.25f}, {',', "\t+1.5", 1.5f},
        {'.', ",5", 0.5f},  {',', "7,", 7.0f},  {'.', "-0", 0.0f},        {',', "10", 10.0f},
    };
    for (const auto& c : cases) {
        store.separator = c.locale;
        store.seed("Offset", c.stored);
        store.seed("Offset2", c.stored);
        const Config loaded = Load();
        EXPECT_EQ(loaded.primary().offsetHours, c.offset) << c.locale << " '" << c.stored << "'";
        EXPECT_EQ(loaded.backup().offsetHours, c.offset) << c.locale << " '" << c.stored << "'";
    }
}

TEST_F(ConfigTest, WholeNumbersRoundHalfToEven) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"2.5", 2},
        {"3.5", 4},
        {"2,5", 2},
        {"-1.5", -2},
        {"10.4", 10},
        {" 7 ", 7},
        {"0", 0},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483648.5", INT32_MIN},
    };
    for (const auto& [text, value] : cases) {
        store.seed("Timeout", text);
        store.seed("Interval", text);
        const Config c = Load();
        EXPECT_EQ(c.timeout, value) << text;
        EXPECT_EQ(c.interval, value) << text;
    }
}

TEST_F(ConfigTest, UnconvertibleValuesGiveTheKeysDefaults) {
    const std::string longDigits(10'000, '9');
    const std::vector<std::string> notNumbers = {
        "abc", "",  "   ",  "5x",           "1.2.3", "5,5,5", "1.5,0",          "1e3",      "--1",
        "+",   ".", "0x10", "\xE2\x88\x9E", "1 000", "- 5",   "-" + longDigits, longDigits,
    };
    for (const std::string& text : notNumbers) {
        for (const char* key : {"Offset", "Offset2", "Timeout", "Interval", "MaxChange"})
            store.seed(key, text);
        const Config c = Load();
        EXPECT_EQ(c.maxChange, 1000) << text;
        EXPECT_EQ(c.primary().offsetHours, 0.0f) << text;
        EXPECT_EQ(c.backup().offsetHours, 0.0f) << text;
        EXPECT_EQ(c.timeout, 3) << text;
        EXPECT_EQ(c.interval, 30) << text;
    }

    // Numbers, but beyond the field's range.
    for (const char* text : {"2147483648", "-2147483649", "2147483647.5", "9999999999"}) {
        store.seed("Timeout", text);
        store.seed("Interval", text);
        const Config c = Load();
        EXPECT_EQ(c.timeout, 3) << text;
        EXPECT_EQ(c.interval, 30) << text;
    }
    store.seed("Offset", "1" + std::string(60, '0'));
    store.seed("Offset2", "-1" + std::string(39, '0') + ",5");
    const Config c = Load();
    EXPECT_EQ(c.primary().offsetHours, 0.0f);
    EXPECT_EQ(c.backup().offsetHours, 0.0f);
}

TEST(ParseProtocol, NamesAreCaseAndBlankBlindAndUnknownOnesAreNoDaytime) {
    EXPECT_EQ(ParseProtocol(""), Protocol::Daytime);
    EXPECT_EQ(ParseProtocol(" daytime "), Protocol::Daytime);
    EXPECT_EQ(ParseProtocol("ntp"), Protocol::Ntp);
    EXPECT_EQ(ParseProtocol("Nts"), Protocol::Nts);
    EXPECT_EQ(ParseProtocol("SNTP"), std::nullopt);
    EXPECT_EQ(ParseProtocol("NTP4"), std::nullopt);
    EXPECT_EQ(ProtocolProblem("NTP"), "");
    EXPECT_NE(ProtocolProblem("udp").find("unknown protocol \"udp\""), std::string::npos);
    EXPECT_EQ(ProtocolProblem(" nts "), "");
}

// What the settings hold is written back as it was read, however it is
// spelt, while the meaning stays; a changed meaning writes the plain name.
TEST_F(ConfigTest, ProtocolAndZoneTextsAreWrittenBackAsRead) {
    struct Case {
        const char* protocol;
        const char* zone;
        std::optional<Protocol> kind;
        bool utc;
    };
    const std::vector<Case> cases = {
        {"", "", Protocol::Daytime, false},
        {" ntp ", "utc ", Protocol::Ntp, true},
        {"Nts", "Europe/Berlin", Protocol::Nts, false},
        {"SNTP", " UTC", std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protocol);
        store.seed("Protocol2", c.protocol);
        store.seed("Zone2", c.zone);
        Config config = Load();
        EXPECT_EQ(config.backup().protocol.kind(), c.kind);
        EXPECT_EQ(config.backup().utc, c.utc);
        EXPECT_EQ(config.primary().protocol.kind(), Protocol::Daytime);
        ASSERT_TRUE(SaveConfig(store, config).ok);
        EXPECT_EQ(store.stored("Protocol2"), c.protocol);
        EXPECT_EQ(store.stored("Zone2"), c.zone);
        config.backup().utc = !c.utc;
        ASSERT_TRUE(SaveConfig(store, config).ok);
        EXPECT_EQ(store.stored("Zone2"), c.utc ? "" : "UTC");
    }
}

}  // namespace
}  // namespace tempikon::core
