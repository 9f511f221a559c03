// The settings store under stress: two programs saving at once, a read-only,
// missing or full config folder (small tmpfs mounts in a mount namespace of
// this process's own, so none outlives it), a file that is not INI. Never a
// crash, never a half-written file, and a message with the reason when the
// dialog's OK cannot save.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "core/config.h"
#include "platform/qt/qt_settings_store.h"
#include "tempikon_version.h"
#include "tests/fake/fake_platform.h"
#include "tests/hardening/config_sample.h"
#include "tests/hardening/memory.h"
#include "tests/support/config_of.h"

extern char** environ;

namespace tempikon::hardening {
namespace {

namespace fs = std::filesystem;

std::string home;            // this process's XDG_CONFIG_HOME
bool privateMounts = false;  // mounts allowed, and private to this process

fs::path folder() {
    return fs::path(home) / "Tempikon";
}
fs::path file() {
    return folder() / "Tempikon.conf";
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A store that holds what a file says, for reading it with LoadConfig.
class MapStore : public platform::SettingsStore {
public:
    std::string readText(const std::string&, const std::string&, const std::string& key,
                         const std::string& fallback) override {
        const auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    std::map<std::string, std::string> readSection(const std::string&,
                                                   const std::string&) override {
        return values;
    }
    void writeText(const std::string&, const std::string&, const std::string& key,
                   const std::string& value) override {
        values[key] = value;
    }
    platform::StoreResult commit() override { return {}; }
    char decimalSeparator() const override { return '.'; }
    std::string locationOf(const std::string& app) const override { return app; }
    std::optional<std::string> unreadableReason(const std::string&) const override {
        return std::nullopt;
    }
    std::map<std::string, std::string> values;
};

// The keys of the [CONFIG] group of an INI text, read without QSettings.
std::map<std::string, std::string> ConfigGroup(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inGroup = line == "[CONFIG]";
            continue;
        }
        const auto eq = line.find('=');
        if (inGroup && eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

bool SameConfig(const core::Config& a, const core::Config& b) {
    return a.primary().host == b.primary().host && a.backup().host == b.backup().host &&
           a.primary().offsetHours == b.primary().offsetHours &&
           a.backup().offsetHours == b.backup().offsetHours && a.timeout == b.timeout &&
           a.interval == b.interval;
}

core::Config Loaded() {
    qt::QtSettingsStore store;
    core::Config config;
    config = core::LoadConfig(store);
    return config;
}

// A tmpfs over a folder, unmounted again however the test ends.
class TmpfsMount {
public:
    TmpfsMount(const fs::path& where, const std::string& size) : where_(where) {
        fs::create_directories(where_);
        ok_ = ::mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                      ("size=" + size + ",mode=0755").c_str()) == 0;
    }
    ~TmpfsMount() {
        if (ok_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool ok() const { return ok_; }
    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", where_.c_str(), "tmpfs", flags, nullptr) == 0;
    }

private:
    fs::path where_;
    bool ok_ = false;
};

// Fills a file system up to its last byte; removing the file frees it again.
void FillUp(const fs::path& filler) {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string chunk(4096, 'f');
    while (::write(fd, chunk.data(), chunk.size()) > 0) {
    }
    for (std::size_t n = 512; n > 0; n /= 2) {
        while (::write(fd, chunk.data(), n) > 0) {
        }
    }
    ::close(fd);
}

const char* const kOldFile = "[CONFIG]\nServer=old.example\nTimeout=7\nInterval=45\n";

struct StoreStress : ::testing::Test {
    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(folder(), ignored);
    }
    void TearDown() override { SetUp(); }
    static void needMounts() {
        if (!privateMounts) GTEST_SKIP() << "needs root and a mount namespace of its own";
    }
};

// ---- two programs saving at once ---------------------------------------------------

TEST_F(StoreStress, TwoProgramsSavingAtOnceLeaveOneWholeConfiguration) {
    constexpr int kRounds = 60;
    const std::string rounds = std::to_string(kRounds);
    const char* who[2] = {"A", "B"};
    pid_t pids[2];
    for (int i = 0; i < 2; ++i) {
        char* argv[] = {const_cast<char*>(TEMPIKON_CONFIG_SAVER), const_cast<char*>(who[i]),
                        const_cast<char*>(rounds.c_str()), nullptr};
        ASSERT_EQ(posix_spawn(&pids[i], TEMPIKON_CONFIG_SAVER, nullptr, nullptr, argv, environ), 0);
    }
    // Read the file again and again while they save: every version seen is
    // one whole save of one of them.
    int seen = 0, running = 2, statuses[2] = {-1, -1};
    while (running > 0) {
        for (int i = 0; i < 2; ++i) {
            if (statuses[i] != -1) continue;
            int status = 0;
            if (waitpid(pids[i], &status, WNOHANG) == pids[i]) {
                statuses[i] = status;
                --running;
            }
        }
        const std::string text = fileText(file());
        if (text.empty()) continue;
        MapStore parsed;
        parsed.values = ConfigGroup(text);
        core::Config config;
        config = core::LoadConfig(parsed);
        const std::string& server = config.primary().host;
        const auto dash = server.find('-');
        ASSERT_NE(dash, std::string::npos) << text;
        const int round = std::atoi(server.c_str() + dash + 1);
        ASSERT_TRUE(SameConfig(config, SampleConfig(server.substr(0, dash), round))) << text;
        ASSERT_EQ(parsed.values.size(), 14u) << text;  // every key a save writes
        ++seen;
    }
    for (int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(seen, 0);
    const core::Config last = Loaded();
    EXPECT_TRUE(SameConfig(last, SampleConfig("A", kRounds - 1)) ||
                SameConfig(last, SampleConfig("B", kRounds - 1)))
        << last.primary().host;
    for (const auto& entry : fs::directory_iterator(folder())) {
        EXPECT_EQ(entry.path().filename(), "Tempikon.conf") << "left behind: " << entry.path();
    }
}

// ---- loading while another program saves ------------------------------------------

TEST_F(StoreStress, LoadWhileTheFileIsSwappedSeesOneVersionWhole) {
    // Two versions that differ in every key, put in place by renames as a save
    // does, over and over while the configuration is loaded.
    const core::Config versions[2] = {SampleConfig("V", 1), SampleConfig("W", 30)};
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        qt::QtSettingsStore store;
        ASSERT_TRUE(core::SaveConfig(store, versions[i]).ok);
        texts[i] = fileText(file());
    }
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const fs::path next = folder() / "next-version";
        for (int n = 0; !stop; ++n) {
            writeFile(next, texts[n % 2]);
            std::error_code ignored;
            fs::rename(next, file(), ignored);
            ++swaps;
        }
    });
    int loads = 0, mixed = 0;
    std::string firstMixed;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (loads < 2000 && (loads < 50 || std::chrono::steady_clock::now() < end)) {
        const core::Config loaded = Loaded();
        ++loads;
        if (SameConfig(loaded, versions[0]) || SameConfig(loaded, versions[1])) continue;
        if (mixed++ == 0)
            firstMixed =
                loaded.primary().host + " offset " + std::to_string(loaded.primary().offsetHours);
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 1);
    EXPECT_EQ(mixed, 0) << mixed << " of " << loads
                        << " loads mixed two versions, first: " << firstMixed;
}

// ---- files that are not INI ----------------------------------------------------------

TEST_F(StoreStress, DamagedFilesLoadAsDefaultsOrWhatIsReadableAndSaveAgain) {
    struct Case {
        const char* name;
        std::string bytes;
        core::Config expected;
    };
    const core::Config defaults = testsupport::ConfigOf("", "", 0.0f, 0.0f, 3, 30);
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7919);
    const Case cases[] = {
        {"binary", binary, defaults},
        // QSettings reads a group name without its bracket.
        {"unclosed group", "[CONFIG\nServer=x.example\n",
         testsupport::ConfigOf("x.example", "", 0.0f, 0.0f, 3, 30)},
        {"no group", "Server=x.example\nTimeout=9\n", defaults},
        {"values that are no numbers", "[CONFIG]\nOffset=1e400\nTimeout=abc\nInterval=9e99\n",
         defaults},
        {"numbers out of range",
         "[CONFIG]\nOffset=" + std::string(60, '9') +
             "\nTimeout=2147483648\nInterval=-2147483649\n",
         defaults},
        {"serialized variants",
         "[CONFIG]\nServer=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5QRect)\nServer2=@Invalid()\n"
         "Timeout=@ByteArray(12)\n",
         testsupport::ConfigOf("", "", 0.0f, 0.0f, 12, 30)},
        {"readable lines among rubbish",
         "garbage\n[CONFIG]\n\x01\x02=\xff\nServer=kept.example\n=\n==\nInterval= 15 \n"
         "[[[\n",
         testsupport::ConfigOf("kept.example", "", 0.0f, 0.0f, 3, 15)},
        {"long line", "[CONFIG]\nServer=" + std::string(256 << 10, 'h') + "\nTimeout=4\n",
         testsupport::ConfigOf(std::string(256 << 10, 'h'), "", 0.0f, 0.0f, 4, 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file(), c.bytes);
        const core::Config loaded = Loaded();
        EXPECT_TRUE(SameConfig(loaded, c.expected)) << loaded.primary().host.substr(0, 40) << " "
                                                    << loaded.timeout << " " << loaded.interval;
        // Saving over it gives a file that loads as what was saved.
        const core::Config fresh = SampleConfig("C", 5);
        qt::QtSettingsStore store;
        const platform::StoreResult saved = core::SaveConfig(store, fresh);
        EXPECT_TRUE(saved.ok) << saved.reason;
        EXPECT_TRUE(SameConfig(Loaded(), fresh));
    }
}

// ---- settings files that are no ordinary files ----------------------------------------

// Runs the helper that loads and saves as the program does; its output, or
// nullopt when it did not end within the limit (it is killed then).
std::optional<std::string> LoadAndSaveInAnotherProcess(int limitMs = 10'000) {
    const fs::path out = fs::path(home) / "load-and-save.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(TEMPIKON_CONFIG_SAVER), const_cast<char*>("--load-and-save"),
                    nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, TEMPIKON_CONFIG_SAVER, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 20) {
        if (waited >= limitMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return std::nullopt;
        }
        usleep(20'000);
    }
    return fileText(out);
}

TEST_F(StoreStress, SettingsFileThatIsAPipeNeitherBlocksNorIsReplaced) {
    // Directly, and behind a link (a save would replace the link's target).
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "link to a pipe" : "pipe");
        SetUp();
        fs::create_directories(folder());
        const fs::path pipe = linked ? folder() / "elsewhere" : file();
        ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
        if (linked) fs::create_symlink(pipe, file());
        const std::optional<std::string> output = LoadAndSaveInAnotherProcess();
        ASSERT_TRUE(output.has_value()) << "loading the settings blocked";
        EXPECT_NE(output->find("server= timeout=3 interval=30\n"), std::string::npos) << *output;
        EXPECT_NE(output->find("saved=0 reason=Cannot write the settings to " + file().string() +
                               " (not a regular file)"),
                  std::string::npos)
            << *output;
        EXPECT_TRUE(fs::is_fifo(pipe));
        EXPECT_EQ(fs::is_symlink(file()), linked);
    }
}

