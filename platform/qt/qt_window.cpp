#include "platform/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_translate.h"

namespace tempikon::qt {

// ---- widgets ------------------------------------------------------------------

class ClientWidget : public QWidget {
public:
    using QWidget::QWidget;
    QtWindow* owner = nullptr;

protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        // Moves over a control reach here by propagation; only the bare
        // client area counts.
        if (owner && !childAt(event->position().toPoint())) owner->mouseMovedOverClient();
        event->accept();
    }
};

class WindowWidget : public QWidget {
public:
    using QWidget::QWidget;
    QtWindow* owner = nullptr;

protected:
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() != QEvent::WindowStateChange || !owner || !isMinimized()) return;
        // Told from the event loop: hiding a window inside its own state
        // change confuses some window managers.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (owner && isMinimized()) owner->minimisedByUser();
            },
            Qt::QueuedConnection);
    }
    void closeEvent(QCloseEvent* event) override {
        // The close box takes the same road as close(): the handler decides,
        // and the window is hidden rather than destroyed.
        event->ignore();
        if (owner) owner->close();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && owner &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->accept();
            owner->enterPressed(QApplication::focusWidget());
            return;
        }
        // Escape in a dialog is its close box, refused when the close box is.
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && owner &&
            owner->isDialog()) {
            event->accept();
            owner->close();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

// ---- window -------------------------------------------------------------------

QtWindow::QtWindow(const platform::WindowSpec& spec) : spec_(spec), caption_(spec.caption) {
    top_ = new WindowWidget(nullptr);
    top_->owner = this;
    Qt::WindowFlags flags =
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (spec.dialog) {
        flags |= Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;
    } else {
        flags |= Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
    }
    top_->setWindowFlags(flags);
    top_->setWindowTitle(Translated(caption_));
    // Some palettes (dark ones among them) give disabled text the colour of
    // enabled text: a greyed control must look greyed.
    QPalette palette = QApplication::palette();
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
        {QPalette::ButtonText, QPalette::Button},
        {QPalette::WindowText, QPalette::Window},
        {QPalette::Text, QPalette::Base}};
    for (const auto& [textRole, backRole] : pairs) {
        const QColor text = palette.color(QPalette::Active, textRole);
        if (palette.color(QPalette::Disabled, textRole) != text) continue;
        const QColor back = palette.color(QPalette::Active, backRole);
        palette.setColor(QPalette::Disabled, textRole,
                         QColor((text.red() + back.red()) / 2, (text.green() + back.green()) / 2,
                                (text.blue() + back.blue()) / 2));
    }
    top_->setPalette(palette);

    layout_ = new QVBoxLayout(top_);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    // The window takes exactly the size of its client area (and menu bar).
    layout_->setSizeConstraint(QLayout::SetFixedSize);

    client_ = new ClientWidget(top_);
    client_->owner = this;
    client_->setMouseTracking(true);
    designedClientHeight_ = twipsToPixels(spec.clientHeightTwips, logicalDpiY());
    client_->setFixedSize(twipsToPixels(spec.clientWidthTwips, logicalDpiX()),
                          designedClientHeight_);
    if (spec.hasBackground) {
        QPalette palette = client_->palette();
        const QColor background = toQColor(spec.background, QApplication::palette());
        palette.setColor(QPalette::Window, background);
        // A fixed background takes a fixed text colour with it, or a dark
        // theme's light text would stand on it unreadable. Only the labels
        // take it: fields, lists and buttons paint their own backgrounds.
        const QColor text = background.lightness() >= 128 ? QColor(Qt::black) : QColor(Qt::white);
        palette.setColor(QPalette::WindowText, text);
        client_->setProperty(kFixedTextProperty, text);
        client_->setPalette(palette);
        client_->setAutoFillBackground(true);
    }
    layout_->addWidget(client_);
}

QtWindow::~QtWindow() {
    liveness_.end();
    // Controls first: they cut their links to the widgets.
    controls_.clear();
    if (client_) client_->owner = nullptr;
    if (top_) {
        top_->owner = nullptr;
        top_->hide();
        // Deferred: this may run inside a handler of one of the widgets.
        top_->deleteLater();
    }
}

