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
