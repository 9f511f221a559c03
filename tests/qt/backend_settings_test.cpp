// The settings store on QSettings, in this process's own XDG_CONFIG_HOME.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "backend_env.h"
#include "platform/qt/qt_settings_store.h"

extern char** environ;

namespace tempikon::qt {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct SettingsStore : ::testing::Test {
    fs::path dir = fs::path(testing::configHome()) / "Tempikon";
    fs::path file = dir / "Tempikon.conf";

    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void TearDown() override { SetUp(); }
    void writeFile(const std::string& bytes) {
        fs::create_directories(dir);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string read(const std::string& key, const std::string& fallback = "<default>") {
        QtSettingsStore store;
        return store.readText("Tempikon", "CONFIG", key, fallback);
    }
};

TEST_F(SettingsStore, LivesInTheConfigHomeAsIni) {
    EXPECT_EQ(fs::path(QtSettingsStore::location("Tempikon")), file);
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "ntp.example.org");
    store.writeText("Tempikon", "CONFIG", "Timeout", "3");
    ASSERT_TRUE(store.commit().ok);
    const std::string text = fileText(file);
    EXPECT_NE(text.find("[CONFIG]"), std::string::npos) << text;
    EXPECT_NE(text.find("Server=ntp.example.org"), std::string::npos) << text;
    EXPECT_NE(text.find("Timeout=3"), std::string::npos) << text;
}

TEST_F(SettingsStore, RoundTripKeepsTextsExactly) {
    const std::pair<const char*, const char*> values[] = {
        {"Server", "ntp.example.org"}, {"Server2", ""},     {"Offset", "5,5"},
        {"Offset2", "-2.25"},          {"Timeout", "@odd"}, {"Interval", " 30 "},
        {"Note", "a;b=c\"d\\e"},       {"Name", "Zürich"},
    };
    {
        QtSettingsStore store;
        for (const auto& [key, value] : values) store.writeText("Tempikon", "CONFIG", key, value);
        ASSERT_TRUE(store.commit().ok);
    }
    for (const auto& [key, value] : values) EXPECT_EQ(read(key), value) << key;
    EXPECT_EQ(read("Missing", "30"), "30");
}

TEST_F(SettingsStore, HandWrittenCommaIsNotSplit) {
    // Without quotes QSettings would read a list; the text must stay whole.
    writeFile("[CONFIG]\nOffset=5,5\nServer=a, b\n");
    EXPECT_EQ(read("Offset"), "5,5");
    EXPECT_EQ(read("Server"), "a,b");
}

TEST_F(SettingsStore, WritesWaitForCommit) {
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "pending.example");
    EXPECT_EQ(store.readText("Tempikon", "CONFIG", "Server", ""), "pending.example");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(read("Server"), "<default>");
    ASSERT_TRUE(store.commit().ok);
    EXPECT_EQ(read("Server"), "pending.example");
}

TEST_F(SettingsStore, ASectionReadsWholeAsReadTextReadsEachKey) {
    // Keys of the section in the top group and under its header, a later line
    // of a key over an earlier one, a group below it, a value that is no text
    // and another section.
    writeFile(
        "CONFIG\\Zone=UTC\n[CONFIG]\nServer=old.example\nServer=a, b\nOffset=\"5,5\"\n"
        "Timeout=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\a)\nInterval=@@at\n"
        "[CONFIG%2FDeeper]\nKey=below\n[OTHER]\nServer2=elsewhere\n");
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Offset2", "pending");
    store.writeText("Tempikon", "OTHER", "Server", "pending elsewhere");
    const std::map<std::string, std::string> section = store.readSection("Tempikon", "CONFIG");
    const std::map<std::string, std::string> expected = {
        {"Zone", "UTC"},     {"Server", "a,b"},      {"Offset", "5,5"},
        {"Interval", "@at"}, {"Offset2", "pending"},
    };
    EXPECT_EQ(section, expected);
    for (const char* key : {"Zone", "Server", "Offset", "Timeout", "Interval", "Offset2", "Key"}) {
        const auto it = section.find(key);
        EXPECT_EQ(store.readText("Tempikon", "CONFIG", key, "<default>"),
                  it == section.end() ? "<default>" : it->second)
            << key;
    }
}

