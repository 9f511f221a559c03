#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "core/daytime_query.h"
#include "core/public_stuff.h"
#include "settings_dialog/settings.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::settings_dialog::testing {

using fake::FakeButton;
using fake::FakeListBox;
using fake::FakePlatform;
using fake::FakePopupMenu;
using fake::FakeTextField;
using fake::FakeWindow;
using fake::PeerScript;

// Three servers; the hosts end in column 15 or 16.
inline const std::string kThreeServers =
    "US alpha.example  Alpha town\r\n"
    "US beta.example   Beta town\r\n"
    "US gamma.example  Gamma town\r\n";

inline std::string Padded(std::string text) {
    text.resize(55, ' ');
    return text;
}

// The shown enabled states of the check controls, one row of their table.
struct Row {
    bool command1, command2, command5, list1, mnuServer;
    bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "{Check all " << r.command1 << ", Check server " << r.command2 << ", Abort "
              << r.command5 << ", List1 " << r.list1 << ", mnuServer " << r.mnuServer << "}";
}

// The dialog with the main window's query, status line and menu item.
class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        stuff.Config.Timeout = 3;
        stuff.Config.Interval = 30;
        platform.files["timeservers.dat"] = kThreeServers;
        mainWindow = platform.createWindow({"Tempikon 1.2", 4000, 2000, false, 0, false});
        mainLabel1 = &mainWindow->addLabel({}, "");
        mainSet = &mainWindow->addMenuItem("&Set time");
        mainSet->setEnabled(false);
    }

    // Opens the dialog as the main window does: destroyed from a posted
    // call once it has closed.
    void open() {
        dlg = std::make_unique<Settings>(platform, stuff,
                                         MainWindowLink{query, *mainLabel1, *mainSet});
        Settings* opened = dlg.get();
        dlg->onClosed = [this, opened] {
            ++closings;
            platform.post([this, opened] {
                if (dlg.get() == opened) dlg.reset();
            });
        };
        dlg->Show();
    }

    FakeWindow& window() { return fake::as<FakeWindow>(dlg->window()); }
    FakeButton& checkAll() { return fake::as<FakeButton>(dlg->Command1()); }
    FakeButton& checkServer() { return fake::as<FakeButton>(dlg->Command2()); }
    FakeButton& abort() { return fake::as<FakeButton>(dlg->Command5()); }
    FakeButton& ok() { return fake::as<FakeButton>(dlg->Command4()); }
    FakeButton& cancel() { return fake::as<FakeButton>(dlg->Command3()); }
    FakeButton& help() { return fake::as<FakeButton>(dlg->Command6()); }
    FakeListBox& list() { return fake::as<FakeListBox>(dlg->List1()); }
    FakePopupMenu& popup() { return fake::as<FakePopupMenu>(dlg->mnuServer()); }
    FakeTextField& field(platform::TextField& f) { return fake::as<FakeTextField>(f); }

    Row row() {
        return {dlg->Command1().isEnabled(), dlg->Command2().isEnabled(),
                dlg->Command5().isEnabled(), dlg->List1().isEnabled(),
                dlg->mnuServer().isEnabled()};
    }

    // Runs fn at ms from now, while a handler waits.
    void during(long long ms, std::function<void()> fn) { platform.after(ms, std::move(fn)); }

    FakePlatform platform;
    core::PublicStuff stuff;
    std::unique_ptr<platform::Timer> timer1 = platform.createTimer();
    std::unique_ptr<platform::TcpClient> winsock1 = platform.createTcpClient();
    core::DaytimeQuery query{platform, stuff, *timer1, *winsock1};
    std::unique_ptr<platform::Window> mainWindow;
    platform::Label* mainLabel1 = nullptr;
    platform::MenuItem* mainSet = nullptr;
    std::unique_ptr<Settings> dlg;
    int closings = 0;
};

}  // namespace tempikon::settings_dialog::testing
