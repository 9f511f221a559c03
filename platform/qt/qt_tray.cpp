#include "platform/qt/qt_tray.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "platform/qt/qt_translate.h"

namespace tempikon::qt {

namespace {

// A clock face in the state's colour: green set, red failed, grey not yet.
QIcon StateIcon(platform::TrayState state) {
    QColor face(0x9e, 0x9e, 0x9e);
    if (state == platform::TrayState::Ok) face = QColor(0x2e, 0x9d, 0x3a);
    if (state == platform::TrayState::Failed) face = QColor(0xd3, 0x2f, 0x2f);
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        painter.setPen(QPen(Qt::white, 4));
        painter.setBrush(face);
        painter.drawEllipse(QRectF(4, 4, 56, 56));
        painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(32, 32), QPointF(32, 14));
        painter.drawLine(QPointF(32, 32), QPointF(45, 38));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QtTray::QtTray() : menu_(std::make_unique<QMenu>()), icon_(std::make_unique<QSystemTrayIcon>()) {
    icon_->setIcon(StateIcon(platform::TrayState::Unknown));
    icon_->setContextMenu(menu_.get());
    QObject::connect(
        icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                qt::notify(onActivated);
        });
}

QtTray::~QtTray() {
    onActivated = nullptr;
    items_.clear();
    if (icon_) {
        icon_->disconnect();
        icon_->hide();
    }
}

bool QtTray::isAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTray::show() {
    icon_->show();
}

void QtTray::hide() {
    icon_->hide();
}

void QtTray::setState(platform::TrayState state) {
    icon_->setIcon(StateIcon(state));
}

void QtTray::setToolTip(const std::string& text) {
    icon_->setToolTip(Translated(text));
}

platform::MenuItem& QtTray::addMenuItem(const std::string& caption) {
    QAction* action = menu_->addAction(Translated(caption));
    items_.push_back(std::make_unique<QtMenuItem>(action, caption));
    QtMenuItem* item = items_.back().get();
    // Queued: the menu has closed before a setting waits in the event loop.
    QObject::connect(
        action, &QAction::triggered, action, [item] { item->trigger(); }, Qt::QueuedConnection);
    return *item;
}

void QtTray::notify(const std::string& title, const std::string& text) {
    icon_->showMessage(Translated(title), Translated(text), icon_->icon());
}

}  // namespace tempikon::qt
