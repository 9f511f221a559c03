// A change beyond MaxChange that no second server confirms, as the user
// meets it: the window asks, resident mode notifies, /QUERY says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/query_mode.h"
#include "tests/app/app_fixture.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::app {
namespace {

using testing::AppFixture;
using testing::kPrimary;

constexpr std::int64_t kHourMicros = 3'600'000'000;
constexpr long long kMinute = 60'000;

// The primary is an NTP server two hours ahead of this clock, alone.
struct LargeChangeTest : AppFixture {
    LargeChangeTest() {
        server.platform = &platform;
        server.aheadMicros = 2 * kHourMicros;
        platform.scriptUdp(kPrimary, server.responder());
        configure(kPrimary);
        platform.store().seed("Protocol", "NTP");
    }
    tempikon::testing::FakeNtpServer server;
};

TEST_F(LargeChangeTest, SetTimeAsksTheUserWithBothTimesAndNoIsTheDefault) {
    start("");
    // Unanswered, the box answers its default: No.
    click(form->setTimeItem());
    EXPECT_EQ(settingsMade(), 0u);
    ASSERT_EQ(platform.boxes.size(), 1u);
    const auto& box = platform.boxes[0];
    EXPECT_EQ(box.flags,
              platform::kMbYesNo | platform::kMbIconExclamation | platform::kMbDefaultButton2);
    EXPECT_NE(box.text.find("This clock: 2026-12-07 12:00:00"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("The server: 2026-12-07 14:00:00"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("2 hours from this clock, more than MaxChange (1000 s)"),
              std::string::npos)
        << box.text;
    EXPECT_EQ(label(form->outcomeLine()).text(),
              "2026-12-07 14:00:00 is 2 hours from this clock; not set: no second server agrees "
              "(MaxChange 1000 s)");
    // Yes sets the server's time.
    platform.queueAnswer(platform::kIdYes);
    click(form->setTimeItem());
    ASSERT_EQ(settingsMade(), 1u);
    EXPECT_EQ(platform.fakeClock().now().hour, 14);
}

TEST_F(LargeChangeTest, OneShotAndResidentModesNeverAskAndTheTrayNotifiesOnce) {
    platform.trayAvailable = true;
    configure(kPrimary, "1");
    start("/SERVER /MIN");
    for (int i = 0; i < 3; ++i) platform.advance(kMinute);
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(settingsMade(), 0u);
    ASSERT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.notifications[0].title,
              "The clock was not set: the change needs a second opinion");
    EXPECT_NE(platform.notifications[0].text.find("is 2 hours from this clock"), std::string::npos);
    EXPECT_EQ(platform.trays.front()->state, platform::TrayState::Failed);
}

TEST_F(LargeChangeTest, QueryModeSaysWhichLinesWouldNeedASecondOpinion) {
    platform.store().seed("Server2", testing::kBackup);
    platform.store().seed("Protocol2", "NTP");
    tempikon::testing::FakeNtpServer near;
    near.platform = &platform;
    near.aheadMicros = 300'000'000;  // 5 minutes: within MaxChange
    platform.scriptUdp(testing::kBackup, near.responder());
    // The primary answers: only its line is written; then it is silent.
    EXPECT_EQ(RunQueryMode(platform), kExitOk);
    ASSERT_EQ(platform.output.size(), 1u);
    const std::string suffix =
        "; needs a second opinion (2 hours from this clock, MaxChange 1000 s)";
    EXPECT_TRUE(platform.output[0].ends_with(suffix)) << platform.output[0];

    platform.output.clear();
    platform.scriptUdp(kPrimary, [](const std::string&) { return std::vector<fake::UdpReply>{}; });
    EXPECT_EQ(RunQueryMode(platform), kExitOk);
    ASSERT_EQ(platform.output.size(), 2u);
    EXPECT_EQ(platform.output[0], "primary.test: no time");
    EXPECT_EQ(platform.output[1].find("needs a second opinion"), std::string::npos)
        << platform.output[1];
    // MaxChange 0: no line needs one.
    platform.output.clear();
    platform.store().seed("MaxChange", "0");
    platform.scriptUdp(kPrimary, server.responder());
    EXPECT_EQ(RunQueryMode(platform), kExitOk);
    ASSERT_EQ(platform.output.size(), 1u);
    EXPECT_EQ(platform.output[0].find("second opinion"), std::string::npos);
}

}  // namespace
}  // namespace tempikon::app
