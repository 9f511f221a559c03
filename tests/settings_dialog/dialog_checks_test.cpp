// Server checks: Check server, Check all, Abort, the enabled states, the
// close veto and one query at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings_dialog/field_rules.h"
#include "tests/settings_dialog/dialog_fixture.h"
#include "tests/support/ask.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::settings_dialog::testing {
namespace {

const std::string kAlpha = Padded("US alpha.example  Alpha town");
const std::string kBeta = Padded("US beta.example   Beta town");
const std::string kGamma = Padded("US gamma.example  Gamma town");

using CheckTest = DialogTest;

TEST_F(CheckTest, EnabledStatesRowByRow) {
    platform.script("alpha.example", PeerScript().reply(1000, "Sun Dec  6 14:03:27 2026\r\n"));
    open();
    EXPECT_EQ(row(), (Row{true, false, false, true, false})) << "dialog loaded";

    list().userSelect(0);
    EXPECT_EQ(row(), (Row{true, true, false, true, true})) << "user selects an entry";

    // During Check server the menu is shown disabled too: a query waits.
    // Abort stops it.
    Row duringCheckServer{};
    during(500, [&] { duringCheckServer = row(); });
    checkServer().click();
    EXPECT_EQ(duringCheckServer, (Row{false, false, true, false, false})) << "during Check server";
    EXPECT_EQ(row(), (Row{true, true, false, true, true})) << "after Check server";

    Row duringCheckAll{};
    during(500, [&] { duringCheckAll = row(); });
    checkAll().click();
    EXPECT_EQ(duringCheckAll, (Row{false, false, true, false, false})) << "during Check all";
    EXPECT_EQ(row(), (Row{true, true, false, true, false})) << "after Check all";
    list().userSelect(0);
    EXPECT_EQ(row(), (Row{true, true, false, true, true})) << "selected again after Check all";

    dlg->timeoutField().setText("abc");
    const std::size_t boxes = platform.boxes.size();
    checkAll().click();
    EXPECT_EQ(platform.boxes.size(), boxes + 1);
    EXPECT_EQ(row(), (Row{true, true, false, true, true})) << "Check all refused";
}

TEST_F(CheckTest, CheckServerWritesTheReportedTimeAndASecondCheckReplacesIt) {
    platform.script("beta.example", PeerScript().reply(200, "Sun Dec  6 14:03:27 2026\r\n"));
    open();
    list().userSelect(1);
    checkServer().click();
    EXPECT_EQ(list().items[1], kBeta + "   [14:03:27]");
    EXPECT_EQ(list().selected, 1);
    EXPECT_EQ(platform.connections, std::vector<std::string>{"beta.example"});
    EXPECT_EQ(config.timeout, 3);

    platform.script("beta.example", PeerScript());  // silent now
    checkServer().click();
    EXPECT_EQ(list().items[1], kBeta + "   [Timeout ]");
    EXPECT_EQ(list().items[0], kAlpha);
    EXPECT_EQ(list().items[2], kGamma);
}

TEST_F(CheckTest, ReplyBytesAreShownAsCharacters) {
    platform.script("alpha.example", PeerScript().reply(10,
                                                        "\xE9"
                                                        "1:02:03 x"));
    open();
    list().userSelect(0);
    checkServer().click();
    EXPECT_EQ(list().items[0], kAlpha +
                                   "   [\xC3\xA9"
                                   "1:02:03]");
}

// An NTP entry is asked over NTP, once, and shows the server's local time
// and how far it is ahead of this clock; a Daytime entry stays Daytime.
TEST_F(CheckTest, NtpEntriesShowTheServersTimeAndItsDifference) {
    const std::string ntpAhead = Padded("DE ahead.example    NTP  Ahead");
    const std::string ntpBehind = Padded("DE behind.example   NTP  Behind");
    const std::string ntpSilent = Padded("DE silent.example   NTP  Silent");
    const std::string daytime = Padded("US alpha.example    UTC  Alpha town");
    platform.files["timeservers.dat"] =
        ntpAhead + "\r\n" + ntpBehind + "\r\n" + ntpSilent + "\r\n" + daytime + "\r\n";
    // Local time in Berlin (UTC+1): the column shows local time, not UTC.
    platform.fakeClock().zone = fake::FakeClock::Zone::Berlin;
    platform.fakeClock().setNow(2026, 12, 7, 12, 0, 5, 500);
    tempikon::testing::FakeNtpServer ahead, behind;
    ahead.platform = behind.platform = &platform;
    ahead.aheadMicros = 1'502'000;
    behind.aheadMicros = -7'200'250'000;
    behind.delaysMs = {{40, 40}};
    platform.scriptUdp("ahead.example", ahead.responder());
    platform.scriptUdp("behind.example", behind.responder());
    platform.script("alpha.example", PeerScript().reply(10, "Mon Dec  7 11:00:09 2026 UTC\r\n"));
    open();

    checkAll().click();
    EXPECT_EQ(list().items, (std::vector<std::string>{
                                ntpAhead + "   [12:00:07 +1.502s]",
                                ntpBehind + "   [10:00:05 -7200s]",
                                ntpSilent + "   [Timeout ]",
                                daytime + "   [11:00:09]",
                            }));
    // One request each: a check sets nothing and needs no burst.
    EXPECT_EQ(ahead.requests, 1);
    EXPECT_EQ(behind.requests, 1);
    std::vector<std::string> asked;
    for (const auto& r : platform.udpRequests) asked.push_back(r.host);
    EXPECT_EQ(asked,
              (std::vector<std::string>{"ahead.example", "behind.example", "silent.example"}));
    EXPECT_EQ(platform.connections, std::vector<std::string>{"alpha.example"});
    EXPECT_TRUE(platform.fakeClock().settings.empty());

    // Check server on one entry replaces its result.
    ahead.aheadMicros = -250;
    list().userSelect(0);
    checkServer().click();
    EXPECT_EQ(list().items[0].substr(55), "   [12:00:08 +0.000s]");
    EXPECT_EQ(row(), (Row{true, true, false, true, true}));
}

TEST_F(CheckTest, AnEntryWithoutAUsableHostIsNotQueried) {
    platform.files["timeservers.dat"] = "US\r\nUS " + std::string(60, 'h') + "\r\n";
    open();
    for (int i = 0; i < 2; ++i) {
        list().userSelect(i);
        checkServer().click();
    }
    EXPECT_TRUE(platform.connections.empty());
    EXPECT_EQ(list().items[0], Padded("US") + "   [Timeout ]");
    EXPECT_EQ(list().items[1], "US " + std::string(52, 'h') + "   [Timeout ]");
    EXPECT_EQ(row(), (Row{true, true, false, true, true}));
}

TEST_F(CheckTest, TimeoutFieldIsTakenOverOrRefused) {
    open();
    list().userSelect(0);
    const std::vector<std::pair<std::string, int>> accepted = {
        {" 7 ", 7}, {"2.5", 2}, {"3.5", 4}, {"7abc", 7}};
    for (const auto& [text, seconds] : accepted) {
        dlg->timeoutField().setText(text);
        const long long start = platform.nowMs();
        checkServer().click();
        EXPECT_EQ(config.timeout, seconds) << text;
        EXPECT_EQ(platform.nowMs() - start, seconds * 1000LL) << text;
    }
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_TRUE(platform.store().writtenKeys.empty());  // only OK saves

    const std::size_t queries = platform.connections.size();
    list().items[0] = kAlpha;
    for (const std::string text : {"", "abc", "0", "-5", "0.3", "9999999999"}) {
        dlg->timeoutField().setText(text);
        checkServer().click();
        ASSERT_FALSE(platform.boxes.empty());
        EXPECT_EQ(platform.boxes.back().text, kTimeoutMessage) << text;
        EXPECT_EQ(platform.boxes.back().title, "Tempikon 1.2");
        EXPECT_EQ(platform.boxes.back().flags, 48);
        EXPECT_EQ(config.timeout, 7) << text;  // the last one taken over
        EXPECT_EQ(list().items[0], kAlpha) << text;
        EXPECT_EQ(row(), (Row{true, true, false, true, true})) << text;
    }
    EXPECT_EQ(platform.connections.size(), queries);
}

TEST_F(CheckTest, CheckAllRunsThroughEveryEntryInOrder) {
    platform.script("alpha.example", PeerScript().reply(100, "x 01:00:00"));
    platform.script("gamma.example", PeerScript().error(100));
    open();
    dlg->timeoutField().setText("2");
    checkAll().click();
    EXPECT_EQ(platform.connections,
              (std::vector<std::string>{"alpha.example", "beta.example", "gamma.example"}));
    EXPECT_EQ(list().items,
              (std::vector<std::string>{kAlpha + "   [01:00:00]", kBeta + "   [Timeout ]",
                                        kGamma + "   [Timeout ]"}));
    EXPECT_EQ(list().selected, 2);
    EXPECT_EQ(config.timeout, 2);
    EXPECT_EQ(platform.nowMs(), 100 + 2000 + 100);
    EXPECT_FALSE(dlg->abortRequested());
}

TEST_F(CheckTest, AbortEndsTheRunAfterTheServerUnderWay) {
    platform.script("alpha.example", PeerScript().reply(100, "x 01:00:00"));
    platform.script("beta.example", PeerScript().reply(2000, "x 02:00:00"));
    open();
    during(1000, [&] { abort().click(); });  // while beta's query waits
    checkAll().click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, kAbortMessage);
    EXPECT_EQ(platform.boxes[0].title, "Tempikon 1.2");
    EXPECT_EQ(platform.boxes[0].flags, 64);
    EXPECT_TRUE(dlg->abortRequested());
    EXPECT_EQ(platform.connections, (std::vector<std::string>{"alpha.example", "beta.example"}));
    EXPECT_EQ(list().items[1], kBeta + "   [02:00:00]");  // its result is written
    EXPECT_EQ(list().items[2], kGamma);
    EXPECT_EQ(list().selected, 1);
    EXPECT_EQ(row(), (Row{true, true, false, true, false}));
}

