#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QUrl>

#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_tray.h"
#include "platform/qt/qt_window.h"

namespace tempikon::qt {

QtPlatform::QtPlatform(int& argc, char** argv, std::string commandLine)
    : QtCorePlatform(std::make_unique<QApplication>(argc, argv), std::move(commandLine)) {
    QGuiApplication::setDesktopFileName(QStringLiteral("tempikon"));
    // The program decides when it ends (its main window closing), not Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    installFontSubstitutions();
    // Every window, message boxes included, shows the program's icon.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tempikon/icons/%1x%1/tempikon.png").arg(size));
    QApplication::setWindowIcon(icon);
    // Without a display the history file says it cannot show its folder.
    if (!isHeadless()) {
        history().setFolderOpener([](const std::string& folder) {
            return QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(folder)));
        });
    }
}

std::unique_ptr<platform::Window> QtPlatform::createWindow(const platform::WindowSpec& spec) {
    return std::make_unique<QtWindow>(spec);
}

std::unique_ptr<platform::Tray> QtPlatform::createTray() {
    return std::make_unique<QtTray>();
}

int QtPlatform::messageBox(const std::string& text, const std::string& title, int flags) {
    if (isHeadless()) return QtCorePlatform::messageBox(text, title, flags);
    return showMessageBox(text, title, flags);
}

bool QtPlatform::openAddress(const std::string& address, platform::NativeHandle owner) {
    if (isHeadless() || !mayOpen(address)) return QtCorePlatform::openAddress(address, owner);
    // False when no opener (xdg-open or the desktop's portal) could be started.
    return QDesktopServices::openUrl(QUrl(toQString(address), QUrl::StrictMode));
}

bool QtPlatform::isHeadless() const {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace tempikon::qt
