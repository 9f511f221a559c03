// The dialog's window, its filling, its list and OK, Cancel and Help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings_dialog/field_rules.h"
#include "tests/settings_dialog/dialog_fixture.h"

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
const FontSpec kDefault{};

using WindowTest = DialogTest;

TEST_F(WindowTest, LabelsHaveTheirTextsPlacesFontsAndColours) {
    open();
    EXPECT_EQ(window().caption(), "Configuration");
    EXPECT_EQ(window().spec.clientWidthTwips, 9675);
    EXPECT_EQ(window().spec.clientHeightTwips, 5895);
    EXPECT_TRUE(window().spec.dialog);
    EXPECT_TRUE(window().modal);

    struct LabelCase {
        platform::Label& label;
        std::string text;
        TwipsRect rect;
        FontSpec font;
        platform::Colour colour;
    };
    const platform::Colour plain = platform::kButtonTextColour;
    const std::vector<LabelCase> labels = {
        {dlg->Label1(), "Primary Timeserver", {120, 120, 2055, 255}, kBold, plain},
        {dlg->Label2(), "Select from the list below", {120, 750, 2655, 255}, kSmall, 0x000000FF},
        {dlg->Label10(), "Offset", {4080, 120, 855, 255}, kBold, plain},
        {dlg->Label12(), "Hours", {4680, 480, 615, 285}, kSmall, plain},
        {dlg->Label4(), "Timeout", {5880, 120, 975, 255}, kBold, plain},
        {dlg->Label5(), "Seconds", {6480, 480, 855, 285}, kSmall, plain},
        {dlg->Label8(), "Backup Timeserver", {120, 1080, 2055, 255}, kBold, plain},
        {dlg->Label9(), "Select from the list below", {120, 1710, 2655, 255}, kSmall, 0x000000FF},
        {dlg->Label11(), "Offset", {4080, 1080, 855, 255}, kBold, plain},
        {dlg->Label13(), "Hours", {4680, 1440, 615, 285}, kDefault, plain},
        {dlg->Label6(), "Interval (Server mode)", {5880, 1080, 2415, 255}, kBold, plain},
        {dlg->Label7(), "Minutes", {6480, 1440, 735, 285}, kSmall, plain},
        {dlg->Label3(), "List of public Timerservers", {120, 2160, 4335, 255}, kBold, plain},
    };
    for (const auto& c : labels) {
        auto& label = fake::as<FakeLabel>(c.label);
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
        {&dlg->Text1(), {120, 480, 3735, 285}},      {&dlg->Text5(), {4080, 480, 495, 285}},
        {&dlg->Text4(), {120, 1440, 3735, 285}},     {&dlg->Text6(), {4080, 1440, 495, 285}},
        {&dlg->Text2(), {5880, 480, 495, 285}},      {&dlg->Text3(), {5880, 1440, 495, 285}},
        {&dlg->List1(), {120, 2520, 7695, 3210}},    {&dlg->Command1(), {8040, 2520, 1455, 375}},
        {&dlg->Command2(), {8040, 3000, 1455, 375}}, {&dlg->Command5(), {8040, 3480, 1455, 375}},
        {&dlg->Command4(), {8040, 4440, 1455, 375}}, {&dlg->Command3(), {8040, 4920, 1455, 375}},
        {&dlg->Command6(), {8040, 5400, 1455, 375}},
    };
    ASSERT_EQ(window().tabOrder.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(window().tabOrder[i], order[i].control) << "tab stop " << i;
        const platform::Control* c = order[i].control;
        TwipsRect rect;
        if (auto* t = dynamic_cast<const FakeTextField*>(c)) rect = t->rect;
        if (auto* b = dynamic_cast<const FakeButton*>(c)) rect = b->rect;
        if (auto* l = dynamic_cast<const FakeListBox*>(c)) rect = l->rect;
        EXPECT_TRUE(SameRect(rect, order[i].rect)) << "tab stop " << i;
    }

    // Host fields left-aligned, numbers right-aligned.
    EXPECT_EQ(field(dlg->Text1()).align, platform::Align::Left);
    EXPECT_EQ(field(dlg->Text4()).align, platform::Align::Left);
    for (auto* f : {&dlg->Text5(), &dlg->Text6(), &dlg->Text2(), &dlg->Text3()})
        EXPECT_EQ(field(*f).align, platform::Align::Right);

    EXPECT_TRUE(SameFont(list().font, FontSpec{"Courier New", 8.25, false}));
    const std::vector<std::pair<FakeButton*, std::string>> buttons = {
        {&checkAll(), "Check all"}, {&checkServer(), "Check server"},
        {&abort(), "Abort"},        {&ok(), "&OK"},
        {&cancel(), "Cancel"},      {&help(), "Help"},
    };
    for (const auto& [button, caption] : buttons) {
        EXPECT_EQ(button->caption(), caption);
        EXPECT_TRUE(SameFont(button->font, kBold)) << caption;
    }
    EXPECT_EQ(window().defaultButton, &dlg->Command4());

    EXPECT_EQ(popup().caption, "&Set Server");
    ASSERT_EQ(popup().items.size(), 2u);
    EXPECT_EQ(popup().items[0]->caption(), "Use as &primary Timeserver");
    EXPECT_EQ(popup().items[1]->caption(), "Use as backup Timeserver");
}

