// Windows and controls of the Win32 backend, driven by the messages the
// system would send, under Wine on a virtual display.
#include "platform/win32/win32_canvas.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window.h"
#include "tests/win32/backend_fixture.h"

namespace tempikon::win32::test {
namespace {

HWND hwndOf(const platform::Window& w) {
    return reinterpret_cast<HWND>(w.handle());
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

class Windows : public Backend {
protected:
    std::unique_ptr<platform::Window> mainWindow(const std::string& caption = "Main") {
        return platform.createWindow({caption, 3855, 720, false, 0x00C0FFFF, true});
    }
    // Sends a message through the queue, as input arrives, and handles it.
    void postAndHandle(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessageW(hwnd, msg, wParam, lParam);
        platform.processEvents();
    }
    void key(HWND hwnd, UINT vk) {
        PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
        PostMessageW(hwnd, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
        platform.processEvents();
    }
};

TEST_F(Windows, TheClientAreaIsTheTwipsAtTheWindowsDpi) {
    auto w = mainWindow();
    w->addMenuItem("&Configuration");
    w->show();
    platform.processEvents();
    const int dpi = static_cast<Win32Window&>(*w).dpi();
    RECT client;
    GetClientRect(hwndOf(*w), &client);
    EXPECT_EQ(client.right, twipsToPixels(3855, dpi));
    EXPECT_EQ(client.bottom, twipsToPixels(720, dpi));
    // A control lands where its twips say.
    auto dialog = platform.createWindow({"Dialog", 5790, 2175, true, 0, false});
    dialog->addLabel({105, 240, 1500, 255}, "x", {});
    HWND label = childWindows(hwndOf(*dialog)).at(0);
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(nullptr, hwndOf(*dialog), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, twipsToPixels(105, dpi));
    EXPECT_EQ(r.top, twipsToPixels(240, dpi));
    EXPECT_EQ(r.right - r.left, twipsToPixels(1500, dpi));
    EXPECT_EQ(r.bottom - r.top, twipsToPixels(255, dpi));
}

TEST_F(Windows, CaptionsAndLabelTextsKeepTheirCharacters) {
    auto w = mainWindow("Tempikon");
    w->setCaption("Tempikon 1.2 – Zürich");
    EXPECT_EQ(w->caption(), "Tempikon 1.2 – Zürich");
    wchar_t shown[64] = {};
    GetWindowTextW(hwndOf(*w), shown, 64);
    EXPECT_EQ(std::wstring(shown), L"Tempikon 1.2 \u2013 Z\u00fcrich");

    platform::Label& label = w->addLabel({0, 0, 3855, 255}, "No timeserver selected", {});
    label.setText("time&date.example – ⌚");
    EXPECT_EQ(label.text(), "time&date.example – ⌚");
    EXPECT_EQ(label.textColour(), platform::kButtonTextColour);
    label.setTextColour(0x000000FF);
    EXPECT_EQ(label.textColour(), 0x000000FFu);
    // An "&" in a status line is shown, not taken as a mnemonic.
    HWND h = childWindows(hwndOf(*w)).at(0);
    EXPECT_TRUE(GetWindowLongPtrW(h, GWL_STYLE) & SS_NOPREFIX);
}

TEST_F(Windows, TextFieldsReadWhatIsInThem) {
    auto w = mainWindow();
    platform::TextField& left = w->addTextField({0, 0, 1000, 285}, platform::Align::Left);
    platform::TextField& right = w->addTextField({0, 300, 1000, 285}, platform::Align::Right);
    left.setText("time.nist.gov");
    EXPECT_EQ(left.text(), "time.nist.gov");
    // The user typing goes straight into the control.
    HWND edit = childWindows(hwndOf(*w)).at(1);
    SetWindowTextW(edit, L"-5,5 Öhrli");
    EXPECT_EQ(right.text(), "-5,5 Öhrli");
    EXPECT_TRUE(GetWindowLongPtrW(edit, GWL_STYLE) & ES_RIGHT);
    right.setEnabled(false);
    EXPECT_FALSE(right.isEnabled());
}

TEST_F(Windows, TheListBoxKeepsEntriesAndSelectionAsTold) {
    auto w = mainWindow();
    platform::ListBox& list = w->addListBox({0, 0, 3000, 1500}, {"Courier New", 8.25, false});
    int changes = 0;
    list.onSelectionChanged = [&] { ++changes; };
    EXPECT_EQ(list.selectedIndex(), -1);
    for (const char* entry : {"US time-a.nist.gov   NIST", "DE ptbtime1.ptb.de   PTB", "CH Zürich"})
        list.addItem(entry);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.itemText(2), "CH Zürich");
    EXPECT_EQ(list.itemText(3), "");

    list.setSelectedIndex(1);
    EXPECT_EQ(changes, 1);
    list.setSelectedIndex(1);  // no change, no notification
    EXPECT_EQ(changes, 1);
    list.setSelectedIndex(7);  // out of range: ignored
    EXPECT_EQ(list.selectedIndex(), 1);
    EXPECT_EQ(changes, 1);

    // A check result written into the selected entry keeps the selection.
    list.setItemText(1, "DE ptbtime1.ptb.de   PTB [14:03:27]");
    EXPECT_EQ(list.itemText(1), "DE ptbtime1.ptb.de   PTB [14:03:27]");
    EXPECT_EQ(list.selectedIndex(), 1);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(changes, 1);

    list.setSelectedIndex(-1);
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(changes, 2);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.selectedIndex(), -1);
}

TEST_F(Windows, AComboBoxOffersItsItemsAtTheHeightOfItsPlace) {
    auto w = mainWindow();
    platform::ComboBox& box = w->addComboBox({0, 0, 1200, 285});
    w->show();
    platform.processEvents();
    HWND h = childWindows(hwndOf(*w)).at(0);
    EXPECT_EQ(_wcsicmp(classOf(h).c_str(), L"ComboBox"), 0);
    EXPECT_EQ(GetWindowLongPtrW(h, GWL_STYLE) & 3, CBS_DROPDOWNLIST) << "nothing can be typed";
    // Closed, it is as high as its place, whatever its font makes of it.
    RECT r;
    GetWindowRect(h, &r);
    EXPECT_EQ(r.bottom - r.top, twipsToPixels(285, static_cast<Win32Window&>(*w).dpi()));

    int changes = 0;
    box.onSelectionChanged = [&] { ++changes; };
    EXPECT_EQ(box.selectedIndex(), -1);
    for (const char* item : {"Daytime", "NTP", "Zürich"}) box.addItem(item);
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(box.itemText(2), "Zürich");
    EXPECT_EQ(box.itemText(3), "");
    EXPECT_EQ(box.selectedIndex(), -1) << "adding selects nothing";

    box.setSelectedIndex(1);
    box.setSelectedIndex(1);  // no change, no notification
    box.setSelectedIndex(5);  // out of range: ignored
    EXPECT_EQ(changes, 1);
    wchar_t shown[32] = {};
    GetWindowTextW(h, shown, 32);
    EXPECT_EQ(std::wstring(shown), L"NTP");

    // The user's arrow key chooses the next item and tells of it.
    SetFocus(h);
    key(h, VK_DOWN);
    EXPECT_EQ(box.selectedIndex(), 2);
    EXPECT_EQ(changes, 2);
    box.setEnabled(false);
    EXPECT_FALSE(box.isEnabled());
}

TEST_F(Windows, MouseNotificationsReachLabelsListsAndTheWindow) {
    auto w = mainWindow();
    platform::Label& label = w->addLabel({0, 0, 2000, 255}, "link", {});
    platform::ListBox& list = w->addListBox({0, 300, 3000, 400}, {"Courier New", 8.25, false});
    list.addItem("first");
    list.addItem("second");
    w->show();
    platform.processEvents();
    const auto children = childWindows(hwndOf(*w));
    HWND labelHwnd = children.at(0), listHwnd = children.at(1);

    int labelMoves = 0, labelClicks = 0, windowMoves = 0, doubleClicks = 0, selections = 0;
    std::vector<int> buttons;
    label.onMouseMove = [&] { ++labelMoves; };
    label.onClick = [&] { ++labelClicks; };
    w->onMouseMove = [&] { ++windowMoves; };
    list.onMouseDown = [&](int button) { buttons.push_back(button); };
    list.onDoubleClick = [&] { ++doubleClicks; };
    list.onSelectionChanged = [&] { ++selections; };

    postAndHandle(labelHwnd, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(labelMoves, 1);
    EXPECT_EQ(windowMoves, 0);
    postAndHandle(labelHwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    postAndHandle(labelHwnd, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(labelClicks, 1);
    postAndHandle(hwndOf(*w), WM_MOUSEMOVE, 0, MAKELPARAM(250, 40));
    EXPECT_EQ(windowMoves, 1);

    postAndHandle(listHwnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 3));
    postAndHandle(listHwnd, WM_RBUTTONUP, 0, MAKELPARAM(5, 3));
    EXPECT_EQ(list.selectedIndex(), -1);  // the right button selects nothing
    postAndHandle(listHwnd, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(5, 3));
    postAndHandle(listHwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 3));
    postAndHandle(listHwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 3));
    EXPECT_EQ(list.selectedIndex(), 0);
    EXPECT_EQ(selections, 1);
    postAndHandle(listHwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 3));
    postAndHandle(listHwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 3));
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_EQ(buttons, (std::vector<int>{2, 4, 1}));