void QtWindow::setCaption(const std::string& caption) {
    caption_ = caption;
    if (top_) top_->setWindowTitle(Translated(caption));
}

template <class T>
T& QtWindow::keep(std::unique_ptr<T> control) {
    T& ref = *control;
    controls_.push_back(std::move(control));
    return ref;
}

void QtWindow::addFocusable(QWidget* widget) {
    if (!tabOrder_.empty()) QWidget::setTabOrder(tabOrder_.back(), widget);
    tabOrder_.push_back(widget);
}

platform::Label& QtWindow::addLabel(const platform::TwipsRect& rect, const std::string& text,
                                    const platform::FontSpec& font) {
    auto& label = keep(std::make_unique<QtLabel>(client_, rect, text, font));
    labels_.push_back(&label);
    remember(label.widget());
    label.onTextChanged = [this] { relayout(); };
    relayout();
    return label;
}

platform::TextField& QtWindow::addTextField(const platform::TwipsRect& rect,
                                            platform::Align align) {
    auto& field = keep(std::make_unique<QtTextField>(client_, rect, align));
    remember(field.widget());
    widgetOf_[&field] = field.widget();
    addFocusable(field.widget());
    return field;
}

platform::Button& QtWindow::addButton(const platform::TwipsRect& rect, const std::string& caption,
                                      const platform::FontSpec& font) {
    auto& button = keep(std::make_unique<QtButton>(client_, rect, caption, font));
    buttons_.push_back(&button);
    remember(button.widget());
    addFocusable(button.widget());
    return button;
}

platform::CheckBox& QtWindow::addCheckBox(const platform::TwipsRect& rect,
                                          const std::string& caption,
                                          const platform::FontSpec& font) {
    auto& box = keep(std::make_unique<QtCheckBox>(client_, rect, caption, font));
    remember(box.widget());
    widgetOf_[&box] = box.widget();
    addFocusable(box.widget());
    return box;
}

platform::ListBox& QtWindow::addListBox(const platform::TwipsRect& rect,
                                        const platform::FontSpec& font) {
    auto& list = keep(std::make_unique<QtListBox>(client_, rect, font));
    remember(list.widget());
    widgetOf_[&list] = list.widget();
    addFocusable(list.widget());
    return list;
}

platform::ComboBox& QtWindow::addComboBox(const platform::TwipsRect& rect,
                                          const platform::FontSpec& font) {
    auto& box = keep(std::make_unique<QtComboBox>(client_, rect, font));
    remember(box.widget());
    widgetOf_[&box] = box.widget();
    addFocusable(box.widget());
    return box;
}

platform::Picture& QtWindow::addPicture(const platform::TwipsRect& rect, const std::string& image) {
    auto& picture = keep(std::make_unique<QtPicture>(client_, rect, image));
    remember(picture.widget());
    return picture;
}

platform::Canvas& QtWindow::addCanvas(const platform::TwipsRect& rect) {
    auto& canvas = keep(std::make_unique<QtCanvas>(client_, rect));
    remember(canvas.widget());
    widgetOf_[&canvas] = canvas.widget();
    addFocusable(canvas.widget());
    return canvas;
}

void QtWindow::remember(QWidget* widget) {
    if (widget) designed_.push_back({widget, widget->geometry()});
}

