#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/config.h"
#include "core/query/server_query.h"
#include "platform/platform.h"
#include "platform/reentrance.h"

namespace tempikon::settings_dialog {

// The configuration dialog. Created when opened; the owner destroys it after
// onClosed has run (from a posted call, never from inside a handler).
//
// One query at a time: while any query waits (the dialog's own or one of the
// main window), "Check all", "Check server" and the "&Set Server" menu are
// shown disabled and do nothing; they get back their own states when it ends.
class ConfigDialog {
public:
    // How the dialog changes the configuration in force, which its owner holds.
    struct Hooks {
        // A check took its time-out from the field: that time-out is in force
        // for every query until the next OK or restart.
        std::function<void(std::int32_t timeout)> useTimeoutUntilNextOk;
        // OK took the fields: the new configuration is in force, whether or
        // not it could be saved.
        std::function<void(const core::Config& config)> onApplied;
        // OK switched the system's automatic time.
        std::function<void()> onTimeSyncChanged;
    };

    // inForce is read when the dialog is shown, to fill the fields.
    ConfigDialog(platform::Platform& platform, core::ServerQuery& query,
                 const core::Config& inForce, Hooks hooks);
    ~ConfigDialog();
    ConfigDialog(const ConfigDialog&) = delete;
    ConfigDialog& operator=(const ConfigDialog&) = delete;

    // Fills the fields, loads the list and shows the dialog modally.
    void show();
    // Shown on the screen now (the scheduler's question).
    bool isShown() const;
    // Asks the dialog to close (subject to its close veto).
    void close();

    platform::Window& window();

    // Called once the dialog has closed.
    std::function<void()> onClosed;

    // Handlers.
    void onCheckAll();
    void onCheckServer();
    void onAbort();
    void onOk();
    void onCancel();
    void onHelp();
    void onSelectionChanged();
    void onListMouseDown(int button);
    void onListDoubleClick();
    void onListMenuKey();
    enum class Role { Primary, Backup };
    void onUseServer(Role role);
    // "Browse...": the system's file chooser fills the trust field.
    void onChooseTrustFile(Role role);
    bool onCloseRequest();  // false refuses the closing

    bool abortRequested() const { return abortRequested_; }
    // A check or an adoption is under way (the close veto holds).
    bool isWorking() const { return checking() || adopting_; }

    platform::Label& primaryHint() { return *primaryHint_; }
    platform::Label& backupHint() { return *backupHint_; }
    platform::TextField& serverField() { return *serverField_; }
    platform::ComboBox& protocolBox() { return *protocolBox_; }
    platform::TextField& offsetField() { return *offsetField_; }
    platform::CheckBox& utcBox() { return *utcBox_; }
    platform::TextField& server2Field() { return *server2Field_; }
    platform::ComboBox& protocol2Box() { return *protocol2Box_; }
    platform::TextField& offset2Field() { return *offset2Field_; }
    platform::CheckBox& utc2Box() { return *utc2Box_; }
    // NTS: the file of certificates trusted besides the system's, with its
    // label and chooser button; shown while the server's choice is NTS.
    platform::Label& trustLabel(Role role) { return *trust_[Index(role)].label; }
    platform::TextField& trustField(Role role) { return *trust_[Index(role)].field; }
    platform::Button& trustButton(Role role) { return *trust_[Index(role)].button; }
    platform::CheckBox& autostartBox() { return *autostartBox_; }
    // Ticked: the system's automatic time is off and Tempikon keeps the clock.
    platform::CheckBox& keepClockBox() { return *keepClockBox_; }
    // Why the selected entry's check failed, or why the dialog stays open.
    platform::Label& statusLine() { return *statusLine_; }
    platform::TextField& timeoutField() { return *timeoutField_; }
    platform::TextField& intervalField() { return *intervalField_; }
    platform::ListBox& serverList() { return *serverList_; }
    platform::Button& checkAllButton() { return *checkAllButton_; }
    platform::Button& checkServerButton() { return *checkServerButton_; }
    platform::Button& abortButton() { return *abortButton_; }
    platform::Button& okButton() { return *okButton_; }
    platform::Button& cancelButton() { return *cancelButton_; }
    platform::Button& helpButton() { return *helpButton_; }
    platform::PopupMenu& serverMenu() { return *serverMenu_; }
    platform::MenuItem& useServerItem(Role role) {
        return role == Role::Primary ? *usePrimaryItem_ : *useBackupItem_;
    }

private:
    // The states the check rules give the controls; what is shown also
    // depends on whether a query waits.
    struct States {
        bool checkAll = true;
        bool checkServer = false;
        bool abort = false;
        bool list = true;
        bool serverMenu = false;
    };

