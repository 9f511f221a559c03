#include "platform/qt/qt_controls.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>
#include <QWidget>

#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_translate.h"

namespace tempikon::qt {

namespace {

// A control disabled while it has the focus gives it back when it is
// enabled again, unless the user has moved the focus on meanwhile: after a
// check the keyboard is where the user left it.
const char* const kFocusReturn = "tempikonFocusReturn";
const char* const kFocusMovedTo = "tempikonFocusMovedTo";

void SetEnabledKeepingFocus(QWidget* widget, bool enabled) {
    if (!widget) return;
    QWidget* window = widget->window();
    if (!enabled) {
        const bool hadFocus = widget->hasFocus();
        widget->setEnabled(false);
        if (hadFocus) {
            // The focus may pass through controls disabled in the same
            // step: it returns to the first (a child of this window, alive
            // as long as it is).
            auto* first = qobject_cast<QWidget*>(window->property(kFocusReturn).value<QObject*>());
            if (!first || first->isEnabled())
                window->setProperty(kFocusReturn, QVariant::fromValue<QObject*>(widget));
            window->setProperty(kFocusMovedTo,
                                QVariant::fromValue<QObject*>(window->focusWidget()));
        }
        return;
    }
    widget->setEnabled(true);
    if (window->property(kFocusReturn).value<QObject*>() != widget) return;
    window->setProperty(kFocusReturn, QVariant());
    if (window->focusWidget() == window->property(kFocusMovedTo).value<QObject*>())
        widget->setFocus(Qt::OtherFocusReason);
}

}  // namespace

// ---- widgets ------------------------------------------------------------------

class LabelWidget : public QLabel {
public:
    using QLabel::QLabel;
    QtLabel* owner = nullptr;

protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        // The label takes the move: the window's background does not see it.
        event->accept();
        if (owner) notify(owner->onMouseMove);
    }
    void mousePressEvent(QMouseEvent* event) override {
        event->accept();
        if (event->button() == Qt::LeftButton) pressed_ = true;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        event->accept();
        const bool click = pressed_ && event->button() == Qt::LeftButton &&
                           rect().contains(event->position().toPoint());
        pressed_ = false;
        if (click && owner) notify(owner->onClick);
    }
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::ApplicationPaletteChange && owner) owner->applyColour();
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (owner && owner->onClick &&
            (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->accept();
            notify(owner->onClick);
            return;
        }
        QLabel::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        // Where the keyboard is: the style's focus frame around the text.
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = contentsRect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }

private:
    bool pressed_ = false;
};

class ListWidget : public QListWidget {
public:
    using QListWidget::QListWidget;
    QtListBox* owner = nullptr;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const Qt::MouseButton button = event->button();
        if (button == Qt::LeftButton) {
            QListWidget::mousePressEvent(event);
        } else {
            // Only the left button moves the selection.
            event->accept();
        }
        const int code = button == Qt::LeftButton     ? 1
                         : button == Qt::RightButton  ? 2
                         : button == Qt::MiddleButton ? 4
                                                      : 0;
        if (code && owner) owner->mouseDown(code);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const bool menuKey =
            event->key() == Qt::Key_Menu ||
            (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
        if (menuKey) {
            event->accept();
            if (owner) owner->menuKey();
            return;
        }
        QListWidget::keyPressEvent(event);
    }
    void focusInEvent(QFocusEvent* event) override {
        QListWidget::focusInEvent(event);
        // Reached from the keyboard, the list selects its current entry
        // (the first when none), so that the menu key has one to act on.
        const Qt::FocusReason reason = event->reason();
        const bool keyboard = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                              reason == Qt::ShortcutFocusReason;
        if (!keyboard || count() == 0 || !selectedItems().isEmpty()) return;
        setCurrentRow(currentRow() >= 0 ? currentRow() : 0, QItemSelectionModel::ClearAndSelect);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        // The keys are handled above; a platform's own context-menu event
        // must not open the menu a second time.
        event->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            event->accept();
            return;
        }
        const QPointer<ListWidget> self(this);
        // The first click has selected the entry under the pointer; make
        // sure of it (a double click can land on another entry).
        QListWidgetItem* under = itemAt(event->position().toPoint());
        if (under && !under->isSelected()) setCurrentItem(under);
        event->accept();
        if (self && owner) owner->doubleClicked();
    }
};

