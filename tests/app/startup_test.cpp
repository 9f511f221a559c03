// The main window as created, the start-up modes chosen by the command line,
// the one-shot run with its exit statuses, and the closing of the window.
#include <optional>

#include "tests/app/app_fixture.h"

namespace tempikon::app::testing {
namespace {

using fake::FakeWindow;
using fake::PeerScript;

TEST(SwitchPresentTest, FindsSwitchesAnywhereInAnyCase) {
    struct Case {
        const char* commandLine;
        const char* switchText;
        bool present;
    } cases[] = {
        {"/runonce", "/RUNONCE", true},
        {"  /Server  ", "/SERVER", true},
        {"/MINIMISED", "/MIN", true},
        {"/SERVERS", "/SERVER", true},
        {"/SERVER/MIN", "/MIN", true},
        {"/SERVER/MIN", "/SERVER", true},
        {"RUNONCE", "/RUNONCE", false},
        {"", "/MIN", false},
        {"/ MIN", "/MIN", false},
        {"x/miny", "/MIN", true},
        // Only ASCII letters change case: a dotless i never becomes "I".
        {"/M\xC4\xB1N", "/MIN", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SwitchPresent(c.commandLine, c.switchText), c.present)
            << c.commandLine << " / " << c.switchText;
    }
}

TEST(ExitStatusTest, OneShotOutcomes) {
    EXPECT_EQ(ExitStatusFor(core::SetOutcome::Set), 0);
    EXPECT_EQ(ExitStatusFor(core::SetOutcome::Unreachable), 1);
    EXPECT_EQ(ExitStatusFor(core::SetOutcome::InvalidData), 1);
    EXPECT_EQ(ExitStatusFor(core::SetOutcome::Skipped), 1);
    EXPECT_EQ(ExitStatusFor(core::SetOutcome::Refused), 3);
}

using MainWindowTest = AppFixture;

TEST_F(MainWindowTest, CreatedWithItsGeometryMenusAndInitialStates) {
    create("");
    FakeWindow& w = win();
    EXPECT_EQ(w.caption(), "Tempikon");
    EXPECT_EQ(w.spec.clientWidthTwips, 3855);
    EXPECT_EQ(w.spec.clientHeightTwips, 1680);
    EXPECT_TRUE(w.spec.hasBackground);
    EXPECT_EQ(w.spec.background, 0x00C0FFFFu);
    EXPECT_FALSE(w.spec.dialog);

    const int tops[] = {0, 240, 480, 720, 960, 1200, 1440};
    platform::Label* labels[] = {
        &form->serverLine(),  &form->outcomeLine(),     &form->reasonLine(), &form->modeLine(),
        &form->lastSetLine(), &form->nextSettingLine(), &form->othersLine()};
    for (int i = 0; i < 7; ++i) {
        const auto& r = label(*labels[i]).rect;
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.top, tops[i]);
        EXPECT_EQ(r.width, 3855);
        EXPECT_EQ(r.height, 255);
    }

    ASSERT_EQ(w.menuBar.size(), 4u);
    EXPECT_EQ(w.menuBar[0]->caption(), "&Configuration");
    EXPECT_EQ(w.menuBar[1]->caption(), "&Set time");
    EXPECT_EQ(w.menuBar[2]->caption(), "&History");
    EXPECT_EQ(w.menuBar[3]->caption(), "&?");
    EXPECT_TRUE(w.menuBar[0]->isEnabled());
    EXPECT_FALSE(w.menuBar[1]->isEnabled());
    EXPECT_TRUE(w.menuBar[2]->isEnabled());
    EXPECT_TRUE(w.menuBar[3]->isEnabled());

