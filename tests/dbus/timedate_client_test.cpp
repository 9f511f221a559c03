#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

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

TEST_F(LocalZone, TodayAtLocalTimeIsThatTimeOnTheLocalDate) {
    // Fixed-offset zones: UTC, five hours behind, ten and a half ahead.
    for (const char* zone : {"UTC0", "EST5", "ACST-10:30"}) {
        use(zone);
        for (int secondsOfDay : {0, 45 * 60 + 10, 12 * 3600, 23 * 3600 + 59 * 60 + 59}) {
            const int h = secondsOfDay / 3600, m = secondsOfDay / 60 % 60, s = secondsOfDay % 60;
            const std::time_t before = std::time(nullptr);
            const auto usec = TodayAtLocalTimeUsec(h, m, s);
            const std::time_t after = std::time(nullptr);
            ASSERT_TRUE(usec.has_value());
            EXPECT_EQ(*usec % 1000000, 0);
            const std::time_t when = static_cast<std::time_t>(*usec / 1000000);
            std::tm got{}, today{}, todayAfter{};
            localtime_r(&when, &got);
            localtime_r(&before, &today);
            localtime_r(&after, &todayAfter);
            EXPECT_EQ((got.tm_hour * 60 + got.tm_min) * 60 + got.tm_sec, secondsOfDay) << zone;
            // The local date of the call (either side of a midnight during it).
            const bool sameDay =
                (got.tm_year == today.tm_year && got.tm_yday == today.tm_yday) ||
                (got.tm_year == todayAfter.tm_year && got.tm_yday == todayAfter.tm_yday);
            EXPECT_TRUE(sameDay) << zone << " " << secondsOfDay;
        }
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

TEST_F(TimeServiceTest, SetTimeSendsAbsoluteInteractiveMicroseconds) {
    startService();
    TimedateClient client;
    const std::int64_t first = 1'796'000'000'123'456;
    const std::int64_t second = -5'000'000;  // before the epoch: the sign survives
    EXPECT_TRUE(client.setTime(first).ok);
    const auto result = client.setTime(second);
    EXPECT_TRUE(result.ok) << result.reason;

    const auto calls = bus.setTimeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].usecUtc, first);
    EXPECT_EQ(calls[1].usecUtc, second);
    for (const SetTimeCall& call : calls) {
        EXPECT_FALSE(call.relative);
        EXPECT_TRUE(call.interactive);
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
    EXPECT_EQ(calls[0].usecUtc, 1'796'000'001'000'000);
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
