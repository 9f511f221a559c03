#pragma once

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_controls.h"
#include "platform/tray.h"

class QMenu;
class QSystemTrayIcon;

namespace tempikon::qt {

// QSystemTrayIcon with its menu; the icon is drawn here, one for each state.
class QtTray : public platform::Tray {
public:
    QtTray();
    ~QtTray() override;
    QtTray(const QtTray&) = delete;
    QtTray& operator=(const QtTray&) = delete;

    bool isAvailable() const override;
    void show() override;
    void hide() override;
    void setState(platform::TrayState state) override;
    void setToolTip(const std::string& text) override;
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    void notify(const std::string& title, const std::string& text) override;

    // For tests.
    QSystemTrayIcon* icon() const { return icon_.get(); }
    QMenu* menu() const { return menu_.get(); }

private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::vector<std::unique_ptr<QtMenuItem>> items_;
};

}  // namespace tempikon::qt
