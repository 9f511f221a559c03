// The whole road of a setting on Linux without the right to set the clock:
// Daytime server, query, offset, the program's clock, the time service on a
// private bus, and the status line.
#include <gtest/gtest.h>

#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_timedate_client.h"
#include "test_addresses.h"
#include "tests/dbus/dbus_env.h"
#include "tests/dbus/private_bus.h"
#include "tests/support/ask.h"
#include "tests/support/daytime_server.h"
#include "tests/support/setting_run.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon::dbustest {
namespace {

using testsupport::DaytimeServer;
using testsupport::ServerMode;

class TextLabel : public platform::Label {
public:
    void setEnabled(bool) override {}
    bool isEnabled() const override { return true; }
    void setText(const std::string& t) override { history.push_back(t); }
    std::string text() const override { return history.empty() ? "" : history.back(); }
    void setTextColour(platform::Colour) override {}
    platform::Colour textColour() const override { return 0; }
    void setToolTip(const std::string&) override {}
    std::string toolTip() const override { return {}; }
    void setHidden(bool) override {}
    bool isHidden() const override { return false; }
    std::vector<std::string> history;
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class ClockSettingTest : public ::testing::Test {
protected:
    ClockSettingTest() {
        config.timeout = 10;
        config.interval = 30;
    }
    void SetUp() override { ASSERT_TRUE(bus.ok()) << bus.failure(); }

    // A step by an offset that lands on the instant nearest the clock at
    // that local time (within the second the program aims into), counted
    // from the clock when the service had the call.
    void expectNearest(const SetTimeCall& call, int h, int m, int s) {
        EXPECT_TRUE(call.relative);
        const std::int64_t usec = call.stampMicros + call.usec;
        const platform::LocalDateTime local = qt::QtClock().localAt(usec);
        EXPECT_EQ((local.hour * 60 + local.minute) * 60 + local.second, (h * 60 + m) * 60 + s);
        const std::int64_t away = usec - qt::systemNowMicros();
        EXPECT_LE(away < 0 ? -away : away, 12 * 3600 * 1'000'000LL + 60'000'000LL);
    }

    PrivateBus bus;
    core::Config config;
    core::ServerQuery query{platform()};
    TextLabel serverLine;
    TextLabel outcomeLine;
    core::ClockSetter setter{platform(), query};
    core::SetOutcome runSetting() {
        return tempikon::testing::RunSetting(setter, config, platform(), serverLine, outcomeLine);
    }
};

TEST_F(ClockSettingTest, AcrossMidnightTheServiceGetsTheNearestInstantAtTheWrappedTime) {
    ASSERT_TRUE(bus.startTimeService()) << bus.failure();
    auto server = DaytimeServer::replying(addresses::dbus.at(0), "Sun Dec  6 23:45:10 2026\r\n");
    config.primary().host = addresses::dbus.at(0);
    config.primary().offsetHours = 1;

    EXPECT_EQ(runSetting(), core::SetOutcome::Set);

    const auto calls = bus.setTimeCalls();
    ASSERT_EQ(calls.size(), 1u);
    expectNearest(calls[0], 0, 45, 10);
    EXPECT_TRUE(calls[0].interactive);
    EXPECT_EQ(serverLine.history, std::vector<std::string>{addresses::dbus.at(0)});
    EXPECT_TRUE(startsWith(outcomeLine.text(), "Time set to 00:45:10 d=")) << outcomeLine.text();
}

TEST_F(ClockSettingTest, BackupOffsetAppliesToTheServiceCall) {
    ASSERT_TRUE(bus.startTimeService()) << bus.failure();
    auto primary = DaytimeServer::inMode(addresses::dbus.at(1), ServerMode::Refused);
    auto backup = DaytimeServer::replying(addresses::dbus.at(2), "10:00:00\r\n");
    config.primary().host = addresses::dbus.at(1);
    config.backup().host = addresses::dbus.at(2);
    config.primary().offsetHours = 1;
    config.backup().offsetHours = -2.5f;

    EXPECT_EQ(runSetting(), core::SetOutcome::Set);

    const auto calls = bus.setTimeCalls();
    ASSERT_EQ(calls.size(), 1u);
    expectNearest(calls[0], 7, 30, 0);
    EXPECT_EQ(serverLine.text(), std::string(addresses::dbus.at(2)) + " (Backup)");
    EXPECT_TRUE(startsWith(outcomeLine.text(), "Time set to 07:30:00 d=")) << outcomeLine.text();
}

TEST_F(ClockSettingTest, ServiceRefusalReachesTheStatusLine) {
    ASSERT_TRUE(bus.startTimeService(QStringLiteral(
        R"({"SetTimeError": "org.freedesktop.timedate1.AutomaticTimeSyncEnabled",
            "SetTimeMessage": "Automatic time synchronization is enabled"})")))
        << bus.failure();
    auto server = DaytimeServer::replying(addresses::dbus.at(3), "12:00:00\r\n");
    config.primary().host = addresses::dbus.at(3);

    EXPECT_EQ(runSetting(), core::SetOutcome::Refused);
    EXPECT_EQ(bus.setTimeCalls().size(), 1u);
    EXPECT_EQ(outcomeLine.history,
              std::vector<std::string>{
                  "Couldn't set system clock: automatic time synchronisation is on"});
}

TEST_F(ClockSettingTest, NoTimeServiceOnTheBus) {
    auto server = DaytimeServer::replying(addresses::dbus.at(4), "12:00:00\r\n");
    config.primary().host = addresses::dbus.at(4);

    EXPECT_EQ(runSetting(), core::SetOutcome::Refused);
    // Both refusals are named, with what the user can do about them.
    const std::string text = outcomeLine.text();
    EXPECT_EQ(text.rfind("Couldn't set system clock: not permitted (run as root", 0), 0u) << text;
    EXPECT_NE(text.find("kernel: Operation not permitted"), std::string::npos) << text;
    EXPECT_NE(text.find("time service: no time service on this system"), std::string::npos) << text;
}

TEST_F(ClockSettingTest, NoSecondSettingWhileTheServiceAsks) {
    // The service takes its time, as a password prompt does; meanwhile the
    // user chooses "&Set time" again.
    ASSERT_TRUE(bus.startTimeService(QStringLiteral(R"({"SetTimeDelay": 1.5})"))) << bus.failure();
    auto server = DaytimeServer::replying(addresses::dbus.at(5), "12:00:00\r\n");
    config.primary().host = addresses::dbus.at(5);

    std::vector<core::SetOutcome> nested;
    bool queryBusyAtClick = true;
    QTimer click;
    click.setSingleShot(true);
    QObject::connect(&click, &QTimer::timeout, [&] {
        queryBusyAtClick = query.isBusy();
        nested.push_back(runSetting());
    });
    // Armed once the query has ended, so that it fires during the service's wait.
    int queryEnds = 0;
    const int id = query.addBusyListener([&] {
        if (!query.isBusy() && ++queryEnds == 1) click.start(100);
    });

    EXPECT_EQ(runSetting(), core::SetOutcome::Set);
    query.removeBusyListener(id);

    EXPECT_EQ(nested, std::vector<core::SetOutcome>{core::SetOutcome::Skipped});
    EXPECT_FALSE(queryBusyAtClick);
    EXPECT_EQ(server->connectionsAccepted(), 1);
    EXPECT_EQ(bus.setTimeCalls().size(), 1u);
    EXPECT_EQ(outcomeLine.history.size(), 1u);
}

TEST_F(ClockSettingTest, QuittingWhileTheServiceAsksEndsTheWait) {
    // The main window closes during a password prompt: the setting must give
    // up instead of keeping the closed program alive until the prompt ends.
    ASSERT_TRUE(bus.startTimeService(QStringLiteral(R"({"SetTimeDelay": 4})"))) << bus.failure();
    auto server = DaytimeServer::replying(addresses::dbus.at(6), "12:00:00\r\n");
    config.primary().host = addresses::dbus.at(6);

    QTimer closing;
    closing.setSingleShot(true);
    QObject::connect(&closing, &QTimer::timeout, [&] { platform().quit(0); });
    int queryEnds = 0;
    const int id = query.addBusyListener([&] {
        if (!query.isBusy() && ++queryEnds == 1) closing.start(100);
    });

    EXPECT_EQ(runSetting(), core::SetOutcome::Refused);
    query.removeBusyListener(id);
    EXPECT_EQ(outcomeLine.text(), "Couldn't set system clock: the time service did not answer");
}

}  // namespace
}  // namespace tempikon::dbustest
