// Windows and controls of the Qt backend on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "backend_env.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_window.h"

namespace tempikon::qt {
namespace {

using testing::platform;
using testing::runFor;

std::unique_ptr<QtWindow> makeWindow(bool dialog = false, int width = 3855, int height = 720) {
    platform::WindowSpec spec;
    spec.caption = "Tempikon";
    spec.clientWidthTwips = width;
    spec.clientHeightTwips = height;
    spec.dialog = dialog;
    return std::unique_ptr<QtWindow>(
        static_cast<QtWindow*>(platform().createWindow(spec).release()));
}

int px(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

// ---- geometry ----------------------------------------------------------------------

TEST(WindowGeometry, TwipsBecomePixelsAtTheLogicalDpi) {
    EXPECT_EQ(twipsToPixels(1440, 96), 96);
    EXPECT_EQ(twipsToPixels(3855, 96), 257);
    EXPECT_EQ(twipsToPixels(3855, 120), 321);
    EXPECT_EQ(twipsToPixels(255, 144), 26);  // 25.5 rounds up

    auto w = makeWindow();
    auto& label = static_cast<QtLabel&>(w->addLabel({120, 240, 3615, 255}, "line"));
    const double dx = logicalDpiX();
    const double dy = logicalDpiY();
    EXPECT_EQ(w->clientArea()->size(), QSize(px(3855, dx), px(720, dy)));
    EXPECT_EQ(label.widget()->geometry(),
              QRect(px(120, dx), px(240, dy), px(3615, dx), px(255, dy)));
}

TEST(WindowGeometry, WindowIsTheClientAreaPlusTheMenuBar) {
    auto w = makeWindow();
    w->addMenuItem("&Configuration");
    w->addMenuItem("&Set time");
    w->show();
    runFor(20);
    const QSize client = w->clientArea()->size();
    EXPECT_EQ(w->widget()->width(), client.width());
    EXPECT_EQ(w->widget()->height(), client.height() + w->menuBar()->height());
    // Fixed size: the layout of the controls is absolute.
    EXPECT_EQ(w->widget()->minimumSize(), w->widget()->maximumSize());
}

TEST(WindowGeometry, DialogHasNoMinimiseButtonAndNoMenuBar) {
    auto dialog = makeWindow(true, 9675, 5895);
    EXPECT_FALSE(dialog->widget()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(dialog->widget()->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dialog->menuBar(), nullptr);
    auto main = makeWindow(false);
    EXPECT_TRUE(main->widget()->windowFlags() & Qt::WindowMinimizeButtonHint);
}

// ---- colours ---------------------------------------------------------------------

TEST(Colours, ValuesAreBgrAndTheTopBitNamesASystemColour) {
    const QPalette palette = QApplication::palette();
    struct Case {
        platform::Colour value;
        QColor expected;
    };
    const Case cases[] = {
        {0x000000FF, QColor(255, 0, 0)},
        {0x00FF0000, QColor(0, 0, 255)},
        {0x00C0FFFF, QColor(255, 255, 192)},
        {0x80000012, palette.color(QPalette::Active, QPalette::ButtonText)},
        {0x80000008, palette.color(QPalette::Active, QPalette::WindowText)},
        {0x8000000F, palette.color(QPalette::Active, QPalette::Button)},
        {0x8000000D, palette.color(QPalette::Active, QPalette::Highlight)},
        {0x800000EE, palette.color(QPalette::Active, QPalette::WindowText)},  // unknown
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toQColor(c.value, palette), c.expected) << std::hex << c.value;
    }
}

TEST(Colours, LabelShowsItsTextColourAndBackgroundShowsTheWindowColour) {
    platform::WindowSpec spec{"Tempikon", 3855, 720, false, 0x00C0FFFF, true};
    auto w = platform().createWindow(spec);
    auto* window = static_cast<QtWindow*>(w.get());
    auto& label = static_cast<QtLabel&>(w->addLabel({0, 0, 3855, 255}, "x"));
    EXPECT_EQ(label.textColour(), platform::kButtonTextColour);
    label.setTextColour(0x000000FF);
    EXPECT_EQ(label.textColour(), 0x000000FFu);
    EXPECT_EQ(label.widget()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    label.setTextColour(platform::kButtonTextColour);
    EXPECT_EQ(label.widget()->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::Active, QPalette::ButtonText));
    EXPECT_TRUE(window->clientArea()->autoFillBackground());
    EXPECT_EQ(window->clientArea()->palette().color(QPalette::Window), QColor(255, 255, 192));
}

// ---- showing and closing ------------------------------------------------------------

TEST(WindowLifecycle, VisibleOnlyWhileShownAndNotClosed) {
    auto w = makeWindow();
    EXPECT_FALSE(w->isVisible());  // asking does not show it
    EXPECT_FALSE(w->widget()->isVisible());
    w->show();
    EXPECT_TRUE(w->isVisible());
    w->minimise();
    runFor(10);
    EXPECT_TRUE(w->isMinimised());
    EXPECT_TRUE(w->isVisible());
    int closed = 0;
    w->onClosed = [&] { ++closed; };
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->isClosed());
    EXPECT_EQ(closed, 1);
    w->show();  // closed for good
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(closed, 1);
}

TEST(WindowLifecycle, MinimisedBeforeTheFirstShowIsShownMinimised) {
    auto w = makeWindow();
    w->minimise();
    EXPECT_TRUE(w->isMinimised());
    EXPECT_FALSE(w->isVisible());
    w->show();
    EXPECT_TRUE(w->widget()->isMinimized());
    EXPECT_TRUE(w->isVisible());
}

TEST(WindowLifecycle, CloseRequestCanRefuseAndTheCloseBoxTakesTheSameRoad) {
    auto w = makeWindow(true);
    bool allow = false;
    int asked = 0;
    int closed = 0;
    w->onCloseRequest = [&] {
        ++asked;
        return allow;
    };
    w->onClosed = [&] { ++closed; };
    w->show();
    w->close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(w->isVisible());
    // The window system's close (the close box, Alt+F4).
    w->widget()->close();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isClosed());
    allow = true;
    w->widget()->close();
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(w->isClosed());
    EXPECT_FALSE(w->widget()->isVisible());
}

TEST(WindowLifecycle, ModalShowingReturnsAtOnceAndBlocksOtherWindows) {
    auto owner = makeWindow();
    auto dialog = makeWindow(true);
    owner->show();
    bool closedSeen = false;
    dialog->onClosed = [&] { closedSeen = true; };
    dialog->showModal();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->widget()->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), dialog->widget());
    dialog->close();
    EXPECT_TRUE(closedSeen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(WindowLifecycle, DestroyingTheWindowFromItsOwnHandlerIsSafe) {
    auto w = makeWindow(true);
    auto& button = static_cast<QtButton&>(w->addButton({0, 0, 1000, 375}, "OK"));
    w->show();
    bool done = false;
    button.onClick = [&] {
        // As an owner does it: from a posted call, here inside a nested loop.
        platform().post([&] { w.reset(); });
        runFor(20);
        done = true;
    };
    QTest::mouseClick(button.widget(), Qt::LeftButton);
    EXPECT_TRUE(done);
    EXPECT_EQ(w, nullptr);
    runFor(20);
}

TEST(WindowLifecycle, HandleIsTheNativeWindowId) {
    auto w = makeWindow();
    EXPECT_NE(w->handle(), 0u);
    EXPECT_EQ(w->handle(), static_cast<platform::NativeHandle>(w->widget()->winId()));
}

// ---- controls ---------------------------------------------------------------------

TEST(Controls, TextFieldKeepsUtf8TextAndAlignment) {
    auto w = makeWindow(true);
    auto& left =
        static_cast<QtTextField&>(w->addTextField({0, 0, 1000, 285}, platform::Align::Left));
    auto& right =
        static_cast<QtTextField&>(w->addTextField({0, 300, 1000, 285}, platform::Align::Right));
    left.setText("ntp.zürich.example");
    EXPECT_EQ(left.text(), "ntp.zürich.example");
    EXPECT_TRUE(left.widget()->alignment() & Qt::AlignLeft);
    EXPECT_TRUE(right.widget()->alignment() & Qt::AlignRight);
    left.setEnabled(false);
    EXPECT_FALSE(left.isEnabled());
    EXPECT_FALSE(left.widget()->isEnabled());
}

TEST(Controls, TabOrderIsTheOrderOfAdding) {
    auto w = makeWindow(true, 9675, 5895);
    w->addLabel({0, 0, 100, 100}, "not focusable");
    auto& a = static_cast<QtTextField&>(w->addTextField({0, 0, 500, 285}, platform::Align::Left));
    auto& list = static_cast<QtListBox&>(w->addListBox({0, 2000, 5000, 2000}, {}));
    auto& b = static_cast<QtTextField&>(w->addTextField({0, 400, 500, 285}, platform::Align::Left));
    auto& ok = static_cast<QtButton&>(w->addButton({6000, 0, 1000, 375}, "&OK"));
    const std::vector<QWidget*> expected{static_cast<QWidget*>(a.widget()), list.widget(),
                                         b.widget(), ok.widget()};
    EXPECT_EQ(w->tabOrder(), expected);
    w->show();
    a.widget()->setFocus();
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QWidget* next = expected[i - 1]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, expected[i]) << i;
    }
}