// ---- label ----------------------------------------------------------------------

QtLabel::QtLabel(QWidget* parent, const platform::TwipsRect& rect, const std::string& text,
                 const platform::FontSpec& font)
    : widget_(new LabelWidget(parent)), text_(text) {
    widget_->owner = this;
    widget_->setTextFormat(Qt::PlainText);
    widget_->setWordWrap(true);
    widget_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget_->setMouseTracking(true);
    widget_->setFont(makeFont(font, parent->font()));
    widget_->setGeometry(toPixels(rect));
    widget_->setText(Translated(text));
    applyColour();
}

QtLabel::~QtLabel() {
    if (widget_) widget_->owner = nullptr;
}

void QtLabel::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (widget_) widget_->setEnabled(enabled);
}

void QtLabel::setHidden(bool hidden) {
    hidden_ = hidden;
    if (widget_) widget_->setVisible(!hidden);
}

void QtLabel::setText(const std::string& text) {
    text_ = text;
    if (widget_) widget_->setText(Translated(text));
    notify(onTextChanged);
}

void QtLabel::setToolTip(const std::string& text) {
    toolTip_ = text;
    if (widget_) widget_->setToolTip(Translated(text));
}

void QtLabel::setTextColour(platform::Colour colour) {
    colour_ = colour;
    applyColour();
}

void QtLabel::applyColour() {
    if (!widget_) return;
    QPalette palette = widget_->palette();
    // On a window with a fixed background the system's text colours give way
    // to the fixed one that goes with it.
    QWidget* parent = widget_->parentWidget();
    const QVariant fixed = parent ? parent->property(kFixedTextProperty) : QVariant();
    const bool system = (colour_ & platform::kSystemColourFlag) != 0;
    palette.setColor(QPalette::WindowText, system && fixed.isValid()
                                               ? fixed.value<QColor>()
                                               : toQColor(colour_, QApplication::palette()));
    widget_->setPalette(palette);
}

QLabel* QtLabel::widget() const {
    return widget_;
}

void QtLabel::makeFocusable() {
    if (widget_) widget_->setFocusPolicy(Qt::StrongFocus);
}

// ---- text field -----------------------------------------------------------------

QtTextField::QtTextField(QWidget* parent, const platform::TwipsRect& rect, platform::Align align)
    : widget_(new QLineEdit(parent)) {
    widget_->setAlignment((align == platform::Align::Right ? Qt::AlignRight : Qt::AlignLeft) |
                          Qt::AlignVCenter);
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
}

QtTextField::~QtTextField() = default;

void QtTextField::setEnabled(bool enabled) {
    enabled_ = enabled;
    SetEnabledKeepingFocus(widget_, enabled);
}

void QtTextField::setHidden(bool hidden) {
    hidden_ = hidden;
    if (widget_) widget_->setVisible(!hidden);
}

void QtTextField::setText(const std::string& text) {
    if (!widget_) return;
    widget_->setText(toQString(text));
    // Show the beginning of a text longer than the field.
    widget_->setCursorPosition(0);
}

std::string QtTextField::text() const {
    return widget_ ? toStdString(widget_->text()) : std::string();
}

QLineEdit* QtTextField::widget() const {
    return widget_;
}

// ---- button -------------------------------------------------------------------

