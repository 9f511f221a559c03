#include "platform/qt/qt_autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tempikon::qt {

namespace {

// An Exec argument: quoted when it holds anything but plain characters, the
// quoting characters escaped; "%" doubled, as field codes use it. Backslashes
// are doubled once more because the value is itself an escaped string.
std::string execArgument(const std::string& text) {
    const bool plain =
        !text.empty() && text.find_first_of(" \t\n\"'\\><~|&;$*?#()`=") == std::string::npos;
    std::string out;
    if (!plain) out += '"';
    for (const char c : text) {
        if (c == '%') {
            out += "%%";
        } else if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += c == '\\' ? "\\\\\\\\" : "\\\\";
            if (c != '\\') out += c;
        } else {
            out += c;
        }
    }
    if (!plain) out += '"';
    return out;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace

std::optional<std::string> autostartPath(const std::optional<std::string>& xdgConfigHome,
                                         const std::optional<std::string>& home) {
    std::string config;
    // A relative XDG_CONFIG_HOME does not count, by the XDG base directory rules.
    if (xdgConfigHome && !xdgConfigHome->empty() && xdgConfigHome->front() == '/') {
        config = *xdgConfigHome;
    } else if (home && !home->empty()) {
        config = *home;
        config += "/.config";
    } else {
        return std::nullopt;
    }
    while (config.size() > 1 && config.back() == '/') config.pop_back();
    config += "/autostart/tempikon-autostart.desktop";
    return config;
}

std::string autostartEntry(const std::string& program) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Version=1.4\n"
        "Name=Tempikon (resident)\n"
        "Name[de]=Tempikon (dauerhaft)\n"
        "Comment=Set the time of day at login and then every few minutes\n"
        "Comment[de]=Die Uhrzeit bei der Anmeldung und dann alle paar Minuten stellen\n"
        "Exec=";
    text += execArgument(program);
    text +=
        " /SERVER /MIN\n"
        "Icon=tempikon\n"
        "Terminal=false\n"
        "NoDisplay=true\n"
        "X-GNOME-Autostart-enabled=true\n";
    return text;
}

bool autostartFileEnabled(const std::string& path) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

platform::StoreResult writeAutostartFile(const std::string& path, const std::string& program,
                                         bool enabled) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!enabled) {
        if (!fs::remove(path, error) && error) return {false, path + ": " + error.message()};
        return {};
    }
    const fs::path folder = fs::path(path).parent_path();
    fs::create_directories(folder, error);
    if (error) return {false, folder.string() + ": " + error.message()};
    // A half-written entry must never be what the session reads.
    std::string temporary = path;
    temporary += ".saving-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return {false, folder.string() + ": " + errorText(errno)};
    const std::string text = autostartEntry(program);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    int failure = written == text.size() ? 0 : (errno != 0 ? errno : EIO);
    if (failure == 0 && ::fchmod(fd, 0644) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return {false, path + ": " + errorText(failure)};
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return {false, path + ": " + errorText(renameError)};
    }
    return {};
}

}  // namespace tempikon::qt
