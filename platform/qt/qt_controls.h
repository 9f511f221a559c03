#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "platform/controls.h"
#include "platform/reentrance.h"

class QAction;
class QCheckBox;
class QComboBox;
class QPoint;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QWidget;

namespace tempikon::qt {

// A window's client area with a fixed background carries the text colour
// that goes with it in this property.
inline constexpr const char* kFixedTextProperty = "tempikonFixedText";

class LabelWidget;
class ListWidget;

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
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    void setText(const std::string& text) override;
    std::string text() const override { return text_; }
    void setTextColour(platform::Colour colour) override;
    platform::Colour textColour() const override { return colour_; }
    void setToolTip(const std::string& text) override;
    std::string toolTip() const override { return toolTip_; }

    QLabel* widget() const;
    // The window's relayout, run after the text has changed.
    std::function<void()> onTextChanged;
    // Re-reads system colours after a palette change.
    void applyColour();
    // A label that opens something takes the focus: Tab reaches it, and
    // Enter or Space click it.
    void makeFocusable();

private:
    QPointer<LabelWidget> widget_;
    std::string text_;
    std::string toolTip_;
    platform::Colour colour_ = platform::kButtonTextColour;
    bool enabled_ = true;
    bool hidden_ = false;
};

class QtTextField : public platform::TextField {
public:
    QtTextField(QWidget* parent, const platform::TwipsRect& rect, platform::Align align);
    ~QtTextField() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    void setText(const std::string& text) override;
    std::string text() const override;

    QLineEdit* widget() const;

private:
    QPointer<QLineEdit> widget_;
    bool enabled_ = true;
    bool hidden_ = false;
};

class QtButton : public platform::Button {
public:
    QtButton(QWidget* parent, const platform::TwipsRect& rect, const std::string& caption,
             const platform::FontSpec& font);
    ~QtButton() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    std::string caption() const override { return caption_; }
    void setToolTip(const std::string& text) override;

    QPushButton* widget() const;
    // A click as the user makes it: nothing while disabled.
    void click();

private:
    QPointer<QPushButton> widget_;
    std::string caption_;
    bool enabled_ = true;
    bool hidden_ = false;
};

class QtCheckBox : public platform::CheckBox {
public:
    QtCheckBox(QWidget* parent, const platform::TwipsRect& rect, const std::string& caption,
               const platform::FontSpec& font);
    ~QtCheckBox() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setHidden(bool hidden) override;
    bool isHidden() const override { return hidden_; }
    std::string caption() const override { return caption_; }
    void setChecked(bool checked) override;
    bool isChecked() const override;

    QCheckBox* widget() const;

private:
    QPointer<QCheckBox> widget_;
    std::string caption_;
    bool enabled_ = true;
    bool hidden_ = false;
};

// Sets an entry's text; a tab shows as one blank (see the list box).
void setItemTexts(QListWidgetItem* item, const std::string& text);

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
    void menuKey();

    QPointer<ListWidget> widget_;
    bool enabled_ = true;
    // Set while items are added or removed: that is no user's selection.
    bool quiet_ = false;
};

class QtComboBox : public platform::ComboBox {
public:
    QtComboBox(QWidget* parent, const platform::TwipsRect& rect, const platform::FontSpec& font);
    ~QtComboBox() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void addItem(const std::string& text) override;
    int count() const override;
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;

    QComboBox* widget() const;

private:
    QPointer<QComboBox> widget_;
    bool enabled_ = true;
    // Set while an item is added: that is no user's choice.
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
    void popupAtSelectedEntry(const platform::ListBox& list) override;

    QMenu* menu() const;
    bool isOpen() const { return open_; }

private:
    void popupAt(const QPoint& at);
    QPointer<QMenu> menu_;
    std::string caption_;
    std::vector<std::unique_ptr<QtMenuItem>> items_;
    bool enabled_ = true;
    bool open_ = false;
    platform::Liveness liveness_;
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

}  // namespace tempikon::qt