QtButton::QtButton(QWidget* parent, const platform::TwipsRect& rect, const std::string& caption,
                   const platform::FontSpec& font)
    : widget_(new QPushButton(Translated(caption), parent)), caption_(caption) {
    widget_->setFont(makeFont(font, parent->font()));
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
    widget_->setAutoDefault(false);
    // A caption longer than its place (a translation) takes a smaller font
    // rather than touching the button's edges.
    QFont fitted = widget_->font();
    constexpr double kSmallestPoints = 6.0;
    while (widget_->sizeHint().width() > widget_->width() &&
           fitted.pointSizeF() - 0.5 >= kSmallestPoints) {
        fitted.setPointSizeF(fitted.pointSizeF() - 0.5);
        widget_->setFont(fitted);
    }
    QObject::connect(widget_, &QPushButton::clicked, widget_, [this] { notify(onClick); });
}

QtButton::~QtButton() {
    if (widget_) widget_->disconnect();
}

void QtButton::setEnabled(bool enabled) {
    enabled_ = enabled;
    SetEnabledKeepingFocus(widget_, enabled);
}

void QtButton::setHidden(bool hidden) {
    hidden_ = hidden;
    if (widget_) widget_->setVisible(!hidden);
}

void QtButton::setToolTip(const std::string& text) {
    if (widget_) widget_->setToolTip(Translated(text));
}

QPushButton* QtButton::widget() const {
    return widget_;
}

void QtButton::click() {
    if (enabled_ && widget_) widget_->click();
}

// ---- check box ----------------------------------------------------------------

QtCheckBox::QtCheckBox(QWidget* parent, const platform::TwipsRect& rect, const std::string& caption,
                       const platform::FontSpec& font)
    : widget_(new QCheckBox(Translated(caption), parent)), caption_(caption) {
    widget_->setFont(makeFont(font, parent->font()));
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
    // On a fixed light background a dark theme's box would be a dark filled
    // square, which reads as ticked: the box takes the colours of the
    // background it stands on.
    const QVariant fixed = parent->property(kFixedTextProperty);
    if (fixed.isValid()) {
        QPalette palette = widget_->palette();
        const QColor text = fixed.value<QColor>();
        const QColor base = text.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Window, parent->palette().color(QPalette::Window));
        palette.setColor(QPalette::Button, parent->palette().color(QPalette::Window));
        for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
            palette.setColor(QPalette::Active, role, text);
            palette.setColor(QPalette::Inactive, role, text);
            palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
        }
        widget_->setPalette(palette);
    }
}

QtCheckBox::~QtCheckBox() = default;

void QtCheckBox::setEnabled(bool enabled) {
    enabled_ = enabled;
    SetEnabledKeepingFocus(widget_, enabled);
}

void QtCheckBox::setHidden(bool hidden) {
    hidden_ = hidden;
    if (widget_) widget_->setVisible(!hidden);
}

void QtCheckBox::setChecked(bool checked) {
    if (widget_) widget_->setChecked(checked);
}

bool QtCheckBox::isChecked() const {
    return widget_ && widget_->isChecked();
}

QCheckBox* QtCheckBox::widget() const {
    return widget_;
}

// ---- list box -----------------------------------------------------------------

QtListBox::QtListBox(QWidget* parent, const platform::TwipsRect& rect,
                     const platform::FontSpec& font)
    : widget_(new ListWidget(parent)) {
    widget_->owner = this;
    widget_->setSelectionMode(QAbstractItemView::SingleSelection);
    widget_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    widget_->setUniformItemSizes(true);
    QFont f = makeFont(font, parent->font());
    // The entries are fixed columns: any fallback must be fixed-pitch too.
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    widget_->setFont(f);
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(widget_, &QListWidget::itemSelectionChanged, widget_,
                     [this] { selectionChanged(); });
}

QtListBox::~QtListBox() {
    if (widget_) {
        widget_->disconnect();
        widget_->owner = nullptr;
    }
}

