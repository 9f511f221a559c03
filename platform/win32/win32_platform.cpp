#include "platform/win32/win32_platform.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <utility>

#include "platform/win32/win32_file_chooser.h"
#include "platform/win32/win32_start.h"
#include "platform/win32/win32_tcp_client.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_timer.h"
#include "platform/win32/win32_tray.h"
#include "platform/win32/win32_udp_client.h"
#include "platform/win32/win32_window.h"
#include "tempikon_version.h"

namespace tempikon::win32 {

namespace {

const wchar_t* messageClass() {
    static const std::wstring name = widen(version::kProductName) + L"Messages";
    return name.c_str();
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance, bool headless)
    : instance_(instance), headless_(headless) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = messageProc;
    wc.hInstance = instance_;
    wc.lpszClassName = messageClass();
    RegisterClassExW(&wc);
    messageWindow_ = CreateWindowExW(0, messageClass(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     instance_, nullptr);
    SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    Win32Window::registerClass(instance_);

    WSADATA data;
    winsockReady_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    // The shell's handlers for links may use COM.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

Win32Platform::~Win32Platform() {
    for (const auto& [id, timer] : timers_) KillTimer(messageWindow_, id);
    SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, 0);
    DestroyWindow(messageWindow_);
    // Posted calls may own resources; drop them without running them.
    posted_.clear();
    // Name lookups still running on their threads keep Winsock in use, so it
    // is left to the end of the process rather than cleaned up here.
}

std::unique_ptr<platform::Window> Win32Platform::createWindow(const platform::WindowSpec& spec) {
    HWND owner = spec.dialog ? activeOwner() : nullptr;
    return std::make_unique<Win32Window>(*this, spec, owner);
}

std::unique_ptr<platform::Tray> Win32Platform::createTray() {
    return std::make_unique<Win32Tray>(*this);
}

std::unique_ptr<platform::Timer> Win32Platform::createTimer() {
    return std::make_unique<Win32Timer>(*this);
}

std::unique_ptr<platform::TcpClient> Win32Platform::createTcpClient() {
    return std::make_unique<Win32TcpClient>(*this);
}

std::unique_ptr<platform::UdpClient> Win32Platform::createUdpClient() {
    return std::make_unique<Win32UdpClient>(*this);
}

int Win32Platform::messageBox(const std::string& text, const std::string& title, int flags) {
    if (headless_) {
        writeError(title + ": " + text);
        return headlessAnswer(flags);
    }
    HWND owner = activeOwner();
    // Without a window to own it the box still keeps every window of the
    // program out of reach while it is open.
    const UINT style = static_cast<UINT>(flags) | (owner ? 0u : MB_TASKMODAL);
    return MessageBoxW(owner, widen(text).c_str(), widen(title).c_str(), style);
}

std::optional<std::string> Win32Platform::chooseFile(const platform::FileChoice& choice,
                                                     platform::NativeHandle owner) {
    if (headless_) return std::nullopt;
    HWND window = owner ? reinterpret_cast<HWND>(owner) : activeOwner();
    return win32::chooseFile(choice, window);
}

void Win32Platform::dispatch(MSG& msg) {
    if (msg.hwnd) {
        // Tab, Enter and the mnemonics of the controls, as in a dialog.
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        for (Win32Window* w : windows_) {
            if (w->hwnd() == root) {
                if (IsDialogMessageW(root, &msg)) return;
                break;
            }
        }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void Win32Platform::processEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit(static_cast<int>(msg.wParam));
            return;
        }
        dispatch(msg);
    }
}

void Win32Platform::waitForEvents() {
    MSG msg;
    // GetMessageW sleeps in the kernel until a message, a timer or a socket
    // notification is there: the wait costs no processor time.
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
        quit(static_cast<int>(msg.wParam));
        return;
    }
    if (got > 0) dispatch(msg);
    processEvents();
}

void Win32Platform::sleep(int milliseconds) {
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

void Win32Platform::post(std::function<void()> fn) {
    posted_.push_back(std::move(fn));
    PostMessageW(messageWindow_, kPostedCallMessage, 0, 0);
}

int Win32Platform::run() {
    // quit() may come before the loop starts (a start-up that ends at once).
    while (!quitting_) waitForEvents();
    quitting_ = false;
    return exitCode_;
}

void Win32Platform::quit(int exitCode) {
    exitCode_ = exitCode;
    quitting_ = true;
    // Wakes a GetMessageW that is waiting.
    PostMessageW(messageWindow_, WM_NULL, 0, 0);
}

std::string Win32Platform::commandLine() const {
    return narrow(argumentsAfterProgramName(GetCommandLineW()));
}

bool Win32Platform::openAddress(const std::string& address, platform::NativeHandle owner) {
    // Values above 32 mean success; SE_ERR_NOASSOC and the like do not.
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(reinterpret_cast<HWND>(owner),
                                                                L"open", widen(address).c_str(),
                                                                nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

std::optional<std::string> Win32Platform::readFile(const std::string& path) {
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &n, nullptr)) && n > 0) {
        bytes.append(buffer, n);
        if (bytes.size() > platform::kMaxReadFileBytes) break;
    }
    CloseHandle(file);
    if (!ok || bytes.size() > platform::kMaxReadFileBytes) return std::nullopt;
    return bytes;
}

