#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/plan.h"
#include "core/set_clock.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_timedate_client.h"
#include "tests/dbus/private_bus.h"

namespace tempikon::qt {
namespace {

using dbustest::PrivateBus;
using dbustest::SetTimeCall;

class LocalZone : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void use(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(LocalZone, TheSystemZoneRulesGiveTheInstantsOfALocalTime) {
    // Berlin's rules written out, so that no zone database is needed.
    const char* const berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    const std::int64_t hour = 3'600'000'000LL;
    struct Case {
        const char* zone;
        int y, m, d, secondsOfDay;
        std::vector<std::int64_t> utcHours;  // hours since that day's 00:00 UTC
    };
    const Case cases[] = {
        {"UTC0", 2026, 12, 7, 12 * 3600, {12}},
        {"EST5", 2026, 12, 7, 0, {5}},
        {berlin, 2026, 12, 7, 12 * 3600, {11}},
        {berlin, 2026, 7, 1, 12 * 3600, {10}},
        // The hour repeated in autumn: both passes, summer time first.
        {berlin, 2026, 10, 25, 2 * 3600 + 1800, {0, 1}},
        // The hour skipped in spring: the winter offset, landing on 03:30.
        {berlin, 2026, 3, 29, 2 * 3600 + 1800, {1}},
    };
    const QtClock clock;
    for (const Case& c : cases) {
        use(c.zone);
        const std::int64_t day = platform::DaysFromCivil(c.y, c.m, c.d);
        std::vector<std::int64_t> expected;
        for (const std::int64_t h : c.utcHours)
            expected.push_back(day * 86'400'000'000LL + h * hour +
                               (c.secondsOfDay % 3600) * 1'000'000LL);
        EXPECT_EQ(core::LocalInstants(clock, day, c.secondsOfDay), expected)
            << c.zone << " " << c.m << "/" << c.d;
    }
}

TEST(TimedateErrorReason, MapsKnownErrorsToShortTexts) {
    struct Case {
        const char* name;
        const char* message;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"org.freedesktop.timedate1.AutomaticTimeSyncEnabled",
         "Automatic time synchronization is enabled", kReasonAutoSync},
        {"org.freedesktop.DBus.Error.AccessDenied", "Permission denied", kReasonNotAuthorised},
        {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
         "Interactive "
         "authentication required.",
         kReasonNotAuthorised},
        {"org.freedesktop.DBus.Error.ServiceUnknown", "The name is not activatable",
         kReasonNoService},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", "", kReasonNoService},
        {"org.freedesktop.DBus.Error.NoReply", "Did not receive a reply", kReasonNoAnswer},
        // Anything else: the service's own words, on one line.
        {"org.freedesktop.DBus.Error.Failed", "Failed to set time:\n  Invalid argument  ",
         "Failed to set time: Invalid argument"},
        {"com.example.Strange", "", "com.example.Strange"},
        {"", "", "unknown error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimedateErrorReason(QString::fromUtf8(c.name), QString::fromUtf8(c.message)),
                  c.reason)
            << c.name;
    }
}

// ---- against a private bus ------------------------------------------------

class TimeServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.ok()) << bus.failure(); }

    void startService(const QString& parameters = QStringLiteral("{}")) {
        ASSERT_TRUE(bus.startTimeService(parameters)) << bus.failure();
    }

    PrivateBus bus;
};

TEST_F(TimeServiceTest, SetTimeSendsInteractiveMicrosecondsAbsoluteOrRelative) {
    startService();
    TimedateClient client;
    struct Ask {
        std::int64_t usec;
        bool relative;
    };
    const Ask asks[] = {{1'796'000'000'123'456, false},
                        {-5'000'000, false},  // before the epoch: the sign survives
                        {-26, true},          // a step back by 26 us
                        {3'600'000'001, true}};
    for (const Ask& ask : asks) {
        const auto result = client.setTime(ask.usec, ask.relative);
        EXPECT_TRUE(result.ok) << result.reason;
    }

    const auto calls = bus.setTimeCalls();
    ASSERT_EQ(calls.size(), std::size(asks));
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].usec, asks[i].usec) << i;
        EXPECT_EQ(calls[i].relative, asks[i].relative) << i;
        EXPECT_TRUE(calls[i].interactive) << i;
    }
}

TEST_F(TimeServiceTest, ServiceErrorsBecomeReasons) {
    struct Case {
        const char* error;
        const char* message;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"org.freedesktop.timedate1.AutomaticTimeSyncEnabled",
         "Automatic time synchronization is enabled", kReasonAutoSync},
        {"org.freedesktop.DBus.Error.AccessDenied", "Permission denied", kReasonNotAuthorised},
        {"org.freedesktop.DBus.Error.Failed", "Failed to set time: Device busy",
         "Failed to set time: Device busy"},
    };
    for (const auto& c : cases) {
        PrivateBus own;
        ASSERT_TRUE(own.startTimeService(
            QStringLiteral(R"({"SetTimeError": "%1",
                                                            "SetTimeMessage": "%2"})")
                .arg(QString::fromUtf8(c.error), QString::fromUtf8(c.message))))
            << own.failure();
        TimedateClient client;
        const auto result = client.setTime(1'796'000'000'000'000);
        EXPECT_FALSE(result.ok) << c.error;
        EXPECT_EQ(result.reason, c.reason) << c.error;
        EXPECT_EQ(own.setTimeCalls().size(), 1u) << c.error;
    }
}

