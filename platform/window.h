#pragma once

#include <functional>
#include <string>

#include "platform/controls.h"
#include "platform/geometry.h"

namespace tempikon::platform {

struct WindowSpec {
    std::string caption;
    int clientWidthTwips = 0;
    int clientHeightTwips = 0;
    // A dialog has no minimise box and no menu bar.
    bool dialog = false;
    // Colour of the client area; 0 keeps the system's.
    Colour background = 0;
    bool hasBackground = false;
};

// A top-level window and the factory of its controls. Controls live as long
// as their window; focusable controls take the tab order they are added in.
class Window {
public:
    virtual ~Window() = default;

    virtual void setCaption(const std::string& caption) = 0;
    virtual std::string caption() const = 0;

    virtual Label& addLabel(const TwipsRect& rect, const std::string& text,
                            const FontSpec& font = {}) = 0;
    virtual TextField& addTextField(const TwipsRect& rect, Align align) = 0;
    virtual Button& addButton(const TwipsRect& rect, const std::string& caption,
                              const FontSpec& font = {}) = 0;
    virtual CheckBox& addCheckBox(const TwipsRect& rect, const std::string& caption,
                                  const FontSpec& font = {}) = 0;
    virtual ListBox& addListBox(const TwipsRect& rect, const FontSpec& font) = 0;
    // rect.height is the closed control's; the open list drops below it.
    virtual ComboBox& addComboBox(const TwipsRect& rect, const FontSpec& font = {}) = 0;
    // A named image the backend ships (e.g. "logo").
    virtual Picture& addPicture(const TwipsRect& rect, const std::string& image) = 0;
    // A drawing surface; focusable like the other controls.
    virtual Canvas& addCanvas(const TwipsRect& rect) = 0;
    virtual MenuItem& addMenuItem(const std::string& caption) = 0;
    virtual PopupMenu& addPopupMenu(const std::string& caption) = 0;
    // The accelerator in the label's text ("&Timeout") moves the focus to
    // target; a label without a buddy shows "&" as it is.
    virtual void setBuddy(Label& label, Control& target) = 0;
    // Enter in the window presses this button.
    virtual void setDefaultButton(Button& button) = 0;

    // Modeless.
    virtual void show() = 0;
    // Application-modal. Returns at once; onClosed tells when it has gone.
    virtual void showModal() = 0;
    virtual void minimise() = 0;
    // Off the screen and the taskbar without closing; show() brings it back
    // normal (not minimised) and in front.
    virtual void hide() = 0;
    virtual bool isMinimised() const = 0;
    // Shown on the screen now (normal or minimised) and not closed.
    virtual bool isVisible() const = 0;
    // Asks onCloseRequest; when allowed, hides the window for good and calls
    // onClosed. The user's close box takes the same road.
    virtual void close() = 0;
    virtual bool isClosed() const = 0;
    virtual NativeHandle handle() const = 0;

    // Return false to refuse the closing.
    std::function<bool()> onCloseRequest;
    std::function<void()> onClosed;
    // The user minimised the window (told after the fact).
    std::function<void()> onMinimised;
    // Mouse moving over the bare client area.
    std::function<void()> onMouseMove;
};

}  // namespace tempikon::platform
