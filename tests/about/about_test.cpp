// The About box: its texts, the hover rule on the two links, and the clicks.
#include "about/about.h"

#include <gtest/gtest.h>

#include "tests/fake/fake_platform.h"

namespace tempikon::about {
namespace {

using fake::FakeLabel;
using fake::FakeWindow;

constexpr platform::Colour kBlue = 0x00FF0000u;
constexpr platform::Colour kButtonText = 0x80000012u;

struct AboutTest : ::testing::Test {
    fake::FakePlatform platform;
    About box{platform};

    FakeLabel& label(platform::Label& l) { return fake::as<FakeLabel>(l); }
    FakeWindow& win() { return fake::as<FakeWindow>(box.window()); }
};

TEST(RevisionLineTest, NoLeadingZerosNorBlanks) {
    EXPECT_EQ(RevisionLine({1, 2, 10}), "Rev 1.2.10");
    EXPECT_EQ(RevisionLine({0, 0, 0}), "Rev 0.0.0");
    EXPECT_EQ(RevisionLine({12, 3, 4567}), "Rev 12.3.4567");
}

TEST_F(AboutTest, FillsItsTextsAtCreation) {
    EXPECT_EQ(win().caption(), "About Tempikon");
    EXPECT_EQ(win().spec.clientWidthTwips, 5790);
    EXPECT_EQ(win().spec.clientHeightTwips, 2175);
    EXPECT_TRUE(win().spec.dialog);
    EXPECT_EQ(box.label2().text(), "Tempikon 1.2");
    EXPECT_EQ(box.label11().text(), "Rev 1.2.10");
    EXPECT_EQ(box.label3().text(), "This is freeware.");
    EXPECT_EQ(box.label4().text(), "Visit us at");
    EXPECT_EQ(box.label5().text(), "Send mail to");
    EXPECT_EQ(box.label9().text(), kWebAddress);
    EXPECT_EQ(box.label10().text(), kMailAddress);
    EXPECT_FALSE(box.label1().text().empty());
    EXPECT_EQ(box.label2().textColour(), 0x000000FFu);
    EXPECT_EQ(box.label9().textColour(), kButtonText);
    EXPECT_EQ(box.label10().textColour(), kButtonText);
}

TEST(AboutVersionTest, RevisionComesFromThePlatform) {
    fake::FakePlatform platform;
    platform.versionNumbers = {3, 4, 5};
    About box(platform);
    EXPECT_EQ(box.label11().text(), "Rev 3.4.5");
    EXPECT_EQ(box.label2().text(), "Tempikon 1.2");
}

TEST_F(AboutTest, FontsAndPlaces) {
    EXPECT_EQ(label(box.label2()).font.face, "Comic Sans MS");
    EXPECT_DOUBLE_EQ(label(box.label2()).font.points, 14.25);
    EXPECT_TRUE(label(box.label1()).font.bold);
    EXPECT_DOUBLE_EQ(label(box.label1()).font.points, 9.75);
    EXPECT_TRUE(label(box.label11()).font.face.empty());
    for (platform::Label* l :
         {&box.label3(), &box.label4(), &box.label5(), &box.label9(), &box.label10()}) {
        EXPECT_EQ(label(*l).font.face, "Comic Sans MS");
        EXPECT_DOUBLE_EQ(label(*l).font.points, 9.75);
        EXPECT_FALSE(label(*l).font.bold);
    }

    // Every control inside the client area; the logo left of all labels.
    const fake::FakePicture* logo = nullptr;
    for (platform::Control* c : win().controls) {
        if (auto* p = dynamic_cast<fake::FakePicture*>(c)) logo = p;
    }
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->image, "logo");
    for (platform::Control* c : win().controls) {
        auto* l = dynamic_cast<FakeLabel*>(c);
        if (!l) continue;
        EXPECT_GE(l->rect.left, logo->rect.left + logo->rect.width);
        EXPECT_LE(l->rect.left + l->rect.width, 5790);
        EXPECT_LE(l->rect.top + l->rect.height, 2175);
    }
    EXPECT_LE(logo->rect.top + logo->rect.height, 2175);
    // Top to bottom in the documented order; links on their captions' lines.
    const auto top = [&](platform::Label& l) { return label(l).rect.top; };
    EXPECT_LT(top(box.label2()), top(box.label11()));
    EXPECT_LT(top(box.label11()), top(box.label1()));
    EXPECT_LT(top(box.label1()), top(box.label3()));
    EXPECT_LT(top(box.label3()), top(box.label4()));
    EXPECT_LT(top(box.label4()), top(box.label5()));
    EXPECT_EQ(top(box.label9()), top(box.label4()));
    EXPECT_EQ(top(box.label10()), top(box.label5()));
    EXPECT_GT(label(box.label9()).rect.left, label(box.label4()).rect.left);
    EXPECT_EQ(label(box.label11()).rect.left + label(box.label11()).rect.width,
              label(box.label2()).rect.left + label(box.label2()).rect.width);
}

// Each row: where the pointer moves, then both link colours. The rows run in
// sequence, so every row also checks what it keeps from the row before.
TEST_F(AboutTest, HoverRule) {
    enum Over { Web, Mail, Visit, Send, Background, Logo, Notice, Title, Freeware, Rev };
    struct Row {
        Over over;
        platform::Colour web;
        platform::Colour mail;
    } rows[] = {
        {Web, kBlue, kButtonText},
        {Freeware, kBlue, kButtonText},
        {Notice, kBlue, kButtonText},
        {Title, kBlue, kButtonText},
        {Rev, kBlue, kButtonText},
        {Logo, kBlue, kButtonText},
        {Background, kButtonText, kButtonText},
        {Mail, kButtonText, kBlue},
        {Web, kBlue, kButtonText},
        {Mail, kButtonText, kBlue},
        {Visit, kButtonText, kButtonText},
        {Web, kBlue, kButtonText},
        {Send, kButtonText, kButtonText},
    };
    int i = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(i++);
        switch (r.over) {
            case Web:
                label(box.label9()).mouseMove();
                break;
            case Mail:
                label(box.label10()).mouseMove();
                break;
            case Visit:
                label(box.label4()).mouseMove();
                break;
            case Send:
                label(box.label5()).mouseMove();
                break;
            case Background:
                win().mouseMove();
                break;
            case Notice:
                label(box.label1()).mouseMove();
                break;
            case Title:
                label(box.label2()).mouseMove();
                break;
            case Freeware:
                label(box.label3()).mouseMove();
                break;
            case Rev:
                label(box.label11()).mouseMove();
                break;
            case Logo:
                break;  // the picture has no mouse-move handler at all
        }
        EXPECT_EQ(box.label9().textColour(), r.web);
        EXPECT_EQ(box.label10().textColour(), r.mail);
    }
    EXPECT_FALSE(label(box.label1()).onMouseMove);
    EXPECT_FALSE(label(box.label3()).onMouseMove);
}

TEST_F(AboutTest, LinksOpenThroughTheShellAndTheBoxStays) {
    box.Show();
    EXPECT_TRUE(win().modal);
    label(box.label4()).click();
    label(box.label5()).click();
    label(box.label3()).click();
    EXPECT_TRUE(platform.openedAddresses.empty());
    label(box.label9()).click();
    label(box.label10()).click();
    EXPECT_EQ(platform.openedAddresses,
              (std::vector<std::string>{kWebAddress, std::string("mailto:") + kMailAddress}));
    EXPECT_TRUE(box.isShown());
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(AboutTest, ClosingTellsTheOwner) {
    int closed = 0;
    box.onClosed = [&] { ++closed; };
    box.Show();
    win().userClose();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(box.isShown());
}

}  // namespace
}  // namespace tempikon::about