void QtWindow::relayout() {
    if (!client_) return;
    // A label whose text wraps to more lines than its place holds grows
    // downwards; what lies below it in the same columns moves down, and the
    // window grows with it. Computed from the designed places each time, so
    // a shorter text gives the space back.
    struct Growth {
        QRect rect;
        int extra;
    };
    // A window's status lines never wrap inside a number or a word: the
    // window grows to its longest line, and the lines that span it with it.
    // A dialog keeps its width; its labels wrap.
    const int designedWidth = twipsToPixels(spec_.clientWidthTwips, logicalDpiX());
    int width = designedWidth;
    if (!spec_.dialog) {
        for (const Placed& placed : designed_) {
            auto* widget = qobject_cast<QLabel*>(placed.widget.data());
            if (!widget) continue;
            const QFontMetrics metrics = widget->fontMetrics();
            for (const QString& line : widget->text().split(QLatin1Char('\n'))) {
                const int need = metrics.horizontalAdvance(line) + 2 * widget->margin() +
                                 2 * widget->frameWidth() + metrics.averageCharWidth();
                width = std::max(width, placed.rect.left() + need);
            }
        }
    }
    const auto widened = [designedWidth, width](QRect rect) {
        if (rect.right() + 1 >= designedWidth) rect.setWidth(rect.width() + width - designedWidth);
        return rect;
    };
    client_->setFixedWidth(width);

    std::vector<Growth> growths;
    for (QtLabel* label : labels_) {
        QLabel* widget = label->widget();
        if (!widget) continue;
        const auto it = std::find_if(designed_.begin(), designed_.end(),
                                     [widget](const Placed& p) { return p.widget == widget; });
        if (it == designed_.end()) continue;
        const QRect rect = widened(it->rect);
        const int need = widget->heightForWidth(rect.width());
        // A few pixels of a single line's descent are not worth a new layout.
        if (need > rect.height() + kGrowSlackPixels)
            growths.push_back({rect, need - rect.height()});
    }
    int designedBottom = designedClientHeight_;
    int newBottom = 0;
    for (const Placed& placed : designed_) {
        if (!placed.widget) continue;
        QRect rect = widened(placed.rect);
        int shift = 0;
        for (const Growth& g : growths) {
            const bool sameColumns = g.rect.left() <= rect.right() && rect.left() <= g.rect.right();
            if (g.rect == rect) {
                rect.setHeight(rect.height() + g.extra);
            } else if (sameColumns && g.rect.top() < rect.top()) {
                shift += g.extra;
            }
        }
        rect.translate(0, shift);
        placed.widget->setGeometry(rect);
        designedBottom = std::max(designedBottom, placed.rect.bottom() + 1);
        newBottom = std::max(newBottom, rect.bottom() + 1);
    }
    client_->setFixedHeight(designedClientHeight_ + std::max(0, newBottom - designedBottom));
}

platform::MenuItem& QtWindow::addMenuItem(const std::string& caption) {
    if (!menuBar_) {
        menuBar_ = new QMenuBar(top_);
        // Keeps the bar inside the window on desktops with a global menu.
        menuBar_->setNativeMenuBar(false);
        layout_->setMenuBar(menuBar_);
    }
    // An action straight on the bar: clicking the bar entry runs it.
    QAction* action = menuBar_->addAction(Translated(caption));
    auto& item = keep(std::make_unique<QtMenuItem>(action, caption));
    QObject::connect(action, &QAction::triggered, action, [&item] { item.trigger(); });
    return item;
}

platform::PopupMenu& QtWindow::addPopupMenu(const std::string& caption) {
    return keep(std::make_unique<QtPopupMenu>(top_, caption));
}

void QtWindow::setDefaultButton(platform::Button& button) {
    for (QtButton* candidate : buttons_) {
        if (candidate == &button) {
            if (defaultButton_ && defaultButton_->widget())
                defaultButton_->widget()->setDefault(false);
            defaultButton_ = candidate;
            if (candidate->widget()) candidate->widget()->setDefault(true);
            return;
        }
    }
}

void QtWindow::setBuddy(platform::Label& label, platform::Control& target) {
    const auto widget = widgetOf_.find(&target);
    if (widget == widgetOf_.end()) return;
    for (QtLabel* candidate : labels_) {
        if (candidate == &label && candidate->widget())
            candidate->widget()->setBuddy(widget->second);
    }
}

