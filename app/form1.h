#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "about/about.h"
#include "core/daytime_query.h"
#include "core/public_stuff.h"
#include "core/set_clock.h"
#include "platform/platform.h"
#include "settings_dialog/settings.h"

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

// The main window: status lines, menus, the query machinery, the start-up
// modes and the resident-mode scheduler. Closing it ends the program.
class Form1 {
public:
    Form1(platform::Platform& platform, core::PublicStuff& stuff);
    ~Form1();
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // The start-up routine; shows the window unless it ended the program.
    void Form_Load();

    // Menu and timer handlers.
    void mnuSettings_Click();
    void mnuSet_Click();
    void mnuAbout_Click();
    void Timer2_Timer();

    // The window has closed and the platform was asked to quit.
    bool hasEnded() const { return ended_; }
    int exitCode() const { return exitCode_; }

    std::int32_t MinutesLeft() const { return minutesLeft_; }
    // The scheduler's question: the dialog exists and is on the screen.
    bool settingsShown() const;

    platform::Window& window() { return *window_; }
    platform::Label& label1() { return *Label1_; }
    platform::Label& label2() { return *Label2_; }
    platform::Label& label3() { return *Label3_; }
    platform::MenuItem& mnuSettings() { return *mnuSettings_; }
    platform::MenuItem& mnuSet() { return *mnuSet_; }
    platform::MenuItem& mnuAbout() { return *mnuAbout_; }
    platform::Timer& timer2() { return *Timer2_; }
    core::DaytimeQuery& query() { return *query_; }
    // nullptr while the window is not open.
    settings_dialog::Settings* settingsDialog() { return settings_.get(); }
    about::About* aboutBox() { return about_.get(); }

private:
    void missingConfigurationEnd();
    void Form_Closed();

    platform::Platform& platform_;
    core::PublicStuff& stuff_;

    std::unique_ptr<platform::Window> window_;
    platform::Label* Label1_ = nullptr;
    platform::Label* Label2_ = nullptr;
    platform::Label* Label3_ = nullptr;
    platform::MenuItem* mnuSettings_ = nullptr;
    platform::MenuItem* mnuSet_ = nullptr;
    platform::MenuItem* mnuAbout_ = nullptr;
    std::unique_ptr<platform::Timer> Timer1_;
    std::unique_ptr<platform::Timer> Timer2_;
    std::unique_ptr<platform::TcpClient> Winsock1_;
    std::unique_ptr<core::DaytimeQuery> query_;
    std::unique_ptr<core::ClockSetter> setter_;

    std::unique_ptr<settings_dialog::Settings> settings_;
    std::unique_ptr<about::About> about_;

    std::int32_t minutesLeft_ = 0;
    bool ended_ = false;
    int exitCode_ = kExitOk;
    // Posted calls check this, so that they never reach a destroyed Form1.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tempikon::app
