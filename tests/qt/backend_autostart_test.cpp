// The XDG autostart entry the Qt backend writes for "Start with the desktop".
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/qt/qt_autostart.h"

namespace tempikon::qt {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Keys(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Autostart, PathFollowsXdgConfigHomeElseHome) {
    struct Case {
        std::optional<std::string> xdg, home, path;
    };
    const Case cases[] = {
        {"/tmp/cfg", "/home/u", "/tmp/cfg/autostart/tempikon-autostart.desktop"},
        {"/tmp/cfg/", "/home/u", "/tmp/cfg/autostart/tempikon-autostart.desktop"},
        {std::nullopt, "/home/u", "/home/u/.config/autostart/tempikon-autostart.desktop"},
        {"", "/home/u", "/home/u/.config/autostart/tempikon-autostart.desktop"},
        // A relative XDG_CONFIG_HOME is ignored, by the XDG base directory rules.
        {"cfg", "/home/u", "/home/u/.config/autostart/tempikon-autostart.desktop"},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(autostartPath(c.xdg, c.home), c.path) << c.xdg.value_or("(unset)");
}

TEST(Autostart, EntryIsThePackagedExampleWithThisProgramsPath) {
    const auto packaged =
        Keys(Read(fs::path(TEMPIKON_SOURCE_DIR) / "data/tempikon-autostart.desktop"));
    ASSERT_EQ(packaged.at("Exec"), "tempikon /SERVER /MIN");
    struct Case {
        std::string program, exec;
    };
    const Case cases[] = {
        {"/usr/bin/tempikon", "/usr/bin/tempikon /SERVER /MIN"},
        {"/opt/my apps/tempikon", "\"/opt/my apps/tempikon\" /SERVER /MIN"},
        // Quoted characters escaped, then the backslash escaped once more
        // for the string value; "%" is a field code's.
        {"/opt/a\"b$c/t", "\"/opt/a\\\\\"b\\\\$c/t\" /SERVER /MIN"},
        {"/opt/100%/t", "/opt/100%%/t /SERVER /MIN"},
        {"/opt/back\\slash/t", "\"/opt/back\\\\\\\\slash/t\" /SERVER /MIN"},
    };
    for (const Case& c : cases) {
        auto written = Keys(autostartEntry(c.program));
        EXPECT_EQ(written.at("Exec"), c.exec) << c.program;
        written["Exec"] = packaged.at("Exec");
        EXPECT_EQ(written, packaged) << c.program;
    }
}

TEST(Autostart, WrittenEnabledSwitchedOffAndRemoved) {
    std::string name = "tempikon-autostart-";
    name += std::to_string(::getpid());
    const fs::path dir = fs::temp_directory_path() / name;
    fs::remove_all(dir);
    const std::string path = (dir / "autostart/tempikon-autostart.desktop").string();
    EXPECT_FALSE(autostartFileEnabled(path));
    EXPECT_TRUE(writeAutostartFile(path, "/usr/bin/tempikon", true).ok);
    EXPECT_TRUE(autostartFileEnabled(path));
    EXPECT_EQ(Read(path), autostartEntry("/usr/bin/tempikon"));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    // An entry the user switched off in the desktop's settings starts nothing.
    for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        std::ofstream(path) << "[Desktop Entry]\nExec=tempikon /SERVER /MIN\n" << off << "\n";
        EXPECT_FALSE(autostartFileEnabled(path)) << off;
    }
    EXPECT_TRUE(writeAutostartFile(path, "/usr/bin/tempikon", false).ok);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(writeAutostartFile(path, "/usr/bin/tempikon", false).ok) << "already gone";

    // A file where the folder should be: the reason names the place.
    fs::remove_all(dir / "autostart");
    std::ofstream(dir / "autostart") << "x";
    const platform::StoreResult failed = writeAutostartFile(path, "/usr/bin/tempikon", true);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.reason.find((dir / "autostart").string()), std::string::npos) << failed.reason;
    EXPECT_EQ(fs::directory_iterator(dir)->path(), dir / "autostart") << "nothing left behind";
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tempikon::qt
