#pragma once

#include <cstdint>
#include <string>

namespace tempikon::platform {

// Window geometry is given in twips (1/1440 inch); backends turn it into
// pixels at the screen's logical DPI.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// 0x00BBGGRR; a value with the top bit set names a system colour by index.
using Colour = std::uint32_t;
inline constexpr Colour kSystemColourFlag = 0x80000000u;
inline constexpr Colour kButtonTextColour = 0x80000012u;

// An empty face or zero size means the window's default font.
struct FontSpec {
    std::string face;
    double points = 0.0;
    bool bold = false;
};

enum class Align { Left, Right };

// Opaque handle of a native window, for the shell's owner window.
using NativeHandle = std::uintptr_t;

}  // namespace tempikon::platform
