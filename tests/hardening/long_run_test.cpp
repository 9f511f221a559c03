// Resident mode for 30 simulated days at an interval of one minute: servers
// that answer, fail, stay silent or send rubbish at random; the configuration
// dialog opened, checked, confirmed and cancelled at random; "Set time" from
// the menu at random. The schedule is modelled here on its own and compared
// tick by tick; what the program holds must not grow.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "app/main_window.h"
#include "core/query/daytime_exchange.h"
#include "core/set_clock.h"
#include "core/time_text.h"
#include "tests/fake/fake_platform.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count: under it, malloc's figures say nothing.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tempikon::app {
namespace {

using fake::FakeButton;
using fake::FakeLabel;
using fake::FakeMenuItem;
using fake::FakeTextField;
using fake::FakeTimer;
using fake::FakeWindow;
using fake::PeerScript;

constexpr long long kMinute = 60'000;
constexpr int kDays = 30;
constexpr const char* kPrimary = "primary.test";
constexpr const char* kBackup = "backup.test";

// What one server does with the next query.
enum class Peer { Valid, Invalid, NoColon, Error, Silent };

struct Plan {
    Peer primary = Peer::Valid;
    Peer backup = Peer::Valid;
    int replySeconds = 0;  // time of day the servers report
    long long delayMs = 0;
};

// Bytes the program holds on the heap.
std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
    return mallinfo2().uordblks;
#else
    // No heap figure from this C library (Windows): the counts still hold.
    return 0;
#endif
}

struct Snapshot {
    std::size_t windows, pendingEvents, listeners;
    int tcpClients, timers;
};

// Keeps hold of the main window's timers, to empty their records.
class LongRunPlatform : public fake::FakePlatform {
public:
    std::unique_ptr<platform::Timer> createTimer() override {
        auto timer = FakePlatform::createTimer();
        if (mainTimers.size() < 2) mainTimers.push_back(&fake::as<FakeTimer>(*timer));
        return timer;
    }
    std::vector<FakeTimer*> mainTimers;  // the query time-out and the minute tick
};

class LongRun : public ::testing::Test {
protected:
    LongRunPlatform platform;
    std::unique_ptr<MainWindow> form;
    std::mt19937 random{20261207};

    Plan plan;
    std::int32_t modelMinutesLeft = 0;
    int ticks = 0, settingsDue = 0, postponed = 0;
    int outcomes[3] = {0, 0, 0};  // set, unreachable, invalid

