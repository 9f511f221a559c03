// Placeholder until the dialog is built: an empty "Configuration" window.
#include "settings_dialog/settings.h"

namespace tempikon::settings_dialog {

struct Settings::Impl {
    std::unique_ptr<platform::Window> window;
};

Settings::Settings(platform::Platform& platform, core::PublicStuff&, MainWindowLink)
    : impl_(std::make_unique<Impl>()) {
    impl_->window = platform.createWindow({"Configuration", 9675, 5895, true, 0, false});
    impl_->window->onClosed = [this] {
        if (onClosed) onClosed();
    };
}

Settings::~Settings() = default;

void Settings::Show() {
    impl_->window->showModal();
}
bool Settings::isShown() const {
    return impl_->window->isVisible();
}
void Settings::Close() {
    impl_->window->close();
}
platform::Window& Settings::window() {
    return *impl_->window;
}

}  // namespace tempikon::settings_dialog
