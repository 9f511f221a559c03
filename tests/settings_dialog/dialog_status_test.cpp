// The status line under the list, the start with the desktop, and the
// dialog's accelerators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "settings_dialog/field_rules.h"
#include "tests/settings_dialog/dialog_fixture.h"

namespace tempikon::settings_dialog::testing {
namespace {

using fake::FakeCheckBox;
using fake::FakeLabel;
using platform::SocketErrorKind;

const std::string kAlpha = Padded("US alpha.example  Alpha town");
const std::string kBeta = Padded("US beta.example   Beta town");

using StatusTest = DialogTest;

FakeLabel& StatusLine(ConfigDialog& dialog) {
    return fake::as<FakeLabel>(dialog.statusLine());
}

TEST_F(StatusTest, AFailedCheckNamesItsReasonUnderTheList) {
    struct Case {
        const char* what;
        PeerScript script;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"refused", PeerScript().error(50), "connection refused"},
        {"host not found", PeerScript().error(50, "Host not found", SocketErrorKind::HostNotFound),
         "host not found"},
        {"reset", PeerScript().error(50, "reset by peer", SocketErrorKind::Reset),
         "connection reset"},
        {"no answer", PeerScript(), "no answer within 3 s"},
        {"no time in the reply", PeerScript().reply(50, "hello\r\n").close(60),
         core::NoTimeFailure("hello\r\n").reason},
    };
    open();
    list().userSelect(0);
    for (const Case& c : cases) {
        platform.script("alpha.example", c.script);
        checkServer().click();
        const std::string expected = "alpha.example: " + c.reason;
        EXPECT_EQ(list().items[0], kAlpha + "   [Timeout ]") << c.what;
        EXPECT_EQ(dlg->statusLine().text(), expected) << c.what;
        EXPECT_EQ(dlg->statusLine().toolTip(), expected) << c.what;
    }

    // A good answer shows its whole result there; the line follows the selection.
    const std::string failed = dlg->statusLine().text();
    platform.script("beta.example", PeerScript().reply(50, "x 02:00:00\r\n"));
    list().userSelect(1);
    EXPECT_EQ(dlg->statusLine().text(), "");
    checkServer().click();
    EXPECT_EQ(list().items[1], kBeta + "   [02:00:00]");
    EXPECT_EQ(dlg->statusLine().text(), "beta.example: 02:00:00");
    list().userSelect(0);
    EXPECT_EQ(dlg->statusLine().text(), failed);
    EXPECT_EQ(dlg->statusLine().toolTip(), failed);
    platform.script("alpha.example", PeerScript().reply(50, "x 01:00:00\r\n"));
    checkServer().click();
    EXPECT_EQ(dlg->statusLine().text(), "alpha.example: 01:00:00");
    list().userSelect(1);
    EXPECT_EQ(dlg->statusLine().text(), "beta.example: 02:00:00");
    list().userSelect(0);
    EXPECT_EQ(dlg->statusLine().text(), "alpha.example: 01:00:00");
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StatusTest, CheckAllLeavesEachFailedEntrysReasonToItsSelection) {
    platform.script("alpha.example", PeerScript().error(50));
    platform.script("beta.example", PeerScript().reply(50, "x 02:00:00\r\n"));
    open();
    checkAll().click();
    EXPECT_EQ(dlg->statusLine().text(), "gamma.example: no answer within 3 s");
    list().userSelect(0);
    EXPECT_EQ(dlg->statusLine().text(), "alpha.example: connection refused");
    list().userSelect(1);
    EXPECT_EQ(dlg->statusLine().text(), "beta.example: 02:00:00");
}

TEST_F(StatusTest, WhileACheckRunsClosingIsRefusedWithTheReason) {
    open();
    list().userSelect(0);
    struct Refusal {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<Refusal> refusals = {
        {"close box or Escape", [&] { window().userClose(); }},
        {"Cancel", [&] { cancel().click(); }},
    };
    for (const Refusal& r : refusals) {
        for (const bool all : {false, true}) {
            StatusLine(*dlg).setText("");
            std::string during;
            this->during(500, [&] {
                r.act();
                during = dlg->statusLine().text();
            });
            (all ? checkAll() : checkServer()).click();
            EXPECT_EQ(during, kCheckRunning) << r.what << (all ? " during Check all" : "");
            EXPECT_FALSE(window().closed) << r.what;
            EXPECT_EQ(closings, 0) << r.what;
        }
    }
    // Once the check has ended the same closes the dialog.
    cancel().click();
    EXPECT_TRUE(window().closed);
}

TEST_F(StatusTest, AbortStopsASingleCheckAtOnce) {
    platform.script("alpha.example", PeerScript().reply(2000, "x 01:00:00\r\n"));
    open();
    list().userSelect(0);
    list().items[0] = kAlpha + "   [12:00:00]";  // an earlier result
    during(500, [&] { abort().click(); });
    const long long start = platform.nowMs();
    checkServer().click();
    EXPECT_EQ(platform.nowMs() - start, 500);
    EXPECT_TRUE(platform.boxes.empty());  // no "after the current server" message
    // The entry says it was stopped, not that the server was silent.
    EXPECT_EQ(list().items[0], kAlpha + "   [Stopped]");
    EXPECT_EQ(dlg->statusLine().text(), "alpha.example: the check was stopped");
    EXPECT_EQ(row(), (Row{true, true, false, true, true}));
    EXPECT_FALSE(query.isBusy());

    // The next check runs as usual.
    checkServer().click();
    EXPECT_EQ(list().items[0], kAlpha + "   [01:00:00]");
    EXPECT_EQ(dlg->statusLine().text(), "alpha.example: 01:00:00");
}

TEST_F(StatusTest, AutostartBoxShowsTheRealStateAndOkWritesOnlyAChange) {
    struct Case {
        bool before;
        bool click;
        bool ok;  // OK, else Cancel
        bool after;
        int writes;
    };
    const std::vector<Case> cases = {
        {false, true, true, true, 1},   {true, true, true, false, 1},
        {false, false, true, false, 0}, {true, false, true, true, 0},
        {false, true, false, false, 0}, {true, true, false, true, 0},
    };
    config.primary().host = "prim.example";
    for (const Case& c : cases) {
        const std::string name = std::string(c.before ? "on" : "off") +
                                 (c.click ? " clicked" : "") + (c.ok ? " OK" : " Cancel");
        platform.autostart = c.before;
        platform.autostartWrites = 0;
        open();
        auto& box = fake::as<FakeCheckBox>(dlg->autostartBox());
        EXPECT_EQ(box.isChecked(), c.before) << name;
        if (c.click) box.click();
        (c.ok ? ok() : cancel()).click();
        EXPECT_TRUE(window().closed) << name;
        EXPECT_EQ(platform.autostart, c.after) << name;
        EXPECT_EQ(platform.autostartWrites, c.writes) << name;
        platform.advance(0);
        ASSERT_EQ(dlg, nullptr);
    }

    // Changed elsewhere while the program ran: the box shows it.
    platform.autostart = true;
    open();
    EXPECT_TRUE(dlg->autostartBox().isChecked());
}

TEST_F(StatusTest, AnAutostartEntryThatCannotBeWrittenKeepsTheDialogOpen) {
    config.primary().host = "prim.example";
    platform.autostartFailure = "/home/x/.config/autostart: Permission denied";
    open();
    fake::as<FakeCheckBox>(dlg->autostartBox()).click();
    ok().click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text,
              "The autostart entry could not be changed: "
              "/home/x/.config/autostart: Permission denied");
    EXPECT_FALSE(window().closed);
    EXPECT_FALSE(platform.autostart);
    EXPECT_FALSE(dlg->autostartBox().isChecked());  // the real state again
    // The other settings were taken.
    EXPECT_EQ(platform.store().stored("Server"), "prim.example");
}

// The letter after "&", lower case; 0 when there is none.
char Accelerator(const std::string& caption) {
    const auto amp = caption.find('&');
    if (amp == std::string::npos || amp + 1 >= caption.size()) return 0;
    EXPECT_EQ(caption.find('&', amp + 1), std::string::npos) << caption;
    return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[amp + 1])));
}

