#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_common.h"
#include "platform/win32/win32_output.h"
#include "platform/win32/win32_settings_store.h"
#include "platform/win32/win32_state_file.h"

namespace tempikon::win32 {

class Win32Timer;
class Win32Window;

// Window messages of the hidden message window that carries timers, socket
// notifications and posted calls; every message loop of the thread
// (message boxes and menus included) delivers them.
inline constexpr UINT kPostedCallMessage = WM_APP + 1;
inline constexpr UINT kResolvedMessage = WM_APP + 2;
// One message number per connection, so a late notification of a closed
// socket never reaches a newer one that got the same handle.
inline constexpr UINT kSocketMessageFirst = WM_APP + 0x100;
inline constexpr UINT kSocketMessageCount = 0x1000;

// A client of the hidden window: the result of its name lookup and the
// notifications of its socket.
class Win32SocketOwner {
public:
    // addresses is the caller's to free; error when there are none, or
    // kLookupNotStarted.
    virtual void resolved(ADDRINFOW* addresses, int error) = 0;
    virtual void socketEvent(SOCKET socket, int event, int error) = 0;

protected:
    ~Win32SocketOwner() = default;
};

// The error of a lookup whose thread could not start.
inline constexpr int kLookupNotStarted = -1;

class Win32Platform : public platform::Platform {
public:
    Win32Platform(HINSTANCE instance, bool headless);
    ~Win32Platform() override;

    std::unique_ptr<platform::Window> createWindow(const platform::WindowSpec& spec) override;
    std::unique_ptr<platform::Timer> createTimer() override;
    std::unique_ptr<platform::TcpClient> createTcpClient() override;
    std::unique_ptr<platform::UdpClient> createUdpClient() override;
    // Windows' own cryptography has no AES-SIV: no NTS here.
    std::unique_ptr<platform::TlsClient> createTlsClient() override { return nullptr; }
    platform::Crypto* crypto() override { return nullptr; }
    std::string ntsUnavailableReason() const override {
        return "NTS is not offered on Windows: the system's cryptography has no AES-SIV";
    }
    std::unique_ptr<platform::Tray> createTray() override;
    platform::Clock& clock() override { return clock_; }
    platform::SettingsStore& settings() override { return store_; }
    platform::StateFile& historyFile() override { return history_; }
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    std::optional<std::string> chooseFile(const platform::FileChoice& choice,
                                          platform::NativeHandle owner) override;
    void processEvents() override;
    void waitForEvents() override;
    void sleep(int milliseconds) override;
    void post(std::function<void()> fn) override;
    int run() override;
    void quit(int exitCode) override;
    std::string commandLine() const override;
    bool openAddress(const std::string& address, platform::NativeHandle owner) override;
    std::optional<std::string> readFile(const std::string& path) override;
    std::vector<std::string> dataDirectories() const override;
    bool autostartEnabled() const override;
    platform::StoreResult setAutostart(bool enabled) override;
    void writeOutputLine(const std::string& line) override;
    void writeErrorLine(const std::string& line) override { writeError(line); }
    platform::Version version() const override;
    std::int64_t monotonicMicros() const override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool isHeadless() const override { return headless_; }

    // For the backend's own classes.
    HINSTANCE instance() const { return instance_; }
    HWND messageWindow() const { return messageWindow_; }
    UINT_PTR startTimer(Win32Timer* timer, int milliseconds);
    void stopTimer(UINT_PTR id);
    UINT socketMessage(Win32SocketOwner* client);
    void releaseSocketMessage(UINT message);
    // socketType: SOCK_STREAM or SOCK_DGRAM.
    std::uint64_t startLookup(Win32SocketOwner* client, const std::string& host, std::uint16_t port,
                              int socketType);
    void cancelLookup(std::uint64_t token);
    void addWindow(Win32Window* window);
    void removeWindow(Win32Window* window);
    const std::vector<Win32Window*>& windows() const { return windows_; }
    // The window a new dialog or message box belongs to, or nullptr.
    HWND activeOwner() const;
    void writeError(const std::string& line);

private:
    static LRESULT CALLBACK messageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void dispatch(MSG& msg);
    void lookupDone(LPARAM job);
    static void freeLookup(LPARAM job);
    void writeLine(DWORD which, const std::string& line);

    HINSTANCE instance_;
    bool headless_;
    HWND messageWindow_ = nullptr;
    bool winsockReady_ = false;
    bool quitting_ = false;
    int exitCode_ = 0;
    std::deque<std::function<void()>> posted_;
    std::map<UINT_PTR, Win32Timer*> timers_;
    UINT_PTR nextTimerId_ = 1;
    std::map<UINT, Win32SocketOwner*> sockets_;
    UINT nextSocketMessage_ = 0;
    std::map<std::uint64_t, Win32SocketOwner*> lookups_;
    std::uint64_t nextLookup_ = 1;
    std::vector<Win32Window*> windows_;
    Win32Clock clock_{*this};
    Win32SettingsStore store_;
    Win32StateFile history_{"history.csv"};
    std::unique_ptr<Win32OutputWriter> output_;
    std::unique_ptr<Win32OutputWriter> errors_;
};

}  // namespace tempikon::win32