TEST(Controls, EnterPressesTheDefaultButtonOrTheFocusedOne) {
    auto w = makeWindow(true, 9675, 5895);
    auto& field =
        static_cast<QtTextField&>(w->addTextField({0, 0, 500, 285}, platform::Align::Left));
    auto& ok = static_cast<QtButton&>(w->addButton({6000, 0, 1000, 375}, "&OK"));
    auto& cancel = static_cast<QtButton&>(w->addButton({6000, 500, 1000, 375}, "Cancel"));
    std::vector<std::string> clicks;
    ok.onClick = [&] { clicks.push_back("ok"); };
    cancel.onClick = [&] { clicks.push_back("cancel"); };
    w->setDefaultButton(ok);
    EXPECT_TRUE(ok.widget()->isDefault());
    w->show();
    QApplication::setActiveWindow(w->widget());
    field.widget()->setFocus();
    QTest::keyClick(field.widget(), Qt::Key_Return);
    EXPECT_EQ(clicks, (std::vector<std::string>{"ok"}));
    cancel.widget()->setFocus();
    QTest::keyClick(cancel.widget(), Qt::Key_Return);
    EXPECT_EQ(clicks, (std::vector<std::string>{"ok", "cancel"}));
    ok.setEnabled(false);
    field.widget()->setFocus();
    QTest::keyClick(field.widget(), Qt::Key_Enter);
    EXPECT_EQ(clicks.size(), 2u);
}

