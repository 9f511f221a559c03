#pragma once

#include <functional>
#include <string>

#include "platform/controls.h"

namespace tempikon::platform {

// What the tray icon shows about the last setting.
enum class TrayState { Unknown, Ok, Failed };

// An icon in the desktop's notification area, with a menu of its own.
class Tray {
public:
    virtual ~Tray() = default;

    // False when the desktop has no notification area to put the icon in.
    virtual bool isAvailable() const = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void setState(TrayState state) = 0;
    virtual void setToolTip(const std::string& text) = 0;
    // The icon's menu, in the order the items are added.
    virtual MenuItem& addMenuItem(const std::string& caption) = 0;
    // A passing message from the icon (a balloon or the desktop's notification).
    virtual void notify(const std::string& title, const std::string& text) = 0;

    // The icon was clicked (or chosen from the keyboard).
    std::function<void()> onActivated;
};

}  // namespace tempikon::platform
