// NTS in the configuration dialog: the protocol choice, a check that shows
// who vouched for the time, and adopting an NTS entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/settings_dialog/dialog_fixture.h"
#include "tests/support/fake_nts_server.h"

namespace tempikon::settings_dialog::testing {
namespace {

using NtsDialogTest = DialogTest;

std::vector<std::string> Items(platform::ComboBox& box) {
    std::vector<std::string> items;
    for (int i = 0; i < box.count(); ++i) items.push_back(box.itemText(i));
    return items;
}

TEST_F(NtsDialogTest, AnNtsEntryIsCheckedWithItsTwinsCertificatesAndAdoptedAsNts) {
    if (!platform.crypto()) GTEST_SKIP() << "no NTS in this build";
    const std::string entry = Padded("SE nts.example      NTS  Private server");
    platform.files["timeservers.dat"] = entry + "\r\n";
    tempikon::testing::FakeNtsServer server;
    server.ntp.platform = &platform;
    server.ntp.aheadMicros = 2'000'000;
    platform.tlsPeers["nts.example"] = server.keScript();
    platform.scriptUdp("nts.example", server.responder());
    // The configured private server trusts its own certificate.
    config.primary().host = "nts.example:4460";
    config.primary().protocol = core::ProtocolSetting("NTS");
    config.primary().trustFile = "/etc/tempikon/nts-ca.pem";
    open();
    EXPECT_EQ(Items(dlg->protocolBox()), (std::vector<std::string>{"Daytime", "NTP", "NTS"}));
    EXPECT_EQ(dlg->protocolBox().selectedIndex(), 2);
    EXPECT_FALSE(dlg->utcBox().isEnabled());

    list().userSelect(0);
    checkServer().click();
    EXPECT_EQ(list().items[0].substr(55), "   [12:00:02 +2.000s authenticated]");
    // The whole result, and who vouched for it.
    EXPECT_EQ(dlg->statusLine().text(),
              "nts.example: 12:00:02 +2.000s authenticated by CN=fake.example");
    ASSERT_EQ(platform.tlsConnections.size(), 1u);
    EXPECT_EQ(platform.tlsConnections[0].extraTrust, "/etc/tempikon/nts-ca.pem");

    // Adopted as the backup: NTS, offset 0, no zone.
    platform.queuePopupChoice(1);
    list().mouseDown(2);
    EXPECT_EQ(dlg->server2Field().text(), "nts.example");
    EXPECT_EQ(dlg->protocol2Box().itemText(dlg->protocol2Box().selectedIndex()), "NTS");
    EXPECT_FALSE(dlg->utc2Box().isEnabled());
    ok().click();
    EXPECT_EQ(platform.store().stored("Protocol2"), "NTS");
    EXPECT_EQ(platform.store().stored("TrustedCertificates"), "/etc/tempikon/nts-ca.pem");
    EXPECT_TRUE(platform.fakeClock().settings.empty());
}

TEST_F(NtsDialogTest, WhereTheSystemOffersNoNtsTheChoiceKeepsAStoredOne) {
    platform.ntsUnavailable = "NTS is not offered on Windows";
    const std::string entry = Padded("SE nts.example      NTS  Public");
    platform.files["timeservers.dat"] = entry + "\r\n";
    config.primary().host = "a.example";
    config.primary().protocol = core::ProtocolSetting("nts");
    open();
    EXPECT_EQ(Items(dlg->protocolBox()), (std::vector<std::string>{"Daytime", "NTP", "nts"}));
    EXPECT_EQ(dlg->protocolBox().selectedIndex(), 2);
    EXPECT_EQ(Items(dlg->protocol2Box()), (std::vector<std::string>{"Daytime", "NTP"}));

    // A check says why; adopting still takes the entry's protocol, which
    // the setting then reports, and does so once per choice.
    list().userSelect(0);
    checkServer().click();
    EXPECT_EQ(dlg->statusLine().text(), "nts.example: NTS is not offered on Windows");
    for (int i = 0; i < 2; ++i) {
        platform.queuePopupChoice(1);
        platform.queueAnswer(platform::kIdYes);
        list().mouseDown(2);
    }
    EXPECT_EQ(Items(dlg->protocol2Box()), (std::vector<std::string>{"Daytime", "NTP", "NTS"}));
    EXPECT_EQ(dlg->protocol2Box().selectedIndex(), 2);
    ok().click();
    EXPECT_EQ(platform.store().stored("Protocol"), "nts");
    EXPECT_EQ(platform.store().stored("Protocol2"), "NTS");
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing

namespace tempikon::settings_dialog::testing {
namespace {

// A private NTS server on its own port: the list entry with the same host
// and port is checked and adopted with the configured server's
// certificates, and adopting copies them; the same host on another port
// gets none.
TEST_F(NtsDialogTest, APrivateServerOnItsOwnPortIsCheckedAndAdoptedWithItsCertificates) {
    if (!platform.crypto()) GTEST_SKIP() << "no NTS in this build";
    platform.files["timeservers.dat"] =
        Padded("SE nts.example:14460 NTS  Private server") + "\r\n" +
        Padded("SE nts.example       NTS  Same host, default port") + "\r\n";
    tempikon::testing::FakeNtsServer server;
    server.ntp.platform = &platform;
    platform.tlsPeers["nts.example"] = server.keScript();
    platform.scriptUdp("nts.example", server.responder());
    config.primary().host = "nts.example:14460";
    config.primary().protocol = core::ProtocolSetting("NTS");
    config.primary().trustFile = "/srv/private-ca.pem";
    open();

    // The same host on the default port: none of the private certificates.
    list().userSelect(1);
    checkServer().click();
    ASSERT_EQ(platform.tlsConnections.size(), 1u);
    EXPECT_EQ(platform.tlsConnections[0].port, 4460);
    EXPECT_EQ(platform.tlsConnections[0].extraTrust, "");

    // Adopted as the backup (whose own certificates are none): asked with
    // the private server's, which go with it.
    list().userSelect(0);
    platform.queuePopupChoice(1);
    list().mouseDown(2);
    EXPECT_EQ(dlg->server2Field().text(), "nts.example:14460");
    EXPECT_TRUE(platform.boxes.empty());
    ASSERT_EQ(platform.tlsConnections.size(), 2u);
    EXPECT_EQ(platform.tlsConnections[1].port, 14460);
    EXPECT_EQ(platform.tlsConnections[1].extraTrust, "/srv/private-ca.pem");
    ok().click();
    EXPECT_EQ(platform.store().stored("Server2"), "nts.example:14460");
    EXPECT_EQ(platform.store().stored("TrustedCertificates2"), "/srv/private-ca.pem");
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing

namespace tempikon::settings_dialog::testing {
namespace {

using Role = ConfigDialog::Role;

// Shown, as the user sees each server's part: the trust row, and the hint
// and "sends UTC" box it takes the place of.
struct TrustRowSeen {
    bool row;
    bool hint;
    bool utcBox;
    bool operator==(const TrustRowSeen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TrustRowSeen& s) {
    return os << "{row " << s.row << ", hint " << s.hint << ", sends UTC " << s.utcBox << "}";
}

TrustRowSeen Seen(ConfigDialog& dlg, Role role) {
    const bool primary = role == Role::Primary;
    const bool row = !dlg.trustLabel(role).isHidden();
    // The three controls of the row come and go together.
    EXPECT_EQ(dlg.trustField(role).isHidden(), !row);
    EXPECT_EQ(dlg.trustButton(role).isHidden(), !row);
    return {row, !(primary ? dlg.primaryHint() : dlg.backupHint()).isHidden(),
            !(primary ? dlg.utcBox() : dlg.utc2Box()).isHidden()};
}

constexpr TrustRowSeen kNtsSeen{true, false, false};
constexpr TrustRowSeen kOtherSeen{false, true, true};

// The trust row is there for NTS alone: as stored when the dialog opens,
// and as the user changes the choice afterwards, for each server.
TEST_F(NtsDialogTest, TheTrustRowIsShownOnlyWhileTheChoiceIsNts) {
    struct Case {
        const char* stored;
        const char* ntsUnavailable;
        TrustRowSeen opened;
    };
    const Case cases[] = {
        {"Daytime", "", kOtherSeen},
        {"NTP", "", kOtherSeen},
        {"NTS", "", kNtsSeen},
        {"nts", "", kNtsSeen},
        {"SNTP", "", kOtherSeen},
        // Kept as stored where the system has no NTS: its file still shows.
        {"nts", "no NTS here", kNtsSeen},
    };
    for (const Case& c : cases) {
        for (const Role role : {Role::Primary, Role::Backup}) {
            SCOPED_TRACE(std::string(c.stored) + (role == Role::Primary ? " primary" : " backup") +
                         (*c.ntsUnavailable ? " without NTS" : ""));
            platform.ntsUnavailable = c.ntsUnavailable;
            config.primary().host = "a.example";
            config.backup().host = "b.example";
            config.primary().protocol = core::ProtocolSetting("Daytime");
            config.backup().protocol = core::ProtocolSetting("Daytime");
            (role == Role::Primary ? config.primary() : config.backup()).protocol =
                core::ProtocolSetting(c.stored);
            open();
            const Role other = role == Role::Primary ? Role::Backup : Role::Primary;
            EXPECT_EQ(Seen(*dlg, role), c.opened);
            EXPECT_EQ(Seen(*dlg, other), kOtherSeen);
            if (!*c.ntsUnavailable) {
                auto& box = fake::as<fake::FakeComboBox>(
                    role == Role::Primary ? dlg->protocolBox() : dlg->protocol2Box());
                box.userChoose("NTS");
                EXPECT_EQ(Seen(*dlg, role), kNtsSeen);
                EXPECT_EQ(Seen(*dlg, other), kOtherSeen);
                box.userChoose("NTP");
                EXPECT_EQ(Seen(*dlg, role), kOtherSeen);
                box.userChoose("Daytime");
                EXPECT_EQ(Seen(*dlg, role), kOtherSeen);
                // Back to Daytime, the zone box is usable again.
                EXPECT_TRUE((role == Role::Primary ? dlg->utcBox() : dlg->utc2Box()).isEnabled());
            }
            cancel().click();
            platform.advance(0);
            ASSERT_FALSE(dlg);
        }
    }
}

// What each server's field holds goes through OK into its setting, trimmed;
// the chooser fills it, and a cancelled chooser leaves it; Cancel stores
// nothing.
TEST_F(NtsDialogTest, TheTrustFieldsGoThroughOkAndTheChooserFillsThem) {
    config.primary().host = "nts.example:14460";
    config.primary().protocol = core::ProtocolSetting("NTS");
    config.primary().trustFile = "/srv/private-ca.pem";
    config.backup().host = "backup.example";
    config.backup().protocol = core::ProtocolSetting("NTS");
    open();
    EXPECT_EQ(dlg->trustField(Role::Primary).text(), "/srv/private-ca.pem");
    EXPECT_EQ(dlg->trustField(Role::Backup).text(), "");

    // The chooser opens at the file chosen so far; cancelled, nothing changes.
    fake::as<FakeButton>(dlg->trustButton(Role::Primary)).click();
    ASSERT_EQ(platform.fileChoosers.size(), 1u);
    EXPECT_EQ(platform.fileChoosers[0].current, "/srv/private-ca.pem");
    EXPECT_FALSE(platform.fileChoosers[0].patterns.empty());
    EXPECT_EQ(dlg->trustField(Role::Primary).text(), "/srv/private-ca.pem");

    platform.queueFileChoice("/home/u/backup ca.pem");
    fake::as<FakeButton>(dlg->trustButton(Role::Backup)).click();
    ASSERT_EQ(platform.fileChoosers.size(), 2u);
    EXPECT_EQ(platform.fileChoosers[1].current, "");
    EXPECT_EQ(dlg->trustField(Role::Backup).text(), "/home/u/backup ca.pem");

    // Cancel: the settings keep what they had.
    cancel().click();
    platform.advance(0);
    EXPECT_EQ(platform.store().stored("TrustedCertificates2"), std::nullopt);
    EXPECT_EQ(config.backup().trustFile, "");

    open();
    EXPECT_EQ(dlg->trustField(Role::Backup).text(), "");
    field(dlg->trustField(Role::Primary)).type("  /srv/other-ca.pem \t");
    platform.queueFileChoice("/home/u/backup ca.pem");
    fake::as<FakeButton>(dlg->trustButton(Role::Backup)).click();
    ok().click();
    EXPECT_EQ(platform.store().stored("TrustedCertificates"), "/srv/other-ca.pem");
    EXPECT_EQ(platform.store().stored("TrustedCertificates2"), "/home/u/backup ca.pem");
    EXPECT_EQ(config.primary().trustFile, "/srv/other-ca.pem");
    platform.advance(0);

    // Emptied, the system's certificates alone; a row hidden by another
    // protocol keeps its file.
    open();
    EXPECT_EQ(dlg->trustField(Role::Primary).text(), "/srv/other-ca.pem");
    field(dlg->trustField(Role::Primary)).type("");
    fake::as<fake::FakeComboBox>(dlg->protocol2Box()).userChoose("NTP");
    ok().click();
    EXPECT_EQ(platform.store().stored("TrustedCertificates"), "");
    EXPECT_EQ(platform.store().stored("Protocol2"), "NTP");
    EXPECT_EQ(platform.store().stored("TrustedCertificates2"), "/home/u/backup ca.pem");
}

// Adopting an entry puts its configured twin's certificates into the
// field, or empties it for a server nobody configured.
TEST_F(NtsDialogTest, AdoptingAnEntryFillsItsTrustField) {
    if (!platform.crypto()) GTEST_SKIP() << "no NTS in this build";
    platform.files["timeservers.dat"] = Padded("SE nts.example:14460 NTS  Private server") +
                                        "\r\n" + Padded("SE public.example   NTS  Public") + "\r\n";
    tempikon::testing::FakeNtsServer server;
    server.ntp.platform = &platform;
    for (const char* host : {"nts.example", "public.example"}) {
        platform.tlsPeers[host] = server.keScript();
        platform.scriptUdp(host, server.responder());
    }
    config.primary().host = "nts.example:14460";
    config.primary().protocol = core::ProtocolSetting("NTS");
    config.primary().trustFile = "/srv/private-ca.pem";
    config.backup().host = "b.example";
    config.backup().protocol = core::ProtocolSetting("NTP");
    config.backup().trustFile = "/srv/stale.pem";
    open();
    EXPECT_EQ(Seen(*dlg, Role::Backup), kOtherSeen);

    list().userSelect(0);
    platform.queuePopupChoice(1);
    list().mouseDown(2);
    EXPECT_EQ(dlg->server2Field().text(), "nts.example:14460");
    EXPECT_EQ(dlg->trustField(Role::Backup).text(), "/srv/private-ca.pem");
    // Adopted as NTS: the row shows what came with it.
    EXPECT_EQ(Seen(*dlg, Role::Backup), kNtsSeen);

    list().userSelect(1);
    platform.queuePopupChoice(0);
    list().mouseDown(2);
    EXPECT_EQ(dlg->serverField().text(), "public.example");
    EXPECT_EQ(dlg->trustField(Role::Primary).text(), "");
    ok().click();
    EXPECT_EQ(platform.store().stored("TrustedCertificates"), "");
    EXPECT_EQ(platform.store().stored("TrustedCertificates2"), "/srv/private-ca.pem");
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