TEST(Controls, LabelMouseMovesAndClicksStayWithTheLabel) {
    auto w = makeWindow(false, 5790, 2175);
    auto& link = static_cast<QtLabel&>(w->addLabel({1000, 1000, 2000, 255}, "www.example.org"));
    int overLink = 0, overBackground = 0, clicks = 0;
    link.onMouseMove = [&] { ++overLink; };
    link.onClick = [&] { ++clicks; };
    w->onMouseMove = [&] { ++overBackground; };
    w->show();
    runFor(20);
    QTest::mouseMove(link.widget(), QPoint(5, 5));
    runFor(10);
    EXPECT_GE(overLink, 1);
    EXPECT_EQ(overBackground, 0);
    QTest::mouseMove(w->clientArea(), QPoint(2, 2));
    runFor(10);
    EXPECT_GE(overBackground, 1);
    QTest::mouseClick(link.widget(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(link.widget(), Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
}

// ---- list box ---------------------------------------------------------------------

struct ListFixture : ::testing::Test {
    std::unique_ptr<QtWindow> w = makeWindow(true, 9675, 5895);
    QtListBox& list = static_cast<QtListBox&>(
        w->addListBox({120, 120, 7695, 3210}, {"Courier New", 8.25, false}));
    std::vector<std::string> events;

    void SetUp() override {
        for (const char* entry :
             {"1  ntp.one.example", "2  ntp.two.example", "3  ntp.three.example"})
            list.addItem(entry);
        list.onSelectionChanged = [this] {
            events.push_back("select " + std::to_string(list.selectedIndex()));
        };
        list.onMouseDown = [this](int button) {
            events.push_back("down " + std::to_string(button));
        };
        list.onDoubleClick = [this] {
            events.push_back("double " + std::to_string(list.selectedIndex()));
        };
        w->show();
        runFor(20);
    }
    QPoint centreOf(int row) {
        return list.widget()->visualItemRect(list.widget()->item(row)).center();
    }
};

TEST_F(ListFixture, FillingDoesNotNotifyAndNothingIsSelected) {
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.itemText(1), "2  ntp.two.example");
    EXPECT_EQ(list.itemText(7), "");
    list.setSelectedIndex(1);
    events.clear();
    list.clear();
    list.addItem("x");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(list.selectedIndex(), -1);
}

TEST_F(ListFixture, SettingTheSelectionNotifiesOnceLikeAClick) {
    list.setSelectedIndex(2);
    list.setSelectedIndex(2);  // no change, no notification
    list.setSelectedIndex(0);
    list.setSelectedIndex(-1);
    list.setSelectedIndex(9);  // out of range: ignored
    EXPECT_EQ(events, (std::vector<std::string>{"select 2", "select 0", "select -1"}));
}

TEST_F(ListFixture, ReplacingTheSelectedEntryKeepsItSelected) {
    list.setSelectedIndex(1);
    events.clear();
    list.setItemText(1, "2  ntp.two.example   14:03:27");
    EXPECT_EQ(list.selectedIndex(), 1);
    EXPECT_EQ(list.itemText(1), "2  ntp.two.example   14:03:27");
    EXPECT_TRUE(events.empty());
}

TEST_F(ListFixture, LeftClickSelectsRightClickOnlyReports) {
    QTest::mouseClick(list.widget()->viewport(), Qt::LeftButton, {}, centreOf(0));
    QTest::mousePress(list.widget()->viewport(), Qt::RightButton, {}, centreOf(2));
    QTest::mouseRelease(list.widget()->viewport(), Qt::RightButton, {}, centreOf(2));
    QTest::mousePress(list.widget()->viewport(), Qt::MiddleButton, {}, centreOf(1));
    QTest::mouseRelease(list.widget()->viewport(), Qt::MiddleButton, {}, centreOf(1));
    EXPECT_EQ(events, (std::vector<std::string>{"select 0", "down 1", "down 2", "down 4"}));
    EXPECT_EQ(list.selectedIndex(), 0);
}

TEST_F(ListFixture, DoubleClickActsOnTheEntryUnderThePointer) {
    list.setSelectedIndex(0);
    events.clear();
    QTest::mouseDClick(list.widget()->viewport(), Qt::LeftButton, {}, centreOf(2));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "double 2");
    EXPECT_EQ(events.front(), "select 2");
}

TEST_F(ListFixture, DisabledListTakesNoClicksButCanBeSelected) {
    list.setEnabled(false);
    QTest::mouseClick(list.widget()->viewport(), Qt::LeftButton, {}, centreOf(1));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(list.selectedIndex(), -1);
    // The program itself still moves the selection (a check of all servers
    // walks the disabled list).
    list.setSelectedIndex(1);
    EXPECT_EQ(list.selectedIndex(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"select 1"}));
}