TEST_F(CheckTest, AbortPressedTwiceAndWhileItsBoxIsOpen) {
    platform.script("alpha.example", PeerScript().reply(1000, "x 01:00:00"));
    open();
    // The first box stays open past the end of alpha's query.
    platform.queueAnswer(platform::kIdOk, 3000);
    during(200, [&] { abort().click(); });
    during(400, [&] {
        EXPECT_TRUE(abort().isEnabled());  // still enabled after being pressed
        abort().click();
    });
    checkAll().click();
    EXPECT_EQ(platform.boxes.size(), 2u);
    EXPECT_EQ(platform.connections, std::vector<std::string>{"alpha.example"});
    EXPECT_EQ(list().items[0], kAlpha + "   [01:00:00]");
}

TEST_F(CheckTest, ATimeoutMadeInvalidDuringCheckAllSkipsTheRemainingEntries) {
    open();
    during(1000, [&] { field(dlg->timeoutField()).type("abc"); });
    checkAll().click();
    // Alpha's query had started; the other two get the message and keep their text.
    EXPECT_EQ(platform.connections, std::vector<std::string>{"alpha.example"});
    EXPECT_EQ(list().items, (std::vector<std::string>{kAlpha + "   [Timeout ]", kBeta, kGamma}));
    ASSERT_EQ(platform.boxes.size(), 2u);
    for (const auto& box : platform.boxes) EXPECT_EQ(box.text, kTimeoutMessage);
    EXPECT_EQ(list().selected, 2);  // the run went on to the end
    EXPECT_EQ(config.timeout, 3);
    EXPECT_EQ(row(), (Row{true, true, false, true, false}));
}

