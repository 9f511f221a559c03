#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tempikon::testsupport {

// Reads the real clock; records settings instead of making them.
class RecordingClock : public platform::Clock {
public:
    explicit RecordingClock(platform::Clock& real) : real_(real) {}
    std::int64_t nowMicros() const override { return real_.nowMicros(); }
    int utcOffsetSeconds(std::int64_t micros) const override {
        return real_.utcOffsetSeconds(micros);
    }
    platform::ClockResult setMicros(std::int64_t micros) override {
        const std::int64_t real = real_.nowMicros();
        const platform::LocalDateTime t = localAt(micros);
        settings.push_back({micros, real, t.hour * 3600 + t.minute * 60 + t.second});
        return {true, {}};
    }
    // Slews are recorded, not made, where a test lets the clock slew;
    // otherwise it steps only, as existing runs expect.
    bool canSlew() const override { return slewable; }
    platform::ClockResult slewMicros(std::int64_t offsetMicros) override {
        slews.push_back({offsetMicros, real_.nowMicros()});
        return {true, {}};
    }
    struct Recorded {
        std::int64_t micros;      // the instant asked for
        std::int64_t realMicros;  // the real clock at the call
        int secondsOfDay;         // the local time of day asked for
    };
    std::vector<Recorded> settings;
    struct RecordedSlew {
        std::int64_t offsetMicros;  // asked for
        std::int64_t realMicros;    // the real clock at the call
    };
    std::vector<RecordedSlew> slews;
    bool slewable = false;

private:
    platform::Clock& real_;
};

// The Qt platform with the recording clock in place of the system's.
class RecordingPlatform : public platform::Platform {
public:
    explicit RecordingPlatform(platform::Platform& qt) : qt_(qt), clock_(qt.clock()) {}

    std::unique_ptr<platform::Window> createWindow(const platform::WindowSpec& s) override {
        return qt_.createWindow(s);
    }
    std::unique_ptr<platform::Timer> createTimer() override { return qt_.createTimer(); }
    std::unique_ptr<platform::TcpClient> createTcpClient() override {
        return qt_.createTcpClient();
    }
    std::unique_ptr<platform::UdpClient> createUdpClient() override {
        return qt_.createUdpClient();
    }
    std::unique_ptr<platform::TlsClient> createTlsClient() override {
        return qt_.createTlsClient();
    }
    platform::Crypto* crypto() override { return qt_.crypto(); }
    std::string ntsUnavailableReason() const override { return qt_.ntsUnavailableReason(); }
    std::unique_ptr<platform::Tray> createTray() override { return qt_.createTray(); }
    platform::Clock& clock() override { return clock_; }
    platform::SettingsStore& settings() override { return qt_.settings(); }
    platform::StateFile& historyFile() override { return qt_.historyFile(); }
    int messageBox(const std::string& text, const std::string& title, int flags) override {
        return qt_.messageBox(text, title, flags);
    }
    std::optional<std::string> chooseFile(const platform::FileChoice& choice,
                                          platform::NativeHandle owner) override {
        return qt_.chooseFile(choice, owner);
    }
    void processEvents() override { qt_.processEvents(); }
    void waitForEvents() override { qt_.waitForEvents(); }
    void sleep(int ms) override { qt_.sleep(ms); }
    void post(std::function<void()> fn) override { qt_.post(std::move(fn)); }
    int run() override { return qt_.run(); }
    void quit(int code) override { qt_.quit(code); }
    std::string commandLine() const override { return qt_.commandLine(); }
    bool openAddress(const std::string& a, platform::NativeHandle h) override {
        return qt_.openAddress(a, h);
    }
    std::optional<std::string> readFile(const std::string& p) override { return qt_.readFile(p); }
    std::vector<std::string> dataDirectories() const override { return qt_.dataDirectories(); }
    bool autostartEnabled() const override { return qt_.autostartEnabled(); }
    platform::StoreResult setAutostart(bool enabled) override { return qt_.setAutostart(enabled); }
    void writeOutputLine(const std::string& line) override { output.push_back(line); }
    void writeErrorLine(const std::string&) override {}
    platform::Version version() const override { return qt_.version(); }
    bool isHeadless() const override { return qt_.isHeadless(); }
    std::int64_t monotonicMicros() const override { return qt_.monotonicMicros(); }

    RecordingClock& recordingClock() { return clock_; }
    std::vector<std::string> output;

private:
    platform::Platform& qt_;
    RecordingClock clock_;
};

}  // namespace tempikon::testsupport
