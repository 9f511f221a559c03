#include "platform/qt/qt_start_rules.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

namespace tempikon::qt {

namespace {
bool isSet(const std::optional<std::string>& value) {
    return value.has_value() && !value->empty();
}
}  // namespace

bool needsOffscreen(const std::optional<std::string>& display,
                    const std::optional<std::string>& waylandDisplay,
                    const std::optional<std::string>& qpaPlatform) {
    return !isSet(display) && !isSet(waylandDisplay) && !isSet(qpaPlatform);
}

std::string joinArguments(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) break;
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    return joined;
}

std::optional<std::string> platformForSecureRun(const std::optional<std::string>& requested) {
    static constexpr std::array<std::string_view, 4> kAllowed{"xcb", "wayland", "offscreen",
                                                              "minimal"};
    if (!requested) return std::nullopt;
    // Qt takes a list of names to try ("wayland;xcb"), each with options
    // after a colon; an option may name a file to read.
    std::string kept;
    std::string_view rest = *requested;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        const std::string_view entry = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (std::find(kAllowed.begin(), kAllowed.end(), name) == kAllowed.end()) continue;
        if (!kept.empty()) kept += ';';
        kept += name;
    }
    if (kept.empty()) return std::nullopt;
    return kept;
}

std::vector<std::string> dataDirectoriesFor(const std::string& executableDir,
                                            const std::string& installedDataDir) {
    namespace fs = std::filesystem;
    std::vector<std::string> dirs;
    const auto add = [&dirs](const fs::path& path) {
        if (path.empty()) return;
        std::string text = path.lexically_normal().string();
        while (text.size() > 1 && text.back() == '/') text.pop_back();
        if (std::find(dirs.begin(), dirs.end(), text) == dirs.end()) dirs.push_back(text);
    };
    if (!executableDir.empty()) {
        add(fs::path(executableDir));
        add(fs::path(executableDir) / ".." / "share" / "tempikon");
    }
    add(fs::path(installedDataDir));
    return dirs;
}

}  // namespace tempikon::qt
