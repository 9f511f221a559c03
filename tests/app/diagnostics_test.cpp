// The command line's early requests, /QUERY, and the reasons a run gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/query_mode.h"
#include "tests/app/app_fixture.h"

namespace tempikon::app {
namespace {

using fake::PeerScript;
using testing::AppFixture;
using testing::kBackup;
using testing::kPrimary;

TEST(CommandLineTest, EarlyRequestsAndQueryPrecedence) {
    const std::vector<std::pair<std::vector<std::string>, EarlyRequest>> early = {
        {{}, EarlyRequest::None},
        {{"/RUNONCE"}, EarlyRequest::None},
        {{"--help"}, EarlyRequest::Help},
        {{"/SERVER", "-h"}, EarlyRequest::Help},
        {{"/?"}, EarlyRequest::Help},
        {{"--version"}, EarlyRequest::Version},
        {{"--version", "--help"}, EarlyRequest::Help},
        {{"--helpful"}, EarlyRequest::None},  // whole arguments only
        {{"-H"}, EarlyRequest::None},
    };
    for (const auto& [arguments, request] : early)
        EXPECT_EQ(EarlyRequestFor(arguments), request) << ::testing::PrintToString(arguments);

    const std::vector<std::pair<const char*, bool>> query = {
        {"/QUERY", true},           {" /query ", true},
        {"/Query/MIN", true},       {"/SERVER /QUERY", true},
        {"/QUERY /RUNONCE", false}, {"/runonce/query", false},
        {"QUERY", false},           {"", false},
    };
    for (const auto& [line, expected] : query)
        EXPECT_EQ(QueryModeRequested(line), expected) << line;
}

struct QueryCase {
    const char* what;
    std::string server, server2;
    PeerScript primary, backup;
    int exit;
    std::vector<std::string> output;
    std::vector<std::string> errors;
    std::vector<std::string> connections;
};

// The clock reads 12:00:00.250 when the run starts; Offset 1, Offset2 -0.5.
TEST(QueryModeTest, AsksLikeASettingAndNeverSets) {
    const std::string noConfig =
        "tempikon: no primary time server configured: set Server in section [CONFIG] of "
        "/fake/Tempikon.conf, or choose one in the configuration window";
    const std::vector<QueryCase> cases = {
        {"primary answers",
         kPrimary,
         kBackup,
         PeerScript().reply(40, "12:00:30\r\n"),
         PeerScript(),
         0,
         {"primary.test: 12:00:30 -> 13:00:30 d=3630.2s rtt=40ms step"},
         {},
         {kPrimary}},
        {"primary silent, backup answers",
         kPrimary,
         kBackup,
         PeerScript(),
         PeerScript().reply(10, "x 11:59:00"),
         0,
         {"primary.test: no time",
          "backup.test (Backup): 11:59:00 -> 11:29:00 d=-1861.7s rtt=10ms step"},
         {"tempikon: primary.test: no answer within 2 s"},
         {kPrimary, kBackup}},
        {"nothing answers",
         kPrimary,
         kBackup,
         PeerScript().error(5),
         PeerScript().reply(5, "no time"),
         1,
         {"primary.test: no time", "backup.test (Backup): no time"},
         {"tempikon: primary.test: connection refused",
          "tempikon: backup.test: the reply held no time: \"no time\""},
         {kPrimary, kBackup}},
        {"invalid time: no backup",
         kPrimary,
         kBackup,
         PeerScript().reply(5, "ab:cd:ef"),
         PeerScript(),
         1,
         {"primary.test: \"ab:cd:ef\" is not a valid time of day"},
         {"tempikon: primary.test: the time was not a valid time of day: \"ab:cd:ef\""},
         {kPrimary}},
        {"no primary", "", kBackup, PeerScript(), PeerScript(), 2, {}, {noConfig}, {}},
    };
    for (const auto& c : cases) {
        fake::FakePlatform p;
        p.fakeClock().setNow(2026, 12, 7, 12, 0, 0, 250);
        p.store().seed("Server", c.server);
        p.store().seed("Server2", c.server2);
        p.store().seed("Offset", "1");
        p.store().seed("Offset2", "-0.5");
        p.store().seed("Timeout", "2");
        p.script(kPrimary, c.primary);
        p.script(kBackup, c.backup);
        EXPECT_EQ(RunQueryMode(p), c.exit) << c.what;
        EXPECT_EQ(p.output, c.output) << c.what;
        EXPECT_EQ(p.errors, c.errors) << c.what;
        EXPECT_EQ(p.connections, c.connections) << c.what;
        EXPECT_TRUE(p.fakeClock().settings.empty()) << c.what;
        EXPECT_TRUE(p.windows.empty()) << c.what;
        EXPECT_TRUE(p.store().writtenKeys.empty()) << c.what;
    }
}

// The line shows what a setting would do: the nearest instant, the zone,
// the middle of the second plus half the round trip (here 40 ms).
TEST(QueryModeTest, ReportsTheSettingsPlan) {
    struct Case {
        const char* what;
        const char* zone;
        const char* offset;
        const char* reply;
        int utcHour, utcMinute, utcSecond;  // the clock, Berlin summer time
        std::string line;
    };
    const std::vector<Case> cases = {
        {"UTC server follows summer time", "UTC", "0", "10:00:30", 10, 0, 0,
         "primary.test: 10:00:30 -> 12:00:30 d=30.4s rtt=40ms step"},
        {"fixed offset of winter", "", "1", "10:00:30", 10, 0, 0,
         "primary.test: 10:00:30 -> 11:00:30 d=-3569.5s rtt=40ms step"},
        {"across midnight: the next day", "", "0", "00:00:01", 21, 59, 58,
         "primary.test: 00:00:01 -> 00:00:01 d=3.4s rtt=40ms step"},
        {"across midnight: the day before", "UTC", "0", "21:59:59", 22, 0, 1,
         "primary.test: 21:59:59 -> 23:59:59 d=-1.5s rtt=40ms step"},
    };
    for (const auto& c : cases) {
        fake::FakePlatform p;
        p.fakeClock().zone = fake::FakeClock::Zone::Berlin;
        p.fakeClock().setNowUtc(2026, 7, 1, c.utcHour, c.utcMinute, c.utcSecond);
        p.store().seed("Server", kPrimary);
        p.store().seed("Offset", c.offset);
        p.store().seed("Zone", c.zone);
        p.script(kPrimary, PeerScript().reply(40, c.reply));
        EXPECT_EQ(RunQueryMode(p), 0) << c.what;
        EXPECT_EQ(p.output, std::vector<std::string>{c.line}) << c.what;
        EXPECT_TRUE(p.fakeClock().settings.empty()) << c.what;
    }
}

TEST_F(AppFixture, FailedServersAreNamedOnStandardErrorAndTheTooltip) {
    configure(kPrimary);
    platform.store().seed("Server2", kBackup);
    platform.script(kPrimary, PeerScript().error(5, "gone", platform::SocketErrorKind::Reset));
    platform.script(kBackup, PeerScript().error(5, "?", platform::SocketErrorKind::HostNotFound));
    start("");
    click(form->setTimeItem());
    EXPECT_EQ(platform.output, std::vector<std::string>{"Couldn't reach timeserver(s)"});
    EXPECT_EQ(platform.errors, (std::vector<std::string>{"tempikon: primary.test: connection reset",
                                                         "tempikon: backup.test: host not found"}));
    EXPECT_EQ(label(form->outcomeLine()).toolTip(),
              "Couldn't reach timeserver(s)\nprimary.test: connection reset\nbackup.test: host not "
              "found");

    // A later success clears the reasons from the line; its text stays.
    platform.script(kPrimary, PeerScript().reply(5, testing::kReply));
    click(form->setTimeItem());
    EXPECT_EQ(label(form->outcomeLine()).toolTip(), label(form->outcomeLine()).text());

    platform.fakeClock().refuseWith = "not permitted (run as root)";
    click(form->setTimeItem());
    EXPECT_EQ(platform.errors.back(),
              "tempikon: Couldn't set system clock: not permitted (run as root)");
    EXPECT_EQ(label(form->outcomeLine()).toolTip(),
              "Couldn't set system clock: not permitted (run as root)");
}

// Settings that are there but cannot be read end every mode, and nothing is
// written over them.
TEST(UnknownProtocolTest, EndsOneShotResidentAndQueryModesAsAConfigurationError) {
    const std::string line =
        "primary.test: the settings name an unknown protocol \"SNTP\" (Daytime, NTP or NTS)";
    for (const char* commandLine : {"/RUNONCE", "/SERVER /MIN", "/QUERY"}) {
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        p.store().seed("Protocol", "SNTP");
        p.store().seed("Server2", kBackup);
        p.commandLineText = commandLine;
        int status = 0;
        if (std::string(commandLine) == "/QUERY") {
            status = RunQueryMode(p);
        } else {
            MainWindow window(p);
            window.start();
            EXPECT_TRUE(window.hasEnded()) << commandLine;
            EXPECT_FALSE(fake::as<fake::FakeWindow>(window.window()).shown) << commandLine;
            status = window.exitCode();
            ASSERT_EQ(p.boxes.size(), 1u) << commandLine;
            EXPECT_EQ(p.boxes[0].text, line);
        }
        EXPECT_EQ(status, kExitNotConfigured) << commandLine;
        EXPECT_EQ(p.errors, std::vector<std::string>{"tempikon: " + line}) << commandLine;
        // Not even the backup is asked.
        EXPECT_TRUE(p.connections.empty()) << commandLine;
        EXPECT_TRUE(p.udpRequests.empty()) << commandLine;
    }
}

TEST(UnreadableSettingsTest, EndEveryModeWithoutTouchingThem) {
    for (const char* commandLine : {"", "/RUNONCE", "/SERVER /MIN"}) {
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        p.store().unreadableWith = "Permission denied";
        p.commandLineText = commandLine;
        MainWindow window(p);
        window.start();
        EXPECT_TRUE(window.hasEnded()) << commandLine;
        EXPECT_EQ(window.exitCode(), kExitNotConfigured) << commandLine;
        EXPECT_EQ(p.errors, std::vector<std::string>{"tempikon: cannot read the settings file "
                                                     "/fake/Tempikon.conf: Permission denied"})
            << commandLine;
        ASSERT_EQ(p.boxes.size(), 1u) << commandLine;
        EXPECT_EQ(p.boxes[0].text,
                  "Cannot read the settings file /fake/Tempikon.conf: Permission denied");
        EXPECT_EQ(p.store().reads, 0) << commandLine;
        EXPECT_TRUE(p.connections.empty()) << commandLine;
        EXPECT_FALSE(fake::as<fake::FakeWindow>(window.window()).shown) << commandLine;
    }
}

}  // namespace
}  // namespace tempikon::app