// A result longer than the list is wide ends in an ellipsis inside the
// list, with no sideways scrolling; the tip holds the whole entry, whichever
// entry it is (the first sets the size of all).
TEST_F(ListFixture, LongEntriesAreElidedAndTheirTipsHoldThemWhole) {
    const std::string entry(55, ' ');
    const std::string result = "   [05:27:17 +0.000123s authenticated]";
    for (const int row : {1, 0}) {
        SCOPED_TRACE(row);
        const std::string text = "US ntp.example" + entry.substr(14) + result;
        list.setItemText(row, text);
        runFor(20);
        QListWidget* widget = list.widget();
        QListWidgetItem* item = widget->item(row);
        EXPECT_EQ(item->toolTip().toStdString(), text);
        EXPECT_FALSE(widget->horizontalScrollBar()->isVisible());
        EXPECT_EQ(widget->textElideMode(), Qt::ElideRight);
        const QRect shown = widget->visualItemRect(item);
        EXPECT_LE(shown.right(), widget->viewport()->width());
        // Too long for its row: the delegate elides it.
        EXPECT_GT(widget->fontMetrics().horizontalAdvance(item->text()), shown.width());
    }
}

TEST_F(ListFixture, ListFontIsFixedPitch) {
    EXPECT_TRUE(QFontInfo(list.widget()->font()).fixedPitch());
}

// ---- menus ------------------------------------------------------------------------