    // A disabled list takes no input.
    list.setEnabled(false);
    EXPECT_FALSE(list.isEnabled());
}

TEST_F(Windows, EnterPressesTheDefaultButtonOnlyWhileItIsEnabled) {
    auto w = platform.createWindow({"Configuration", 9675, 5895, true, 0, false});
    w->addTextField({100, 100, 2000, 285}, platform::Align::Left);
    platform::Button& ok = w->addButton({100, 500, 1000, 375}, "&OK", {});
    platform::Button& cancel = w->addButton({1200, 500, 1000, 375}, "Cancel", {});
    int okClicks = 0, cancelClicks = 0;
    ok.onClick = [&] { ++okClicks; };
    cancel.onClick = [&] { ++cancelClicks; };
    w->setDefaultButton(ok);
    w->show();
    platform.processEvents();
    HWND edit = childWindows(hwndOf(*w)).at(0);
    SetFocus(edit);
    key(edit, VK_RETURN);
    EXPECT_EQ(okClicks, 1);
    EXPECT_EQ(cancelClicks, 0);
    ok.setEnabled(false);
    key(edit, VK_RETURN);
    EXPECT_EQ(okClicks, 1);
    EXPECT_EQ(ok.caption(), "&OK");
}

TEST_F(Windows, TabFollowsTheOrderTheControlsWereAddedIn) {
    auto w = platform.createWindow({"Configuration", 9675, 5895, true, 0, false});
    w->addLabel({0, 0, 1000, 255}, "Primary", {});
    w->addTextField({0, 300, 1000, 285}, platform::Align::Left);
    w->addTextField({0, 700, 1000, 285}, platform::Align::Right);
    w->addListBox({0, 1100, 1000, 1000}, {"Courier New", 8.25, false});
    w->addButton({0, 2200, 1000, 375}, "&OK", {});
    w->show();
    platform.processEvents();
    const auto c = childWindows(hwndOf(*w));
    // Showing focuses the first focusable control, not the label.
    EXPECT_EQ(GetFocus(), c.at(1));
    for (std::size_t next : {2u, 3u, 4u, 1u}) {
        key(GetFocus(), VK_TAB);
        EXPECT_EQ(GetFocus(), c.at(next)) << next;
    }
}

