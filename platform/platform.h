#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/file_chooser.h"
#include "platform/geometry.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "platform/state_file.h"
#include "platform/tcp_client.h"
#include "platform/time_sync.h"
#include "platform/timer.h"
#include "platform/tls_client.h"
#include "platform/tray.h"
#include "platform/udp_client.h"
#include "platform/window.h"

namespace tempikon::platform {

// The largest file readFile() hands over: the program reads only small files
// (the server list, the help page), and a huge one must not fill memory.
inline constexpr std::size_t kMaxReadFileBytes = 1 << 20;

// Shown when openAddress() fails: the address stays readable, to copy.
inline std::string NotOpenedMessage(const std::string& address) {
    return "Nothing on this system could open\n" + address;
}

struct Version {
    int major = 0;
    int minor = 0;
    int revision = 0;
    // When this version was made, seconds since 1970 UTC; 0: unknown.
    long long buildSeconds = 0;
};

// The one object through which the logic reaches the system. Everything runs
// on one thread; notifications are delivered only while an event is handled.
class Platform {
public:
    virtual ~Platform() = default;

    virtual std::unique_ptr<Window> createWindow(const WindowSpec& spec) = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    virtual std::unique_ptr<TcpClient> createTcpClient() = 0;
    virtual std::unique_ptr<UdpClient> createUdpClient() = 0;
    // NTS: a TLS client and the cryptography; both null where the system
    // offers no NTS, and ntsUnavailableReason() then says why.
    virtual std::unique_ptr<TlsClient> createTlsClient() = 0;
    virtual Crypto* crypto() = 0;
    virtual std::string ntsUnavailableReason() const = 0;
    // Never null; ask isAvailable() whether the desktop has a tray.
    virtual std::unique_ptr<Tray> createTray() = 0;
    virtual Clock& clock() = 0;
    virtual SettingsStore& settings() = 0;
    // history.csv in the user's state folder (${XDG_STATE_HOME:-~/.local/state}/Tempikon/
    // on Linux, %LOCALAPPDATA%\Tempikon\ on Windows).
    virtual StateFile& historyFile() = 0;
    // The system's own automatic time; nullptr where the program cannot
    // learn about it.
    virtual TimeSync* timeSync() { return nullptr; }

    // Modal; returns the button pressed (kIdOk, kIdYes, kIdNo).
    virtual int messageBox(const std::string& text, const std::string& title, int flags) = 0;
    // The system's modal dialog to choose an existing file, over owner (0:
    // none). The chosen file's path, or nullopt when the user cancelled.
    virtual std::optional<std::string> chooseFile(const FileChoice& choice, NativeHandle owner) = 0;

    // Handles every pending event and returns without waiting for new ones.
    virtual void processEvents() = 0;
    // Blocks until at least one event has been handled (no spinning).
    virtual void waitForEvents() = 0;
    // Blocks the thread; no events are handled meanwhile.
    virtual void sleep(int milliseconds) = 0;
    // Runs fn from the event loop after the current handler has returned.
    virtual void post(std::function<void()> fn) = 0;
    // The main loop: handles events until quit() is called; returns the code.
    virtual int run() = 0;
    virtual void quit(int exitCode) = 0;

    // Everything after the program's own name, as one text.
    virtual std::string commandLine() const = 0;
    // Hands a web or mailto: address to the desktop's default handler.
    // False when nothing could be started to open it.
    virtual bool openAddress(const std::string& address, NativeHandle owner) = 0;
    // The whole file as bytes; nullopt when missing, unreadable, not a
    // regular file or larger than kMaxReadFileBytes.
    virtual std::optional<std::string> readFile(const std::string& path) = 0;
    // Folders that hold the installed data files, most specific first
    // (next to the executable, then share/tempikon/).
    virtual std::vector<std::string> dataDirectories() const = 0;

    // Starting with the user's desktop session, resident and minimised: an
    // XDG autostart entry on Linux, the user's Run value on Windows.
    virtual bool autostartEnabled() const = 0;
    // Writes or removes that entry; the reason a user reads when it fails.
    virtual StoreResult setAutostart(bool enabled) = 0;
    // One line on standard output, for scripts.
    virtual void writeOutputLine(const std::string& line) = 0;
    // One line on standard error: why something failed.
    virtual void writeErrorLine(const std::string& line) = 0;
    virtual Version version() const = 0;
    // True when no screen is shown (message boxes answer at once).
    virtual bool isHeadless() const = 0;
    // A steady count of microseconds for measuring intervals; it never
    // jumps when the clock is set.
    virtual std::int64_t monotonicMicros() const = 0;
};

}  // namespace tempikon::platform
