// The event loop, timers, posted calls, the settings store, the clock's
// checks and the files of the real Win32 backend, under Wine.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>

#include "platform/reentrance.h"
#include "platform/win32/win32_state_file.h"
#include "platform/win32/win32_text.h"
#include "tests/win32/backend_fixture.h"

namespace tempikon::win32::test {
namespace {

// ---- timers and the event loop ---------------------------------------------------

TEST_F(Backend, AFreshTimerIsEnabledWithIntervalZeroAndNeverFires) {
    auto fresh = platform.createTimer();
    EXPECT_TRUE(fresh->isEnabled());
    EXPECT_EQ(fresh->interval(), 0);
    int freshTicks = 0, ticks = 0;
    fresh->onTimer = [&] { ++freshTicks; };
    auto other = platform.createTimer();
    other->onTimer = [&] { ++ticks; };
    other->setInterval(20);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 5; }));
    EXPECT_EQ(freshTicks, 0);
}

TEST_F(Backend, TimersRepeatUntilDisabledAndNeverFireInsideTheirOwnHandler) {
    auto timer = platform.createTimer();
    auto pacer = platform.createTimer();
    int ticks = 0, pace = 0, depth = 0, deepest = 0;
    pacer->onTimer = [&] { ++pace; };
    timer->onTimer = [&] {
        ++ticks;
        ++depth;
        deepest = std::max(deepest, depth);
        if (ticks == 1) {
            // A handler that waits for events, as a query does: its own timer
            // keeps running but is not delivered into it.
            const int until = pace + 5;
            while (pace < until) platform.waitForEvents();
        }
        if (ticks == 3) timer->setEnabled(false);
        --depth;
    };
    pacer->setInterval(15);
    timer->setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(deepest, 1);
    const int paceNow = pace;
    ASSERT_TRUE(waitUntil([&] { return pace >= paceNow + 5; }));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isEnabled());
}

TEST_F(Backend, ATimerMayBeDestroyedByItsOwnHandler) {
    auto timer = platform.createTimer();
    int ticks = 0;
    timer->onTimer = [&] {
        ++ticks;
        timer.reset();
    };
    timer->setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return !timer; }));
    settle(100);
    EXPECT_EQ(ticks, 1);
}

TEST_F(Backend, PostedCallsRunLaterInOrderAndWaitingReturnsAfterOne) {
    std::vector<int> order;
    platform.post([&] {
        order.push_back(1);
        platform.post([&] { order.push_back(3); });
    });
    platform.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());  // never inside post()
    platform.waitForEvents();
    EXPECT_FALSE(order.empty());
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(Backend, QuitEndsRunWithTheLastCodeGiven) {
    platform.post([&] {
        platform.quit(3);
        platform.quit(5);
    });
    EXPECT_EQ(platform.run(), 5);
    // A quit before the loop starts ends it at once.
    platform.quit(2);
    EXPECT_EQ(platform.run(), 2);
}

TEST_F(Backend, ProcessEventsReturnsWithNothingPending) {
    int ran = 0;
    platform.post([&] { ++ran; });
    platform.processEvents();
    EXPECT_EQ(ran, 1);
    platform.processEvents();  // nothing to do: must not block
    EXPECT_EQ(ran, 1);
}

TEST_F(Backend, HeadlessMessageBoxesAnswerAtOnce) {
    EXPECT_EQ(
        platform.messageBox("You must go through the configuration first.", "Tempikon 1.2", 48),
        platform::kIdOk);
    EXPECT_EQ(platform.messageBox("Adopt?", "Tempikon 1.2", 52), platform::kIdNo);
}

// ---- settings in the registry ----------------------------------------------------------

class Registry : public Backend {
protected:
    static constexpr const char* kApp = "TempikonBackendTest";
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tempikon\\TempikonBackendTest");
    }
    void SetUp() override { TearDown(); }
};

TEST_F(Registry, LivesUnderTheOrganisationApplicationAndSection) {
    EXPECT_EQ(Win32SettingsStore::keyPath("Tempikon", "CONFIG"),
              L"Software\\Tempikon\\Tempikon\\CONFIG");
}