    EXPECT_FALSE(w.shown);
    EXPECT_EQ(form->minuteTimer().interval(), 0);
    EXPECT_EQ(form->minutesLeft(), 0);
}

TEST_F(MainWindowTest, StartUpWritesTheStatusLinesInOrder) {
    configure(kPrimary);
    platform.store().seed("Server2", kBackup);
    start("");
    EXPECT_EQ(win().captionHistory, std::vector<std::string>{"Tempikon 1.2"});
    EXPECT_EQ(label(form->serverLine()).history,
              (std::vector<std::string>{"No timeserver selected", kPrimary}));
    EXPECT_EQ(label(form->outcomeLine()).history, std::vector<std::string>{""});
    EXPECT_EQ(label(form->modeLine()).history,
              std::vector<std::string>{"Current program mode is CONFIG"});
    EXPECT_TRUE(form->setTimeItem().isEnabled());
    EXPECT_EQ(form->config().backup().host, kBackup);
    EXPECT_TRUE(platform.connections.empty());
}

TEST_F(MainWindowTest, ServerIsShownExactlyAsStored) {
    configure("  Time.Example  ");
    start("");
    EXPECT_EQ(form->serverLine().text(), "  Time.Example  ");
}

// ---- the switch table -------------------------------------------------------

enum class Mode { Interactive, OneShot, Resident, Missing };

struct SwitchCase {
    const char* commandLine;
    const char* server;  // "" for none
    const char* server2;
    Mode mode;
    const char* modeLine;
    bool minimised;
};

class SwitchTableTest : public AppFixture, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTableTest, SelectsTheMode) {
    const SwitchCase& c = GetParam();
    configure(c.server);
    if (*c.server2) platform.store().seed("Server2", c.server2);
    if (*c.server) platform.script(c.server, PeerScript().reply(50, kReply));
    // Whether the window was on the screen while the first query waited.
    std::optional<bool> shownDuringQuery;
    platform.at(10, [&] { shownDuringQuery = win().shown; });

    start(c.commandLine);

    FakeWindow& w = win();
    EXPECT_EQ(form->modeLine().text(), c.modeLine);
    const bool configured = *c.server != '\0';
    EXPECT_EQ(form->serverLine().text(), configured ? c.server : "No timeserver selected");
    // The one-shot run shuts its menus for its last five seconds.
    EXPECT_EQ(form->setTimeItem().isEnabled(), configured && c.mode != Mode::OneShot);
    EXPECT_EQ(w.minimised, c.minimised);

    switch (c.mode) {
        case Mode::Interactive:
            EXPECT_TRUE(w.isVisible());
            EXPECT_EQ(w.minimisedWhenFirstShown, c.minimised);
            EXPECT_TRUE(platform.connections.empty());
            EXPECT_EQ(form->minuteTimer().interval(), 0);
            EXPECT_FALSE(form->hasEnded());
            break;
        case Mode::OneShot:
            EXPECT_EQ(shownDuringQuery, true);
            EXPECT_EQ(w.minimisedWhenFirstShown, false);
            EXPECT_EQ(platform.connections, std::vector<std::string>{c.server});
            EXPECT_EQ(platform.nowMs(), 5050);
            EXPECT_TRUE(w.isClosed());
            EXPECT_EQ(form->minuteTimer().interval(), 0);
            EXPECT_TRUE(form->hasEnded());
            EXPECT_EQ(form->exitCode(), 0);
            break;
        case Mode::Resident:
            EXPECT_EQ(shownDuringQuery, false);
            EXPECT_EQ(platform.connections, std::vector<std::string>{c.server});
            EXPECT_EQ(settingsMade(), 1u);
            EXPECT_TRUE(w.isVisible());
            EXPECT_EQ(w.minimisedWhenFirstShown, c.minimised);
            EXPECT_EQ(form->minuteTimer().interval(), 60000);
            EXPECT_TRUE(form->minuteTimer().isEnabled());
            EXPECT_EQ(form->minutesLeft(), 30);
            EXPECT_FALSE(form->hasEnded());
            EXPECT_TRUE(platform.sleeps.empty());
            break;
        case Mode::Missing:
            ASSERT_EQ(platform.boxes.size(), 1u);
            EXPECT_EQ(platform.boxes[0].text, "You must go through the configuration first.");
            EXPECT_EQ(platform.boxes[0].title, "Tempikon 1.2");
            EXPECT_EQ(platform.boxes[0].flags, 48);
            EXPECT_TRUE(w.isClosed());
            EXPECT_FALSE(w.firstShownAt.has_value());
            EXPECT_TRUE(platform.connections.empty());
            EXPECT_EQ(form->minuteTimer().interval(), 0);
            EXPECT_TRUE(form->hasEnded());
            EXPECT_EQ(form->exitCode(), 2);
            EXPECT_TRUE(platform.quitRequested);
            EXPECT_EQ(platform.exitCode, 2);
            break;
    }
    if (c.mode != Mode::Missing) {
        EXPECT_TRUE(platform.boxes.empty());
    }
}