TEST_F(SettingsStore, CommitReplacesTheFileInOneStep) {
    writeFile("[CONFIG]\nServer=old.example\nOther=kept\n");
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "new.example");
    ASSERT_TRUE(store.commit().ok);
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    // A new file renamed over the old one: a crash leaves one or the other.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(read("Server"), "new.example");
    EXPECT_EQ(read("Other"), "kept");
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename(), "Tempikon.conf") << "left behind: " << entry.path();
    }
}

TEST_F(SettingsStore, DamagedFileDoesNotBreakReadingOrSaving) {
    std::string garbage = "[CONFIG\nServer=kept.example\nno equals sign here\n\x01\x02\xff\xfe";
    garbage += std::string("\0\0[[[=]]]\n", 10);
    garbage += std::string(100000, 'z');
    writeFile(garbage);
    EXPECT_NO_FATAL_FAILURE(read("Server"));
    EXPECT_EQ(read("Timeout", "3"), "3");
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "fresh.example");
    store.writeText("Tempikon", "CONFIG", "Timeout", "7");
    const platform::StoreResult result = store.commit();
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(read("Server"), "fresh.example");
    EXPECT_EQ(read("Timeout"), "7");
}

TEST_F(SettingsStore, UnwritableLocationFailsWithAReasonAndKeepsTheValues) {
    // A file where the folder should be: not even root can write there.
    fs::create_directories(dir.parent_path());
    std::ofstream(dir) << "not a folder";
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "lost.example");
    const platform::StoreResult result = store.commit();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("Tempikon.conf"), std::string::npos) << result.reason;
    EXPECT_EQ(store.readText("Tempikon", "CONFIG", "Server", ""), "lost.example");
    // Once the place is writable the same values go through.
    fs::remove(dir);
    EXPECT_TRUE(store.commit().ok);
    EXPECT_EQ(read("Server"), "lost.example");
}

TEST_F(SettingsStore, TwoProcessesSavingAtOnceLoseNothing) {
    const int rounds = 40;
    const std::string count = std::to_string(rounds);
    pid_t pids[2];
    const char* prefixes[2] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        char* argv[] = {const_cast<char*>(TEMPIKON_SETTINGS_WRITER), const_cast<char*>(prefixes[i]),
                        const_cast<char*>(count.c_str()), nullptr};
        ASSERT_EQ(posix_spawn(&pids[i], TEMPIKON_SETTINGS_WRITER, nullptr, nullptr, argv, environ),
                  0);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    QtSettingsStore store;
    for (const char* prefix : prefixes) {
        for (int i = 0; i < rounds; ++i) {
            const std::string key = prefix + std::to_string(i);
            EXPECT_EQ(store.readText("Tempikon", "CONFIG", key, "<lost>"), "value " + key);
        }
    }
}

TEST_F(SettingsStore, ReadsAndWritesWhatQSettingsDoes) {
    // Files of earlier versions were written by QSettings, and a copy of
    // such a version may still read what this one writes.
    const std::string texts[] = {"ntp.example.org",
                                 "",
                                 "@odd",
                                 "@@two",
                                 "@String(x)",
                                 "@Variant(x)",
                                 "a,b",
                                 " lead",
                                 "trail ",
                                 "tab\there",
                                 std::string("nul\0"
                                             "1",
                                             5),
                                 "\x01\x1f",
                                 "a;b=c\"d\\e",
                                 "Zürich",
                                 "line\nfeed",
                                 "\\x41"};
    const QString path = QString::fromStdString(file.string());
    for (const std::string& text : texts) {
        SetUp();
        fs::create_directories(dir);
        {
            QSettings old(path, QSettings::IniFormat);
            old.setValue("CONFIG/Server", QString::fromStdString(text));
        }
        EXPECT_EQ(read("Server"), text) << "written by QSettings: " << fileText(file);
        QtSettingsStore store;
        store.writeText("Tempikon", "CONFIG", "Server2", text);
        ASSERT_TRUE(store.commit().ok);
        QSettings old(path, QSettings::IniFormat);
        EXPECT_EQ(old.value("CONFIG/Server2").toString().toStdString(), text) << fileText(file);
        EXPECT_EQ(old.value("CONFIG/Server").toString().toStdString(), text) << fileText(file);
    }
}