TEST_F(StoreStress, WhateverIsAtTheLockPathTheSaveEndsWithAReason) {
    // QSettings' lock file opened for reading waits for a writer on a pipe.
    const fs::path lock = file().string() + ".lock";
    for (const char* what : {"pipe", "link to a pipe", "folder"}) {
        SCOPED_TRACE(what);
        SetUp();
        writeFile(file(), kOldFile);
        const std::string kind = what;
        if (kind == "folder") {
            fs::create_directory(lock);
        } else {
            const fs::path pipe = kind == "pipe" ? lock : folder() / "elsewhere";
            ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
            if (pipe != lock) fs::create_symlink(pipe, lock);
        }
        const std::optional<std::string> output = LoadAndSaveInAnotherProcess();
        ASSERT_TRUE(output.has_value()) << "saving blocked";
        EXPECT_NE(output->find(
                      "saved=0 reason=Cannot write the settings to " + file().string() +
                      " (something that is not a lock file is in the way: " + lock.string() + ")"),
                  std::string::npos)
            << *output;
        EXPECT_EQ(fileText(file()), kOldFile);
        EXPECT_TRUE(fs::exists(fs::symlink_status(lock)));
    }
}

TEST_F(StoreStress, HugeSettingsFileIsNeitherReadNorWrittenOver) {
    writeFile(file(), "[CONFIG]\nServer=huge.example\n");
    fs::resize_file(file(), 256u << 20);
    const bool peakReset = ResetPeak();
    const long long before = StatusKiB("VmRSS");
    qt::QtSettingsStore store;
    core::Config config;
    config = core::LoadConfig(store);
    const long long growth = StatusKiB("VmHWM") - before;
    EXPECT_EQ(config.primary().host, "");
    EXPECT_EQ(config.timeout, 3);
    if (peakReset && before >= 0) {
        EXPECT_LT(growth, 32 * 1024) << "peak grew by " << growth << " KiB";
    }
    const platform::StoreResult saved = core::SaveConfig(store, SampleConfig("F", 1));
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason, "Cannot write the settings to " + file().string() + " (too large)");
    EXPECT_EQ(fs::file_size(file()), 256u << 20);
}