TEST_F(TimeServiceTest, NoServiceOnTheBus) {
    TimedateClient client;
    const auto result = client.setTime(1'796'000'000'000'000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, kReasonNoService);
}

TEST_F(TimeServiceTest, NoBusAtAll) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.deadAddress().toUtf8());
    TimedateClient client;
    auto result = client.setTime(1'796'000'000'000'000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, kReasonNoService);

    // The bus comes up later: the same client reaches it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
    startService();
    result = client.setTime(1'796'000'000'000'000);
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(bus.setTimeCalls().size(), 1u);
}

TEST_F(TimeServiceTest, ReconnectsAfterTheBusRestarted) {
    TimedateClient client;
    {
        PrivateBus first;
        ASSERT_TRUE(first.startTimeService()) << first.failure();
        EXPECT_TRUE(client.setTime(1'796'000'000'000'000).ok);
    }
    PrivateBus second;
    ASSERT_TRUE(second.startTimeService()) << second.failure();
    const auto result = client.setTime(1'796'000'001'000'000);
    EXPECT_TRUE(result.ok) << result.reason;
    const auto calls = second.setTimeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].usec, 1'796'000'001'000'000);
}

TEST_F(TimeServiceTest, EventsFlowWhileTheServiceTakesItsTime) {
    startService(QStringLiteral(R"({"SetTimeDelay": 1.0})"));
    TimedateClient client;
    int ticks = 0;
    QTimer window;  // stands for the window's repaints and timers
    QObject::connect(&window, &QTimer::timeout, [&ticks] { ++ticks; });
    window.start(10);
    const auto result = client.setTime(1'796'000'000'000'000);
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_GT(ticks, 0);
}

TEST_F(TimeServiceTest, ServiceThatDoesNotAnswerInTime) {
    startService(QStringLiteral(R"({"SetTimeDelay": 5.0})"));
    TimedateClient client(200);
    const auto result = client.setTime(1'796'000'000'000'000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, kReasonNoAnswer);
}

}  // namespace
}  // namespace tempikon::qt

namespace tempikon::qt {
namespace {

TEST_F(TimeServiceTest, ReadsWhetherTheSystemsAutomaticTimeIsOn) {
    for (const bool on : {true, false}) {
        PrivateBus own;
        ASSERT_TRUE(own.startTimeService(on ? QStringLiteral(R"({"NTP": true})")
                                            : QStringLiteral(R"({"NTP": false})")))
            << own.failure();
        TimedateClient client;
        const platform::TimeSyncState state = client.automaticTime();
        EXPECT_TRUE(state.known);
        EXPECT_EQ(state.on, on);
        EXPECT_TRUE(state.canChange);
    }
    // Nobody on the bus answers for the service: nothing is known.
    PrivateBus empty;
    TimedateClient client;
    EXPECT_FALSE(client.automaticTime().known);
}

TEST(RunningTimeDaemon, FindsDaemonsThatSetTheClock) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> processes;  // comm, cmdline
        std::string daemon;
    } cases[] = {
        {"none", {{"bash", "bash"}, {"Xvfb", "Xvfb\0:1"}}, ""},
        {"chronyd", {{"bash", "bash"}, {"chronyd", std::string("chronyd\0-F\0-1", 13)}}, "chronyd"},
        // A test server that never touches the clock.
        {"chronyd -x", {{"chronyd", std::string("chronyd\0-x\0-f\0c.conf", 21)}}, ""},
        {"ntpd", {{"ntpd", "ntpd"}}, "ntpd"},
        {"timesyncd", {{"systemd-timesyn", "/lib/systemd/systemd-timesyncd"}}, "systemd-timesyncd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir proc;
        ASSERT_TRUE(proc.isValid());
        QDir(proc.path()).mkdir(QStringLiteral("self"));
        int pid = 100;
        for (const auto& [comm, cmdline] : c.processes) {
            const QString dir = proc.filePath(QString::number(pid++));
            QDir().mkdir(dir);
            QFile commFile(dir + QStringLiteral("/comm"));
            ASSERT_TRUE(commFile.open(QIODevice::WriteOnly));
            commFile.write(QByteArray::fromStdString(comm + "\n"));
            QFile cmdFile(dir + QStringLiteral("/cmdline"));
            ASSERT_TRUE(cmdFile.open(QIODevice::WriteOnly));
            cmdFile.write(QByteArray(cmdline.data(), static_cast<int>(cmdline.size())));
        }
        EXPECT_EQ(RunningTimeDaemon(proc.path().toStdString()), c.daemon);
    }
}

}  // namespace
}  // namespace tempikon::qt
