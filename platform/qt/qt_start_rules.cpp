#include "platform/qt/qt_start_rules.h"

#include <algorithm>
#include <filesystem>

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