TEST_F(CheckTest, ATimeoutTypedDuringCheckAllAppliesFromTheNextServer) {
    open();
    during(1000, [&] { field(dlg->timeoutField()).type("5"); });
    checkAll().click();
    EXPECT_EQ(platform.nowMs(), 3000 + 5000 + 5000);
    EXPECT_EQ(config.timeout, 5);
}

TEST_F(CheckTest, TheDialogCannotCloseWhileACheckRuns) {
    config.server = "prim.example";
    open();
    list().userSelect(0);
    during(1000, [&] {
        window().userClose();
        cancel().click();
        ok().click();  // saves and updates the main window, but cannot close
    });
    checkAll().click();
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(closings, 0);
    EXPECT_EQ(platform.store().stored("Server"), "prim.example");
    EXPECT_EQ(mainLabel1->text(), "prim.example");
    EXPECT_TRUE(mainSet->isEnabled());
    // The run was not disturbed.
    EXPECT_EQ(list().items[2], kGamma + "   [Timeout ]");

    // Check server is covered as well.
    during(1000, [&] { window().userClose(); });
    checkServer().click();
    EXPECT_FALSE(window().closed);

    cancel().click();
    EXPECT_TRUE(window().closed);
}

TEST_F(CheckTest, OneQueryAtATimeWithTheMainWindowsQueryWaitingWhenTheDialogOpens) {
    platform.script("main.example", PeerScript().reply(2500, "12:00:00\r\n"));
    Row whileWaiting{};
    during(100, [&] {
        open();
        list().userSelect(0);
        whileWaiting = row();
        // Calls that reach the handlers anyway do nothing.
        dlg->onCheckAll();
        dlg->onCheckServer();
        platform.queuePopupChoice(0);
        dlg->onUseServer(ConfigDialog::Role::Primary);
        list().mouseDown(2);
    });
    during(200, [&] { checkAll().click(); });
    EXPECT_EQ(testsupport::AskDaytime(query, "main.example", config.timeout), "12:00:00");

    EXPECT_EQ(whileWaiting, (Row{false, false, false, true, false}));
    EXPECT_EQ(platform.connections, std::vector<std::string>{"main.example"});
    EXPECT_EQ(popup().timesOpened, 0);
    EXPECT_EQ(list().items[0], kAlpha);
    EXPECT_EQ(dlg->serverField().text(), "");
    // The states come back once the query has ended.
    EXPECT_EQ(row(), (Row{true, true, false, true, true}));
    platform.popupChoices.clear();
    checkServer().click();
    EXPECT_EQ(platform.connections.back(), "alpha.example");
}

