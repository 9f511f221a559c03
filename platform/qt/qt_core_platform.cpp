#include "platform/qt/qt_core_platform.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
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
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_start_rules.h"
#include "platform/qt/qt_tcp_client.h"
#include "platform/qt/qt_text.h"
#ifndef _WIN32
#include "platform/qt/qt_timedate_client.h"
#endif
#include "platform/qt/qt_timer.h"
#include "platform/qt/qt_translate.h"
#include "platform/qt/qt_udp_client.h"
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

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

QtCorePlatform::QtCorePlatform(int& argc, char** argv, std::string commandLine)
    : QtCorePlatform(std::make_unique<QCoreApplication>(argc, argv), std::move(commandLine)) {}

QtCorePlatform::QtCorePlatform(std::unique_ptr<QCoreApplication> app, std::string commandLine)
    : app_(std::move(app)), commandLine_(std::move(commandLine)) {
#ifndef _WIN32
    // The outcome lines on standard output are for scripts; a reader that
    // goes away must not end a resident program (writes then just fail).
    std::signal(SIGPIPE, SIG_IGN);
#endif
    crypto_ = platform::CreateGnutlsCrypto();
    QCoreApplication::setApplicationName(QString::fromUtf8(version::kProductName));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(version::kMajor)
                                                .arg(version::kMinor)
                                                .arg(version::kRevision));
    postTarget_ = std::make_unique<QObject>();
    LoadTranslations(dataDirectories());
}

QtCorePlatform::~QtCorePlatform() {
    postTarget_.reset();
    // Windows destroyed outside the event loop left their widgets for
    // deferred deletion; let them go while the application still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app_.reset();
}

std::unique_ptr<platform::Window> QtCorePlatform::createWindow(const platform::WindowSpec&) {
    return nullptr;
}

std::unique_ptr<platform::Timer> QtCorePlatform::createTimer() {
    return std::make_unique<QtTimer>();
}

std::unique_ptr<platform::TcpClient> QtCorePlatform::createTcpClient() {
    return std::make_unique<QtTcpClient>();
}

std::unique_ptr<platform::UdpClient> QtCorePlatform::createUdpClient() {
    return std::make_unique<QtUdpClient>();
}

std::unique_ptr<platform::TlsClient> QtCorePlatform::createTlsClient() {
    return NewTlsClient();
}

std::unique_ptr<platform::Tray> QtCorePlatform::createTray() {
    return nullptr;
}

int QtCorePlatform::messageBox(const std::string& text, const std::string& title, int flags) {
    // Nobody could answer: say it on standard error and take the harmless
    // answer.
    WriteLineWithoutWaiting(Stream::Error, title + ": " + text);
    return (flags & 0x0F) == platform::kMbYesNo ? platform::kIdNo : platform::kIdOk;
}

void QtCorePlatform::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtCorePlatform::waitForEvents() {
    // Sleeps in the event dispatcher until something arrives.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtCorePlatform::sleep(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void QtCorePlatform::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        postTarget_.get(), [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

int QtCorePlatform::run() {
    // quit() may come before the loop starts (a start-up that ends at once).
    if (!quitRequested_) {
        const int code = QCoreApplication::exec();
        if (!quitRequested_) exitCode_ = code;
    }
    quitRequested_ = false;
    return exitCode_;
}

void QtCorePlatform::quit(int exitCode) {
    quitRequested_ = true;
    exitCode_ = exitCode;
    // A password prompt of the time service must not keep a closed program alive.
    clock_.abandonWait();
    QCoreApplication::exit(exitCode);
}

bool QtCorePlatform::mayOpen(const std::string& address) const {
    const QUrl url(toQString(address), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // Only what the program shows: web pages, mail addresses and its own help page.
    const bool shown = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                       scheme == QLatin1String("mailto");
    return url.isValid() && (shown || isOwnDataFile(url, dataDirectories()));
}

bool QtCorePlatform::openAddress(const std::string& address, platform::NativeHandle) {
    if (mayOpen(address))
        WriteLineWithoutWaiting(Stream::Error, "Not opened without a display: " + address);
    return false;
}

std::optional<std::string> QtCorePlatform::readFile(const std::string& path) {
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

std::vector<std::string> QtCorePlatform::dataDirectories() const {
    return dataDirectoriesFor(toStdString(QCoreApplication::applicationDirPath()),
                              TEMPIKON_DATADIR);
}

bool QtCorePlatform::autostartEnabled() const {
    const auto path = autostartPath(environment("XDG_CONFIG_HOME"), environment("HOME"));
    return path && autostartFileEnabled(*path);
}

platform::StoreResult QtCorePlatform::setAutostart(bool enabled) {
    const auto path = autostartPath(environment("XDG_CONFIG_HOME"), environment("HOME"));
    if (!path) return {false, "no home folder"};
    return writeAutostartFile(*path, toStdString(QCoreApplication::applicationFilePath()), enabled);
}

void QtCorePlatform::writeOutputLine(const std::string& line) {
    WriteLineWithoutWaiting(Stream::Output, line);
}

void QtCorePlatform::writeErrorLine(const std::string& line) {
    WriteLineWithoutWaiting(Stream::Error, line);
}

platform::Version QtCorePlatform::version() const {
    return {version::kMajor, version::kMinor, version::kRevision, version::kBuildSeconds};
}

platform::TimeSync* QtCorePlatform::timeSync() {
#ifdef _WIN32
    return nullptr;
#else
    if (!timeSync_) timeSync_ = std::make_unique<TimedateSync>();
    return timeSync_.get();
#endif
}

}  // namespace tempikon::qt