// Hidden controls are not shown and Tab passes them by; shown again, they
// take their places in the order.
TEST_F(Windows, HiddenControlsAreNotShownAndTabPassesThem) {
    auto w = platform.createWindow({"Configuration", 9675, 5895, true, 0, false});
    w->addTextField({0, 0, 1000, 285}, platform::Align::Left);
    platform::Label& label = w->addLabel({0, 300, 1000, 255}, "Tr&ust", {});
    platform::TextField& field = w->addTextField({1100, 300, 1000, 285}, platform::Align::Left);
    platform::Button& button = w->addButton({2200, 300, 1000, 285}, "Browse", {});
    platform::CheckBox& box = w->addCheckBox({3300, 300, 1000, 255}, "UTC", {});
    w->addTextField({0, 700, 1000, 285}, platform::Align::Left);
    const auto hide = [&](bool hidden) {
        label.setHidden(hidden);
        field.setHidden(hidden);
        button.setHidden(hidden);
        box.setHidden(hidden);
    };
    hide(true);
    w->show();
    platform.processEvents();
    const auto c = childWindows(hwndOf(*w));
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_FALSE(IsWindowVisible(c.at(i))) << i;
    EXPECT_TRUE(label.isHidden() && field.isHidden() && button.isHidden() && box.isHidden());
    EXPECT_EQ(GetFocus(), c.at(0));
    key(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), c.at(5));

    hide(false);
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_TRUE(IsWindowVisible(c.at(i))) << i;
    EXPECT_FALSE(field.isHidden());
    SetFocus(c.at(0));
    key(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), c.at(2));
}

