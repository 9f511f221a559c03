// Living beside the system's automatic time: what the window and the tray
// say about it, when a refused setting offers to switch it off (once, never
// silently), and what the dialog's box shows and switches. Fake platform.
#include "tests/app/app_fixture.h"

namespace tempikon::app::testing {
namespace {

using fake::PeerScript;

constexpr const char* kSystemSets = "The system's automatic time also sets this clock";

struct SystemTimeTest : AppFixture {
    fake::FakeTimeSync& sync() { return platform.fakeTimeSync(); }
    void automaticTime(bool on, bool canChange = true) {
        platform.hasTimeSync = true;
        sync().current.known = true;
        sync().current.on = on;
        sync().current.canChange = canChange;
    }
    std::size_t questions() {
        std::size_t n = 0;
        for (const auto& box : platform.boxes)
            if ((box.flags & 0x0F) == platform::kMbYesNo) ++n;
        return n;
    }
};

TEST_F(SystemTimeTest, TheWindowAndTheTraySayWhoElseSetsTheClock) {
    const struct {
        const char* name;
        bool service, known, on;
        const char* daemon;
        std::string line;
    } cases[] = {
        {"no service to ask", false, false, false, "", ""},
        {"the service did not answer", true, false, true, "", ""},
        {"automatic time off", true, true, false, "", ""},
        {"automatic time on", true, true, true, "", kSystemSets},
        {"a time daemon", true, true, false, "chronyd", "chronyd also sets this clock"},
        {"both", true, true, true, "ntpd", kSystemSets},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.trayAvailable = true;
        p.hasTimeSync = c.service;
        p.fakeTimeSync().current = {c.known, c.on, true, c.daemon};
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, PeerScript().reply(50, kReply));
        p.commandLineText = "/SERVER /MIN";
        MainWindow f(p);
        f.start();
        EXPECT_EQ(f.othersLine().text(), c.line);
        ASSERT_EQ(p.trays.size(), 1u);
        const std::string tip = p.trays.front()->tip;
        EXPECT_EQ(tip.find(kSystemSets) != std::string::npos ||
                      tip.find("also sets") != std::string::npos,
                  !c.line.empty())
            << tip;
        // Saying so switches nothing.
        EXPECT_TRUE(p.fakeTimeSync().switches.empty());
    }
}

TEST_F(SystemTimeTest, ARefusalOffersOnceToSwitchTheAutomaticTimeOff) {
    const struct {
        const char* name;
        bool on, canChange, headless;
        int answer;
        std::vector<bool> switches;
        std::size_t questions, settingsTried;
        const char* outcome;
    } cases[] = {
        // Yes: switched off, and the clock set at once.
        {"yes", true, true, false, platform::kIdYes, {false}, 1, 2, "Time set to"},
        {"no", true, true, false, platform::kIdNo, {}, 1, 1, "Couldn't set system clock"},
        // Nothing to offer where the system cannot switch it, nor where
        // nobody can be asked.
        {"cannot switch", true, false, false, platform::kIdYes, {}, 0, 1, "Couldn't set"},
        {"headless", true, true, true, platform::kIdYes, {}, 0, 1, "Couldn't set"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.hasTimeSync = true;
        p.headless = c.headless;
        p.fakeTimeSync().current = {true, c.on, c.canChange, ""};
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, PeerScript().reply(50, kReply));
        p.queueAnswer(c.answer);
        p.commandLineText = "/RUNONCE";
        MainWindow f(p);
        f.start();
        EXPECT_EQ(p.fakeTimeSync().switches, c.switches);
        std::size_t questions = 0;
        for (const auto& box : p.boxes)
            if ((box.flags & 0x0F) == platform::kMbYesNo) ++questions;
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(p.fakeClock().settings.size(), c.settingsTried);
        EXPECT_EQ(f.outcomeLine().text().rfind(c.outcome, 0), 0u) << f.outcomeLine().text();
    }
}

TEST_F(SystemTimeTest, TheOfferComesOnceARunAndAFailedSwitchIsReported) {
    automaticTime(true);
    sync().refuseWith = "not authorised";
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    platform.queueAnswer(platform::kIdYes);
    start("");
    click(form->setTimeItem());
    EXPECT_EQ(sync().switches, std::vector<bool>{false});
    ASSERT_EQ(platform.boxes.size(), 2u);
    EXPECT_NE(platform.boxes[1].text.find("could not be turned off: not authorised"),
              std::string::npos);
    // Refused again: no second question.
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    click(form->setTimeItem());
    EXPECT_EQ(questions(), 1u);
    EXPECT_EQ(sync().switches.size(), 1u);
    EXPECT_EQ(form->othersLine().text(), kSystemSets);
}

TEST_F(SystemTimeTest, TheDialogsBoxShowsAndSwitchesTheRealState) {
    const struct {
        const char* name;
        bool known, on, canChange;
        bool tick;  // the user's click on the box
        bool shownTicked, enabled;
        std::vector<bool> switches;
    } cases[] = {
        {"on, left alone", true, true, true, false, false, true, {}},
        {"on, ticked: off", true, true, true, true, false, true, {false}},
        {"off, unticked: on", true, false, true, true, true, true, {true}},
        {"off, left alone", true, false, true, false, true, true, {}},
        {"no synchronisation to switch", true, false, false, true, true, false, {}},
        {"no answer", false, false, false, true, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.hasTimeSync = true;
        p.fakeTimeSync().current = {c.known, c.on, c.canChange, ""};
        p.store().seed("Server", kPrimary);
        MainWindow f(p);
        f.start();
        EXPECT_EQ(f.othersLine().text(), c.known && c.on ? kSystemSets : "");
        click(f.configurationItem());
        ASSERT_NE(f.configDialog(), nullptr);
        auto& box = fake::as<fake::FakeCheckBox>(f.configDialog()->keepClockBox());
        EXPECT_EQ(box.isChecked(), c.shownTicked);
        EXPECT_EQ(box.isEnabled(), c.enabled);
        if (c.tick) box.click();
        fake::as<fake::FakeButton>(f.configDialog()->okButton()).click();
        EXPECT_EQ(p.fakeTimeSync().switches, c.switches);
        // The window says what the system does now.
        const bool onNow = c.known && (c.switches.empty() ? c.on : c.switches.back());
        EXPECT_EQ(f.othersLine().text(), onNow ? kSystemSets : "");
        p.advance(0);
        EXPECT_EQ(f.configDialog(), nullptr);
    }
}

TEST_F(SystemTimeTest, AFailedSwitchInTheDialogKeepsItOpenShowingTheRealState) {
    automaticTime(true);
    sync().refuseWith = "not authorised";
    configure(kPrimary);
    start("");
    click(form->configurationItem());
    auto& box = fake::as<fake::FakeCheckBox>(form->configDialog()->keepClockBox());
    box.click();
    fake::as<fake::FakeButton>(form->configDialog()->okButton()).click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_NE(platform.boxes[0].text.find("could not be switched: not authorised"),
              std::string::npos);
    platform.advance(0);
    ASSERT_NE(form->configDialog(), nullptr);
    EXPECT_FALSE(box.isChecked());
}

}  // namespace
}  // namespace tempikon::app::testing
