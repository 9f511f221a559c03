// Hostile server list files in the working folder, read by the real Qt
// platform: the list must neither hang nor grow the program's memory with
// the size of the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "settings_dialog/server_list.h"
#include "tests/hardening/memory.h"
#include "tests/hardening/qt_env.h"

namespace tempikon::hardening {
namespace {

namespace fs = std::filesystem;

// Runs in a fresh working folder of its own, so that the list file found
// first is the one the test makes.
class HostileList : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tempikon-list-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path list() const { return dir_ / settings_dialog::kServerListFile; }

    // The entries loaded, with the peak growth of resident memory in KiB.
    std::vector<std::string> load(long long& growthKiB) {
        const bool reset = ResetPeak();
        const long long before = StatusKiB("VmRSS");
        std::vector<std::string> entries = settings_dialog::LoadServerListEntries(qtPlatform());
        growthKiB = reset && before >= 0 ? StatusKiB("VmHWM") - before : -1;
        return entries;
    }

private:
    fs::path dir_, previous_;
};

TEST_F(HostileList, HugeFileDoesNotGrowMemoryWithItsSize) {
    // 256 MiB of NULs without a line end, made sparse so it costs no disk.
    { std::ofstream out(list(), std::ios::binary); }
    fs::resize_file(list(), 256u << 20);
    long long growth = 0;
    const std::vector<std::string> entries = load(growth);
    EXPECT_LE(entries.size(), 1u);
    if (growth < 0) GTEST_SKIP() << "no peak memory figures";
    EXPECT_LT(growth, 32 * 1024) << "peak grew by " << growth << " KiB";
}

TEST_F(HostileList, MillionLineEndsGiveABoundedList) {
    // Under a megabyte: every byte a line end of its own.
    std::ofstream(list(), std::ios::binary) << std::string(1'000'000, '\r');
    long long growth = 0;
    const std::vector<std::string> entries = load(growth);
    EXPECT_EQ(entries.size(), settings_dialog::kMaxListEntries);
    EXPECT_GT(entries.size(), 0u);
    if (growth < 0) GTEST_SKIP() << "no peak memory figures";
    EXPECT_LT(growth, 32 * 1024) << "peak grew by " << growth << " KiB";
}

TEST_F(HostileList, FilesThatAreNoFilesGiveNoListAndDoNotBlock) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
        {"fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        {"endless device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
        {"dangling link", [](const fs::path& p) { fs::create_symlink("/nonexistent/x", p); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        std::error_code ignored;
        fs::remove_all(list(), ignored);
        make(list());
        long long growth = 0;
        EXPECT_TRUE(load(growth).empty());
    }
}

TEST_F(HostileList, OrdinaryListStillLoadsWhole) {
    std::string text;
    for (int i = 0; i < 500; ++i) text += "XX host" + std::to_string(i) + ".example  a server\r\n";
    std::ofstream(list(), std::ios::binary) << text;
    long long growth = 0;
    const std::vector<std::string> entries = load(growth);
    ASSERT_EQ(entries.size(), 500u);
    EXPECT_EQ(settings_dialog::HostOfEntry(entries[499]), "host499.example");
}

}  // namespace
}  // namespace tempikon::hardening
