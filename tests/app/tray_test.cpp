// Resident mode in the tray: when the icon is used, what its menu does, what
// it and the window say about the last and next setting, and when it
// notifies. On the fake platform, with and without a tray.
#include "tests/app/app_fixture.h"

namespace tempikon::app::testing {
namespace {

using fake::FakeTray;
using fake::PeerScript;
using Notice = NoticeRule::Notice;
using core::SetOutcome;

constexpr long long kMinute = 60000;

TEST(NoticeRuleTest, NotifiesTheFirstFailureAfterASuccessAndTheRecovery) {
    const SetOutcome S = SetOutcome::Set, U = SetOutcome::Unreachable, I = SetOutcome::InvalidData,
                     R = SetOutcome::Refused, K = SetOutcome::Skipped;
    const Notice n = Notice::None, F = Notice::Failed, OK = Notice::Recovered;
    const struct {
        const char* name;
        std::vector<SetOutcome> outcomes;
        std::vector<Notice> notices;
    } cases[] = {
        {"all well", {S, S, S}, {n, n, n}},
        {"never set: the icon says it", {U, I, R, U}, {n, n, n, n}},
        {"first success after failing from the start", {U, U, S}, {n, n, n}},
        {"one notice for a run of failures", {S, U, U, I, R}, {n, F, n, n, n}},
        {"and one when it works again", {S, U, U, S, S}, {n, F, n, OK, n}},
        {"every kind of failure counts", {S, R, S, I, S}, {n, F, OK, F, OK}},
        {"a skipped setting changes nothing", {S, K, U, K, S}, {n, n, F, n, OK}},
    };
    for (const auto& c : cases) {
        NoticeRule rule;
        std::vector<Notice> notices;
        for (SetOutcome o : c.outcomes) notices.push_back(rule.after(o));
        EXPECT_EQ(notices, c.notices) << c.name;
    }
}

TEST(DateTimeTest, FormatsWithLeadingZeros) {
    EXPECT_EQ(FormatDateTime({2026, 3, 7, 4, 5, 6, 999}), "2026-03-07 04:05:06");
    EXPECT_EQ(FormatDateTime({10000, 12, 31, 23, 59, 59, 0}), "10000-12-31 23:59:59");
}

struct TrayTest : AppFixture {
    FakeTray& tray() {
        EXPECT_EQ(platform.trays.size(), 1u);
        return *platform.trays.front();
    }
    void clickTray(const std::string& caption) {
        fake::FakeMenuItem* item = tray().item(caption);
        ASSERT_NE(item, nullptr) << caption;
        item->click();
    }
};

TEST_F(TrayTest, ServerMinStartsInTheTrayAndTheMenuRunsTheProgram) {
    platform.trayAvailable = true;
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    start("/SERVER /MIN");

    ASSERT_NE(form->tray(), nullptr);
    EXPECT_TRUE(tray().shown);
    // Never on the screen, so no taskbar entry either.
    EXPECT_FALSE(win().firstShownAt.has_value());
    EXPECT_FALSE(win().isVisible());
    EXPECT_EQ(tray().state, platform::TrayState::Ok);
    std::vector<std::string> captions;
    for (const auto& item : tray().items) captions.push_back(item->caption());
    EXPECT_EQ(captions, (std::vector<std::string>{"&Set time", "&Configuration", "&History",
                                                  "Show &window", "&Quit"}));

    // Set time: one more setting, made at once.
    platform.script(kPrimary, PeerScript().reply(10, kReply));
    clickTray("&Set time");
    EXPECT_EQ(settingsMade(), 2u);

    clickTray("Show &window");
    EXPECT_TRUE(win().isVisible());
    EXPECT_FALSE(win().minimised);
    // Minimising puts it back into the tray; a click on the icon brings it back.
    win().userMinimise();
    EXPECT_FALSE(win().isVisible());
    EXPECT_EQ(win().timesHidden, 1);
    tray().activate();
    EXPECT_TRUE(win().isVisible());

    clickTray("&Configuration");
    ASSERT_NE(form->configDialog(), nullptr);
    EXPECT_TRUE(form->configDialog()->isShown());

    clickTray("&Quit");
    EXPECT_TRUE(form->hasEnded());
    EXPECT_TRUE(platform.quitRequested);
    EXPECT_FALSE(tray().shown);
}

TEST_F(TrayTest, WithoutATrayOrOutsideResidentModeTheWindowIsAsBefore) {
    const struct {
        const char* commandLine;
        bool trayAvailable;
        bool minimised;
    } cases[] = {
        {"/SERVER /MIN", false, true},
        {"/SERVER", false, false},
        {"/MIN", true, true},
        {"", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        fake::FakePlatform p;
        p.trayAvailable = c.trayAvailable;
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, PeerScript().reply(50, kReply));
        p.commandLineText = c.commandLine;
        MainWindow f(p);
        f.start();
        EXPECT_EQ(f.tray(), nullptr);
        for (FakeTray* t : p.trays) EXPECT_FALSE(t->shown);
        fake::FakeWindow& w = fake::as<fake::FakeWindow>(f.window());
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.minimisedWhenFirstShown, c.minimised);
        // Minimising stays minimising: there is no icon to come back from.
        w.userMinimise();
        EXPECT_EQ(w.timesHidden, 0);
    }
}

TEST_F(TrayTest, NotifiesWhenSettingsStartFailingAndWhenTheyWorkAgain) {
    platform.trayAvailable = true;
    configure(kPrimary, "1");
    platform.store().seed("Timeout", "5");
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    start("/SERVER /MIN");
    EXPECT_TRUE(platform.notifications.empty());

    // Three failed ticks, then one that works again.
    platform.script(kPrimary, PeerScript().error(20));
    std::vector<platform::TrayState> states;
    for (int i = 1; i <= 4; ++i) {
        if (i == 4) platform.script(kPrimary, PeerScript().reply(20, kReply));
        platform.advance(kMinute);
        states.push_back(tray().state);
    }
    using platform::TrayState;
    EXPECT_EQ(states, (std::vector<TrayState>{TrayState::Failed, TrayState::Failed,
                                              TrayState::Failed, TrayState::Ok}));
    ASSERT_EQ(platform.notifications.size(), 2u);
    EXPECT_EQ(platform.notifications[0].title, "The clock could not be set");
    // The balloon says why.
    EXPECT_EQ(platform.notifications[0].text,
              "Couldn't reach timeserver(s)\nprimary.test: connection refused");
    EXPECT_EQ(platform.notifications[1].title, "The clock is set again");
    EXPECT_EQ(platform.notifications[1].text.rfind("Time set to ", 0), 0u);
    EXPECT_LT(platform.notifications[0].atMs, 2 * kMinute);
    EXPECT_GT(platform.notifications[1].atMs, 4 * kMinute);
}

TEST_F(TrayTest, WindowAndToolTipSayWhatIsAskedWhatWasSetAndWhatComesNext) {
    platform.trayAvailable = true;
    configure(kPrimary, "30");
    platform.store().seed("Server2", kBackup);
    platform.store().seed("Timeout", "5");
    // The primary fails, the backup answers after a second.
    platform.script(kPrimary, PeerScript().error(20));
    platform.script(kBackup, PeerScript().reply(1000, kReply));
    std::string outcomeWhileAsking, tipWhileAsking;
    platform.at(500, [&] {
        outcomeWhileAsking = form->outcomeLine().text();
        tipWhileAsking = tray().tip;
    });
    start("/SERVER");

    EXPECT_EQ(outcomeWhileAsking, "Asking the timeserver...");
    EXPECT_EQ(tipWhileAsking, "Tempikon 1.2");
    // The server's 12:00:30 came a second late: the clock then reads 12:00:31,
    // and the next setting is 30 minutes on.
    EXPECT_EQ(form->outcomeLine().text(), "Time set to 12:00:30 d=30s");
    EXPECT_EQ(form->lastSetLine().text(), "Last set: 2026-12-07 12:00:31");
    EXPECT_EQ(form->nextSettingLine().text(), "Next setting: 2026-12-07 12:30:31");
    EXPECT_EQ(tray().tip,
              "Tempikon 1.2\n"
              "Time set to 12:00:30 d=30s\n"
              "Last set: 2026-12-07 12:00:31 from backup.test\n"
              "Next setting: 2026-12-07 12:30:31");

    // A failed setting: its outcome is current, the last success stays.
    platform.script(kBackup, PeerScript().error(20));
    platform.advance(30 * kMinute);
    EXPECT_EQ(form->outcomeLine().text(), "Couldn't reach timeserver(s)");
    EXPECT_EQ(form->lastSetLine().text(), "Last set: 2026-12-07 12:00:31");
    EXPECT_EQ(form->nextSettingLine().text(), "Next setting: 2026-12-07 13:00:31");
    EXPECT_EQ(tray().tip,
              "Tempikon 1.2\n"
              "Couldn't reach timeserver(s)\n"
              "primary.test: connection refused\n"
              "Last set: 2026-12-07 12:00:31 from backup.test\n"
              "Next setting: 2026-12-07 13:00:31");
}

}  // namespace
}  // namespace tempikon::app::testing
