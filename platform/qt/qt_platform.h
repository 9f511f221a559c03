#pragma once

#include <string>

#include "platform/qt/qt_core_platform.h"

namespace tempikon::qt {

// The platform with windows: a QApplication, its windows, tray icons and
// message boxes, on top of the windowless part.
class QtPlatform : public QtCorePlatform {
public:
    QtPlatform(int& argc, char** argv, std::string commandLine);

    std::unique_ptr<platform::Window> createWindow(const platform::WindowSpec& spec) override;
    std::unique_ptr<platform::Tray> createTray() override;
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    std::optional<std::string> chooseFile(const platform::FileChoice& choice,
                                          platform::NativeHandle owner) override;
    bool openAddress(const std::string& address, platform::NativeHandle owner) override;
    bool isHeadless() const override;
};

}  // namespace tempikon::qt