    struct TrustRow {
        platform::Label* label = nullptr;
        platform::TextField* field = nullptr;
        platform::Button* button = nullptr;
    };
    static int Index(Role role) { return role == Role::Primary ? 0 : 1; }

    void createControls();
    void addTrustRow(Role role, int top, const char* caption);
    void fillFields();
    void loadServerList();
    // Daytime and NTP, and a stored value that names neither as it is.
    void fillProtocolChoice(platform::ComboBox& box, const std::string& stored);
    // Daytime, NTP and, where the system offers it, NTS.
    int fixedProtocolItems() const;
    // The trusted certificates of the configured server with this host and
    // key port (4460 where none is written).
    std::string trustFor(const std::string& server) const;
    // The zone plays no part for NTP: its box is for Daytime servers. The
    // trust row takes the place of the hint and that box for NTS.
    void protocolChosen(Role role);
    void setStates(bool checkAll, bool checkServer, bool abort, bool list);
    void showStates();
    bool checking() const { return !states_.checkAll; }
    // The time-out check: the field's time-out, now in force, or nullopt
    // after the message when the field is refused.
    std::optional<std::int32_t> takeTimeout();
    // Returns false when the dialog was destroyed or closed meanwhile.
    bool checkSelectedServer();
    // Enabled state a check or adoption needs: no query may be waiting.
    bool queryBlocked() const;
    bool stillOpen(const platform::Liveness::Watch& watch) const;
    int messageBox(const std::string& text, int flags);
    void showStatus(const std::string& text);
    void windowClosed();
    // Shows the system's automatic time as it is now.
    void fillKeepClockBox();
    // OK's part: switches the system's automatic time when the box asks
    // for a change. False when that failed (the dialog stays open).
    bool applyKeepClock();

    platform::Platform& platform_;
    core::ServerQuery& query_;
    const core::Config& inForce_;
    Hooks hooks_;
    std::unique_ptr<platform::Window> window_;

    platform::Label* primaryHint_ = nullptr;
    platform::Label* backupHint_ = nullptr;
    platform::TextField* serverField_ = nullptr;
    platform::ComboBox* protocolBox_ = nullptr;
    platform::TextField* offsetField_ = nullptr;
    platform::CheckBox* utcBox_ = nullptr;
    platform::TextField* server2Field_ = nullptr;
    platform::ComboBox* protocol2Box_ = nullptr;
    platform::TextField* offset2Field_ = nullptr;
    platform::CheckBox* utc2Box_ = nullptr;
    TrustRow trust_[2];
    platform::CheckBox* autostartBox_ = nullptr;
    platform::CheckBox* keepClockBox_ = nullptr;
    platform::Label* statusLine_ = nullptr;
    platform::TextField* timeoutField_ = nullptr;
    platform::TextField* intervalField_ = nullptr;
    platform::ListBox* serverList_ = nullptr;
    platform::Button* checkAllButton_ = nullptr;
    platform::Button* checkServerButton_ = nullptr;
    platform::Button* abortButton_ = nullptr;
    platform::Button* okButton_ = nullptr;
    platform::Button* cancelButton_ = nullptr;
    platform::Button* helpButton_ = nullptr;
    platform::PopupMenu* serverMenu_ = nullptr;
    platform::MenuItem* usePrimaryItem_ = nullptr;
    platform::MenuItem* useBackupItem_ = nullptr;

    States states_;
    bool abortRequested_ = false;
    // "Check server" runs: Abort stops its query rather than a run.
    bool checkingOne_ = false;
    // What each checked entry's last check came to, whole: "<server>:
    // <reason>" or "<server>: <result>", shown when it is selected.
    std::map<int, std::string> failures_;
    bool adopting_ = false;
    bool closed_ = false;
    int busyListener_ = 0;
    // Handlers that waited check this before touching the dialog again: the
    // owner may have destroyed it meanwhile.
    platform::Liveness liveness_;
};

}  // namespace tempikon::settings_dialog
