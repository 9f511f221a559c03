#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win32/win32_common.h"
#include "platform/window.h"

namespace tempikon::win32 {

class Win32Label;
class Win32Picture;
class Win32Platform;

// A top-level window of the program. Its class runs on the dialog manager
// (DLGWINDOWEXTRA and DefDlgProcW), which gives the keyboard interface of a
// dialog: Tab order, Enter for the default button, mnemonics, kept focus.
class Win32Window : public platform::Window {
public:
    Win32Window(Win32Platform& platform, const platform::WindowSpec& spec, HWND owner);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    static void registerClass(HINSTANCE instance);

    void setCaption(const std::string& caption) override;
    std::string caption() const override;
    platform::Label& addLabel(const platform::TwipsRect& rect, const std::string& text,
                              const platform::FontSpec& font) override;
    platform::TextField& addTextField(const platform::TwipsRect& rect,
                                      platform::Align align) override;
    platform::Button& addButton(const platform::TwipsRect& rect, const std::string& caption,
                                const platform::FontSpec& font) override;
    platform::CheckBox& addCheckBox(const platform::TwipsRect& rect, const std::string& caption,
                                    const platform::FontSpec& font) override;
    platform::ListBox& addListBox(const platform::TwipsRect& rect,
                                  const platform::FontSpec& font) override;
    platform::ComboBox& addComboBox(const platform::TwipsRect& rect,
                                    const platform::FontSpec& font = {}) override;
    platform::Picture& addPicture(const platform::TwipsRect& rect,
                                  const std::string& image) override;
    platform::Canvas& addCanvas(const platform::TwipsRect& rect) override;
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    platform::PopupMenu& addPopupMenu(const std::string& caption) override;
    void setDefaultButton(platform::Button& button) override;
    void setBuddy(platform::Label& label, platform::Control& target) override;

    void show() override;
    void showModal() override;
    void minimise() override;
    void hide() override;
    bool isMinimised() const override;
    bool isVisible() const override;
    void close() override;
    bool isClosed() const override { return closed_; }
    platform::NativeHandle handle() const override {
        return reinterpret_cast<platform::NativeHandle>(hwnd_);
    }

    HWND hwnd() const { return hwnd_; }
    int dpi() const { return dpi_; }
    int nextId() { return nextId_++; }
    HFONT fontFor(const platform::FontSpec& spec);
    // Runs a notification; a handler may close the window meanwhile.
    void onCommand(int id, std::function<void(int code)> handler) {
        commands_[id] = std::move(handler);
    }

private:
    struct Child {
        HWND hwnd;
        platform::TwipsRect rect;
        platform::FontSpec font;
        // A drop-down list: created taller by its open list, kept this high.
        int closedHeightTwips = 0;
    };

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND addChild(const wchar_t* cls, DWORD style, DWORD exStyle, const platform::TwipsRect& rect,
                  const std::string& text, const platform::FontSpec& font, int id);
    void fitClientArea();
    void placeChildren();
    void fitListEntryHeight(HWND list);
    void drawListEntry(const DRAWITEMSTRUCT& item);
    void dpiChanged(int dpi, const RECT* suggested);
    void endModality();
    void focusFirstControl();

    Win32Platform& platform_;
    platform::WindowSpec spec_;
    HWND hwnd_ = nullptr;
    HMENU menuBar_ = nullptr;
    int dpi_ = 96;
    int nextId_ = 100;
    bool closed_ = false;
    bool everShown_ = false;
    bool pendingMinimise_ = false;
    bool modal_ = false;
    HBRUSH backgroundBrush_ = nullptr;
    COLORREF backgroundColour_ = 0;
    std::vector<Child> children_;
    std::vector<HWND> disabledByModal_;
    std::map<int, std::function<void(int)>> commands_;
    std::map<HWND, Win32Label*> labels_;
    std::map<HWND, Win32Picture*> pictures_;
    // Check boxes paint their captions on the window's background.
    std::vector<HWND> checkBoxes_;
    // Lists drawn here, so that an entry too long for its row ends in "...".
    std::vector<HWND> lists_;
    std::map<std::tuple<std::wstring, int, bool>, HFONT> fonts_;
    std::vector<std::unique_ptr<platform::Control>> owned_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tempikon::win32