TEST_F(Registry, WritesShowAtOnceAndReachTheRegistryAsTextOnCommit) {
    Win32SettingsStore store;
    EXPECT_EQ(store.readText(kApp, "CONFIG", "Server", "none"), "none");
    store.writeText(kApp, "CONFIG", "Server", "time.example.org");
    store.writeText(kApp, "CONFIG", "Offset", "5,5");
    store.writeText(kApp, "CONFIG", "Server2", "");
    store.writeText(kApp, "CONFIG", "City", "Zürich ⌚");
    EXPECT_EQ(store.readText(kApp, "CONFIG", "Server", ""), "time.example.org");
    ASSERT_TRUE(store.commit().ok);

    Win32SettingsStore fresh;  // nothing cached: the registry itself
    EXPECT_EQ(fresh.readText(kApp, "CONFIG", "Server", ""), "time.example.org");
    EXPECT_EQ(fresh.readText(kApp, "CONFIG", "Offset", ""), "5,5");
    EXPECT_EQ(fresh.readText(kApp, "CONFIG", "Server2", "default"), "");  // empty, not absent
    EXPECT_EQ(fresh.readText(kApp, "CONFIG", "City", ""), "Zürich ⌚");
    EXPECT_EQ(fresh.readText(kApp, "OTHER", "Server", "absent"), "absent");

    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Tempikon\\TempikonBackendTest\\CONFIG",
                           L"Offset", RRF_RT_ANY, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(Registry, ValuesThatAreNotTextGiveTheDefault) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tempikon\\TempikonBackendTest\\CONFIG",
                              0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExW(key, L"Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    const BYTE blob[] = {1, 2, 3};
    RegSetValueExW(key, L"Server", 0, REG_BINARY, blob, sizeof blob);
    // Text stored without its terminating zero, as other programs may write it.
    RegSetValueExW(key, L"Server2", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"),
                   3 * sizeof(wchar_t));
    RegCloseKey(key);
    Win32SettingsStore store;
    EXPECT_EQ(store.readText(kApp, "CONFIG", "Timeout", "3"), "3");
    EXPECT_EQ(store.readText(kApp, "CONFIG", "Server", ""), "");
    EXPECT_EQ(store.readText(kApp, "CONFIG", "Server2", ""), "abc");
}

TEST_F(Registry, ASectionReadsWholeWithItsTextsOnlyAndWhatWaits) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tempikon\\TempikonBackendTest\\CONFIG",
                              0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExW(key, L"Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegSetValueExW(key, L"Server2", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"),
                   3 * sizeof(wchar_t));
    RegCloseKey(key);
    Win32SettingsStore store;
    const std::string longText(5000, 'x');
    store.writeText(kApp, "CONFIG", "Server", longText);
    store.writeText(kApp, "CONFIG", "City", "Zürich ⌚");
    store.writeText(kApp, "CONFIG", "Zone", "");
    ASSERT_TRUE(store.commit().ok);
    store.writeText(kApp, "CONFIG", "Zone", "UTC");
    store.writeText(kApp, "OTHER", "Server", "elsewhere");
    const std::map<std::string, std::string> expected = {
        {"Server", longText}, {"Server2", "abc"}, {"City", "Zürich ⌚"}, {"Zone", "UTC"}};
    EXPECT_EQ(store.readSection(kApp, "CONFIG"), expected);
    EXPECT_EQ(Win32SettingsStore().readSection(kApp, "CONFIG").at("Zone"), "");
    EXPECT_TRUE(Win32SettingsStore().readSection(kApp, "MISSING").empty());
}

TEST_F(Registry, ALongValueReadsBackWhole) {
    Win32SettingsStore store;
    const std::string longText(5000, 'x');
    store.writeText(kApp, "CONFIG", "Server", longText);
    ASSERT_TRUE(store.commit().ok);
    EXPECT_EQ(Win32SettingsStore().readText(kApp, "CONFIG", "Server", ""), longText);
}

TEST_F(Registry, TheDecimalSeparatorIsAPeriodOrAComma) {
    const char separator = Win32SettingsStore().decimalSeparator();
    EXPECT_TRUE(separator == '.' || separator == ',');
}

// ---- clock, files, version ----------------------------------------------------------------

TEST_F(Backend, TheClockReadsAPlausibleLocalTime) {
    const platform::LocalDateTime now = platform.clock().now();
    EXPECT_GE(now.year, 2000);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
    EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
    EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

// Only impossible times: these never reach SetLocalTime, so this test is
// safe wherever it runs. The real refusal is the smoke test's.
TEST_F(Backend, TheClockRefusesImpossibleInstantsWithAReason) {
    // Before 1970, and beyond what a FILETIME holds.
    for (const std::int64_t micros : {std::int64_t{-1}, 1'000'000'000'000'000'000LL}) {
        const platform::ClockResult result = platform.clock().setMicros(micros);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.reason.empty());
    }
}