TEST_F(WindowTest, FieldsAreFilledFromConfigInNumberText) {
    stuff.Config = {"prim.example", "back.example", -5.5f, 0.1f, 10, 45};
    open();
    EXPECT_EQ(dlg->Text1().text(), "prim.example");
    EXPECT_EQ(dlg->Text4().text(), "back.example");
    EXPECT_EQ(dlg->Text5().text(), "-5.5");
    EXPECT_EQ(dlg->Text6().text(), "0.1");
    EXPECT_EQ(dlg->Text2().text(), "10");
    EXPECT_EQ(dlg->Text3().text(), "45");
    EXPECT_TRUE(dlg->isShown());

    // Defaults of a first run.
    dlg.reset();
    stuff.Config = {"", "", 0.0f, 0.0f, 3, 30};
    open();
    EXPECT_EQ(dlg->Text1().text(), "");
    EXPECT_EQ(dlg->Text5().text(), "0");
    EXPECT_EQ(dlg->Text6().text(), "0");
    EXPECT_EQ(dlg->Text2().text(), "3");
    EXPECT_EQ(dlg->Text3().text(), "30");
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
    stuff.Config.Server = "prim.example";
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
    const std::vector<std::pair<const char*, std::function<void(Settings&)>>> refusals = {
        {"empty primary", [](Settings& d) { d.Text1().setText(""); }},
        {"blank primary", [](Settings& d) { d.Text1().setText("   "); }},
        {"time-out 0", [](Settings& d) { d.Text2().setText("0"); }},
        {"time-out 0.3", [](Settings& d) { d.Text2().setText("0.3"); }},
        {"interval abc", [](Settings& d) { d.Text3().setText("abc"); }},
        {"interval -1", [](Settings& d) { d.Text3().setText("-1"); }},
        {"offset -23.6", [](Settings& d) { d.Text5().setText("-23.6"); }},
        {"backup offset 24 with no backup", [](Settings& d) { d.Text6().setText("24"); }},
    };
    stuff.Config = {"prim.example", "", 1.0f, 0.0f, 3, 30};
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
        EXPECT_EQ(stuff.Config.Server, "prim.example") << name;
        EXPECT_EQ(stuff.Config.Offset, 1.0f) << name;
        EXPECT_TRUE(platform.store().writtenKeys.empty()) << name;
        EXPECT_EQ(mainLabel1->text(), "") << name;
        dlg.reset();
    }
}

TEST_F(OkTest, AcceptedFieldsAreSavedShownInTheMainWindowAndTheDialogCloses) {
    open();
    dlg->Text1().setText("  new.example ");
    dlg->Text5().setText("1,5");
    dlg->Text4().setText(" ");
    dlg->Text6().setText("-23.5");
    dlg->Text2().setText("2.5");
    dlg->Text3().setText("3.5");
    window().pressEnter();  // Enter presses OK

    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(stuff.Config.Server, "new.example");
    EXPECT_EQ(stuff.Config.Server2, "");
    EXPECT_EQ(stuff.Config.Offset, 1.0f);
    EXPECT_EQ(stuff.Config.Offset2, -23.5f);
    EXPECT_EQ(stuff.Config.Timeout, 2);
    EXPECT_EQ(stuff.Config.Interval, 4);
    auto& store = platform.store();
    EXPECT_EQ(store.writtenKeys, (std::vector<std::string>{"Server", "Server2", "Offset", "Offset2",
                                                           "Timeout", "Interval"}));
    EXPECT_EQ(store.stored("Server"), "new.example");
    EXPECT_EQ(store.stored("Server2"), "");
    EXPECT_EQ(store.stored("Timeout"), "2");
    EXPECT_EQ(store.stored("Interval"), "4");
    EXPECT_EQ(store.commits, 1);

    EXPECT_EQ(mainLabel1->text(), "new.example");
    EXPECT_TRUE(mainSet->isEnabled());
    EXPECT_TRUE(window().closed);
    EXPECT_EQ(closings, 1);
    platform.advance(0);
    EXPECT_EQ(dlg, nullptr);
}

TEST_F(OkTest, AFailedSaveIsReportedAndTheDialogStaysOpen) {
    platform.store().failCommitWith = "No space left on device";
    open();
    dlg->Text1().setText("new.example");
    ok().click();
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_NE(platform.boxes[0].text.find("No space left on device"), std::string::npos);
    EXPECT_EQ(platform.boxes[0].flags, 48);
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(dlg->Text1().text(), "new.example");
    // The values are in force for this run all the same.
    EXPECT_EQ(stuff.Config.Server, "new.example");
    EXPECT_EQ(mainLabel1->text(), "new.example");

    platform.store().failCommitWith.clear();
    ok().click();
    EXPECT_TRUE(window().closed);
}

TEST_F(OkTest, CancelTakesNothingOverButKeepsATimeoutACheckTookOver) {
    stuff.Config.Server = "stored.example";
    open();
    dlg->Text1().setText("typed.example");
    dlg->Text2().setText("10");
    list().userSelect(0);
    checkServer().click();  // silent server: waits the new 10 seconds
    EXPECT_EQ(platform.nowMs(), 10'000);
    cancel().click();
    EXPECT_TRUE(window().closed);
    EXPECT_EQ(stuff.Config.Server, "stored.example");
    EXPECT_EQ(stuff.Config.Timeout, 10);
    EXPECT_TRUE(platform.store().writtenKeys.empty());

    platform.advance(0);
    open();
    EXPECT_EQ(dlg->Text1().text(), "stored.example");
    EXPECT_EQ(dlg->Text2().text(), "10");
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
}

}  // namespace
}  // namespace tempikon::settings_dialog::testing