const char* const kConfig = "Current program mode is CONFIG";
const char* const kRunOnce = "Current program mode is RUNONCE";
const char* const kServer = "Current program mode is SERVER";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchTableTest,
    ::testing::Values(SwitchCase{"", kPrimary, "", Mode::Interactive, kConfig, false},
                      SwitchCase{"", "", "", Mode::Interactive, kConfig, false},
                      SwitchCase{"/min", kPrimary, "", Mode::Interactive, kConfig, true},
                      SwitchCase{"/MINIMISED", "", "", Mode::Interactive, kConfig, true},
                      SwitchCase{"RUNONCE", kPrimary, "", Mode::Interactive, kConfig, false},
                      SwitchCase{"SERVER MIN", kPrimary, "", Mode::Interactive, kConfig, false},
                      SwitchCase{"/runonce", kPrimary, "", Mode::OneShot, kRunOnce, false},
                      SwitchCase{"/RUNONCE /SERVER", kPrimary, "", Mode::OneShot, kRunOnce, false},
                      SwitchCase{"/RunOnce /MIN", kPrimary, "", Mode::OneShot, kRunOnce, false},
                      SwitchCase{"/Server", kPrimary, "", Mode::Resident, kServer, false},
                      SwitchCase{"/SERVERS", kPrimary, "", Mode::Resident, kServer, false},
                      SwitchCase{"/SERVER/MIN", kPrimary, "", Mode::Resident, kServer, true},
                      SwitchCase{"  /server   /min  ", kPrimary, "", Mode::Resident, kServer, true},
                      SwitchCase{"/RUNONCE", "", "", Mode::Missing, kRunOnce, false},
                      SwitchCase{"/SERVER /MIN", "", "", Mode::Missing, kServer, false},
                      SwitchCase{"/RUNONCE", "", kBackup, Mode::Missing, kRunOnce, false},
                      SwitchCase{"/SERVER", "", kBackup, Mode::Missing, kServer, false},
                      SwitchCase{"", "", kBackup, Mode::Interactive, kConfig, false}));

// ---- the one-shot run --------------------------------------------------------

using OneShotTest = AppFixture;

TEST_F(OneShotTest, ShowsSetsAndStaysLiveForFiveSecondsBeforeClosing) {
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    // Pending before start-up: must run after the show and before the query.
    std::optional<bool> beforeQuery, windowShown;
    platform.post([&] {
        beforeQuery = platform.connections.empty();
        windowShown = win().isVisible();
    });
    // Events keep coming through the wait (a late expose gets painted); the
    // window is shown, its menus shut, until the five seconds are over.
    struct Seen {
        bool visible;
        bool menusEnabled;
    };
    std::vector<std::pair<long long, Seen>> seen;
    for (long long at : {1050LL, 4050LL, 5049LL}) {
        platform.at(at, [&, at] {
            const bool menus = form->configurationItem().isEnabled() ||
                               form->setTimeItem().isEnabled() || form->aboutItem().isEnabled();
            seen.push_back({at, {win().isVisible(), menus}});
        });
    }

    start("/RUNONCE");

    EXPECT_EQ(beforeQuery, true);
    EXPECT_EQ(windowShown, true);
    ASSERT_EQ(settingsMade(), 1u);
    EXPECT_EQ(platform.fakeClock().settings[0].atMs, 50);
    EXPECT_EQ(form->outcomeLine().text(), "Time set to 12:00:30 d=30s");
    EXPECT_EQ(form->lastSetLine().text(), "Last set: 2026-12-07 12:00:30");
    // One-shot: no schedule, so no next setting.
    EXPECT_EQ(form->nextSettingLine().text(), "");
    EXPECT_EQ(platform.output, std::vector<std::string>{"Time set to 12:00:30 d=30s (step)"});
    ASSERT_EQ(seen.size(), 3u);
    for (const auto& [at, s] : seen) {
        EXPECT_TRUE(s.visible) << at;
        EXPECT_FALSE(s.menusEnabled) << at;
    }
    // No blocking sleep: the wait runs the event loop, then the window closes.
    EXPECT_TRUE(platform.sleeps.empty());
    EXPECT_EQ(platform.nowMs(), 5050);
    EXPECT_TRUE(win().isClosed());
    EXPECT_TRUE(platform.quitRequested);
    EXPECT_EQ(platform.exitCode, 0);
}

TEST_F(OneShotTest, ClosingTheWindowDuringTheWaitEndsWithTheOutcomesStatus) {
    const struct {
        const char* name;
        PeerScript peer;
        int status;
    } cases[] = {{"set", PeerScript().reply(20, kReply), 0},
                 {"unreachable", PeerScript().error(20), 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, c.peer);
        p.at(2000, [&] { fake::as<FakeWindow>(*p.windows.front()).userClose(); });
        p.commandLineText = "/RUNONCE";
        MainWindow f(p);
        f.start();
        EXPECT_TRUE(f.hasEnded());
        EXPECT_EQ(p.nowMs(), 2000);
        EXPECT_EQ(p.exitCode, c.status);
        p.advance(10000);
        EXPECT_EQ(p.connections.size(), 1u);
    }
}

