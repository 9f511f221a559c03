#pragma once

#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

// A PNG of the program's resources (RCDATA), scaled to width x height as a
// 32-bit DIB with premultiplied alpha for AlphaBlend; nullptr on failure.
HBITMAP loadPngResource(const wchar_t* name, int width, int height);

}  // namespace tempikon::win32