// ---- folders that cannot be written --------------------------------------------------

TEST_F(StoreStress, MissingFolderIsCreated) {
    ASSERT_FALSE(fs::exists(folder()));
    qt::QtSettingsStore store;
    const platform::StoreResult saved = core::SaveConfig(store, SampleConfig("D", 1));
    EXPECT_TRUE(saved.ok) << saved.reason;
    EXPECT_TRUE(SameConfig(Loaded(), SampleConfig("D", 1)));
}

// What a failed save must leave: the old file as it was, nothing beside it,
// a reason naming the file, and the values still waiting for a later save.
void ExpectFailedSave(qt::QtSettingsStore& store, const platform::StoreResult& result,
                      const std::string& oldText) {
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("Tempikon.conf"), std::string::npos) << result.reason;
    if (oldText.empty()) {
        EXPECT_FALSE(fs::exists(file()));
    } else {
        EXPECT_EQ(fileText(file()), oldText);
    }
    EXPECT_EQ(store.readText(version::kProductName, core::kSection, "Server", ""), "E-2.example");
}

TEST_F(StoreStress, ReadOnlyFolderFailsWithAReasonAndKeepsTheFile) {
    needMounts();
    TmpfsMount mount(folder(), "64k");
    ASSERT_TRUE(mount.ok());
    writeFile(file(), kOldFile);
    ASSERT_TRUE(mount.setReadOnly(true));

    qt::QtSettingsStore store;
    const platform::StoreResult result = core::SaveConfig(store, SampleConfig("E", 2));
    ExpectFailedSave(store, result, kOldFile);
    // Writable again: the same values go through without saving anew.
    ASSERT_TRUE(mount.setReadOnly(false));
    const platform::StoreResult retried = store.commit();
    EXPECT_TRUE(retried.ok) << retried.reason;
    EXPECT_TRUE(SameConfig(Loaded(), SampleConfig("E", 2)));
}

