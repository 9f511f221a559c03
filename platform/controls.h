#pragma once

#include <functional>
#include <string>
#include <vector>

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
    // A hidden control is not drawn and takes no focus, click or accelerator;
    // it keeps its place and state. Not hidden by default.
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;

    std::function<void()> onMouseMove;
    std::function<void()> onClick;
};

class TextField : public Control {
public:
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
    // As a label's.
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;
};

class Button : public Control {
public:
    virtual std::string caption() const = 0;
    // Shown while the mouse rests on the button (also while it is greyed);
    // empty: none. Backends without tips ignore it.
    virtual void setToolTip(const std::string& /*text*/) {}
    // As a label's.
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;

    std::function<void()> onClick;
};

// Ticked or not; the user's click toggles it.
class CheckBox : public Control {
public:
    virtual std::string caption() const = 0;
    virtual void setChecked(bool checked) = 0;
    virtual bool isChecked() const = 0;
    // As a label's.
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;
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
// Items are shown translated where the backend translates labels (a text
// with no translation, such as a protocol's name, stays as given);
// itemText() gives the text as added.
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

// What a canvas shows, in its own pixels (0,0 top left), drawn in the order
// lines, marks, texts. Colours are 0x00BBGGRR.
struct Drawing {
    struct Line {
        int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        Colour colour = 0;
        int width = 1;
        bool dotted = false;
    };
    enum class Shape { Disc, Ring, Square, Triangle, Cross };
    // A mark of the given shape centred on (x, y), size pixels across.
    struct Mark {
        int x = 0, y = 0;
        Shape shape = Shape::Disc;
        Colour colour = 0;
        int size = 7;
    };
    enum class Anchor { Left, Centre, Right };
    // One line of text in the window's font, centred on y, placed by anchor
    // at x; translated where the backend translates labels.
    struct Text {
        int x = 0, y = 0;
        std::string text;
        Colour colour = 0;
        Anchor anchor = Anchor::Left;
    };
    Colour background = 0x00FFFFFFu;
    std::vector<Line> lines;
    std::vector<Mark> marks;
    std::vector<Text> texts;
};

// A surface the logic draws on; it takes the focus, and the arrow keys,
// Home and End go to onKey.
enum class CanvasKey { Left, Right, Home, End };

class Canvas : public Control {
public:
    // The size in pixels, fixed by the window.
    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    // Replaces what is shown.
    virtual void draw(Drawing drawing) = 0;

    // The mouse over the canvas, in its pixels.
    std::function<void(int x, int y)> onMouseMove;
    std::function<void(CanvasKey key)> onKey;
};

}  // namespace tempikon::platform
