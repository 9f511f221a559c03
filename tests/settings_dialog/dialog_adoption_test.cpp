// The "&Set Server" popup and adopting a listed server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings_dialog/field_rules.h"
#include "tests/settings_dialog/dialog_fixture.h"
#include "tests/support/config_of.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::settings_dialog::testing {
namespace {

class AdoptionTest : public DialogTest {
protected:
    AdoptionTest() {
        config =
            testsupport::ConfigOf("old.example", "oldbackup.example", 1.0f, -1.0f, 3, 30, "", "");
        platform.fakeClock().setNow(2026, 12, 7, 9, 35, 0);
    }

    struct Fields {
        std::string text1, text5, text4, text6;
        bool operator==(const Fields&) const = default;
    };
    Fields fields() {
        return {dlg->serverField().text(), dlg->offsetField().text(), dlg->server2Field().text(),
                dlg->offset2Field().text()};
    }
};

TEST_F(AdoptionTest, PopupOpensOnlyOnTheRightButtonOrADoubleClickWhileTheMenuIsEnabled) {
    open();
    list().mouseDown(2);
    list().doubleClick(-1);
    EXPECT_EQ(popup().timesOpened, 0) << "nothing selected yet: menu disabled";

    list().userSelect(0);
    list().mouseDown(1);
    list().mouseDown(4);
    EXPECT_EQ(popup().timesOpened, 0) << "left and middle buttons";
    list().mouseDown(2);
    EXPECT_EQ(popup().timesOpened, 1) << "right button";
    list().doubleClick(1);
    EXPECT_EQ(popup().timesOpened, 2) << "double click";

    checkAll().click();
    EXPECT_EQ(list().selected, 2);
    list().mouseDown(2);
    list().doubleClick(2);  // same entry: no change of selection, menu stays disabled
    EXPECT_EQ(popup().timesOpened, 2) << "after Check all";
    list().doubleClick(0);  // a new selection enables the menu before the double click
    EXPECT_EQ(popup().timesOpened, 3);
}

TEST_F(AdoptionTest, TheMenuKeyOpensThePopupAtTheSelectedEntryAndAdoptsIt) {
    platform.script("beta.example", PeerScript().reply(100, "07:05:30"));
    open();
    list().menuKey();
    EXPECT_EQ(popup().timesOpenedAtEntry, 0) << "nothing selected";
    list().userSelect(1);
    platform.queuePopupChoice(1);
    list().menuKey();
    EXPECT_EQ(popup().timesOpenedAtEntry, 1);
    EXPECT_EQ(fields(), (Fields{"old.example", "1", "beta.example", "2.5"}));
}

TEST_F(AdoptionTest, PrimaryAndBackupFillTheirOwnPairOfFields) {
    platform.script("alpha.example", PeerScript().reply(100, "07:05:30"));
    platform.script("beta.example", PeerScript().reply(100, "Sun Dec  6 13:30:00 2026\r\n"));
    open();

    list().userSelect(0);
    platform.queuePopupChoice(0);
    list().mouseDown(2);
    EXPECT_EQ(fields(), (Fields{"alpha.example", "2.5", "oldbackup.example", "-1"}));

    // A right click over another entry acts on the selected one; a double
    // click selects the entry under the pointer first.
    list().userSelect(1);
    platform.fakeClock().setNow(2026, 12, 7, 8, 0, 0);
    platform.queuePopupChoice(1);
    list().doubleClick(1);
    EXPECT_EQ(fields(), (Fields{"alpha.example", "2.5", "beta.example", "-5.5"}));
    EXPECT_EQ(platform.connections, (std::vector<std::string>{"alpha.example", "beta.example"}));

    // Only the dialog's fields change.
    EXPECT_EQ(config.primary().host, "old.example");
    EXPECT_EQ(config.backup().offsetHours, -1.0f);
    EXPECT_TRUE(platform.store().writtenKeys.empty());
    EXPECT_EQ(list().items[0], Padded("US alpha.example  Alpha town"));
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(AdoptionTest, ACheckedEntryAdoptsTheSameHost) {
    platform.script("gamma.example", PeerScript().reply(100, "09:35:00"));
    open();
    list().userSelect(2);
    checkServer().click();
    platform.queuePopupChoice(0);
    list().mouseDown(2);
    EXPECT_EQ(fields().text1, "gamma.example");
    EXPECT_EQ(fields().text5, "0");
}

TEST_F(AdoptionTest, ASilentServerAsksFirstYesAdoptsWithOffsetZeroNoChangesNothing) {
    open();
    list().userSelect(1);

    platform.queuePopupChoice(0);
    platform.queueAnswer(platform::kIdNo);
    list().mouseDown(2);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text,
              "WARNING: The selected server 'beta.example' didn't answer within the selected "
              "timeout. Do you want to use this server anyway?");
    EXPECT_EQ(platform.boxes[0].title, "Tempikon 1.2");
    EXPECT_EQ(platform.boxes[0].flags, 52);
    EXPECT_EQ(platform.boxes[0].atMs, 3000);  // after the stored time-out
    EXPECT_EQ(fields(), (Fields{"old.example", "1", "oldbackup.example", "-1"}));

    platform.queuePopupChoice(1);
    platform.queueAnswer(platform::kIdYes);
    list().mouseDown(2);
    EXPECT_EQ(platform.boxes.size(), 2u);
    EXPECT_EQ(fields(), (Fields{"old.example", "1", "beta.example", "0"}));
}

TEST_F(AdoptionTest, UsesTheTimeoutInForceNotTheTypedOne) {
    open();
    dlg->timeoutField().setText("10");
    list().userSelect(0);
    platform.queuePopupChoice(0);
    list().mouseDown(2);
    EXPECT_EQ(platform.boxes.at(0).atMs, 3000);
}

TEST_F(AdoptionTest, AnEntryWithoutAUsableHostAdoptsNothing) {
    platform.files["timeservers.dat"] = "\r\nUS " + std::string(52, 'x') + "\r\nUS ok.example\r\n";
    open();
    for (int i = 0; i < 2; ++i) {
        list().userSelect(i);
        for (auto role : {ConfigDialog::Role::Primary, ConfigDialog::Role::Backup})
            EXPECT_FALSE(dlg->useServerItem(role).isEnabled()) << "entry " << i;
        platform.queuePopupChoice(0);
        list().mouseDown(2);
    }
    list().userSelect(2);
    for (auto role : {ConfigDialog::Role::Primary, ConfigDialog::Role::Backup})
        EXPECT_TRUE(dlg->useServerItem(role).isEnabled()) << "an entry with a host";
    EXPECT_TRUE(platform.connections.empty());
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(fields().text1, "old.example");
}

TEST_F(AdoptionTest, WhileAnAdoptionWaitsNoSecondQueryAndNoClosing) {
    platform.script("alpha.example", PeerScript().reply(2000, "07:05:30"));
    open();
    list().userSelect(0);
    Row whileWaiting{};
    during(500, [&] {
        whileWaiting = row();
        window().userClose();
        cancel().click();
        dlg->onCheckAll();
        dlg->onUseServer(ConfigDialog::Role::Backup);
        list().userSelect(1);  // the list stays usable
        list().mouseDown(2);   // but the menu does not open
    });
    platform.queuePopupChoice(0);
    list().mouseDown(2);

    EXPECT_EQ(whileWaiting, (Row{false, false, false, true, false}));
    EXPECT_EQ(platform.connections, std::vector<std::string>{"alpha.example"});
    EXPECT_EQ(popup().timesOpened, 1);
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(fields().text1, "alpha.example");
    EXPECT_EQ(row(), (Row{true, true, false, true, true}));

    cancel().click();
    EXPECT_TRUE(window().closed);
}

TEST_F(AdoptionTest, TheVetoHoldsWhileTheWarningIsOpen) {
    open();
    list().userSelect(0);
    platform.queuePopupChoice(0);
    platform.queueAnswer(platform::kIdYes, 1000);
    during(3500, [&] { cancel().click(); });
    list().mouseDown(2);
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(fields().text1, "alpha.example");
}

TEST_F(AdoptionTest, DestroyedWhileTheWarningIsOpen) {
    open();
    list().userSelect(0);
    platform.queuePopupChoice(0);
    platform.queueAnswer(platform::kIdYes, 1000);
    during(3500, [&] {
        query.shutdown();
        dlg->close();
    });
    list().mouseDown(2);  // must not write into the destroyed dialog
    EXPECT_EQ(dlg, nullptr);
    EXPECT_EQ(closings, 1);
}

// UTC is chosen when the reply names it or the list marks the server, and
// the estimate agrees with this computer's UTC offset now (Berlin summer
// time: +2); otherwise the estimated fixed offset, box unticked.
TEST_F(AdoptionTest, UtcIsChosenWhenTheServerSendsItAndTheEstimateAgrees) {
    struct Case {
        const char* what;
        const char* description;  // the list entry's columns after the host
        const char* reply;        // empty: silent, adopted anyway
        ConfigDialog::Role role;
        const char* offset;
        bool utc;
    };
    const auto primary = ConfigDialog::Role::Primary;
    const auto backup = ConfigDialog::Role::Backup;
    const std::vector<Case> cases = {
        {"NIST reply", "Plain town", "61222 26-07-01 09:35:00 50 0 0 0.0 UTC(NIST) *", primary, "0",
         true},
        {"-UTC", "Plain town", "Wed Jul  1 09:35:00 2026-UTC\r\n", backup, "0", true},
        {"no UTC named", "Plain town", "Wed Jul  1 09:35:00 2026", primary, "2", false},
        {"UTC inside a word", "Plain town", "09:35:00 UTCX", backup, "2", false},
        {"UTC named, winter's estimate", "Plain town", "10:35:00 UTC", primary, "1", false},
        {"marked in the list", "UTC  Marked town", "09:35:00", backup, "0", true},
        {"marked, estimate disagrees", "UTC  Marked town", "09:05:00", primary, "2.5", false},
        {"marked, silent", "UTC  Marked town", "", primary, "0", true},
        {"unmarked, silent", "Plain town", "", backup, "0", false},
    };
    for (const auto& c : cases) {
        // The boxes start ticked: an adoption that chooses no UTC unticks its own.
        config.primary().setZone("UTC");
        config.backup().setZone("UTC");
        platform.files["timeservers.dat"] = std::string("US s.example  ") + c.description;
        platform.script("s.example", c.reply[0] ? PeerScript().reply(100, c.reply) : PeerScript());
        platform.fakeClock().zone = fake::FakeClock::Zone::Berlin;
        platform.fakeClock().setNowUtc(2026, 7, 1, 9, 35, 0);
        open();
        list().userSelect(0);
        platform.queuePopupChoice(c.role == primary ? 0 : 1);
        if (!c.reply[0]) platform.queueAnswer(platform::kIdYes);
        list().mouseDown(2);
        const bool isPrimary = c.role == primary;
        EXPECT_EQ((isPrimary ? dlg->offsetField() : dlg->offset2Field()).text(), c.offset)
            << c.what;
        EXPECT_EQ((isPrimary ? dlg->utcBox() : dlg->utc2Box()).isChecked(), c.utc) << c.what;
        EXPECT_TRUE((isPrimary ? dlg->utc2Box() : dlg->utcBox()).isChecked())
            << c.what << ": the other server's box";
        dlg.reset();
    }
}

// An NTP entry adopts with its protocol, offset 0 and no zone, whatever its
// time; a Daytime entry puts the choice back to Daytime. A silent server
// asks first, as a Daytime one does.
TEST_F(AdoptionTest, AnNtpEntryAdoptsWithItsProtocolOffsetZeroAndNoZone) {
    platform.files["timeservers.dat"] =
        "SE ntp.example      NTP  Answers\r\n"
        "SE quiet.example    NTP  Silent\r\n"
        "US alpha.example    UTC  Alpha town\r\n";
    tempikon::testing::FakeNtpServer server;
    server.platform = &platform;
    server.aheadMicros = 5'400'000'000;  // an hour and a half ahead: no estimate is made
    platform.scriptUdp("ntp.example", server.responder());
    platform.script("alpha.example", PeerScript().reply(100, "09:35:00 UTC"));
    config.primary().setZone("UTC");
    config.backup().setZone("UTC");
    open();
    auto choice = [this](ConfigDialog::Role role) {
        platform::ComboBox& box =
            role == ConfigDialog::Role::Primary ? dlg->protocolBox() : dlg->protocol2Box();
        return box.itemText(box.selectedIndex());
    };
    struct Step {
        int entry;
        int menuItem;  // 0 primary, 1 backup
        int answer;    // to the warning a silent server brings; 0: none comes
        Fields fields;
        std::string protocol, protocol2;
        bool utc, utc2, utcEnabled, utc2Enabled;
    };
    const std::vector<Step> steps = {
        {0,
         1,
         0,
         {"old.example", "1", "ntp.example", "0"},
         "Daytime",
         "NTP",
         true,
         false,
         true,
         false},
        {1,
         0,
         platform::kIdNo,
         {"old.example", "1", "ntp.example", "0"},
         "Daytime",
         "NTP",
         true,
         false,
         true,
         false},
        {1,
         0,
         platform::kIdYes,
         {"quiet.example", "0", "ntp.example", "0"},
         "NTP",
         "NTP",
         false,
         false,
         false,
         false},
        {2,
         1,
         0,
         {"quiet.example", "0", "alpha.example", "0"},
         "NTP",
         "Daytime",
         false,
         true,
         false,
         true},
    };
    std::size_t boxes = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        list().userSelect(s.entry);
        platform.queuePopupChoice(s.menuItem);
        if (s.answer) platform.queueAnswer(s.answer);
        list().mouseDown(2);
        if (s.answer) ++boxes;
        EXPECT_EQ(platform.boxes.size(), boxes) << "step " << i;
        EXPECT_EQ(fields(), s.fields) << "step " << i;
        EXPECT_EQ(choice(ConfigDialog::Role::Primary), s.protocol) << "step " << i;
        EXPECT_EQ(choice(ConfigDialog::Role::Backup), s.protocol2) << "step " << i;
        EXPECT_EQ(dlg->utcBox().isChecked(), s.utc) << "step " << i;
        EXPECT_EQ(dlg->utc2Box().isChecked(), s.utc2) << "step " << i;
        EXPECT_EQ(dlg->utcBox().isEnabled(), s.utcEnabled) << "step " << i;
        EXPECT_EQ(dlg->utc2Box().isEnabled(), s.utc2Enabled) << "step " << i;
    }
    EXPECT_EQ(server.requests, 1) << "one request is enough to adopt";

    ok().click();
    EXPECT_EQ(platform.store().stored("Server"), "quiet.example");
    EXPECT_EQ(platform.store().stored("Protocol"), "NTP");
    EXPECT_EQ(platform.store().stored("Zone"), "");
    // Daytime as stored before: empty, unchanged.
    EXPECT_EQ(platform.store().stored("Protocol2"), "");
    EXPECT_EQ(platform.store().stored("Zone2"), "UTC");
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