void QtListBox::setEnabled(bool enabled) {
    enabled_ = enabled;
    SetEnabledKeepingFocus(widget_, enabled);
}

void QtListBox::clear() {
    if (!widget_) return;
    quiet_ = true;
    widget_->clear();
    quiet_ = false;
}

void setItemTexts(QListWidgetItem* item, const std::string& text) {
    // A tab would jump to a tab stop and push the fixed columns out of line:
    // it shows as one blank, while the entry keeps its text.
    const QString full = toQString(text);
    QString shown = full;
    shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
    item->setData(Qt::UserRole, full);
    item->setText(shown);
    // The list may cut a long result: the tip holds the whole entry.
    item->setToolTip(shown);
}

void QtListBox::addItem(const std::string& text) {
    if (!widget_) return;
    quiet_ = true;
    auto* item = new QListWidgetItem;
    setItemTexts(item, text);
    widget_->addItem(item);
    quiet_ = false;
}

int QtListBox::count() const {
    return widget_ ? widget_->count() : 0;
}

int QtListBox::selectedIndex() const {
    if (!widget_) return -1;
    const QList<QListWidgetItem*> selected = widget_->selectedItems();
    return selected.isEmpty() ? -1 : widget_->row(selected.front());
}

void QtListBox::setSelectedIndex(int index) {
    if (!widget_ || index < -1 || index >= count() || index == selectedIndex()) return;
    // The selection signal that follows raises onSelectionChanged, as a
    // user's click does.
    if (index < 0) {
        widget_->clearSelection();
        widget_->setCurrentRow(-1);
    } else {
        widget_->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
        widget_->scrollToItem(widget_->item(index));
    }
}

std::string QtListBox::itemText(int index) const {
    if (!widget_ || index < 0 || index >= count()) return {};
    return toStdString(widget_->item(index)->data(Qt::UserRole).toString());
}

void QtListBox::setItemText(int index, const std::string& text) {
    if (!widget_ || index < 0 || index >= count()) return;
    setItemTexts(widget_->item(index), text);
}

QListWidget* QtListBox::widget() const {
    return widget_;
}

void QtListBox::selectionChanged() {
    if (!quiet_) notify(onSelectionChanged);
}

void QtListBox::mouseDown(int button) {
    notify(onMouseDown, button);
}

void QtListBox::doubleClicked() {
    notify(onDoubleClick);
}

void QtListBox::menuKey() {
    notify(onMenuKey);
}

// ---- combo box ------------------------------------------------------------------

QtComboBox::QtComboBox(QWidget* parent, const platform::TwipsRect& rect,
                       const platform::FontSpec& font)
    : widget_(new QComboBox(parent)) {
    widget_->setEditable(false);
    widget_->setFont(makeFont(font, parent->font()));
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(widget_, &QComboBox::currentIndexChanged, widget_, [this] {
        if (!quiet_) notify(onSelectionChanged);
    });
}

QtComboBox::~QtComboBox() {
    if (widget_) widget_->disconnect();
}

void QtComboBox::setEnabled(bool enabled) {
    enabled_ = enabled;
    SetEnabledKeepingFocus(widget_, enabled);
}

void QtComboBox::addItem(const std::string& text) {
    if (!widget_) return;
    // A first item selects itself in Qt; here nothing is selected until
    // someone selects it, as on the other backends.
    quiet_ = true;
    const int selected = widget_->currentIndex();
    // Shown in the user's language; the text as given stays with the item.
    widget_->addItem(Translated(text), toQString(text));
    widget_->setCurrentIndex(selected);
    quiet_ = false;
}

int QtComboBox::count() const {
    return widget_ ? widget_->count() : 0;
}

int QtComboBox::selectedIndex() const {
    return widget_ ? widget_->currentIndex() : -1;
}

void QtComboBox::setSelectedIndex(int index) {
    if (!widget_ || index < -1 || index >= count()) return;
    // The index signal that follows raises onSelectionChanged.
    widget_->setCurrentIndex(index);
}

