#include "platform/qt/qt_platform.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/gnutls/gnutls_crypto.h"
#include "platform/qt/qt_autostart.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_start_rules.h"
#include "platform/qt/qt_tcp_client.h"
#ifndef _WIN32
#include "platform/qt/qt_timedate_client.h"
#endif
#include "platform/qt/qt_timer.h"
#include "platform/qt/qt_translate.h"
#include "platform/qt/qt_tray.h"
#include "platform/qt/qt_udp_client.h"
#include "platform/qt/qt_window.h"
#include "tempikon_version.h"

namespace tempikon::qt {

namespace {

// A file address only for a file in one of the program's own data folders
// (its installed help page); a link there to anywhere else does not count.
bool isOwnDataFile(const QUrl& url, const std::vector<std::string>& dataDirectories) {
    namespace fs = std::filesystem;
    if (!url.isLocalFile()) return false;
    std::error_code error;
    const fs::path file = fs::canonical(fs::path(toStdString(url.toLocalFile())), error);
    if (error || !fs::is_regular_file(file, error)) return false;
    for (const std::string& dir : dataDirectories) {
        const fs::path folder = fs::canonical(fs::path(dir), error);
        if (!error && file.parent_path() == folder) return true;
    }
    return false;
}

}  // namespace

QtPlatform::QtPlatform(int& argc, char** argv, std::string commandLine, bool windowless)
    : windowless_(windowless), commandLine_(std::move(commandLine)) {
#ifndef _WIN32
    // The outcome lines on standard output are for scripts; a reader that
    // goes away must not end a resident program (writes then just fail).
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (windowless)
        app_ = std::make_unique<QCoreApplication>(argc, argv);
    else
        app_ = std::make_unique<QApplication>(argc, argv);
    crypto_ = platform::CreateGnutlsCrypto();
    QCoreApplication::setApplicationName(QString::fromUtf8(version::kProductName));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(version::kMajor)
                                                .arg(version::kMinor)
                                                .arg(version::kRevision));
    postTarget_ = std::make_unique<QObject>();
    if (windowless) {
        LoadTranslations(dataDirectories());
        return;
    }
    QGuiApplication::setDesktopFileName(QStringLiteral("tempikon"));
    // The program decides when it ends (its main window closing), not Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    installFontSubstitutions();
    // Every window, message boxes included, shows the program's icon.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tempikon/icons/%1x%1/tempikon.png").arg(size));
    QApplication::setWindowIcon(icon);
    LoadTranslations(dataDirectories());
}

QtPlatform::~QtPlatform() {
    postTarget_.reset();
    // Windows destroyed outside the event loop left their widgets for
    // deferred deletion; let them go while the application still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app_.reset();
}

std::unique_ptr<platform::Window> QtPlatform::createWindow(const platform::WindowSpec& spec) {
    return std::make_unique<QtWindow>(spec);
}

std::unique_ptr<platform::Timer> QtPlatform::createTimer() {
    return std::make_unique<QtTimer>();
}

std::unique_ptr<platform::TcpClient> QtPlatform::createTcpClient() {
    return std::make_unique<QtTcpClient>();
}

std::unique_ptr<platform::UdpClient> QtPlatform::createUdpClient() {
    return std::make_unique<QtUdpClient>();
}

std::unique_ptr<platform::TlsClient> QtPlatform::createTlsClient() {
    return NewTlsClient();
}

std::unique_ptr<platform::Tray> QtPlatform::createTray() {
    return std::make_unique<QtTray>();
}

int QtPlatform::messageBox(const std::string& text, const std::string& title, int flags) {
    const bool yesNo = (flags & 0x0F) == platform::kMbYesNo;
    if (isHeadless()) {
        // Nobody could answer: say it on standard error and take the
        // harmless answer.
        WriteLineWithoutWaiting(Stream::Error, title + ": " + text);
        return yesNo ? platform::kIdNo : platform::kIdOk;
    }
    return showMessageBox(text, title, flags);
}

void QtPlatform::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtPlatform::waitForEvents() {
    // Sleeps in the event dispatcher until something arrives.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtPlatform::sleep(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void QtPlatform::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        postTarget_.get(), [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

int QtPlatform::run() {
    // quit() may come before the loop starts (a start-up that ends at once).
    if (!quitRequested_) {
        const int code = QCoreApplication::exec();
        if (!quitRequested_) exitCode_ = code;
    }
    quitRequested_ = false;
    return exitCode_;
}

void QtPlatform::quit(int exitCode) {
    quitRequested_ = true;
    exitCode_ = exitCode;
    // A password prompt of the time service must not keep a closed program alive.
    clock_.abandonWait();
    QCoreApplication::exit(exitCode);
}

bool QtPlatform::openAddress(const std::string& address, platform::NativeHandle) {
    const QUrl url(toQString(address), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // Only what the program shows: web pages, mail addresses and its own help page.
    const bool shown = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                       scheme == QLatin1String("mailto");
    if (!url.isValid() || !(shown || isOwnDataFile(url, dataDirectories()))) return false;
    if (isHeadless()) {
        WriteLineWithoutWaiting(Stream::Error, "Not opened without a display: " + address);
        return false;
    }
    // False when no opener (xdg-open or the desktop's portal) could be started.
    return QDesktopServices::openUrl(url);
}

std::optional<std::string> QtPlatform::readFile(const std::string& path) {
    std::error_code error;
    // Not a directory or a pipe, which would fail or block.
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > platform::kMaxReadFileBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // At most one byte more than allowed, so that a file that grows while it
    // is read is refused too.
    std::string bytes(platform::kMaxReadFileBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > platform::kMaxReadFileBytes) return std::nullopt;
    return bytes;
}

std::vector<std::string> QtPlatform::dataDirectories() const {
    return dataDirectoriesFor(toStdString(QCoreApplication::applicationDirPath()),
                              TEMPIKON_DATADIR);
}

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

bool QtPlatform::autostartEnabled() const {
    const auto path = autostartPath(environment("XDG_CONFIG_HOME"), environment("HOME"));
    return path && autostartFileEnabled(*path);
}

platform::StoreResult QtPlatform::setAutostart(bool enabled) {
    const auto path = autostartPath(environment("XDG_CONFIG_HOME"), environment("HOME"));
    if (!path) return {false, "no home folder"};
    return writeAutostartFile(*path, toStdString(QCoreApplication::applicationFilePath()), enabled);
}

void QtPlatform::writeOutputLine(const std::string& line) {
    WriteLineWithoutWaiting(Stream::Output, line);
}

void QtPlatform::writeErrorLine(const std::string& line) {
    WriteLineWithoutWaiting(Stream::Error, line);
}

platform::Version QtPlatform::version() const {
    return {version::kMajor, version::kMinor, version::kRevision, version::kBuildSeconds};
}

bool QtPlatform::isHeadless() const {
    if (windowless_) return true;
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

platform::TimeSync* QtPlatform::timeSync() {
#ifdef _WIN32
    return nullptr;
#else
    if (!timeSync_) timeSync_ = std::make_unique<TimedateSync>();
    return timeSync_.get();
#endif
}

}  // namespace tempikon::qt
