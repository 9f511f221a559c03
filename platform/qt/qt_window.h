#pragma once

#include <QPointer>
#include <QRect>
#include <map>
#include <memory>
#include <vector>

#include "platform/qt/qt_controls.h"
#include "platform/reentrance.h"
#include "platform/window.h"

class QMenuBar;
class QVBoxLayout;
class QWidget;

class QScrollArea;

namespace tempikon::qt {

class WindowWidget;
class ClientWidget;

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
    platform::CheckBox& addCheckBox(const platform::TwipsRect& rect, const std::string& caption,
                                    const platform::FontSpec& font = {}) override;
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
    platform::NativeHandle handle() const override;

    // The widgets, for tests and screenshots.
    QWidget* widget() const;
    QWidget* clientArea() const;
    QMenuBar* menuBar() const;
    // Focusable controls in the order they were added.
    const std::vector<QWidget*>& tabOrder() const { return tabOrder_; }

private:
    friend class WindowWidget;
    friend class ClientWidget;
    void enterPressed(QWidget* focus);
    void mouseMovedOverClient();
    void minimisedByUser();
    bool isDialog() const { return spec_.dialog; }
    // Puts the client area into a scroll area when it is larger than the
    // screen can show.
    void fitToScreen();
    void addFocusable(QWidget* widget);
    void remember(QWidget* widget);
    void relayout();
    template <class T>
    T& keep(std::unique_ptr<T> control);

    QPointer<WindowWidget> top_;
    QPointer<ClientWidget> client_;
    QVBoxLayout* layout_ = nullptr;
    QPointer<QMenuBar> menuBar_;
    // Holds the client area when the window would not fit on its screen.
    QPointer<QScrollArea> scroll_;
    platform::WindowSpec spec_;
    std::string caption_;
    std::vector<std::unique_ptr<platform::Control>> controls_;
    std::vector<QtButton*> buttons_;
    std::vector<QtLabel*> labels_;
    // Every control's place as the window was designed.
    struct Placed {
        QPointer<QWidget> widget;
        QRect rect;
    };
    std::vector<Placed> designed_;
    int designedClientHeight_ = 0;
    static constexpr int kGrowSlackPixels = 3;
    std::vector<QWidget*> tabOrder_;
    // The widget of each control, for the labels' buddies.
    std::map<const platform::Control*, QWidget*> widgetOf_;
    QtButton* defaultButton_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    bool minimisePending_ = false;
    platform::Liveness liveness_;
};

}  // namespace tempikon::qt