TEST_F(SettingsStore, NestedVariantIsNeverBuilt) {
    // A list nested 60,000 deep, just under the size limit: QSettings would
    // recurse until the stack ran out, at every start.
    std::string value = "@Variant(";
    for (int i = 0; i < 60000; ++i) value += "\\0\\0\\0\\t\\0\\0\\0\\x1";
    value += "\\0\\0\\0\\t\\0\\0\\0\\0)";
    writeFile("[CONFIG]\nServer=" + value + "\nTimeout=7\n");
    ASSERT_LT(fs::file_size(file), kMaxSettingsFileBytes);
    EXPECT_EQ(read("Server"), "<default>");
    EXPECT_EQ(read("Timeout"), "7");
    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "repaired.example");
    ASSERT_TRUE(store.commit().ok);
    EXPECT_EQ(read("Server"), "repaired.example");
    EXPECT_EQ(read("Timeout"), "7");
}

TEST_F(SettingsStore, LocksAndLeftoversNeverFreezeASave) {
    const fs::path lock = dir / "Tempikon.conf.lock";
    const fs::path leftover = dir / "Tempikon.conf.Ab12Cd";
    const fs::path errors = fs::path(testing::configHome()) / "writer.err";
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& lock);
        bool saves;
    } cases[] = {
        {"a folder in the lock's place", [](const fs::path& l) { fs::create_directory(l); }, false},
        {"an empty stale lock", [](const fs::path& l) { std::ofstream{l}; }, true},
        {"the lock of a dead process",
         [](const fs::path& l) { std::ofstream{l} << "2147483646\n\nTempikon\n"; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fs::create_directories(dir);
        c.prepare(lock);
        std::ofstream(leftover) << "cut off";
        std::ofstream(dir / "Tempikon.conf.backup") << "the user's own";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        char* argv[] = {const_cast<char*>(TEMPIKON_SETTINGS_WRITER), const_cast<char*>("K"),
                        const_cast<char*>("1"), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, TEMPIKON_SETTINGS_WRITER, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // A frozen save is a hang, caught with a bound far above the 2 s wait.
        int status = 0;
        for (int i = 0; i < 150 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (::kill(pid, 0) == 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the save froze";
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status) == 0, c.saves) << fileText(errors);
        if (c.saves) {
            EXPECT_EQ(read("K0"), "value K0");
            EXPECT_FALSE(fs::exists(leftover));
            EXPECT_TRUE(fs::exists(dir / "Tempikon.conf.backup"));
            EXPECT_FALSE(fs::exists(lock));
        } else {
            EXPECT_NE(fileText(errors).find("Tempikon.conf.lock"), std::string::npos)
                << fileText(errors);
        }
    }
    fs::remove(errors);
}

TEST_F(SettingsStore, SavingThroughALinkKeepsTheLinkOwnerAndMode) {
    // As dotfile managers keep it: the file lives elsewhere, under a link.
    const fs::path elsewhere = fs::path(testing::configHome()) / "dotfiles";
    fs::create_directories(elsewhere);
    fs::create_directories(dir);
    const fs::path target = elsewhere / "Tempikon.conf";
    std::ofstream(target) << "[CONFIG]\nServer=old.example\n";
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    }
    fs::create_symlink(target, file);

    QtSettingsStore store;
    store.writeText("Tempikon", "CONFIG", "Server", "new.example");
    ASSERT_TRUE(store.commit().ok);

    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(read("Server"), "new.example");
    EXPECT_NE(fileText(target).find("new.example"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
    fs::remove_all(elsewhere);
}

TEST(SettingsLocale, DecimalSeparatorMatchesTheLocale) {
    const char* expected = std::getenv("TEMPIKON_EXPECT_SEPARATOR");
    if (!expected) GTEST_SKIP() << "run with a locale by the test list";
    QtSettingsStore store;
    EXPECT_EQ(store.decimalSeparator(), expected[0]);
}

}  // namespace
}  // namespace tempikon::qt