TEST_F(Windows, CanvasPaintsItsDrawingAndHandsOnThePointerAndKeys) {
    auto w = mainWindow();
    auto& canvas = static_cast<Win32Canvas&>(w->addCanvas({0, 0, 3000, 600}));
    std::vector<std::pair<int, int>> moves;
    std::vector<platform::CanvasKey> keys;
    canvas.onMouseMove = [&](int x, int y) { moves.push_back({x, y}); };
    canvas.onKey = [&](platform::CanvasKey k) { keys.push_back(k); };
    w->show();
    platform.processEvents();
    const int dpi = static_cast<Win32Window&>(*w).dpi();
    EXPECT_EQ(canvas.pixelWidth(), twipsToPixels(3000, dpi));
    EXPECT_EQ(canvas.pixelHeight(), twipsToPixels(600, dpi));

    platform::Drawing d;
    d.background = 0x00FFFFFF;
    d.lines.push_back({0, 10, 100, 10, 0x000000FF, 1, false});
    d.marks.push_back({50, 30, platform::Drawing::Shape::Disc, 0x00FF0000, 9});
    canvas.draw(d);
    UpdateWindow(canvas.hwnd());
    platform.processEvents();
    HDC dc = GetDC(canvas.hwnd());
    EXPECT_EQ(GetPixel(dc, 20, 10), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 50, 30), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(dc, 150, 25), RGB(255, 255, 255));
    ReleaseDC(canvas.hwnd(), dc);

    postAndHandle(canvas.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(40, 12));
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0], std::make_pair(40, 12));
    // Tab order and the keys: the dialog manager leaves the arrows to it.
    EXPECT_EQ(SendMessageW(canvas.hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_WANTARROWS, DLGC_WANTARROWS);
    key(canvas.hwnd(), VK_END);
    key(canvas.hwnd(), VK_LEFT);
    key(canvas.hwnd(), VK_F5);
    EXPECT_EQ(keys, (std::vector<platform::CanvasKey>{platform::CanvasKey::End,
                                                      platform::CanvasKey::Left}));
}

TEST_F(Windows, MenuItemsClickOnlyWhileEnabledAndAnswerTheirMnemonic) {
    auto w = mainWindow();
    platform::MenuItem& settings = w->addMenuItem("&Configuration");
    platform::MenuItem& set = w->addMenuItem("&Set time");
    int settingsClicks = 0, setClicks = 0;
    settings.onClick = [&] { ++settingsClicks; };
    set.onClick = [&] { ++setClicks; };
    set.setEnabled(false);
    EXPECT_FALSE(set.isEnabled());
    EXPECT_EQ(set.caption(), "&Set time");
    w->show();
    platform.processEvents();
    HMENU bar = GetMenu(hwndOf(*w));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetMenuItemCount(bar), 2);
    const UINT setId = GetMenuItemID(bar, 1);
    postAndHandle(hwndOf(*w), WM_COMMAND, MAKEWPARAM(setId, 0), 0);
    EXPECT_EQ(setClicks, 0);
    set.setEnabled(true);
    postAndHandle(hwndOf(*w), WM_COMMAND, MAKEWPARAM(setId, 0), 0);
    EXPECT_EQ(setClicks, 1);
    // Alt+C: the keyboard's road to "&Configuration".
    postAndHandle(hwndOf(*w), WM_SYSCOMMAND, SC_KEYMENU, 'c');
    ASSERT_TRUE(waitUntil([&] { return settingsClicks == 1; }, 5000));
}

TEST_F(Windows, APopupMenuRunsTheChosenItemBeforeItReturns) {
    auto w = mainWindow();
    platform::PopupMenu& popup = w->addPopupMenu("&Set Server");
    platform::MenuItem& primary = popup.addItem("&Set as primary server");
    platform::MenuItem& backup = popup.addItem("Set as &backup server");
    std::vector<std::string> chosen;
    primary.onClick = [&] { chosen.push_back("primary"); };
    backup.onClick = [&] { chosen.push_back("backup"); };
    w->show();
    platform.processEvents();
    // The user's keys come once the menu is open: a timer, which the menu's
    // loop runs, posts them. The menu opens on its first item, so Return
    // alone takes it and Down Return the second.
    const HWND hwnd = hwndOf(*w);
    auto typer = platform.createTimer();
    std::vector<WPARAM> keys;
    typer->onTimer = [&] {
        typer->setEnabled(false);
        for (const WPARAM key : keys) PostMessageW(hwnd, WM_KEYDOWN, key, 1);
    };
    for (const auto& [typed, expected] :
         {std::pair{std::vector<WPARAM>{VK_RETURN}, "primary"},
          std::pair{std::vector<WPARAM>{VK_DOWN, VK_RETURN}, "backup"}}) {
        keys = typed;
        chosen.clear();
        typer->setInterval(300);
        typer->setEnabled(true);
        popup.popupAtCursor();
        EXPECT_EQ(chosen, (std::vector<std::string>{expected}));
    }
    // Escape dismisses it: nothing runs.
    PostMessageW(hwndOf(*w), WM_KEYDOWN, VK_ESCAPE, 1);
    popup.popupAtCursor();
    EXPECT_EQ(chosen.size(), 1u);
}

