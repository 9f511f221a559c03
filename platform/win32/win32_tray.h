#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/tray.h"
#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

class Win32MenuItem;
class Win32Platform;

// An icon in the notification area (Shell_NotifyIconW), with a hidden window
// of its own for its messages and its popup menu.
class Win32Tray : public platform::Tray {
public:
    explicit Win32Tray(Win32Platform& platform);
    ~Win32Tray() override;
    Win32Tray(const Win32Tray&) = delete;
    Win32Tray& operator=(const Win32Tray&) = delete;

    bool isAvailable() const override;
    void show() override;
    void hide() override;
    void setState(platform::TrayState state) override;
    void setToolTip(const std::string& text) override;
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    void notify(const std::string& title, const std::string& text) override;

    // For tests: the window that receives the icon's messages.
    HWND hwnd() const { return hwnd_; }
    bool isShown() const { return shown_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void update(DWORD flags);
    void popupMenu();
    void run(UINT id);

    Win32Platform& platform_;
    HWND hwnd_ = nullptr;
    HMENU menu_ = nullptr;
    HICON icon_ = nullptr;
    std::wstring tip_;
    bool shown_ = false;
    UINT nextId_ = 1;
    std::vector<std::unique_ptr<Win32MenuItem>> items_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tempikon::win32
