#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

class Win32Window;

// The system colour of an index (GetSysColor), for resolveColour().
std::uint32_t sysColour(int index);

// The controls are thin wrappers of their child windows, which the window
// owns and destroys.

class Win32Label final : public platform::Label {
public:
    Win32Label(HWND hwnd, std::string text);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    void setText(const std::string& text) override;
    std::string text() const override { return text_; }
    void setTextColour(platform::Colour colour) override;
    platform::Colour textColour() const override { return colour_; }
    void setToolTip(const std::string& text) override;
    std::string toolTip() const override { return toolTip_; }
    COLORREF colourRef() const;

private:
    HWND hwnd_;
    bool hidden_ = false;
    std::string text_;
    platform::Colour colour_ = platform::kButtonTextColour;
    std::string toolTip_;
    // Owned by the label's window, which destroys it.
    HWND tip_ = nullptr;
};

class Win32TextField final : public platform::TextField {
public:
    explicit Win32TextField(HWND hwnd) : hwnd_(hwnd) {}
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    void setText(const std::string& text) override;
    std::string text() const override;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    bool hidden_ = false;
};

class Win32Button final : public platform::Button {
public:
    Win32Button(HWND hwnd, std::string caption);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    std::string caption() const override { return caption_; }
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    bool hidden_ = false;
    std::string caption_;
};

class Win32CheckBox final : public platform::CheckBox {
public:
    Win32CheckBox(HWND hwnd, std::string caption);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    std::string caption() const override { return caption_; }
    void setChecked(bool checked) override;
    bool isChecked() const override;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    bool hidden_ = false;
    std::string caption_;
};

class Win32ListBox final : public platform::ListBox {
public:
    explicit Win32ListBox(HWND hwnd) : hwnd_(hwnd) {}
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void clear() override;
    void addItem(const std::string& text) override;
    int count() const override { return static_cast<int>(items_.size()); }
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;
    void setItemText(int index, const std::string& text) override;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    // The texts as given, so that they read back byte for byte.
    std::vector<std::string> items_;
};

class Win32ComboBox final : public platform::ComboBox {
public:
    explicit Win32ComboBox(HWND hwnd) : hwnd_(hwnd) {}
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void addItem(const std::string& text) override;
    int count() const override { return static_cast<int>(items_.size()); }
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    std::vector<std::string> items_;
};

// A drop-down list is as high as its selection field makes it: the field
// takes what the frame leaves of heightPixels.
void fitComboBoxHeight(HWND hwnd, int heightPixels);

class Win32MenuItem final : public platform::MenuItem {
public:
    Win32MenuItem(HMENU menu, UINT id, HWND menuBarOwner, std::string caption);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    std::string caption() const override { return caption_; }
    UINT id() const { return id_; }

private:
    HMENU menu_;
    UINT id_;
    HWND owner_;
    std::string caption_;
};

class Win32PopupMenu final : public platform::PopupMenu {
public:
    explicit Win32PopupMenu(Win32Window& window);
    ~Win32PopupMenu() override;
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }
    platform::MenuItem& addItem(const std::string& caption) override;
    void popupAtCursor() override;
    void popupAtSelectedEntry(const platform::ListBox& list) override;

private:
    void popupAt(POINT at);
    Win32Window& window_;
    HMENU menu_;
    bool enabled_ = true;
    std::vector<std::unique_ptr<Win32MenuItem>> items_;
};

class Win32Picture final : public platform::Picture {
public:
    Win32Picture(HWND hwnd, std::string image);
    ~Win32Picture() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    // The named image is a PNG resource, scaled to the control at its DPI.
    void draw(const DRAWITEMSTRUCT& item, HBRUSH background);

private:
    HWND hwnd_;
    std::string image_;
    HBITMAP bitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// Child windows of labels and lists tell of mouse moves and presses that
// their standard classes keep to themselves.
void watchLabelMouse(HWND hwnd, platform::Label* label);
void watchListMouse(HWND hwnd, platform::ListBox* list);

}  // namespace tempikon::win32