    int chance(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    static std::string replyFor(Peer peer, int seconds) {
        switch (peer) {
            case Peer::Valid:
                return "Mon Dec  7 " + core::FormatTimeOfDay(seconds) + " 2026\r\n";
            case Peer::Invalid:
                return "ab:cd:ef\r\n";
            case Peer::NoColon:
                return "no time here\r\n";
            default:
                return {};
        }
    }

    static PeerScript scriptFor(Peer peer, long long delayMs, int seconds) {
        switch (peer) {
            case Peer::Error:
                return PeerScript().error(delayMs);
            case Peer::Silent:
                return PeerScript();
            default:
                return PeerScript().reply(delayMs, replyFor(peer, seconds));
        }
    }

    void newPlan() {
        const Peer kinds[] = {Peer::Valid,   Peer::Valid, Peer::Valid, Peer::Invalid,
                              Peer::NoColon, Peer::Error, Peer::Silent};
        plan.primary = kinds[chance(7)];
        plan.backup = kinds[chance(7)];
        plan.replySeconds = chance(86'400);
        plan.delayMs = chance(2500);
        platform.script(kPrimary, scriptFor(plan.primary, plan.delayMs, plan.replySeconds));
        platform.script(kBackup, scriptFor(plan.backup, plan.delayMs, plan.replySeconds));
    }

    // The tick as designed, computed from what the test knows.
    void checkTick(const std::function<void()>& tick) {
        const bool shown = form->configDialogShown();
        const bool busy = form->query().isBusy();
        const auto primaryQueries = [&] {
            return std::count(platform.connections.begin(), platform.connections.end(), kPrimary);
        };
        const long queriesBefore = primaryQueries();
        const std::size_t settingsBefore = platform.fakeClock().settings.size();
        const std::string outcomeBefore = form->outcomeLine().text();

        tick();
        ++ticks;

        if (modelMinutesLeft > INT32_MIN) --modelMinutesLeft;
        const bool due = !shown && modelMinutesLeft < 1 && !busy;
        if (shown && modelMinutesLeft < 1) ++postponed;
        ASSERT_EQ(primaryQueries() - queriesBefore, due ? 1 : 0) << "tick " << ticks;
        // Never above the largest interval, never wrapped round.
        ASSERT_LE(form->minutesLeft(), 3) << "tick " << ticks;
        ASSERT_GT(form->minutesLeft(), -kDays * 24 * 60) << "tick " << ticks;
        if (!due) {
            ASSERT_EQ(platform.fakeClock().settings.size(), settingsBefore) << "tick " << ticks;
            ASSERT_EQ(form->outcomeLine().text(), outcomeBefore) << "tick " << ticks;
            ASSERT_EQ(form->minutesLeft(), modelMinutesLeft) << "tick " << ticks;
            return;
        }
        ++settingsDue;
        modelMinutesLeft = form->config().interval;
        ASSERT_EQ(form->minutesLeft(), modelMinutesLeft) << "tick " << ticks;
        ASSERT_GE(form->minutesLeft(), 1);
        ASSERT_LE(form->minutesLeft(), 3);
        checkOutcome(settingsBefore);
    }

    void checkOutcome(std::size_t settingsBefore) {
        const bool primaryEmpty = plan.primary != Peer::Valid && plan.primary != Peer::Invalid;
        const Peer answered = primaryEmpty ? plan.backup : plan.primary;
        const std::string serverLine = primaryEmpty ? std::string(kBackup) + " (Backup)" : kPrimary;
        ASSERT_EQ(form->serverLine().text(), serverLine) << "tick " << ticks;
        const auto& settings = platform.fakeClock().settings;
        if (answered == Peer::Valid) {
            ++outcomes[0];
            const int offsetMinutes = primaryEmpty ? -30 : 60;
            const int expected = (plan.replySeconds + offsetMinutes * 60 + 86'400) % 86'400;
            ASSERT_EQ(settings.size(), settingsBefore + 1) << "tick " << ticks;
            const auto& s = settings.back();
            // Set into the middle of the second plus half the round trip.
            const int set = s.hour * 3600 + s.minute * 60 + s.second;
            ASSERT_TRUE(set == expected || set == (expected + 1) % 86'400)
                << set << " for " << expected << ", tick " << ticks;
            ASSERT_EQ(form->outcomeLine().text().rfind(
                          "Time set to " + core::FormatTimeOfDay(expected) + " d=", 0),
                      0u)
                << form->outcomeLine().text();
            return;
        }
        ASSERT_EQ(settings.size(), settingsBefore) << "tick " << ticks;
        if (answered == Peer::Invalid) {
            ++outcomes[2];
            ASSERT_EQ(form->outcomeLine().text(), "Invalid data received");
        } else {
            ++outcomes[1];
            ASSERT_EQ(form->outcomeLine().text(), "Couldn't reach timeserver(s)");
        }
    }

    // Something the user does at a random moment of the coming minute.
    void scheduleUserAction() {
        const long long at = chance(static_cast<int>(kMinute));
        const int roll = chance(80);
        if (roll == 0) {
            platform.after(at,
                           [this] { fake::as<FakeMenuItem>(form->configurationItem()).click(); });
        } else if (roll == 1) {
            platform.after(at, [this] { fake::as<FakeMenuItem>(form->setTimeItem()).click(); });
        } else if (roll < 8) {
            platform.after(at, [this] { actOnDialog(); });
        }
    }

    void actOnDialog() {
        settings_dialog::ConfigDialog* dialog = form->configDialog();
        if (!dialog || !dialog->isShown()) return;
        auto button = [](platform::Button& b) { fake::as<FakeButton>(b).click(); };
        switch (chance(5)) {
            case 0:
                button(dialog->checkAllButton());  // Check all: waits for every listed server
                break;
            case 1: {
                // OK with a new interval, which applies from the next reload.
                fake::as<FakeTextField>(dialog->intervalField())
                    .type(std::to_string(1 + chance(3)));
                button(dialog->okButton());
                break;
            }
            case 2:
                fake::as<FakeWindow>(dialog->window()).userClose();
                break;
            default:
                button(dialog->cancelButton());  // Cancel
                break;
        }
    }

    Snapshot snapshot() {
        return {platform.windows.size(), platform.pendingEventCount(),
                form->query().busyListenerCount(), platform.openTcpClients, platform.openTimers};
    }

    // Records kept only for tests, emptied and given back to the heap;
    // everything else must stay as it is.
    template <typename T>
    static void release(std::vector<T>& records) {
        std::vector<T>().swap(records);
    }
    void forgetRecords() {
        release(platform.connections);
        release(platform.output);
        release(platform.errors);
        release(platform.fakeClock().settings);
        release(platform.fakeClock().steps);
        release(platform.boxes);
        release(platform.filesRead);
        release(platform.store().writtenKeys);
        release(fake::as<FakeLabel>(form->serverLine()).history);
        release(fake::as<FakeLabel>(form->outcomeLine()).history);
        release(fake::as<FakeLabel>(form->reasonLine()).history);
        release(fake::as<FakeLabel>(form->othersLine()).history);
        release(fake::as<FakeLabel>(form->lastSetLine()).history);
        release(fake::as<FakeLabel>(form->nextSettingLine()).history);
        for (FakeTimer* timer : platform.mainTimers) release(timer->intervalHistory);
    }
};

TEST_F(LongRun, ThirtyDaysAtIntervalOne) {
    platform.store().seed("Server", kPrimary);
    platform.store().seed("Server2", kBackup);
    platform.store().seed("Offset", "1");
    platform.store().seed("Offset2", "-0.5");
    platform.store().seed("Timeout", "3");
    platform.store().seed("Interval", "1");
    // Listed servers stay silent: a check of all of them takes 9 s.
    platform.files["timeservers.dat"] =
        "XX list-a.test  one\r\nXX list-b.test  two\r\nXX list-c.test  three\r\n";
    platform.commandLineText = "/SERVER /MIN";
    // Every setting is recorded, but the fake's disk keeps nothing: a file of
    // thousands of lines in the test's memory would hide the program's own.
    platform.history().keepText = false;

    newPlan();
    form = std::make_unique<MainWindow>(platform);
    form->start();
    // The start-up's own setting asked the primary first.
    ASSERT_FALSE(platform.connections.empty());
    ASSERT_EQ(platform.connections.front(), kPrimary);
    modelMinutesLeft = form->config().interval;
    ASSERT_EQ(form->minutesLeft(), modelMinutesLeft);

    auto& minuteTimer = fake::as<FakeTimer>(form->minuteTimer());
    const auto tick = minuteTimer.onTimer;
    minuteTimer.onTimer = [&] { checkTick(tick); };

    std::optional<Snapshot> first;
    std::size_t firstHeap = 0;
    const long long end = platform.nowMs() + kDays * 24 * 60 * kMinute;
    int day = 0;
    while (platform.nowMs() < end) {
        newPlan();
        scheduleUserAction();
        const int before = ticks;
        platform.advance(kMinute);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_LE(ticks - before, 1) << "two ticks within a minute";
        ASSERT_FALSE(form->hasEnded());

        if (platform.nowMs() / (24 * 60 * kMinute) == day) continue;
        ++day;
        // Compare at day ends with the dialog closed and nothing waiting.
        if (form->configDialog() || form->query().isBusy()) continue;
        forgetRecords();
        const Snapshot now = snapshot();
        const std::size_t heap = HeapInUse();
        if (!first) {
            first = now;
            firstHeap = heap;
            continue;
        }
        EXPECT_EQ(now.windows, first->windows) << "day " << day;
        EXPECT_EQ(now.tcpClients, first->tcpClients) << "day " << day;
        EXPECT_EQ(now.timers, first->timers) << "day " << day;
        EXPECT_EQ(now.listeners, first->listeners) << "day " << day;
        EXPECT_LE(now.pendingEvents, first->pendingEvents + 8) << "day " << day;
        // The allocator's own bookkeeping moves by a few KiB; a leak of one
        // allocation per tick would add 1440 allocations a day.
        EXPECT_LE(heap, firstHeap + 16 * 1024) << "day " << day;
    }

    EXPECT_GE(day, kDays);
    // The settings were recorded (the dialogs the test opens hold many back).
    EXPECT_GT(platform.history().appends, kDays * 24 * 60 / 2);
    EXPECT_LE(form->query().lastAnswer().reply.size(), core::kMaxReplyBytes);
    // Every kind of outcome, and postponed settings, came up.
    EXPECT_GT(outcomes[0], 10'000);
    EXPECT_GT(outcomes[1], 1'000);
    EXPECT_GT(outcomes[2], 1'000);
    EXPECT_GT(postponed, 100);
    EXPECT_GT(ticks, 40'000);
    std::printf("%d ticks, %d settings (%d set, %d unreachable, %d invalid), %d postponed\n", ticks,
                settingsDue, outcomes[0], outcomes[1], outcomes[2], postponed);
    RecordProperty("ticks", ticks);
    RecordProperty("settings_due", settingsDue);
}

}  // namespace
}  // namespace tempikon::app