struct ExitCase {
    const char* name;
    PeerScript peer;
    const char* refuse;
    int status;
    const char* outcomeLine;
    long long endMs;  // the outcome, then five seconds shown
};

TEST_F(OneShotTest, ExitStatusFollowsTheOutcome) {
    const ExitCase cases[] = {
        {"set", PeerScript().reply(20, kReply), "", 0, "Time set to 12:00:30 d=30s", 5020},
        {"unreachable", PeerScript().error(20), "", 1, "Couldn't reach timeserver(s)", 5020},
        {"silent", PeerScript(), "", 1, "Couldn't reach timeserver(s)", 8000},
        {"invalid", PeerScript().reply(20, "ab:cd:ef\r\n"), "", 1, "Invalid data received", 5020},
        {"refused", PeerScript().reply(20, kReply), "Operation not permitted", 3,
         "Couldn't set system clock: Operation not permitted", 5020},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, c.peer);
        p.fakeClock().refuseWith = c.refuse;
        p.commandLineText = "/RUNONCE";
        MainWindow f(p);
        f.start();
        EXPECT_TRUE(f.hasEnded());
        EXPECT_EQ(f.exitCode(), c.status);
        EXPECT_EQ(p.exitCode, c.status);
        EXPECT_EQ(f.outcomeLine().text(), c.outcomeLine);
        // A setting also says how it was made; this clock cannot slew.
        EXPECT_EQ(p.output, std::vector<std::string>{std::string(c.outcomeLine) +
                                                     (c.status == 0 ? " (step)" : "")});
        // A failed setting is shown through the wait all the same.
        EXPECT_EQ(p.nowMs(), c.endMs);
    }
}

TEST_F(OneShotTest, BackupAnswersWhenPrimaryIsSilent) {
    configure(kPrimary);
    platform.store().seed("Server2", kBackup);
    platform.script(kPrimary, PeerScript().error(10));
    platform.script(kBackup, PeerScript().reply(10, kReply));
    start("/RUNONCE");
    EXPECT_EQ(form->serverLine().text(), "backup.test (Backup)");
    EXPECT_EQ(form->exitCode(), 0);
}

TEST_F(OneShotTest, ClosingTheWindowDuringTheQueryEndsAtOnce) {
    configure(kPrimary);
    platform.store().seed("Server2", kBackup);
    platform.store().seed("Timeout", "30");
    platform.at(1000, [&] { win().userClose(); });
    start("/RUNONCE");
    EXPECT_TRUE(form->hasEnded());
    EXPECT_EQ(form->exitCode(), 1);
    EXPECT_EQ(platform.exitCode, 1);
    EXPECT_EQ(platform.nowMs(), 1000);
    EXPECT_TRUE(platform.sleeps.empty());
    EXPECT_EQ(platform.connections, std::vector<std::string>{kPrimary});
    EXPECT_EQ(label(form->outcomeLine()).history,
              (std::vector<std::string>{"", "Asking the timeserver..."}));
    EXPECT_TRUE(platform.output.empty());
}

// ---- menus, re-entrance and closing -----------------------------------------

TEST_F(MainWindowTest, SetTimeRunsOneSettingAndIgnoresClicksWhileItWaits) {
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().reply(2000, kReply));
    start("");
    platform.at(500, [&] { click(form->setTimeItem()); });
    platform.at(1500, [&] { click(form->setTimeItem()); });
    click(form->setTimeItem());
    EXPECT_EQ(platform.connections.size(), 1u);
    EXPECT_EQ(settingsMade(), 1u);
    EXPECT_EQ(label(form->outcomeLine()).history,
              (std::vector<std::string>{"", "Asking the timeserver...",
                                        "Time set to 12:00:30 d=29s"}));  // 30.5 + 1 - 2
    // Free again once the setting has ended.
    click(form->setTimeItem());
    EXPECT_EQ(platform.connections.size(), 2u);
}

TEST_F(MainWindowTest, ClosingDuringASettingEndsTheQueryAndWritesNothing) {
    configure(kPrimary);
    platform.store().seed("Server2", kBackup);
    platform.store().seed("Timeout", "30");
    start("");
    platform.at(1000, [&] { win().userClose(); });
    click(form->setTimeItem());
    EXPECT_EQ(platform.nowMs(), 1000);
    EXPECT_FALSE(form->query().isBusy());
    EXPECT_EQ(platform.connections, std::vector<std::string>{kPrimary});
    EXPECT_EQ(form->serverLine().text(), kPrimary);
    // Nothing after the asking.
    EXPECT_EQ(label(form->outcomeLine()).history,
              (std::vector<std::string>{"", "Asking the timeserver..."}));
    EXPECT_TRUE(platform.output.empty());
    EXPECT_TRUE(platform.quitRequested);
    EXPECT_EQ(platform.exitCode, 0);
    // Nothing runs on afterwards: no more queries, no pending time-out.
    click(form->setTimeItem());
    platform.advance(120000);
    EXPECT_EQ(platform.connections.size(), 1u);
}

