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
    // Static captions, found by their text.
    FakeLabel& labelShowing(const std::string& text) {
        for (platform::Control* c : win().controls) {
            if (auto* l = dynamic_cast<FakeLabel*>(c); l && l->text() == text) return *l;
        }
        ADD_FAILURE() << "no label shows " << text;
        return label(box.titleLabel());
    }
    FakeLabel& noticeLabel() { return labelShowing(kNotice); }
    FakeLabel& freewareLabel() { return labelShowing("This is freeware."); }
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
    EXPECT_EQ(box.titleLabel().text(), "Tempikon 1.2");
    EXPECT_EQ(box.revisionLabel().text(), "Rev 1.2.10");
    EXPECT_EQ(freewareLabel().text(), "This is freeware.");
    EXPECT_EQ(box.visitLabel().text(), "Visit us at");
    EXPECT_EQ(box.mailToLabel().text(), "Send mail to");
    EXPECT_EQ(box.webLink().text(), kWebAddress);
    EXPECT_EQ(box.mailLink().text(), kMailAddress);
    EXPECT_FALSE(noticeLabel().text().empty());
    EXPECT_EQ(box.titleLabel().textColour(), 0x000000FFu);
    EXPECT_EQ(box.webLink().textColour(), kButtonText);
    EXPECT_EQ(box.mailLink().textColour(), kButtonText);
}

TEST(AboutVersionTest, RevisionComesFromThePlatform) {
    fake::FakePlatform platform;
    platform.versionNumbers = {3, 4, 5};
    About box(platform);
    EXPECT_EQ(box.revisionLabel().text(), "Rev 3.4.5");
    EXPECT_EQ(box.titleLabel().text(), "Tempikon 1.2");
}

TEST_F(AboutTest, FontsAndPlaces) {
    EXPECT_EQ(label(box.titleLabel()).font.face, "Comic Sans MS");
    EXPECT_DOUBLE_EQ(label(box.titleLabel()).font.points, 14.25);
    EXPECT_TRUE(label(noticeLabel()).font.bold);
    EXPECT_DOUBLE_EQ(label(noticeLabel()).font.points, 9.75);
    EXPECT_EQ(label(box.revisionLabel()).font.face, "Comic Sans MS");
    for (platform::Label* l : {static_cast<platform::Label*>(&freewareLabel()), &box.visitLabel(),
                               &box.mailToLabel(), &box.webLink(), &box.mailLink()}) {
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
    EXPECT_LT(top(box.titleLabel()), top(box.revisionLabel()));
    EXPECT_LT(top(box.revisionLabel()), top(noticeLabel()));
    EXPECT_LT(top(noticeLabel()), top(freewareLabel()));
    EXPECT_LT(top(freewareLabel()), top(box.visitLabel()));
    EXPECT_LT(top(box.visitLabel()), top(box.mailToLabel()));
    EXPECT_EQ(top(box.webLink()), top(box.visitLabel()));
    EXPECT_EQ(top(box.mailLink()), top(box.mailToLabel()));
    EXPECT_GT(label(box.webLink()).rect.left, label(box.visitLabel()).rect.left);
    EXPECT_EQ(label(box.revisionLabel()).rect.left + label(box.revisionLabel()).rect.width,
              label(box.titleLabel()).rect.left + label(box.titleLabel()).rect.width);
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
                label(box.webLink()).mouseMove();
                break;
            case Mail:
                label(box.mailLink()).mouseMove();
                break;
            case Visit:
                label(box.visitLabel()).mouseMove();
                break;
            case Send:
                label(box.mailToLabel()).mouseMove();
                break;
            case Background:
                win().mouseMove();
                break;
            case Notice:
                label(noticeLabel()).mouseMove();
                break;
            case Title:
                label(box.titleLabel()).mouseMove();
                break;
            case Freeware:
                label(freewareLabel()).mouseMove();
                break;
            case Rev:
                label(box.revisionLabel()).mouseMove();
                break;
            case Logo:
                break;  // the picture has no mouse-move handler at all
        }
        EXPECT_EQ(box.webLink().textColour(), r.web);
        EXPECT_EQ(box.mailLink().textColour(), r.mail);
    }
    EXPECT_FALSE(label(noticeLabel()).onMouseMove);
    EXPECT_FALSE(label(freewareLabel()).onMouseMove);
}

TEST_F(AboutTest, LinksOpenThroughTheShellAndTheBoxStays) {
    box.show();
    EXPECT_TRUE(win().modal);
    label(box.visitLabel()).click();
    label(box.mailToLabel()).click();
    label(freewareLabel()).click();
    EXPECT_TRUE(platform.openedAddresses.empty());
    label(box.webLink()).click();
    label(box.mailLink()).click();
    EXPECT_EQ(platform.openedAddresses,
              (std::vector<std::string>{kWebAddress, std::string("mailto:") + kMailAddress}));
    EXPECT_TRUE(box.isShown());
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(AboutTest, ALinkNothingCanOpenIsShownInAMessage) {
    box.show();
    platform.canOpenAddresses = false;
    const struct {
        platform::Label& link;
        std::string address;
    } cases[] = {{box.webLink(), kWebAddress},
                 {box.mailLink(), std::string("mailto:") + kMailAddress}};
    for (const auto& c : cases) {
        platform.boxes.clear();
        label(c.link).click();
        ASSERT_EQ(platform.boxes.size(), 1u) << c.address;
        EXPECT_NE(platform.boxes[0].text.find(c.address), std::string::npos) << c.address;
        EXPECT_EQ(platform.boxes[0].flags, platform::kMbOk | platform::kMbIconExclamation);
    }
    EXPECT_TRUE(box.isShown());
}

TEST_F(AboutTest, ClosingTellsTheOwner) {
    int closed = 0;
    box.onClosed = [&] { ++closed; };
    box.show();
    win().userClose();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(box.isShown());
}

}  // namespace
}  // namespace tempikon::about
