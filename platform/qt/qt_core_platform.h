#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_state_file.h"

class QCoreApplication;

namespace tempikon::qt {

// The platform without a window system: Qt Core, its sockets and timers, the
// clock, the files, the time service. Alone it is the windowless platform
// (/QUERY), which loads no GUI library: it creates no windows or tray icons,
// answers message boxes on standard error and is headless. QtPlatform adds
// the windows on top of it.
class QtCorePlatform : public platform::Platform {
public:
    QtCorePlatform(int& argc, char** argv, std::string commandLine);
    ~QtCorePlatform() override;
    QtCorePlatform(const QtCorePlatform&) = delete;
    QtCorePlatform& operator=(const QtCorePlatform&) = delete;

    std::unique_ptr<platform::Window> createWindow(const platform::WindowSpec& spec) override;
    std::unique_ptr<platform::Timer> createTimer() override;
    std::unique_ptr<platform::TcpClient> createTcpClient() override;
    std::unique_ptr<platform::UdpClient> createUdpClient() override;
    std::unique_ptr<platform::TlsClient> createTlsClient() override;
    platform::Crypto* crypto() override { return crypto_.get(); }
    std::string ntsUnavailableReason() const override { return {}; }
    std::unique_ptr<platform::Tray> createTray() override;
    platform::Clock& clock() override { return clock_; }
    platform::SettingsStore& settings() override { return store_; }
    platform::StateFile& historyFile() override { return history_; }
    platform::TimeSync* timeSync() override;
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    // A windowless run has no chooser to show: always cancelled.
    std::optional<std::string> chooseFile(const platform::FileChoice&,
                                          platform::NativeHandle) override {
        return std::nullopt;
    }
    void processEvents() override;
    void waitForEvents() override;
    void sleep(int milliseconds) override;
    void post(std::function<void()> fn) override;
    int run() override;
    void quit(int exitCode) override;
    std::string commandLine() const override { return commandLine_; }
    bool openAddress(const std::string& address, platform::NativeHandle owner) override;
    std::optional<std::string> readFile(const std::string& path) override;
    std::vector<std::string> dataDirectories() const override;
    bool autostartEnabled() const override;
    platform::StoreResult setAutostart(bool enabled) override;
    void writeOutputLine(const std::string& line) override;
    void writeErrorLine(const std::string& line) override;
    platform::Version version() const override;
    std::int64_t monotonicMicros() const override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool isHeadless() const override { return true; }

protected:
    // For a platform with windows: app is its QApplication, made from the
    // same argc and argv.
    QtCorePlatform(std::unique_ptr<QCoreApplication> app, std::string commandLine);
    QtStateFile& history() { return history_; }
    // The address is one the program may open (a web page, a mail address or
    // its own help page).
    bool mayOpen(const std::string& address) const;

private:
    std::unique_ptr<QCoreApplication> app_;
    std::unique_ptr<QObject> postTarget_;
    std::string commandLine_;
    QtClock clock_;
    QtSettingsStore store_;
    QtStateFile history_{"history.csv"};
    std::unique_ptr<platform::Crypto> crypto_;
    std::unique_ptr<platform::TimeSync> timeSync_;  // made when first asked
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace tempikon::qt
