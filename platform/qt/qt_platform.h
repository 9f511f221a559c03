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

// The platform on one application object, which it creates and owns: a
// QApplication, or for a windowless run (one that shows no window) a
// QCoreApplication, which starts no window system, platform plugin or fonts;
// such a run creates no windows or tray icons and is headless.
class QtPlatform : public platform::Platform {
public:
    QtPlatform(int& argc, char** argv, std::string commandLine, bool windowless = false);
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

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
    std::optional<std::string> chooseFile(const platform::FileChoice& choice,
                                          platform::NativeHandle owner) override;
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
    bool isHeadless() const override;

private:
    std::unique_ptr<QCoreApplication> app_;
    bool windowless_ = false;
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