TEST_F(StatusTest, EveryButtonAndFieldLabelHasItsOwnAccelerator) {
    open();
    std::vector<std::pair<std::string, char>> keys;
    // The two file choosers' buttons share one caption and no free letter:
    // each comes right after its field in the tab order, which its label's
    // accelerator reaches.
    const std::vector<platform::Control*>& tabs = window().tabOrder;
    std::set<const platform::Control*> choosers;
    for (const auto role : {ConfigDialog::Role::Primary, ConfigDialog::Role::Backup}) {
        const auto field = std::find(tabs.begin(), tabs.end(), &dlg->trustField(role));
        ASSERT_NE(field, tabs.end());
        ASSERT_NE(field + 1, tabs.end());
        EXPECT_EQ(field[1], &dlg->trustButton(role));
        choosers.insert(&dlg->trustButton(role));
    }
    for (platform::Control* c : window().controls) {
        if (choosers.count(c)) continue;
        if (auto* b = dynamic_cast<FakeButton*>(c)) keys.push_back({b->caption(), 0});
        if (auto* b = dynamic_cast<FakeCheckBox*>(c)) keys.push_back({b->caption(), 0});
    }
    // Each field and the list is reached from its label.
    std::set<const platform::Control*> reached;
    for (const auto& [label, target] : window().buddies) {
        keys.push_back({label->text(), 0});
        reached.insert(target);
    }
    for (platform::Control* c : window().tabOrder) {
        const bool field = dynamic_cast<FakeTextField*>(c) || dynamic_cast<FakeListBox*>(c);
        if (field) {
            EXPECT_EQ(reached.count(c), 1u) << "a field without a label's accelerator";
        }
    }
    std::set<char> seen;
    for (auto& [caption, key] : keys) {
        key = Accelerator(caption);
        EXPECT_NE(key, 0) << caption;
        EXPECT_TRUE(seen.insert(key).second) << "taken twice: " << caption;
    }
    std::set<char> inPopup;
    for (const auto& item : popup().items) {
        const char key = Accelerator(item->caption());
        EXPECT_NE(key, 0) << item->caption();
        EXPECT_TRUE(inPopup.insert(key).second) << item->caption();
    }
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
