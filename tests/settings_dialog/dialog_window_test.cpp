// The dialog's window, its filling, its list and OK, Cancel and Help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings_dialog/field_rules.h"
#include "tests/settings_dialog/dialog_fixture.h"
#include "tests/support/config_of.h"

namespace tempikon::settings_dialog::testing {
namespace {

using fake::FakeLabel;
using platform::FontSpec;
using platform::TwipsRect;

bool SameRect(const TwipsRect& a, const TwipsRect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

bool SameFont(const FontSpec& a, const FontSpec& b) {
    return a.face == b.face && a.points == b.points && a.bold == b.bold;
}

const FontSpec kBold{"Comic Sans MS", 9.75, true};
const FontSpec kSmall{"Comic Sans MS", 8.25, false};

using WindowTest = DialogTest;
using Role = ConfigDialog::Role;

TEST_F(WindowTest, LabelsHaveTheirTextsPlacesFontsAndColours) {
    open();
    EXPECT_EQ(window().caption(), "Configuration");
    EXPECT_EQ(window().spec.clientWidthTwips, 9675);
    EXPECT_EQ(window().spec.clientHeightTwips, 6165);
    EXPECT_TRUE(window().spec.dialog);
    EXPECT_TRUE(window().modal);

    struct LabelCase {
        std::string text;
        TwipsRect rect;
        FontSpec font;
        platform::Colour colour;
    };
    const platform::Colour plain = platform::kButtonTextColour;
    const std::vector<LabelCase> labels = {
        {"&Primary Timeserver", {120, 120, 2055, 255}, kBold, plain},
        {"Select from the list below", {120, 750, 2655, 255}, kSmall, 0x000000FF},
        {"O&ffset", {4080, 120, 855, 255}, kBold, plain},
        {"Hours", {5235, 480, 615, 285}, kSmall, plain},
        {"&Timeout", {5880, 120, 975, 255}, kBold, plain},
        {"Seconds", {7395, 480, 855, 285}, kSmall, plain},
        {"&Backup Timeserver", {120, 1080, 2055, 255}, kBold, plain},
        {"Select from the list below", {120, 1710, 2655, 255}, kSmall, 0x000000FF},
        {"Offs&et", {4080, 1080, 855, 255}, kBold, plain},
        {"Hours", {5235, 1440, 615, 285}, kSmall, plain},
        {"&Interval (Server mode)", {5880, 1080, 2415, 255}, kBold, plain},
        {"Minutes", {7395, 1440, 735, 285}, kSmall, plain},
        // Each protocol choice's label, with its accelerator.
        {"&Get time by", {2655, 120, 1200, 255}, kSmall, plain},
        {"Get time b&y", {2655, 1080, 1200, 255}, kSmall, plain},
        {"&List of public Timerservers", {120, 2160, 4335, 255}, kBold, plain},
        {"", {120, 5190, 7695, 255}, kSmall, plain},  // the status line
        // The trust rows, under each host field.
        {"E&xtra trusted certificates (PEM)", {120, 795, 2880, 255}, kSmall, plain},
        {"Extra trusted certificates (PE&M)", {120, 1755, 2880, 255}, kSmall, plain},
    };
    // The labels in the order they were created.
    std::vector<FakeLabel*> shown;
    for (platform::Control* control : window().controls) {
        if (auto* l = dynamic_cast<FakeLabel*>(control)) shown.push_back(l);
    }
    ASSERT_EQ(shown.size(), labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const LabelCase& c = labels[i];
        const FakeLabel& label = *shown[i];
        EXPECT_EQ(label.text(), c.text);
        EXPECT_TRUE(SameRect(label.rect, c.rect)) << c.text;
        EXPECT_TRUE(SameFont(label.font, c.font)) << c.text;
        EXPECT_EQ(label.textColour(), c.colour) << c.text;
    }
}

TEST_F(WindowTest, FocusableControlsComeInTabOrderWithTheirPlaces) {
    open();
    struct Focusable {
        platform::Control* control;
        TwipsRect rect;
    };
    const std::vector<Focusable> order = {
        {&dlg->serverField(), {120, 480, 2475, 285}},
        {&dlg->protocolBox(), {2655, 480, 1200, 270}},
        {&dlg->offsetField(), {4080, 480, 1095, 285}},
        {&dlg->utcBox(), {4080, 765, 1770, 255}},
        {&dlg->trustField(Role::Primary), {3060, 780, 4920, 285}},
        {&dlg->trustButton(Role::Primary), {8040, 780, 1455, 285}},
        {&dlg->server2Field(), {120, 1440, 2475, 285}},
        {&dlg->protocol2Box(), {2655, 1440, 1200, 270}},
        {&dlg->offset2Field(), {4080, 1440, 1095, 285}},
        {&dlg->utc2Box(), {4080, 1725, 1770, 255}},
        {&dlg->trustField(Role::Backup), {3060, 1740, 4920, 285}},
        {&dlg->trustButton(Role::Backup), {8040, 1740, 1455, 285}},
        {&dlg->timeoutField(), {5880, 480, 1455, 285}},
        {&dlg->intervalField(), {5880, 1440, 1455, 285}},
        {&dlg->serverList(), {120, 2520, 7695, 2610}},
        {&dlg->autostartBox(), {120, 5520, 7695, 255}},
        {&dlg->keepClockBox(), {120, 5790, 7695, 255}},
        {&dlg->checkAllButton(), {8040, 2520, 1455, 375}},
        {&dlg->checkServerButton(), {8040, 3000, 1455, 375}},
        {&dlg->abortButton(), {8040, 3480, 1455, 375}},
        {&dlg->okButton(), {8040, 4440, 1455, 375}},
        {&dlg->cancelButton(), {8040, 4920, 1455, 375}},
        {&dlg->helpButton(), {8040, 5400, 1455, 375}},
    };
    ASSERT_EQ(window().tabOrder.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(window().tabOrder[i], order[i].control) << "tab stop " << i;
        const platform::Control* c = order[i].control;
        TwipsRect rect;
        if (auto* t = dynamic_cast<const FakeTextField*>(c)) rect = t->rect;
        if (auto* b = dynamic_cast<const FakeButton*>(c)) rect = b->rect;
        if (auto* l = dynamic_cast<const FakeListBox*>(c)) rect = l->rect;
        if (auto* u = dynamic_cast<const fake::FakeCheckBox*>(c)) rect = u->rect;
        if (auto* p = dynamic_cast<const fake::FakeComboBox*>(c)) rect = p->rect;
        EXPECT_TRUE(SameRect(rect, order[i].rect)) << "tab stop " << i;
    }
    // Nothing overlaps another control, labels included.
    std::vector<TwipsRect> placed;
    for (platform::Control* c : window().controls) {
        if (auto* l = dynamic_cast<FakeLabel*>(c)) placed.push_back(l->rect);
    }
    for (const Focusable& f : order) placed.push_back(f.rect);
    auto overlap = [](const TwipsRect& a, const TwipsRect& b) {
        return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
               b.top < a.top + a.height;
    };
    for (const Focusable& f : {order[1], order[7]}) {
        for (const TwipsRect& other : placed) {
            if (SameRect(other, f.rect)) continue;
            EXPECT_FALSE(overlap(f.rect, other))
                << "choice at " << f.rect.top << " meets " << other.left << "," << other.top;
        }
    }

    // Host fields left-aligned, numbers right-aligned.
    EXPECT_EQ(field(dlg->serverField()).align, platform::Align::Left);
    EXPECT_EQ(field(dlg->server2Field()).align, platform::Align::Left);
    for (auto* f :
         {&dlg->offsetField(), &dlg->offset2Field(), &dlg->timeoutField(), &dlg->intervalField()})
        EXPECT_EQ(field(*f).align, platform::Align::Right);

    EXPECT_TRUE(SameFont(list().font, FontSpec{"Courier New", 8.25, false}));
    const std::vector<std::pair<FakeButton*, std::string>> buttons = {
        {&checkAll(), "Check &all"}, {&checkServer(), "Check &server"},
        {&abort(), "Abo&rt"},        {&ok(), "&OK"},
        {&cancel(), "&Cancel"},      {&help(), "&Help"},
    };
    for (const auto& [button, caption] : buttons) {
        EXPECT_EQ(button->caption(), caption);
        EXPECT_TRUE(SameFont(button->font, kBold)) << caption;
    }
    EXPECT_EQ(window().defaultButton, &dlg->okButton());

    EXPECT_EQ(popup().caption, "&Set Server");
    ASSERT_EQ(popup().items.size(), 2u);
    EXPECT_EQ(popup().items[0]->caption(), "Use as &primary timeserver");
    EXPECT_EQ(popup().items[1]->caption(), "Use as &backup timeserver");
}

TEST_F(WindowTest, FieldsAreFilledFromConfigInNumberText) {
    config = testsupport::ConfigOf("prim.example", "back.example", -5.5f, 0.1f, 10, 45, "", "");
    open();
    EXPECT_EQ(dlg->serverField().text(), "prim.example");
    EXPECT_EQ(dlg->server2Field().text(), "back.example");
    EXPECT_EQ(dlg->offsetField().text(), "-5.5");
    EXPECT_EQ(dlg->offset2Field().text(), "0.1");
    EXPECT_EQ(dlg->timeoutField().text(), "10");
    EXPECT_EQ(dlg->intervalField().text(), "45");
    EXPECT_TRUE(dlg->isShown());

    // Defaults of a first run.
    dlg.reset();
    config = testsupport::ConfigOf("", "", 0.0f, 0.0f, 3, 30, "", "");
    open();
    EXPECT_EQ(dlg->serverField().text(), "");
    EXPECT_EQ(dlg->offsetField().text(), "0");
    EXPECT_EQ(dlg->offset2Field().text(), "0");
    EXPECT_EQ(dlg->timeoutField().text(), "3");
    EXPECT_EQ(dlg->intervalField().text(), "30");
}

TEST_F(WindowTest, ListComesFromTheFileWithNothingSelected) {
    open();
    EXPECT_EQ(list().items, (std::vector<std::string>{Padded("US alpha.example  Alpha town"),
                                                      Padded("US beta.example   Beta town"),
                                                      Padded("US gamma.example  Gamma town")}));
    EXPECT_EQ(list().selected, -1);
}

TEST_F(WindowTest, WithoutAListFileTheRestOfTheDialogWorks) {
    platform.files.clear();
    config.primary().host = "prim.example";
    open();
    EXPECT_EQ(list().count(), 0);
    checkAll().click();  // checks nothing, takes the time-out over
    EXPECT_TRUE(platform.connections.empty());
    EXPECT_EQ(row(), (Row{true, true, false, true, false}));
    ok().click();
    EXPECT_TRUE(window().closed);
    EXPECT_EQ(platform.store().stored("Server"), "prim.example");
}

// ---- OK ----------------------------------------------------------------------------

using OkTest = DialogTest;

TEST_F(OkTest, RefusedFieldsShowTheMessageAndChangeNothing) {
    const std::vector<std::pair<const char*, std::function<void(ConfigDialog&)>>> refusals = {
        {"empty primary", [](ConfigDialog& d) { d.serverField().setText(""); }},
        {"blank primary", [](ConfigDialog& d) { d.serverField().setText("   "); }},
        {"time-out 0", [](ConfigDialog& d) { d.timeoutField().setText("0"); }},
        {"time-out 0.3", [](ConfigDialog& d) { d.timeoutField().setText("0.3"); }},
        {"interval abc", [](ConfigDialog& d) { d.intervalField().setText("abc"); }},
        {"interval -1", [](ConfigDialog& d) { d.intervalField().setText("-1"); }},
        {"offset -23.6", [](ConfigDialog& d) { d.offsetField().setText("-23.6"); }},
        {"backup offset 24 with no backup",
         [](ConfigDialog& d) { d.offset2Field().setText("24"); }},
    };
    config = testsupport::ConfigOf("prim.example", "", 1.0f, 0.0f, 3, 30, "", "");
    for (const auto& [name, change] : refusals) {
        open();
        change(*dlg);
        const std::size_t boxes = platform.boxes.size();
        ok().click();
        ASSERT_EQ(platform.boxes.size(), boxes + 1) << name;
        EXPECT_EQ(platform.boxes.back().text, kFieldsMessage);
        EXPECT_EQ(platform.boxes.back().title, "Tempikon 1.2");
        EXPECT_EQ(platform.boxes.back().flags, 48);
        EXPECT_FALSE(window().closed) << name;
        EXPECT_EQ(config.primary().host, "prim.example") << name;
        EXPECT_EQ(config.primary().offsetHours, 1.0f) << name;
        EXPECT_TRUE(platform.store().writtenKeys.empty()) << name;
        EXPECT_EQ(mainLabel1->text(), "") << name;
        dlg.reset();
    }
}

TEST_F(OkTest, AcceptedFieldsAreSavedShownInTheMainWindowAndTheDialogCloses) {
    config.backup().setZone("UTC");  // its box is ticked: it survives OK
    open();
    dlg->serverField().setText("  new.example ");
    dlg->offsetField().setText("1,5");
    dlg->server2Field().setText(" ");
    dlg->offset2Field().setText("-23.5");
    dlg->timeoutField().setText("2.5");
    dlg->intervalField().setText("3.5");
    window().pressEnter();  // Enter presses OK

    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(config.primary().host, "new.example");
    EXPECT_EQ(config.backup().host, "");
    EXPECT_EQ(config.primary().offsetHours, 1.0f);
    EXPECT_EQ(config.backup().offsetHours, -23.5f);
    EXPECT_EQ(config.timeout, 2);
    EXPECT_EQ(config.interval, 4);
    auto& store = platform.store();
    EXPECT_EQ(store.writtenKeys, (std::vector<std::string>{
                                     "Server", "Server2", "Offset", "Offset2", "Timeout",
                                     "Interval", "Zone", "Zone2", "Protocol", "Protocol2", "Step",
                                     "TrustedCertificates", "TrustedCertificates2", "MaxChange"}));
    EXPECT_EQ(store.stored("Server"), "new.example");
    EXPECT_EQ(store.stored("Server2"), "");
    EXPECT_EQ(store.stored("Timeout"), "2");
    EXPECT_EQ(store.stored("Interval"), "4");
    EXPECT_EQ(store.stored("Zone2"), "UTC");
    EXPECT_EQ(config.backup().zone(), "UTC");
    EXPECT_EQ(store.commits, 1);

    EXPECT_EQ(mainLabel1->text(), "new.example");
    EXPECT_TRUE(mainSet->isEnabled());
    EXPECT_TRUE(window().closed);
    EXPECT_EQ(closings, 1);
    platform.advance(0);
    EXPECT_EQ(dlg, nullptr);
}

// The boxes show the zones in force; OK stores what they show.
TEST_F(OkTest, TheUtcBoxesShowTheZonesAndOkStoresThem) {
    struct Case {
        std::string zone, zone2;
        bool shown, shown2;  // ticked when the dialog opens
        bool click, click2;  // the user toggles the box
        std::string stored, stored2;
    };
    const std::vector<Case> cases = {
        {"", "", false, false, false, false, "", ""},
        {" utc ", "America/Denver", true, false, false, false, "UTC", ""},
        {"UTC", "UTC", true, true, true, false, "", "UTC"},
        {"", "", false, false, false, true, "", "UTC"},
    };
    for (const auto& c : cases) {
        config = testsupport::ConfigOf("prim.example", "back.example", 0.0f, 0.0f, 3, 30, c.zone,
                                       c.zone2);
        open();
        EXPECT_EQ(dlg->utcBox().isChecked(), c.shown) << c.zone;
        EXPECT_EQ(dlg->utc2Box().isChecked(), c.shown2) << c.zone2;
        if (c.click) fake::as<fake::FakeCheckBox>(dlg->utcBox()).click();
        if (c.click2) fake::as<fake::FakeCheckBox>(dlg->utc2Box()).click();
        ok().click();
        EXPECT_EQ(platform.store().stored("Zone"), c.stored) << c.zone;
        EXPECT_EQ(platform.store().stored("Zone2"), c.stored2) << c.zone2;
        EXPECT_EQ(config.primary().zone(), c.stored) << "in force";
        EXPECT_EQ(config.backup().zone(), c.stored2) << "in force";
        platform.advance(0);
    }
}

// Each server's protocol choice shows the stored one; OK stores the choice,
// and keeps the stored text when the choice still names it.
TEST_F(OkTest, TheProtocolChoicesShowTheStoredOnesAndOkStoresThem) {
    // As on Windows: Daytime and NTP offered (the NTS choice has its own test).
    platform.ntsUnavailable = "no NTS here";
    using Items = std::vector<std::string>;
    struct Case {
        std::string stored, stored2;
        Items items, items2;           // offered when the dialog opens
        std::string shown, shown2;     // selected then
        std::string choose, choose2;   // the user's choice; empty: none
        bool utcEnabled, utc2Enabled;  // after the choice
        std::string saved, saved2;
    };
    const Items both = {"Daytime", "NTP"};
    const std::vector<Case> cases = {
        {"", "", both, both, "Daytime", "Daytime", "", "", true, true, "", ""},
        {"NTP", " daytime ", both, both, "NTP", "Daytime", "", "", false, true, "NTP", " daytime "},
        {"", "ntp", both, both, "Daytime", "NTP", "NTP", "Daytime", false, true, "NTP", "Daytime"},
        {"NTP", "", both, both, "NTP", "Daytime", "Daytime", "NTP", true, false, "Daytime", "NTP"},
        {"SNTP",
         "NTS",
         {"Daytime", "NTP", "SNTP"},
         {"Daytime", "NTP", "NTS"},
         "SNTP",
         "NTS",
         "",
         "",
         true,
         false,  // NTS gives UTC: no zone applies
         "SNTP",
         "NTS"},
        {"SNTP",
         "NTS",
         {"Daytime", "NTP", "SNTP"},
         {"Daytime", "NTP", "NTS"},
         "SNTP",
         "NTS",
         "NTP",
         "Daytime",
         false,
         true,
         "NTP",
         "Daytime"},
    };
    for (const auto& c : cases) {
        const std::string name = "stored '" + c.stored + "', '" + c.stored2 + "'";
        config =
            testsupport::ConfigOf("prim.example", "back.example", 0.0f, 0.0f, 3, 30, "UTC", "UTC");
        config.primary().protocol = core::ProtocolSetting(c.stored);
        config.backup().protocol = core::ProtocolSetting(c.stored2);
        open();
        auto& box = fake::as<fake::FakeComboBox>(dlg->protocolBox());
        auto& box2 = fake::as<fake::FakeComboBox>(dlg->protocol2Box());
        EXPECT_EQ(box.items, c.items) << name;
        EXPECT_EQ(box2.items, c.items2) << name;
        EXPECT_EQ(box.itemText(box.selected), c.shown) << name;
        EXPECT_EQ(box2.itemText(box2.selected), c.shown2) << name;
        if (!c.choose.empty()) box.userChoose(c.choose);
        if (!c.choose2.empty()) box2.userChoose(c.choose2);
        EXPECT_EQ(dlg->utcBox().isEnabled(), c.utcEnabled) << name;
        EXPECT_EQ(dlg->utc2Box().isEnabled(), c.utc2Enabled) << name;
        ok().click();
        EXPECT_TRUE(window().closed) << name;
        EXPECT_EQ(platform.store().stored("Protocol"), c.saved) << name;
        EXPECT_EQ(platform.store().stored("Protocol2"), c.saved2) << name;
        EXPECT_EQ(config.primary().protocol.text(), c.saved) << name << ", in force";
        EXPECT_EQ(config.backup().protocol.text(), c.saved2) << name << ", in force";
        // The zones are kept: the choice only decides whether they count.
        EXPECT_EQ(config.primary().zone(), "UTC") << name;
        platform.advance(0);
    }
}

TEST_F(OkTest, AFailedSaveIsReportedAndTheDialogStaysOpen) {
    platform.store().failCommitWith = "No space left on device";
    open();
    dlg->serverField().setText("new.example");
    ok().click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_NE(platform.boxes[0].text.find("No space left on device"), std::string::npos);
    EXPECT_EQ(platform.boxes[0].flags, 48);
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(dlg->serverField().text(), "new.example");
    // The values are in force for this run all the same.
    EXPECT_EQ(config.primary().host, "new.example");
    EXPECT_EQ(mainLabel1->text(), "new.example");

    platform.store().failCommitWith.clear();
    ok().click();
    EXPECT_TRUE(window().closed);
}

TEST_F(OkTest, CancelTakesNothingOverButKeepsATimeoutACheckTookOver) {
    config.primary().host = "stored.example";
    open();
    dlg->serverField().setText("typed.example");
    dlg->timeoutField().setText("10");
    list().userSelect(0);
    checkServer().click();  // silent server: waits the new 10 seconds
    EXPECT_EQ(platform.nowMs(), 10'000);
    cancel().click();
    EXPECT_TRUE(window().closed);
    EXPECT_EQ(config.primary().host, "stored.example");
    EXPECT_EQ(config.timeout, 10);
    EXPECT_TRUE(platform.store().writtenKeys.empty());

    platform.advance(0);
    open();
    EXPECT_EQ(dlg->serverField().text(), "stored.example");
    EXPECT_EQ(dlg->timeoutField().text(), "10");
}

TEST_F(OkTest, HelpOpensTheInstalledPageAndTheDialogStaysOpen) {
    platform.dataDirs = {"/opt/tempikon/bin", "/usr/share/tempikon"};
    platform.files["/usr/share/tempikon/help.html"] = "<html></html>";
    open();
    help().click();
    ASSERT_EQ(platform.openedAddresses.size(), 1u);
    EXPECT_EQ(platform.openedAddresses[0], "file:///usr/share/tempikon/help.html");
    EXPECT_FALSE(window().closed);
    EXPECT_TRUE(platform.boxes.empty());

    platform.files.erase("/usr/share/tempikon/help.html");
    help().click();
    EXPECT_EQ(platform.openedAddresses.back(), kHelpWebAddress);

    // Nothing to open it with: the address is shown, to copy.
    platform.canOpenAddresses = false;
    help().click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_NE(platform.boxes[0].text.find(kHelpWebAddress), std::string::npos);
    EXPECT_FALSE(window().closed);
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
