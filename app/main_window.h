#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "about/about.h"
#include "app/history_window.h"
#include "app/tray_status.h"
#include "core/config.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "platform/platform.h"
#include "platform/reentrance.h"
#include "settings_dialog/config_dialog.h"

namespace tempikon::app {

// Exit statuses of the program, for scripts.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoValidTime = 1;
inline constexpr int kExitNotConfigured = 2;
inline constexpr int kExitRefused = 3;

// True when the switch text (upper case, e.g. "/RUNONCE") occurs anywhere in
// the trimmed, upper-cased command line.
bool SwitchPresent(std::string_view commandLine, std::string_view switchText);

// The exit status a one-shot run reports for the outcome of its setting.
int ExitStatusFor(core::SetOutcome outcome);

// Every mode but /QUERY: the main window (shown, minimised, or unseen for a
// one-shot run) and its event loop until it ends. Without a display only the
// one-shot and resident modes can run. Returns the exit status.
int RunWithWindows(platform::Platform& platform, bool noDisplay);

// The main window: status lines, menus, the configuration in force, the
// start-up modes and the resident-mode scheduler. Closing it ends the program.
class MainWindow {
public:
    explicit MainWindow(platform::Platform& platform);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Reads the configuration and runs the mode the command line asks for;
    // shows the window unless that ended the program.
    void start();

    // Menu and timer handlers.
    void onConfiguration();
    void onSetTime();
    void onAbout();
    void onHistory();
    void onMinuteTick();
    void onShowWindow();
    void onQuit();

    // The window has closed and the platform was asked to quit.
    bool hasEnded() const { return ended_; }
    int exitCode() const { return exitCode_; }

    const core::Config& config() const { return config_; }
    std::int32_t minutesLeft() const { return minutesLeft_; }
    // The scheduler's question: the dialog exists and is on the screen.
    bool configDialogShown() const;

    platform::Window& window() { return *window_; }
    platform::Label& serverLine() { return *serverLine_; }
    platform::Label& outcomeLine() { return *outcomeLine_; }
    // After a failure, the first reason (the others in its tool tip).
    platform::Label& reasonLine() { return *reasonLine_; }
    platform::Label& modeLine() { return *modeLine_; }
    platform::Label& lastSetLine() { return *lastSetLine_; }
    platform::Label& nextSettingLine() { return *nextSettingLine_; }
    // Who else sets this clock (the system's automatic time); empty when nobody.
    platform::Label& othersLine() { return *othersLine_; }
    // The tray icon of resident mode; nullptr without one (not resident, or
    // the desktop has no tray).
    platform::Tray* tray() { return inTray_ ? tray_.get() : nullptr; }
    platform::MenuItem& configurationItem() { return *configurationItem_; }
    platform::MenuItem& setTimeItem() { return *setTimeItem_; }
    platform::MenuItem& aboutItem() { return *aboutItem_; }
    platform::MenuItem& historyItem() { return *historyItem_; }
    platform::Timer& minuteTimer() { return *minuteTimer_; }
    core::ServerQuery& query() { return *query_; }
    // nullptr while the window is not open.
    settings_dialog::ConfigDialog* configDialog() { return configDialog_.get(); }
    about::About* aboutBox() { return aboutBox_.get(); }
    HistoryWindow* historyWindow() { return historyWindow_.get(); }

private:
    void setStatus(platform::Label& line, const std::string& text);
    // byUser: "Set time" was chosen, and the user may be asked.
    core::SetOutcome setClock(bool byUser = false);
    void recordOutcome(const core::SetResult& result);
    // Appends the setting to the history; the reason it could not, or empty.
    std::string recordHistory(const core::SetResult& result);
    void scheduleShown();
    void startTray();
    void updateTrayTip();
    void oneShotWait();
    // Reads who else sets the clock and says so in the window and the tray.
    platform::TimeSyncState showTimeSync();
    // After a refusal while the system's automatic time is on: asks once
    // whether to switch it off. True when it was switched off.
    bool offerToTakeOverClock();
    void missingConfigurationEnd();
    void unreadableSettingsEnd(const std::string& why);
    // The primary's protocol is unknown: a configuration error, like a
    // missing server.
    void unusableProtocolEnd(const std::string& problem);
    void onClosed();
    // Destroys a closed child window from the event loop, never from inside
    // its own handler.
    template <typename Child>
    void destroyWhenClosed(std::unique_ptr<Child>& slot);

    platform::Platform& platform_;
    core::Config config_;

    std::unique_ptr<platform::Window> window_;
    platform::Label* serverLine_ = nullptr;
    platform::Label* outcomeLine_ = nullptr;
    platform::Label* reasonLine_ = nullptr;
    platform::Label* modeLine_ = nullptr;
    platform::Label* lastSetLine_ = nullptr;
    platform::Label* nextSettingLine_ = nullptr;
    platform::Label* othersLine_ = nullptr;
    platform::MenuItem* configurationItem_ = nullptr;
    platform::MenuItem* setTimeItem_ = nullptr;
    platform::MenuItem* aboutItem_ = nullptr;
    platform::MenuItem* historyItem_ = nullptr;
    std::unique_ptr<platform::Timer> minuteTimer_;
    std::unique_ptr<core::ServerQuery> query_;
    std::unique_ptr<core::ClockSetter> setter_;

    std::unique_ptr<settings_dialog::ConfigDialog> configDialog_;
    std::unique_ptr<about::About> aboutBox_;
    std::unique_ptr<HistoryWindow> historyWindow_;
    // The history could not be written; said once on standard error.
    bool historyFailureSaid_ = false;
    std::unique_ptr<platform::Tray> tray_;
    bool inTray_ = false;
    NoticeRule notices_;
    SettingRecord record_;

    bool takeOverOffered_ = false;
    std::int32_t minutesLeft_ = 0;
    bool ended_ = false;
    int exitCode_ = kExitOk;
    platform::Liveness liveness_;
};

}  // namespace tempikon::app