TEST_F(Backend, ReadFileGivesTheBytesOrNothing) {
    const std::string path = "win32_backend_test_file.bin";
    const std::string bytes("line 1\r\nline\0two\n\xFF", 19);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_EQ(platform.readFile(path), bytes);
    std::remove(path.c_str());
    EXPECT_EQ(platform.readFile(path), std::nullopt);
    EXPECT_EQ(platform.readFile(""), std::nullopt);
}

TEST_F(Backend, DataDirectoriesStartNextToTheProgram) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string dir = narrow(exe);
    dir = dir.substr(0, dir.find_last_of("\\/"));
    for (char& c : dir)
        if (c == '\\') c = '/';
    const auto dirs = platform.dataDirectories();
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], dir);
    EXPECT_EQ(dirs[1], dir + "/../share/tempikon");
}

TEST_F(Backend, TheVersionComesFromTheVersionResource) {
    // The resource itself holds 1.2.0.10 ...
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe, 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(info->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(info->dwFileVersionLS, 0x0000000Au);
    EXPECT_EQ(info->dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(info->dwProductVersionLS, 0x0000000Au);
    // ... and the platform reads its numbers from there.
    const platform::Version v = platform.version();
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.revision, 10);
}

// ---- standard output --------------------------------------------------------------

TEST_F(Backend, OutputToAPipeNobodyReadsNeverWaitsAndCountsWhatItDrops) {
    HANDLE reader = nullptr, writer = nullptr;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 4096));
    const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writer);
    platform::ScopeExit restore([&] {
        SetStdHandle(STD_OUTPUT_HANDLE, saved);
        CloseHandle(reader);
        CloseHandle(writer);
    });

    // Far more than the pipe and the queue hold, while nobody reads.
    constexpr int kLines = 1000;
    const auto text = [](int i) { return std::to_string(i) + ' ' + std::string(1000, 'x'); };
    auto writing = std::async(std::launch::async, [&] {
        for (int i = 0; i < kLines; ++i) platform.writeOutputLine(text(i));
    });
    // A hang guard only: on failure the reads below free the writes.
    EXPECT_EQ(writing.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "writing to a full pipe waited for a reader";

    // Everything that was kept arrives whole and in order once someone reads,
    // with notes that account for every line left out.
    bool lastWritten = false;
    const auto writeLastOnceDone = [&] {
        if (lastWritten || writing.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        platform.writeOutputLine("last");
        lastWritten = true;
    };
    writeLastOnceDone();
    std::string received;
    char buffer[65536];
    DWORD n = 0;
    while (received.find("\r\nlast\r\n") == std::string::npos &&
           ReadFile(reader, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        received.append(buffer, n);
        writeLastOnceDone();
    }
    writing.wait();

    std::istringstream lines(received);
    const std::regex note(R"(\((\d+) lines of output dropped\)\r)");
    int kept = 0, dropped = 0, next = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, note)) {
            dropped += std::stoi(m[1]);
        } else if (line != "last\r") {
            const int i = std::stoi(line);
            EXPECT_GE(i, next);
            EXPECT_EQ(line, text(i) + '\r');
            next = i + 1;
            ++kept;
        }
    }
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(kept + dropped, kLines);
}

// ---- the history file ------------------------------------------------------------

TEST(StateFile, AppendsReadsBackReplacesAndRefusesAFolder) {
    Win32StateFile file("history-backend-test.csv");
    DeleteFileW(widen(file.location()).c_str());
    EXPECT_NE(file.location().find("\\Tempikon\\history-backend-test.csv"), std::string::npos);
    EXPECT_TRUE(file.read(100).ok);
    EXPECT_EQ(file.read(100).text, "");
    ASSERT_TRUE(file.append("a,b\n").ok);
    ASSERT_TRUE(file.append("c,d\n").ok);
    EXPECT_EQ(file.read(100).text, "a,b\nc,d\n");
    EXPECT_FALSE(file.read(3).ok);
    EXPECT_EQ(file.read(3).reason, "too large");
    ASSERT_TRUE(file.replace("e\n").ok);
    EXPECT_EQ(file.read(100).text, "e\n");
    DeleteFileW(widen(file.location()).c_str());

    Win32StateFile folder("history-backend-test-folder");
    CreateDirectoryW(widen(folder.location()).c_str(), nullptr);
    EXPECT_FALSE(folder.read(100).ok);
    EXPECT_FALSE(folder.append("x\n").ok);
    RemoveDirectoryW(widen(folder.location()).c_str());
}

}  // namespace
}  // namespace tempikon::win32::test
