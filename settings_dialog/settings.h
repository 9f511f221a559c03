#pragma once

#include <functional>
#include <memory>

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

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tempikon::settings_dialog
