// A Qt plugin (a platform or a platform theme, keyed "tempikonmarker") that
// is also usable as a GTK module. It does nothing but leave the file
// "<its own path>.loaded" when it is loaded, so that a test can see whether
// a privileged copy of the program took code from a place its user named.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <QObject>
#include <QtPlugin>
#include <string>

namespace {

__attribute__((constructor)) void LeaveMarker() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LeaveMarker), &info) == 0 || !info.dli_fname) return;
    const std::string marker = std::string(info.dli_fname) + ".loaded";
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
}

}  // namespace

// Qt reads the interface and key from the file before it loads a plugin; the
// object itself is never of the type Qt asks for, so a run that loads it as
// its platform fails after the marker is written.
class TempikonMarkerPlugin : public QObject {
    Q_OBJECT
#if defined(TEMPIKON_MARKER_THEME)
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformThemeFactoryInterface.5.1" FILE
                          "marker_plugin.json")
#else
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                          "marker_plugin.json")
#endif
};

#include "marker_plugin.moc"
