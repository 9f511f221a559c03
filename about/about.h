#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tempikon::about {

// The maker's addresses, shown in the box and opened through the shell.
inline constexpr const char* kWebAddress = "https://tempikon.github.io";
inline constexpr const char* kMailAddress = "tempikon@tempikon.org";
inline constexpr const char* kNotice = "\xC2\xA9 2026 the Tempikon authors";

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

    void Show();
    bool isShown() const;
    void Close();

    // Hover rule and link clicks.
    void Label9_MouseMove();
    void Label10_MouseMove();
    void Label4_MouseMove();
    void Label5_MouseMove();
    void Form_MouseMove();
    void Label9_Click();
    void Label10_Click();

    platform::Window& window() { return *window_; }
    platform::Label& label1() { return *Label1_; }
    platform::Label& label2() { return *Label2_; }
    platform::Label& label3() { return *Label3_; }
    platform::Label& label4() { return *Label4_; }
    platform::Label& label5() { return *Label5_; }
    platform::Label& label9() { return *Label9_; }
    platform::Label& label10() { return *Label10_; }
    platform::Label& label11() { return *Label11_; }

    std::function<void()> onClosed;

private:
    void setLinkColours(platform::Colour web, platform::Colour mail);

    platform::Platform& platform_;
    std::unique_ptr<platform::Window> window_;
    platform::Label* Label2_ = nullptr;
    platform::Label* Label11_ = nullptr;
    platform::Label* Label1_ = nullptr;
    platform::Label* Label3_ = nullptr;
    platform::Label* Label4_ = nullptr;
    platform::Label* Label9_ = nullptr;
    platform::Label* Label5_ = nullptr;
    platform::Label* Label10_ = nullptr;
};

}  // namespace tempikon::about
