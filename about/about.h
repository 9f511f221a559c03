#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::about {

// The maker's addresses, shown in the box and opened through the shell.
inline constexpr const char* kWebAddress = "https://tempikon.github.io";
inline constexpr const char* kMailAddress = "tempikon@tempikon.org";
inline constexpr const char* kNotice =
    QT_TRANSLATE_NOOP("Tempikon", "\xC2\xA9 2026 the Tempikon authors");

// Colours of the link labels.
inline constexpr platform::Colour kLinkHoverColour = 0x00FF0000u;
inline constexpr platform::Colour kLinkColour = platform::kButtonTextColour;

// "Rev " and the version numbers, e.g. "Rev 1.2.10".
std::string RevisionLine(const platform::Version& version);

// The About box. Created when opened; the owner destroys it after onClosed
// has run (from a posted call, never from inside a handler).
class About {
public:
    explicit About(platform::Platform& platform);
    ~About();
    About(const About&) = delete;
    About& operator=(const About&) = delete;

    void show();
    bool isShown() const;
    void close();

    // The hover rule: the link under the mouse turns blue, the other does
    // not; anywhere else both are plain.
    void onWebLinkHover();
    void onMailLinkHover();
    void onHoverElsewhere();
    void onWebLinkClick();
    void onMailLinkClick();

    platform::Window& window() { return *window_; }
    platform::Label& titleLabel() { return *titleLabel_; }
    platform::Label& revisionLabel() { return *revisionLabel_; }
    platform::Label& visitLabel() { return *visitLabel_; }
    platform::Label& mailToLabel() { return *mailToLabel_; }
    platform::Label& webLink() { return *webLink_; }
    platform::Label& mailLink() { return *mailLink_; }

    std::function<void()> onClosed;

private:
    void setLinkColours(platform::Colour web, platform::Colour mail);
    void open(const std::string& address);

    platform::Platform& platform_;
    std::unique_ptr<platform::Window> window_;
    platform::Label* titleLabel_ = nullptr;
    platform::Label* revisionLabel_ = nullptr;
    platform::Label* visitLabel_ = nullptr;
    platform::Label* webLink_ = nullptr;
    platform::Label* mailToLabel_ = nullptr;
    platform::Label* mailLink_ = nullptr;
};

}  // namespace tempikon::about