TEST_F(CheckTest, TheMainWindowsQueryDoesNotHoldTheCloseVeto) {
    platform.script("main.example", PeerScript().reply(2500, "12:00:00\r\n"));
    during(100, [&] { open(); });
    during(200, [&] { cancel().click(); });
    testsupport::AskDaytime(query, "main.example", config.timeout);
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(dlg, nullptr);  // destroyed by the posted call meanwhile
}

TEST_F(CheckTest, MainWindowClosingDuringCheckAllEndsTheRunWithoutTouchingTheDialog) {
    open();
    during(1000, [&] {
        query.shutdown();
        dlg->close();
    });
    checkAll().click();
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(platform.connections, std::vector<std::string>{"alpha.example"});
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(list().items[0], kAlpha);  // nothing written after closing
    platform.advance(0);
    EXPECT_EQ(dlg, nullptr);
}

TEST_F(CheckTest, DestroyedWhileAMessageBoxOfACheckIsOpen) {
    open();
    dlg->timeoutField().setText("0");
    // The time-out message stays open while the main window closes.
    platform.queueAnswer(platform::kIdOk, 1000);
    during(500, [&] {
        query.shutdown();
        dlg->close();
    });
    list().userSelect(0);
    checkServer().click();  // must not touch the destroyed dialog afterwards
    EXPECT_EQ(dlg, nullptr);
    EXPECT_EQ(closings, 1);
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