TEST(Menus, BarEntriesAreActionsInOrderThatRunWhenClicked) {
    auto w = makeWindow();
    auto& settings = w->addMenuItem("&Configuration");
    auto& set = w->addMenuItem("&Set time");
    w->addMenuItem("&?");
    int setClicks = 0;
    set.onClick = [&] { ++setClicks; };
    set.setEnabled(false);
    w->show();
    runFor(20);
    const QList<QAction*> actions = w->menuBar()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("&Configuration"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("&Set time"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("&?"));
    for (QAction* a : actions) EXPECT_EQ(a->menu(), nullptr);
    EXPECT_TRUE(settings.isEnabled());
    EXPECT_FALSE(actions[1]->isEnabled());

    const QPoint onSet = w->menuBar()->actionGeometry(actions[1]).center();
    QTest::mouseClick(w->menuBar(), Qt::LeftButton, {}, onSet);
    EXPECT_EQ(setClicks, 0);
    set.setEnabled(true);
    QTest::mouseClick(w->menuBar(), Qt::LeftButton, {}, onSet);
    runFor(10);
    EXPECT_EQ(setClicks, 1);
}

TEST(Menus, PopupRunsTheChosenItemAfterItHasClosed) {
    auto w = makeWindow(true);
    auto& popup = static_cast<QtPopupMenu&>(w->addPopupMenu("&Set Server"));
    auto& primary = popup.addItem("Primary");
    auto& backup = popup.addItem("Backup");
    EXPECT_EQ(backup.caption(), "Backup");
    std::vector<std::string> chosen;
    bool openWhileRunning = true;
    primary.onClick = [&] { chosen.push_back("primary"); };
    backup.onClick = [&] {
        chosen.push_back("backup");
        openWhileRunning = popup.menu()->isVisible();
    };
    w->show();
    // The menu opens on its first entry; the user picks the second with the
    // keyboard.
    QAction* highlighted = nullptr;
    QTimer::singleShot(50, [&] {
        highlighted = popup.menu()->activeAction();
        QTest::keyClick(popup.menu(), Qt::Key_Down);
        QTest::keyClick(popup.menu(), Qt::Key_Return);
    });
    popup.popupAtCursor();
    EXPECT_EQ(highlighted, popup.menu()->actions().value(0));
    EXPECT_EQ(chosen, (std::vector<std::string>{"backup"}));
    EXPECT_FALSE(openWhileRunning);

    // Return alone takes the highlighted first entry.
    QTimer::singleShot(50, [&] { QTest::keyClick(popup.menu(), Qt::Key_Return); });
    popup.popupAtCursor();
    EXPECT_EQ(chosen, (std::vector<std::string>{"backup", "primary"}));
    chosen.pop_back();

    // Dismissed: nothing runs.
    QTimer::singleShot(50, [&] { QTest::keyClick(popup.menu(), Qt::Key_Escape); });
    popup.popupAtCursor();
    EXPECT_EQ(chosen.size(), 1u);

    // Disabled: it does not open at all (the test would hang otherwise).
    popup.setEnabled(false);
    popup.popupAtCursor();
    EXPECT_FALSE(popup.isOpen());
}

// ---- pictures and fonts ---------------------------------------------------------------

TEST(Pictures, LogoIsBuiltIn) {
    auto w = makeWindow(false, 5790, 2175);
    auto& picture = static_cast<QtPicture&>(w->addPicture({120, 120, 1275, 1950}, "logo"));
    ASSERT_FALSE(picture.widget()->pixmap().isNull());
    EXPECT_EQ(picture.widget()->pixmap().size(), QSize(85, 130));
    auto& missing = static_cast<QtPicture&>(w->addPicture({0, 0, 100, 100}, "no such image"));
    EXPECT_TRUE(missing.widget()->pixmap().isNull());
}

TEST(Fonts, RequestedFacesFallBackToLookAlikes) {
    const QStringList families = QFontDatabase::families();
    const QFont comic = makeFont({"Comic Sans MS", 9.75, true}, QApplication::font());
    EXPECT_TRUE(comic.bold());
    EXPECT_DOUBLE_EQ(comic.pointSizeF(), 9.75);
    EXPECT_EQ(comic.family(), QStringLiteral("Comic Sans MS"));  // asked for as designed
    if (!families.contains(QStringLiteral("Comic Sans MS")) &&
        families.contains(QStringLiteral("Comic Neue"))) {
        EXPECT_EQ(QFontInfo(comic).family(), QStringLiteral("Comic Neue"));
    }
    const QFont courier = makeFont({"Courier New", 8.25, false}, QApplication::font());
    EXPECT_TRUE(QFontInfo(courier).fixedPitch()) << QFontInfo(courier).family().toStdString();
    // No face and no size: the window's own font.
    const QFont base = QApplication::font();
    EXPECT_EQ(makeFont({}, base), base);
}

}  // namespace
}  // namespace tempikon::qt
