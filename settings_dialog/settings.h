#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/daytime_query.h"
#include "core/public_stuff.h"
#include "platform/platform.h"

namespace tempikon::settings_dialog {

// What the dialog reaches of the main window.
struct MainWindowLink {
    core::DaytimeQuery& query;   // QueryTimeServer, one query at a time
    platform::Label& label1;     // the main window's first status line
    platform::MenuItem& mnuSet;  // "&Set time"
};

// The configuration dialog. Created when opened; the owner destroys it after
// onClosed has run (from a posted call, never from inside a handler).
//
// One query at a time: while any query waits (the dialog's own or one of the
// main window), "Check all", "Check server" and the "&Set Server" menu are
// shown disabled and do nothing; they get back their own states when it ends.
class Settings {
public:
    Settings(platform::Platform& platform, core::PublicStuff& stuff, MainWindowLink link);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Fills the fields, loads the list and shows the dialog modally.
    void Show();
    // Shown on the screen now (the scheduler's question).
    bool isShown() const;
    // Asks the dialog to close (subject to its close veto).
    void Close();

    platform::Window& window();

    // Called once the dialog has closed.
    std::function<void()> onClosed;

    // Handlers, named after their control and event.
    void Command1_Click();  // Check all
    void Command2_Click();  // Check server
    void Command5_Click();  // Abort
    void Command4_Click();  // OK
    void Command3_Click();  // Cancel
    void Command6_Click();  // Help
    void List1_Click();     // change of selection
    void List1_MouseDown(int button);
    void List1_DblClick();
    void mnuSet_Click(int index);
    bool Form_QueryUnload();  // false refuses the closing

    bool AbortRequested() const { return abortRequested_; }
    // A check or an adoption is under way (the close veto holds).
    bool isWorking() const { return checking() || adopting_; }

    platform::Label& Label1() { return *Label1_; }
    platform::Label& Label2() { return *Label2_; }
    platform::Label& Label3() { return *Label3_; }
    platform::Label& Label4() { return *Label4_; }
    platform::Label& Label5() { return *Label5_; }
    platform::Label& Label6() { return *Label6_; }
    platform::Label& Label7() { return *Label7_; }
    platform::Label& Label8() { return *Label8_; }
    platform::Label& Label9() { return *Label9_; }
    platform::Label& Label10() { return *Label10_; }
    platform::Label& Label11() { return *Label11_; }
    platform::Label& Label12() { return *Label12_; }
    platform::Label& Label13() { return *Label13_; }
    platform::TextField& Text1() { return *Text1_; }
    platform::TextField& Text2() { return *Text2_; }
    platform::TextField& Text3() { return *Text3_; }
    platform::TextField& Text4() { return *Text4_; }
    platform::TextField& Text5() { return *Text5_; }
    platform::TextField& Text6() { return *Text6_; }
    platform::ListBox& List1() { return *List1_; }
    platform::Button& Command1() { return *Command1_; }
    platform::Button& Command2() { return *Command2_; }
    platform::Button& Command3() { return *Command3_; }
    platform::Button& Command4() { return *Command4_; }
    platform::Button& Command5() { return *Command5_; }
    platform::Button& Command6() { return *Command6_; }
    platform::PopupMenu& mnuServer() { return *mnuServer_; }
    platform::MenuItem& mnuSet(int index) { return *mnuSet_[index == 0 ? 0 : 1]; }

private:
    // The states the check rules give the controls; what is shown also
    // depends on whether a query waits.
    struct States {
        bool command1 = true;
        bool command2 = false;
        bool command5 = false;
        bool list1 = true;
        bool mnuServer = false;
    };

    void createControls();
    void Form_Load();
    void LoadServerList();
    void showStates();
    bool checking() const { return !states_.command1; }
    // The time-out check: false after the message when the field is refused.
    bool takeTimeout();
    // Returns false when the dialog was destroyed or closed meanwhile.
    bool CheckSelectedServer();
    // Enabled state a check or adoption needs: no query may be waiting.
    bool queryBlocked() const;
    bool stillOpen(const std::weak_ptr<bool>& alive) const;
    int messageBox(const std::string& text, int flags);
    void Form_Closed();

    platform::Platform& platform_;
    core::PublicStuff& stuff_;
    MainWindowLink link_;
    std::unique_ptr<platform::Window> window_;

    platform::Label* Label1_ = nullptr;
    platform::Label* Label2_ = nullptr;
    platform::Label* Label3_ = nullptr;
    platform::Label* Label4_ = nullptr;
    platform::Label* Label5_ = nullptr;
    platform::Label* Label6_ = nullptr;
    platform::Label* Label7_ = nullptr;
    platform::Label* Label8_ = nullptr;
    platform::Label* Label9_ = nullptr;
    platform::Label* Label10_ = nullptr;
    platform::Label* Label11_ = nullptr;
    platform::Label* Label12_ = nullptr;
    platform::Label* Label13_ = nullptr;
    platform::TextField* Text1_ = nullptr;
    platform::TextField* Text2_ = nullptr;
    platform::TextField* Text3_ = nullptr;
    platform::TextField* Text4_ = nullptr;
    platform::TextField* Text5_ = nullptr;
    platform::TextField* Text6_ = nullptr;
    platform::ListBox* List1_ = nullptr;
    platform::Button* Command1_ = nullptr;
    platform::Button* Command2_ = nullptr;
    platform::Button* Command3_ = nullptr;
    platform::Button* Command4_ = nullptr;
    platform::Button* Command5_ = nullptr;
    platform::Button* Command6_ = nullptr;
    platform::PopupMenu* mnuServer_ = nullptr;
    platform::MenuItem* mnuSet_[2] = {nullptr, nullptr};

    States states_;
    bool abortRequested_ = false;
    bool adopting_ = false;
    bool closed_ = false;
    int busyListener_ = 0;
    // Handlers that waited check this before touching the dialog again: the
    // owner may have destroyed it meanwhile.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tempikon::settings_dialog