void QtWindow::show() {
    if (closed_ || !top_) return;
    if (shown_ && !top_->isVisible()) {
        // Back from hide(): normal, and in front.
        top_->setWindowState(top_->windowState() & ~Qt::WindowMinimized);
        top_->show();
        top_->raise();
        top_->activateWindow();
        return;
    }
    const bool first = !shown_;
    shown_ = true;
    if (first) {
        // Labels that open something join the tab order (they know it now).
        for (QtLabel* label : labels_) {
            if (!label->onClick || !label->widget()) continue;
            label->makeFocusable();
            addFocusable(label->widget());
        }
    }
    if (first) fitToScreen();
    if (first && minimisePending_) {
        // The state must be in place before the first mapping, with the
        // layout's size settled, or X11 maps the window normal.
        layout_->activate();
        top_->setWindowState(top_->windowState() | Qt::WindowMinimized);
        top_->show();
    } else {
        top_->show();
    }
}

void QtWindow::fitToScreen() {
    // A window larger than the screen (a large scale factor on a small
    // screen) shows its client area in a scroll area that fits: every
    // control stays reachable, and the focus scrolls it into view.
    QScreen* screen = top_->screen() ? top_->screen() : QGuiApplication::primaryScreen();
    if (!screen || scroll_) return;
    layout_->activate();
    const QRect available = screen->availableGeometry();
    // The frame and title bar are the window manager's; leave them room.
    constexpr int kFrameAllowance = 64;
    const int menuHeight = menuBar_ ? menuBar_->sizeHint().height() : 0;
    const int maxWidth = available.width() - kFrameAllowance / 2;
    const int maxHeight = available.height() - kFrameAllowance - menuHeight;
    if (client_->width() <= maxWidth && client_->height() <= maxHeight) return;
    scroll_ = new QScrollArea(top_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    layout_->removeWidget(client_);
    scroll_->setWidget(client_);
    const int bar = scroll_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int width =
        std::min(maxWidth, client_->width() + (client_->height() > maxHeight ? bar : 0));
    const int height =
        std::min(maxHeight, client_->height() + (client_->width() > maxWidth ? bar : 0));
    scroll_->setFixedSize(width, height);
    scroll_->setPalette(client_->palette());
    layout_->addWidget(scroll_);
}

void QtWindow::showModal() {
    if (closed_ || !top_) return;
    if (top_->windowModality() != Qt::ApplicationModal) {
        // Modality only takes effect for a window that is not on the screen.
        const bool wasVisible = top_->isVisible();
        if (wasVisible) top_->hide();
        top_->setWindowModality(Qt::ApplicationModal);
        if (wasVisible) top_->show();
    }
    show();
}

void QtWindow::minimise() {
    if (closed_ || !top_) return;
    minimisePending_ = true;
    if (shown_) top_->showMinimized();
}

void QtWindow::hide() {
    if (closed_ || !top_) return;
    minimisePending_ = false;
    top_->hide();
}

void QtWindow::minimisedByUser() {
    notify(onMinimised);
}

bool QtWindow::isMinimised() const {
    if (!shown_ || !top_) return minimisePending_;
    return top_->isMinimized();
}

bool QtWindow::isVisible() const {
    return shown_ && !closed_ && top_ && top_->isVisible();
}

void QtWindow::close() {
    if (closed_) return;
    const platform::Liveness::Watch watch = liveness_.watch();
    if (onCloseRequest) {
        const auto request = onCloseRequest;
        const bool allowed = request();
        if (!watch.alive() || !allowed || closed_) return;
    }
    closed_ = true;
    if (top_) top_->hide();
    notify(onClosed);
}

platform::NativeHandle QtWindow::handle() const {
    return top_ ? static_cast<platform::NativeHandle>(top_->winId()) : 0;
}

QWidget* QtWindow::widget() const {
    return top_;
}

QWidget* QtWindow::clientArea() const {
    return client_;
}

QMenuBar* QtWindow::menuBar() const {
    return menuBar_;
}

void QtWindow::enterPressed(QWidget* focus) {
    // A focused button takes Enter itself; otherwise the default button.
    for (QtButton* button : buttons_) {
        if (button->widget() && button->widget() == focus) {
            button->click();
            return;
        }
    }
    if (defaultButton_) defaultButton_->click();
}

void QtWindow::mouseMovedOverClient() {
    notify(onMouseMove);
}

}  // namespace tempikon::qt
