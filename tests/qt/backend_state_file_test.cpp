// The history file of the Qt backend: where it lives, appending, the atomic
// replacement, and what is refused without waiting (a FIFO with no reader
// and with one, a folder, a file too large).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "backend_env.h"
#include "platform/qt/qt_state_file.h"

namespace tempikon::qt::testing {
namespace {

namespace fs = std::filesystem;

struct StateFile : ::testing::Test {
    QtStateFile file{"history-test.csv"};
    fs::path path{file.location()};
    void SetUp() override { fs::remove_all(path); }
    void TearDown() override { fs::remove_all(path); }
};

TEST_F(StateFile, LivesInTheStateHomeAndAppendsReadsAndReplaces) {
    // backend_main points XDG_STATE_HOME at the test's own folder.
    EXPECT_EQ(path, fs::path(configHome()) / "Tempikon" / "history-test.csv");
    EXPECT_TRUE(file.read(100).ok);
    EXPECT_EQ(file.read(100).text, "");
    ASSERT_TRUE(file.append("a,b\n").ok);
    ASSERT_TRUE(file.append("c,d\n").ok);
    EXPECT_EQ(file.read(100).text, "a,b\nc,d\n");
    EXPECT_EQ(file.read(7).reason, "too large");

    // The replacement keeps the file's mode, and a link stays a link.
    ::chmod(path.c_str(), 0640);
    const fs::path target = path.string() + ".target";
    fs::rename(path, target);
    fs::create_symlink(target, path);
    ASSERT_TRUE(file.replace("e\n").ok);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(file.read(100).text, "e\n");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    fs::remove(target);
}

TEST_F(StateFile, WhatIsNotARegularFileIsRefusedAtOnce) {
    fs::create_directories(path.parent_path());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // No reader: an open for writing without O_NONBLOCK would wait for good.
    EXPECT_EQ(file.append("x\n").reason, "not a regular file");
    EXPECT_EQ(file.read(100).reason, "not a regular file");
    // With a reader the open succeeds; the kind of file still refuses it.
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(file.append("x\n").reason, "not a regular file");
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    fs::remove(path);

    fs::create_directories(path);
    EXPECT_FALSE(file.read(100).ok);
    EXPECT_FALSE(file.append("x\n").ok);
}

}  // namespace
}  // namespace tempikon::qt::testing
