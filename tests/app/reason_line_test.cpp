// After a setting, what the window, its tool tips and the tray's balloon
// say about why it failed: the first reason on a line of its own, every
// reason in the tool tip. Fake platform.
#include "tests/app/app_fixture.h"

namespace tempikon::app::testing {
namespace {

using fake::PeerScript;

TEST_F(AppFixture, TheFirstReasonHasALineOfItsOwnAndTheToolTipHoldsEveryReason) {
    const struct {
        const char* name;
        PeerScript primary, backup;
        bool withBackup;
        const char* refuse;
        std::string outcome, reason;
        std::vector<std::string> tipLines;
    } cases[] = {
        {"one server silent",
         PeerScript().error(20),
         PeerScript(),
         false,
         "",
         "Couldn't reach timeserver(s)",
         "primary.test: connection refused",
         {"Couldn't reach timeserver(s)", "primary.test: connection refused"}},
        {"both silent: the first reason shown, both in the tip",
         PeerScript().error(20),
         PeerScript().error(20, "Host unreachable"),
         true,
         "",
         "Couldn't reach timeserver(s)",
         "primary.test: connection refused",
         {"Couldn't reach timeserver(s)", "primary.test: connection refused",
          "backup.test: connection refused"}},
        {"the backup set it: no reason line",
         PeerScript().error(20),
         PeerScript().reply(50, kReply),
         true,
         "",
         "Time set to 12:00:30 d=30s",
         "",
         {"Time set to 12:00:30 d=30s", "primary.test: connection refused"}},
        {"the system refused: the outcome says why",
         PeerScript().reply(50, kReply),
         PeerScript(),
         false,
         "not authorised",
         "Couldn't set system clock: not authorised",
         "",
         {"Couldn't set system clock: not authorised"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.store().seed("Server", kPrimary);
        if (c.withBackup) p.store().seed("Server2", kBackup);
        p.script(kPrimary, c.primary);
        p.script(kBackup, c.backup);
        p.fakeClock().refuseWith = c.refuse;
        p.commandLineText = "/RUNONCE";
        MainWindow f(p);
        f.start();
        EXPECT_EQ(f.outcomeLine().text().rfind(c.outcome, 0), 0u) << f.outcomeLine().text();
        EXPECT_EQ(f.reasonLine().text(), c.reason);
        std::string tip = c.tipLines.front();
        for (std::size_t i = 1; i < c.tipLines.size(); ++i) tip += "\n" + c.tipLines[i];
        EXPECT_EQ(f.outcomeLine().toolTip().rfind(c.outcome, 0), 0u);
        EXPECT_NE(f.outcomeLine().toolTip().find(tip.substr(c.outcome.size())), std::string::npos)
            << f.outcomeLine().toolTip();
        EXPECT_EQ(f.reasonLine().toolTip().empty(), c.reason.empty());
    }
}

TEST_F(AppFixture, TheReasonLineEmptiesWhileAskingAndAfterASuccess) {
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().error(20));
    start("");
    click(form->setTimeItem());
    EXPECT_EQ(form->reasonLine().text(), "primary.test: connection refused");
    platform.script(kPrimary, PeerScript().reply(500, kReply));
    platform.after(100, [this] {
        EXPECT_EQ(form->outcomeLine().text(), "Asking the timeserver...");
        EXPECT_EQ(form->reasonLine().text(), "");
    });
    click(form->setTimeItem());
    EXPECT_EQ(form->outcomeLine().text().rfind("Time set to", 0), 0u);
    EXPECT_EQ(form->reasonLine().text(), "");
}

TEST_F(AppFixture, TheTrayBalloonAndToolTipCarryTheReason) {
    platform.trayAvailable = true;
    configure(kPrimary, "1");
    platform.store().seed("Timeout", "5");
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    start("/SERVER /MIN");
    platform.script(kPrimary, PeerScript().error(20, "Host unreachable"));
    platform.advance(60000);
    ASSERT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.notifications[0].text,
              "Couldn't reach timeserver(s)\nprimary.test: connection refused");
    ASSERT_EQ(platform.trays.size(), 1u);
    EXPECT_NE(platform.trays[0]->tip.find("primary.test: connection refused"), std::string::npos)
        << platform.trays[0]->tip;
}

}  // namespace
}  // namespace tempikon::app::testing
