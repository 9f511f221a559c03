#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "platform/window.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace tempikon::qt {

class QtWindow;
class LabelWidget;
class ListWidget;
class WindowWidget;
class ClientWidget;

// Calls a notification through a copy, so that the handler may replace or
// drop the callback (or its owner) while it runs.
template <class F, class... Args>
void notify(const F& callback, Args&&... args) {
    if (!callback) return;
    const F copy = callback;
    copy(std::forward<Args>(args)...);
}

// The controls keep pointers to their widgets and the widgets to their
// controls; whichever goes first cuts the link.

class QtLabel : public platform::Label {
public:
    QtLabel(QWidget* parent, const platform::TwipsRect& rect, const std::string& text,
            const platform::FontSpec& font);
    ~QtLabel() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setText(const std::string& text) override;
    std::string text() const override { return text_; }
    void setTextColour(platform::Colour colour) override;
    platform::Colour textColour() const override { return colour_; }

    QLabel* widget() const;
    // Re-reads system colours after a palette change.
    void applyColour();

private:
    QPointer<LabelWidget> widget_;
    std::string text_;
    platform::Colour colour_ = platform::kButtonTextColour;
    bool enabled_ = true;
};

class QtTextField : public platform::TextField {
public:
    QtTextField(QWidget* parent, const platform::TwipsRect& rect, platform::Align align);
    ~QtTextField() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setText(const std::string& text) override;
    std::string text() const override;

    QLineEdit* widget() const;

private:
    QPointer<QLineEdit> widget_;
    bool enabled_ = true;
};

class QtButton : public platform::Button {
public:
    QtButton(QWidget* parent, const platform::TwipsRect& rect, const std::string& caption,
             const platform::FontSpec& font);
    ~QtButton() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    std::string caption() const override { return caption_; }

    QPushButton* widget() const;
    // A click as the user makes it: nothing while disabled.
    void click();

private:
    QPointer<QPushButton> widget_;
    std::string caption_;
    bool enabled_ = true;
};

class QtListBox : public platform::ListBox {
public:
    QtListBox(QWidget* parent, const platform::TwipsRect& rect, const platform::FontSpec& font);
    ~QtListBox() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void clear() override;
    void addItem(const std::string& text) override;
    int count() const override;
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;
    void setItemText(int index, const std::string& text) override;

    QListWidget* widget() const;

private:
    friend class ListWidget;
    void selectionChanged();
    void mouseDown(int button);
    void doubleClicked();

    QPointer<ListWidget> widget_;
    bool enabled_ = true;
    // Set while items are added or removed: that is no user's selection.
    bool quiet_ = false;
};

class QtMenuItem : public platform::MenuItem {
public:
    explicit QtMenuItem(QAction* action, std::string caption);
    ~QtMenuItem() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    std::string caption() const override { return caption_; }

    QAction* action() const;
    // Runs onClick when enabled.
    void trigger();

private:
    QPointer<QAction> action_;
    std::string caption_;
    bool enabled_ = true;
};

class QtPopupMenu : public platform::PopupMenu {
public:
    QtPopupMenu(QWidget* parent, std::string caption);
    ~QtPopupMenu() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    platform::MenuItem& addItem(const std::string& caption) override;
    void popupAtCursor() override;

    QMenu* menu() const;
    bool isOpen() const { return open_; }

private:
    QPointer<QMenu> menu_;
    std::string caption_;
    std::vector<std::unique_ptr<QtMenuItem>> items_;
    bool enabled_ = true;
    bool open_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class QtPicture : public platform::Picture {
public:
    QtPicture(QWidget* parent, const platform::TwipsRect& rect, const std::string& image);
    ~QtPicture() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    QLabel* widget() const;
    // The resource path of a named image, e.g. ":/tempikon/logo.png".
    static QString resourcePath(const std::string& image);

private:
    QPointer<QLabel> widget_;
    bool enabled_ = true;
};

class QtWindow : public platform::Window {
public:
    explicit QtWindow(const platform::WindowSpec& spec);
    ~QtWindow() override;
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    void setCaption(const std::string& caption) override;
    std::string caption() const override { return caption_; }
    platform::Label& addLabel(const platform::TwipsRect& rect, const std::string& text,
                              const platform::FontSpec& font = {}) override;
    platform::TextField& addTextField(const platform::TwipsRect& rect,
                                      platform::Align align) override;
    platform::Button& addButton(const platform::TwipsRect& rect, const std::string& caption,
                                const platform::FontSpec& font = {}) override;
    platform::ListBox& addListBox(const platform::TwipsRect& rect,
                                  const platform::FontSpec& font) override;
    platform::Picture& addPicture(const platform::TwipsRect& rect,
                                  const std::string& image) override;
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    platform::PopupMenu& addPopupMenu(const std::string& caption) override;
    void setDefaultButton(platform::Button& button) override;

    void show() override;
    void showModal() override;
    void minimise() override;
    bool isMinimised() const override;
    bool isVisible() const override;
    void close() override;
    bool isClosed() const override { return closed_; }
    platform::NativeHandle handle() const override;

    // The widgets, for tests and screenshots.
    QWidget* widget() const;
    QWidget* clientArea() const;
    QMenuBar* menuBar() const;
    const std::vector<QtMenuItem*>& menuItems() const { return menuItems_; }
    // Focusable controls in the order they were added.
    const std::vector<QWidget*>& tabOrder() const { return tabOrder_; }
    QtButton* defaultButton() const { return defaultButton_; }

private:
    friend class WindowWidget;
    friend class ClientWidget;
    void enterPressed(QWidget* focus);
    void mouseMovedOverClient();
    void addFocusable(QWidget* widget);
    template <class T>
    T& keep(std::unique_ptr<T> control);

    QPointer<WindowWidget> top_;
    QPointer<ClientWidget> client_;
    QVBoxLayout* layout_ = nullptr;
    QPointer<QMenuBar> menuBar_;
    platform::WindowSpec spec_;
    std::string caption_;
    std::vector<std::unique_ptr<platform::Control>> controls_;
    std::vector<QtMenuItem*> menuItems_;
    std::vector<QtButton*> buttons_;
    std::vector<QWidget*> tabOrder_;
    QtButton* defaultButton_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    bool minimisePending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tempikon::qt