std::vector<std::string> Win32Platform::dataDirectories() const {
    std::wstring exe = modulePath();
    const std::size_t slash = exe.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    std::string dir = narrow(exe.substr(0, slash));
    for (char& c : dir)
        if (c == '\\') c = '/';
    return {dir, dir + "/../share/tempikon"};
}

namespace {

// The user's Run key: what it names starts when the user logs on.
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring runValueName() {
    return widen(version::kProductName);
}

}  // namespace

bool Win32Platform::autostartEnabled() const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    const LSTATUS rc =
        RegQueryValueExW(key, runValueName().c_str(), nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
}

platform::StoreResult Win32Platform::setAutostart(bool enabled) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0,
                                 KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return {false, systemMessage(static_cast<unsigned long>(rc))};
    if (enabled) {
        // The same start as the packaged desktop entry: resident and minimised.
        std::wstring command = L"\"";
        command += modulePath();
        command += L"\" /SERVER /MIN";
        rc = RegSetValueExW(key, runValueName().c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    } else {
        rc = RegDeleteValueW(key, runValueName().c_str());
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return {false, systemMessage(static_cast<unsigned long>(rc))};
    return {};
}

void Win32Platform::writeLine(DWORD which, const std::string& line) {
    AttachParentConsoleIfNoOutput();
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    auto& writer = which == STD_OUTPUT_HANDLE ? output_ : errors_;
    // A test or the console fallback may have put another handle in place.
    if (!writer || writer->handle() != h) writer = std::make_unique<Win32OutputWriter>(h);
    writer->writeLine(line);
}

void Win32Platform::writeOutputLine(const std::string& line) {
    writeLine(STD_OUTPUT_HANDLE, line);
}

void Win32Platform::writeError(const std::string& line) {
    writeLine(STD_ERROR_HANDLE, line);
}

platform::Version Win32Platform::version() const {
    const std::wstring path = modulePath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size > 0) {
        std::vector<char> data(size);
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (GetFileVersionInfoW(path.c_str(), 0, size, data.data()) &&
            VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) && info &&
            length >= sizeof(VS_FIXEDFILEINFO)) {
            platform::Version numbers =
                versionFromFixedInfo(info->dwFileVersionMS, info->dwFileVersionLS);
            numbers.buildSeconds = version::kBuildSeconds;
            return numbers;
        }
    }
    // A build without the resource still knows its numbers.
    return {version::kMajor, version::kMinor, version::kRevision, version::kBuildSeconds};
}

UINT_PTR Win32Platform::startTimer(Win32Timer* timer, int milliseconds) {
    const UINT_PTR id = nextTimerId_++;
    if (!SetTimer(messageWindow_, id, static_cast<UINT>(milliseconds), nullptr)) return 0;
    timers_[id] = timer;
    return id;
}

void Win32Platform::stopTimer(UINT_PTR id) {
    KillTimer(messageWindow_, id);
    timers_.erase(id);
}

UINT Win32Platform::socketMessage(Win32SocketOwner* client) {
    for (UINT tries = 0; tries < kSocketMessageCount; ++tries) {
        const UINT msg = kSocketMessageFirst + nextSocketMessage_;
        nextSocketMessage_ = (nextSocketMessage_ + 1) % kSocketMessageCount;
        if (!sockets_.count(msg)) {
            sockets_[msg] = client;
            return msg;
        }
    }
    return 0;
}

void Win32Platform::releaseSocketMessage(UINT message) {
    sockets_.erase(message);
}

void Win32Platform::addWindow(Win32Window* window) {
    windows_.push_back(window);
}

void Win32Platform::removeWindow(Win32Window* window) {
    std::erase(windows_, window);
}

HWND Win32Platform::activeOwner() const {
    HWND active = GetActiveWindow();
    for (Win32Window* w : windows_)
        if (w->hwnd() == active && w->isVisible() && IsWindowEnabled(active)) return active;
    // The newest window that can take input: the top of any modal chain.
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if ((*it)->isVisible() && IsWindowEnabled((*it)->hwnd())) return (*it)->hwnd();
    return nullptr;
}

LRESULT CALLBACK Win32Platform::messageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) return self->handleMessage(msg, wParam, lParam);
    if (msg == kResolvedMessage) {
        // The platform is gone; the lookup's result still has to be freed.
        freeLookup(lParam);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32Platform::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER) {
        auto it = timers_.find(wParam);
        if (it != timers_.end()) it->second->fire();
        return 0;
    }
    if (msg == kPostedCallMessage) {
        if (posted_.empty()) return 0;
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        if (fn) fn();
        return 0;
    }
    if (msg == kResolvedMessage) {
        lookupDone(lParam);
        return 0;
    }
    if (msg >= kSocketMessageFirst && msg < kSocketMessageFirst + kSocketMessageCount) {
        auto it = sockets_.find(msg);
        if (it != sockets_.end())
            it->second->socketEvent(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam),
                                    WSAGETSELECTERROR(lParam));
        return 0;
    }
    return DefWindowProcW(messageWindow_, msg, wParam, lParam);
}

}  // namespace tempikon::win32
