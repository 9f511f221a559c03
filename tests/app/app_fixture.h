#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/main_window.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::app::testing {

inline constexpr const char* kPrimary = "primary.test";
inline constexpr const char* kBackup = "backup.test";
// The fake clock reads 12:00:00 at virtual time 0.
inline constexpr const char* kReply = "Mon Dec  7 12:00:30 2026\r\n";

// A program on the fake platform: seed the store, script the servers, start.
struct AppFixture : ::testing::Test {
    fake::FakePlatform platform;
    std::unique_ptr<MainWindow> form;

    void configure(const std::string& server, const std::string& interval = "30") {
        if (!server.empty()) platform.store().seed("Server", server);
        platform.store().seed("Interval", interval);
    }
    void create(const std::string& commandLine) {
        platform.commandLineText = commandLine;
        form = std::make_unique<MainWindow>(platform);
    }
    void start(const std::string& commandLine) {
        create(commandLine);
        form->start();
    }

    fake::FakeWindow& win() { return fake::as<fake::FakeWindow>(form->window()); }
    fake::FakeLabel& label(platform::Label& l) { return fake::as<fake::FakeLabel>(l); }
    void click(platform::MenuItem& item) { fake::as<fake::FakeMenuItem>(item).click(); }
    std::size_t settingsMade() { return platform.fakeClock().settings.size(); }
};

}  // namespace tempikon::app::testing
