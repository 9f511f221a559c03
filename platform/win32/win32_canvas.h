#pragma once

#include "platform/controls.h"
#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

// A static child window whose painting, mouse and keys are taken over: it
// draws a platform::Drawing with GDI into a bitmap first (no flicker), takes
// the focus from Tab or a click and hands the arrow keys, Home and End on.
class Win32Canvas final : public platform::Canvas {
public:
    explicit Win32Canvas(HWND hwnd);
    ~Win32Canvas() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    int pixelWidth() const override;
    int pixelHeight() const override;
    void draw(platform::Drawing drawing) override;

    HWND hwnd() const { return hwnd_; }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                 DWORD_PTR ref);
    void paint();

    HWND hwnd_;
    platform::Drawing drawing_;
};

}  // namespace tempikon::win32