TEST_F(MainWindowTest, ClosingClosesTheOpenWindowsAndTheyAreDestroyedLater) {
    configure(kPrimary);
    start("");
    click(form->aboutItem());
    click(form->configurationItem());
    ASSERT_NE(form->configDialog(), nullptr);
    ASSERT_NE(form->aboutBox(), nullptr);
    auto& settingsWin = fake::as<FakeWindow>(form->configDialog()->window());
    auto& aboutWin = fake::as<FakeWindow>(form->aboutBox()->window());
    EXPECT_TRUE(settingsWin.modal);
    EXPECT_TRUE(aboutWin.modal);

    win().userClose();
    EXPECT_TRUE(settingsWin.isClosed());
    EXPECT_TRUE(aboutWin.isClosed());
    EXPECT_TRUE(platform.quitRequested);
    EXPECT_EQ(platform.exitCode, 0);
    platform.advance(0);
    EXPECT_EQ(form->configDialog(), nullptr);
    EXPECT_EQ(form->aboutBox(), nullptr);
}

TEST_F(MainWindowTest, DialogsAreCreatedPerShowingAndDestroyedAfterClosing) {
    configure(kPrimary);
    start("");
    const std::size_t windowsBefore = platform.windows.size();
    click(form->aboutItem());
    about::About* first = form->aboutBox();
    ASSERT_NE(first, nullptr);
    // A second click while it is open makes no second box.
    click(form->aboutItem());
    EXPECT_EQ(form->aboutBox(), first);
    EXPECT_EQ(platform.windows.size(), windowsBefore + 1);

    fake::as<FakeWindow>(first->window()).userClose();
    // Not destroyed from inside its own close handler...
    EXPECT_EQ(form->aboutBox(), first);
    platform.advance(0);
    // ...but from the event loop right after.
    EXPECT_EQ(form->aboutBox(), nullptr);
    EXPECT_EQ(platform.windows.size(), windowsBefore);

    click(form->configurationItem());
    ASSERT_NE(form->configDialog(), nullptr);
    EXPECT_TRUE(form->configDialogShown());
    form->configDialog()->close();
    platform.advance(0);
    EXPECT_EQ(form->configDialog(), nullptr);
    EXPECT_FALSE(form->configDialogShown());
    EXPECT_FALSE(platform.quitRequested);
}

}  // namespace
}  // namespace tempikon::app::testing

namespace tempikon::app::testing {
namespace {

// A dialog opened during the one-shot's query is the user's: the run waits
// for it, its OK saves, and then the run ends with the setting's status.
TEST_F(AppFixture, OneShotWaitsForAnOpenDialogAndEndsWithItsStatus) {
    const struct {
        const char* name;
        bool ok;  // OK, else Cancel
        long long closeAtMs;
        int exitCode;
    } cases[] = {
        {"OK long after the five seconds", true, 20000, 0},
        {"Cancel within them", false, 3000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, fake::PeerScript().reply(1000, kReply));
        p.commandLineText = "/RUNONCE";
        MainWindow f(p);
        p.at(500, [&] { fake::as<fake::FakeMenuItem>(f.configurationItem()).click(); });
        p.at(c.closeAtMs - 1, [&] {
            ASSERT_NE(f.configDialog(), nullptr);
            EXPECT_TRUE(f.configDialog()->isShown());
            EXPECT_FALSE(f.hasEnded());
            f.configDialog()->offsetField().setText("2");
        });
        p.at(c.closeAtMs, [&] {
            auto& button = c.ok ? f.configDialog()->okButton() : f.configDialog()->cancelButton();
            fake::as<fake::FakeButton>(button).click();
        });
        f.start();
        EXPECT_TRUE(f.hasEnded());
        EXPECT_EQ(f.exitCode(), c.exitCode);
        EXPECT_EQ(p.exitCode, c.exitCode);
        // Closed no earlier than the dialog and the five seconds.
        const long long end = std::max<long long>(c.closeAtMs, 1000 + 5000);
        EXPECT_GE(p.nowMs(), end);
        EXPECT_LT(p.nowMs(), end + 100);
        EXPECT_EQ(p.store().values.count({"Tempikon", "CONFIG", "Offset"}) == 1, c.ok);
    }
}

}  // namespace
}  // namespace tempikon::app::testing