TEST_F(StoreStress, FolderThatCannotBeCreatedFailsWithAReason) {
    needMounts();
    // The config home itself read-only and empty: no folder can be made.
    TmpfsMount mount(home, "64k");
    ASSERT_TRUE(mount.ok());
    ASSERT_TRUE(mount.setReadOnly(true));
    qt::QtSettingsStore store;
    const platform::StoreResult result = core::SaveConfig(store, SampleConfig("E", 2));
    ExpectFailedSave(store, result, "");
    EXPECT_FALSE(fs::exists(folder()));
}

// Saves the sample as a user without rights when this test runs as root
// (who may write anywhere), in a child process; the reason it fails with.
std::string SaveAsNobody() {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string reason = "could not become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0) {
            qt::QtSettingsStore store;
            const platform::StoreResult result = core::SaveConfig(store, SampleConfig("E", 2));
            reason = result.ok ? "saved" : result.reason;
        }
        (void)!::write(out[1], reason.data(), reason.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string reason;
    char buffer[512];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        reason.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return reason;
}

TEST_F(StoreStress, FailedSaveGivesTheSystemsReason) {
    enum class Why { ReadOnly, Full, NoPermission };
    struct Case {
        const char* name;
        Why why;
        int error;
    };
    const Case cases[] = {
        {"read-only file system", Why::ReadOnly, EROFS},
        {"full disk", Why::Full, ENOSPC},
        {"folder the user may not write", Why::NoPermission, EACCES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::optional<TmpfsMount> mount;
        if (c.why != Why::NoPermission) {
            if (!privateMounts) continue;
            mount.emplace(folder(), "32k");
            ASSERT_TRUE(mount->ok());
        }
        writeFile(file(), kOldFile);
        std::string reason;
        if (c.why == Why::NoPermission) {
            fs::permissions(home,
                            fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
            fs::permissions(folder(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
            if (::geteuid() == 0) {
                reason = SaveAsNobody();
            } else {
                fs::permissions(folder(), fs::perms::owner_write, fs::perm_options::remove);
                qt::QtSettingsStore store;
                reason = core::SaveConfig(store, SampleConfig("E", 2)).reason;
                fs::permissions(folder(), fs::perms::owner_write, fs::perm_options::add);
            }
            fs::permissions(home, fs::perms::owner_all);
        } else {
            if (c.why == Why::Full) {
                ASSERT_NO_FATAL_FAILURE(FillUp(folder() / "filler"));
            } else {
                ASSERT_TRUE(mount->setReadOnly(true));
            }
            qt::QtSettingsStore store;
            reason = core::SaveConfig(store, SampleConfig("E", 2)).reason;
        }
        EXPECT_EQ(reason.rfind("Cannot write the settings to " + file().string() + " (", 0), 0u)
            << reason;
        EXPECT_NE(reason.find(std::strerror(c.error)), std::string::npos) << reason;
        EXPECT_EQ(reason.find("lock"), std::string::npos) << reason;
        EXPECT_EQ(fileText(file()), kOldFile);
    }
}

TEST_F(StoreStress, FullDiskFailsWithAReasonAndKeepsTheFileWhole) {
    needMounts();
    TmpfsMount mount(folder(), "32k");
    ASSERT_TRUE(mount.ok());
    writeFile(file(), kOldFile);
    ASSERT_NO_FATAL_FAILURE(FillUp(folder() / "filler"));

    qt::QtSettingsStore store;
    const platform::StoreResult result = core::SaveConfig(store, SampleConfig("E", 2));
    ExpectFailedSave(store, result, kOldFile);
    for (const auto& entry : fs::directory_iterator(folder())) {
        const std::string name = entry.path().filename();
        EXPECT_TRUE(name == "Tempikon.conf" || name == "filler") << "left behind: " << name;
    }
    fs::remove(folder() / "filler");
    const platform::StoreResult retried = store.commit();
    EXPECT_TRUE(retried.ok) << retried.reason;
    EXPECT_TRUE(SameConfig(Loaded(), SampleConfig("E", 2)));
}

// ---- the dialog's OK when saving fails --------------------------------------------

// The fake windows with the real settings store.
class RealStorePlatform : public fake::FakePlatform {
public:
    platform::SettingsStore& settings() override { return realStore; }
    qt::QtSettingsStore realStore;
};

TEST_F(StoreStress, DialogOkTellsWhySavingFailedAndStaysOpen) {
    needMounts();
    for (const bool fullDisk : {true, false}) {
        SCOPED_TRACE(fullDisk ? "full disk" : "read-only folder");
        SetUp();
        TmpfsMount mount(folder(), "32k");
        ASSERT_TRUE(mount.ok());
        writeFile(file(), kOldFile);
        if (fullDisk) {
            ASSERT_NO_FATAL_FAILURE(FillUp(folder() / "filler"));
        } else {
            ASSERT_TRUE(mount.setReadOnly(true));
        }

        RealStorePlatform platform;
        core::Config config;
        app::MainWindow form(platform);
        form.start();
        ASSERT_EQ(form.serverLine().text(), "old.example");
        fake::as<fake::FakeMenuItem>(form.configurationItem()).click();
        settings_dialog::ConfigDialog* dialog = form.configDialog();
        ASSERT_NE(dialog, nullptr);
        fake::as<fake::FakeTextField>(dialog->serverField()).type("new.example");
        fake::as<fake::FakeButton>(dialog->okButton()).click();

        ASSERT_EQ(platform.boxes.size(), 1u);
        const fake::MessageBoxCall& box = platform.boxes[0];
        EXPECT_EQ(box.text.rfind("The settings could not be saved: ", 0), 0u) << box.text;
        EXPECT_NE(box.text.find(file().string()), std::string::npos) << box.text;
        EXPECT_NE(box.text.find(std::strerror(fullDisk ? ENOSPC : EROFS)), std::string::npos)
            << box.text;
        EXPECT_EQ(box.flags, platform::kMbOk | platform::kMbIconExclamation);
        EXPECT_EQ(box.title, version::kTitle);
        EXPECT_TRUE(dialog->isShown());
        EXPECT_EQ(fileText(file()), kOldFile);

        // Room again: the next OK saves and closes.
        if (fullDisk) {
            fs::remove(folder() / "filler");
        } else {
            ASSERT_TRUE(mount.setReadOnly(false));
        }
        fake::as<fake::FakeButton>(dialog->okButton()).click();
        EXPECT_EQ(platform.boxes.size(), 1u);
        EXPECT_FALSE(dialog->isShown());
        EXPECT_EQ(Loaded().primary().host, "new.example");
        EXPECT_EQ(form.serverLine().text(), "new.example");
        platform.advance(0);
    }
}

}  // namespace
}  // namespace tempikon::hardening

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/tempikon-store-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    tempikon::hardening::home = pattern;
    // Before the first QSettings: it takes the folder once per process.
    setenv("XDG_CONFIG_HOME", pattern, 1);
    // Mounts made here stay in this process's namespace and end with it.
    tempikon::hardening::privateMounts =
        ::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return result;
}