std::string QtComboBox::itemText(int index) const {
    if (!widget_ || index < 0 || index >= count()) return {};
    return toStdString(widget_->itemData(index).toString());
}

QComboBox* QtComboBox::widget() const {
    return widget_;
}

// ---- menus --------------------------------------------------------------------

QtMenuItem::QtMenuItem(QAction* action, std::string caption)
    : action_(action), caption_(std::move(caption)) {}

QtMenuItem::~QtMenuItem() {
    if (action_) action_->disconnect();
}

void QtMenuItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (action_) action_->setEnabled(enabled);
}

QAction* QtMenuItem::action() const {
    return action_;
}

void QtMenuItem::trigger() {
    if (enabled_) notify(onClick);
}

QtPopupMenu::QtPopupMenu(QWidget* parent, std::string caption)
    : menu_(new QMenu(Translated(caption), parent)), caption_(std::move(caption)) {}

QtPopupMenu::~QtPopupMenu() {
    liveness_.end();
    items_.clear();
    // A menu still open ends its loop; popupAtCursor sees that we are gone.
    if (menu_ && open_) menu_->hide();
}

void QtPopupMenu::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (menu_) menu_->setEnabled(enabled);
}

platform::MenuItem& QtPopupMenu::addItem(const std::string& caption) {
    QAction* action = menu_->addAction(Translated(caption));
    items_.push_back(std::make_unique<QtMenuItem>(action, caption));
    return *items_.back();
}

void QtPopupMenu::popupAtCursor() {
    popupAt(QCursor::pos());
}

void QtPopupMenu::popupAtSelectedEntry(const platform::ListBox& list) {
    const auto* box = dynamic_cast<const QtListBox*>(&list);
    QListWidget* widget = box ? box->widget() : nullptr;
    const int index = list.selectedIndex();
    if (!widget || index < 0) {
        popupAtCursor();
        return;
    }
    // Under the start of the entry, where a keyboard's context menu opens.
    const QRect entry = widget->visualItemRect(widget->item(index));
    popupAt(widget->viewport()->mapToGlobal(entry.bottomLeft()));
}

void QtPopupMenu::popupAt(const QPoint& at) {
    if (!enabled_ || !menu_ || open_) return;
    open_ = true;
    const platform::Liveness::Watch watch = liveness_.watch();
    // Opens with its first usable item highlighted, ready for Enter; set once
    // the menu is up, as showing it clears the highlight.
    QMenu* menu = menu_;
    QTimer::singleShot(0, menu, [menu] {
        for (QAction* action : menu->actions()) {
            if (action->isEnabled() && !action->isSeparator()) {
                menu->setActiveAction(action);
                return;
            }
        }
    });
    QAction* chosen = menu_->exec(at);
    if (!watch.alive()) return;
    open_ = false;
    if (!chosen) return;
    // The chosen item runs after the menu has closed.
    for (const auto& item : items_) {
        if (item->action() == chosen) {
            item->trigger();
            return;
        }
    }
}

QMenu* QtPopupMenu::menu() const {
    return menu_;
}

// ---- picture ------------------------------------------------------------------

QtPicture::QtPicture(QWidget* parent, const platform::TwipsRect& rect, const std::string& image)
    : widget_(new QLabel(parent)) {
    widget_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget_->setGeometry(toPixels(rect));
    const QPixmap pixmap(resourcePath(image));
    if (!pixmap.isNull()) widget_->setPixmap(pixmap);
}

QtPicture::~QtPicture() = default;

void QtPicture::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (widget_) widget_->setEnabled(enabled);
}

QLabel* QtPicture::widget() const {
    return widget_;
}

QString QtPicture::resourcePath(const std::string& image) {
    return QStringLiteral(":/tempikon/") + toQString(image) + QStringLiteral(".png");
}

}  // namespace tempikon::qt
