#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "core/config.h"
#include "core/query/server_query.h"
#include "settings_dialog/config_dialog.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/ask.h"

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
    bool checkAll, checkServer, abort, list, serverMenu;
    bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "{Check all " << r.checkAll << ", Check server " << r.checkServer << ", Abort "
              << r.abort << ", list " << r.list << ", server menu " << r.serverMenu << "}";
}

// The dialog with the main window's query, configuration, status line and
// menu item, which its hooks change as the main window's do.
class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        config.timeout = 3;
        config.interval = 30;
        platform.files["timeservers.dat"] = kThreeServers;
        mainWindow = platform.createWindow({"Tempikon 1.2", 4000, 2000, false, 0, false});
        mainLabel1 = &mainWindow->addLabel({}, "");
        mainSet = &mainWindow->addMenuItem("&Set time");
        mainSet->setEnabled(false);
    }

    // Opens the dialog as the main window does: destroyed from a posted
    // call once it has closed.
    void open() {
        ConfigDialog::Hooks hooks;
        hooks.useTimeoutUntilNextOk = [this](std::int32_t timeout) { config.timeout = timeout; };
        hooks.onApplied = [this](const core::Config& applied) {
            config = applied;
            mainLabel1->setText(applied.server);
            mainSet->setEnabled(true);
        };
        dlg = std::make_unique<ConfigDialog>(platform, query, config, std::move(hooks));
        ConfigDialog* opened = dlg.get();
        dlg->onClosed = [this, opened] {
            ++closings;
            platform.post([this, opened] {
                if (dlg.get() == opened) dlg.reset();
            });
        };
        dlg->show();
    }

    FakeWindow& window() { return fake::as<FakeWindow>(dlg->window()); }
    FakeButton& checkAll() { return fake::as<FakeButton>(dlg->checkAllButton()); }
    FakeButton& checkServer() { return fake::as<FakeButton>(dlg->checkServerButton()); }
    FakeButton& abort() { return fake::as<FakeButton>(dlg->abortButton()); }
    FakeButton& ok() { return fake::as<FakeButton>(dlg->okButton()); }
    FakeButton& cancel() { return fake::as<FakeButton>(dlg->cancelButton()); }
    FakeButton& help() { return fake::as<FakeButton>(dlg->helpButton()); }
    FakeListBox& list() { return fake::as<FakeListBox>(dlg->serverList()); }
    FakePopupMenu& popup() { return fake::as<FakePopupMenu>(dlg->serverMenu()); }
    FakeTextField& field(platform::TextField& f) { return fake::as<FakeTextField>(f); }

    Row row() {
        return {dlg->checkAllButton().isEnabled(), dlg->checkServerButton().isEnabled(),
                dlg->abortButton().isEnabled(), dlg->serverList().isEnabled(),
                dlg->serverMenu().isEnabled()};
    }

    // Runs fn at ms from now, while a handler waits.
    void during(long long ms, std::function<void()> fn) { platform.after(ms, std::move(fn)); }

    FakePlatform platform;
    core::Config config;
    core::ServerQuery query{platform};
    std::unique_ptr<platform::Window> mainWindow;
    platform::Label* mainLabel1 = nullptr;
    platform::MenuItem* mainSet = nullptr;
    std::unique_ptr<ConfigDialog> dlg;
    int closings = 0;
};

}  // namespace tempikon::settings_dialog::testing
