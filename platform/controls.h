#pragma once

#include <functional>
#include <string>

#include "platform/geometry.h"

namespace tempikon::platform {

// All texts are UTF-8. Notifications are plain callbacks that the backend
// calls on the one window thread; an unset callback means "not handled".

class Control {
public:
    virtual ~Control() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

class Label : public Control {
public:
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
    virtual void setTextColour(Colour colour) = 0;
    virtual Colour textColour() const = 0;
    // Shown while the mouse rests on the label; empty: none.
    virtual void setToolTip(const std::string& text) = 0;
    virtual std::string toolTip() const = 0;

    std::function<void()> onMouseMove;
    std::function<void()> onClick;
};

class TextField : public Control {
public:
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
};

class Button : public Control {
public:
    virtual std::string caption() const = 0;
    // Shown while the mouse rests on the button (also while it is greyed);
    // empty: none. Backends without tips ignore it.
    virtual void setToolTip(const std::string& /*text*/) {}

    std::function<void()> onClick;
};

// Ticked or not; the user's click toggles it.
class CheckBox : public Control {
public:
    virtual std::string caption() const = 0;
    virtual void setChecked(bool checked) = 0;
    virtual bool isChecked() const = 0;
};

class ListBox : public Control {
public:
    virtual void clear() = 0;
    virtual void addItem(const std::string& text) = 0;
    virtual int count() const = 0;
    // -1 when nothing is selected.
    virtual int selectedIndex() const = 0;
    // Raises onSelectionChanged like a user's click when the selection changes.
    virtual void setSelectedIndex(int index) = 0;
    virtual std::string itemText(int index) const = 0;
    virtual void setItemText(int index, const std::string& text) = 0;

    std::function<void()> onSelectionChanged;
    // Mouse button pressed over the list: 1 left, 2 right, 4 middle.
    std::function<void(int button)> onMouseDown;
    std::function<void()> onDoubleClick;
    // The context-menu key (Menu, or Shift+F10) pressed while the list has
    // the focus.
    std::function<void()> onMenuKey;
};

// A drop-down list to choose one item from; nothing can be typed into it.
// Items are shown as given, untranslated.
class ComboBox : public Control {
public:
    virtual void addItem(const std::string& text) = 0;
    virtual int count() const = 0;
    // -1 when nothing is selected.
    virtual int selectedIndex() const = 0;
    // Raises onSelectionChanged like a user's choice when the selection changes.
    virtual void setSelectedIndex(int index) = 0;
    virtual std::string itemText(int index) const = 0;

    std::function<void()> onSelectionChanged;
};

class MenuItem : public Control {
public:
    virtual std::string caption() const = 0;

    std::function<void()> onClick;
};

// A menu that is never on the menu bar; opened at the mouse pointer.
class PopupMenu : public Control {
public:
    virtual MenuItem& addItem(const std::string& caption) = 0;
    // Returns once the menu has closed; the chosen item's onClick has run then.
    virtual void popupAtCursor() = 0;
    // The same, opened beside the selected entry of list (for the keyboard,
    // where the pointer may be anywhere).
    virtual void popupAtSelectedEntry(const ListBox& list) = 0;
};

class Picture : public Control {};

}  // namespace tempikon::platform