TEST_F(Windows, ACloseRequestCanBeRefusedAndTheCloseBoxTakesTheSameRoad) {
    auto w = mainWindow();
    bool allow = false;
    int requests = 0, closed = 0;
    w->onCloseRequest = [&] {
        ++requests;
        return allow;
    };
    w->onClosed = [&] { ++closed; };
    EXPECT_FALSE(w->isVisible());
    w->show();
    platform.processEvents();
    EXPECT_TRUE(w->isVisible());

    w->close();
    postAndHandle(hwndOf(*w), WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isClosed());

    allow = true;
    postAndHandle(hwndOf(*w), WM_CLOSE, 0, 0);
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(w->isClosed());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(IsWindowVisible(hwndOf(*w)));
    w->close();  // once closed, for good
    w->show();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(Windows, AModalWindowKeepsTheOthersOutOfReachUntilItCloses) {
    auto main = mainWindow();
    main->show();
    platform.processEvents();
    auto dialog = platform.createWindow({"About", 5790, 2175, true, 0, false});
    EXPECT_EQ(GetWindow(hwndOf(*dialog), GW_OWNER), hwndOf(*main));
    dialog->showModal();  // returns at once
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(IsWindowEnabled(hwndOf(*main)));
    EXPECT_TRUE(IsWindowEnabled(hwndOf(*dialog)));
    bool closedSeen = false;
    dialog->onClosed = [&] { closedSeen = true; };
    dialog->close();
    EXPECT_TRUE(closedSeen);
    EXPECT_TRUE(IsWindowEnabled(hwndOf(*main)));
    // Destroying a modal window that never closed gives the others back too.
    auto second = platform.createWindow({"Configuration", 5790, 2175, true, 0, false});
    second->showModal();
    EXPECT_FALSE(IsWindowEnabled(hwndOf(*main)));
    second.reset();
    EXPECT_TRUE(IsWindowEnabled(hwndOf(*main)));
}

TEST_F(Windows, MinimisingBeforeTheFirstShowShowsTheWindowMinimised) {
    auto early = mainWindow("Early");
    early->minimise();
    EXPECT_TRUE(early->isMinimised());
    EXPECT_FALSE(early->isVisible());
    early->show();
    platform.processEvents();
    EXPECT_TRUE(early->isVisible());
    EXPECT_TRUE(IsIconic(hwndOf(*early)));
    EXPECT_TRUE(early->isMinimised());

    auto late = mainWindow("Late");
    late->show();
    platform.processEvents();
    EXPECT_FALSE(late->isMinimised());
    late->minimise();
    platform.processEvents();
    EXPECT_TRUE(IsIconic(hwndOf(*late)));
    EXPECT_TRUE(late->isMinimised());
}

TEST_F(Windows, ADialogHasNoMinimiseBoxAndTheMainWindowHasOne) {
    auto main = mainWindow();
    auto dialog = platform.createWindow({"Configuration", 9675, 5895, true, 0, false});
    EXPECT_TRUE(GetWindowLongPtrW(hwndOf(*main), GWL_STYLE) & WS_MINIMIZEBOX);
    EXPECT_FALSE(GetWindowLongPtrW(hwndOf(*dialog), GWL_STYLE) & WS_MINIMIZEBOX);
    EXPECT_FALSE(GetWindowLongPtrW(hwndOf(*main), GWL_STYLE) & WS_THICKFRAME);
    EXPECT_NE(main->handle(), 0u);
    EXPECT_EQ(classOf(hwndOf(*main)), L"TempikonWindow");
}

TEST_F(Windows, TheListFontIsFixedPitchEvenWhereItsFaceIsMissing) {
    auto w = mainWindow();
    w->addListBox({0, 0, 3000, 1500}, {"Courier New", 8.25, false});
    HWND list = childWindows(hwndOf(*w)).at(0);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE narrow{}, wide{};
    GetTextExtentPoint32W(dc, L"iiiiiiiiii", 10, &narrow);
    GetTextExtentPoint32W(dc, L"WWWWWWWWWW", 10, &wide);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    EXPECT_EQ(narrow.cx, wide.cx);  // columns of text line up
    // 8.25 points at the window's DPI.
    const int dpi = static_cast<Win32Window&>(*w).dpi();
    EXPECT_NEAR(metrics.tmHeight - metrics.tmInternalLeading, 8.25 * dpi / 72.0, 1.0);
}

}  // namespace
}  // namespace tempikon::win32::test
