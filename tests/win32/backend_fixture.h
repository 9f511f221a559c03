#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace tempikon::win32::test {

// The real backend on the test's thread. Waits are bounded by a guard timer
// so that a fault shows as a failed expectation, never as a hung test.
class Backend : public ::testing::Test {
protected:
    Win32Platform platform{GetModuleHandleW(nullptr), /*headless=*/true};

    // Handles events until done() holds; false when the guard ran out first.
    bool waitUntil(const std::function<bool()>& done, int guardMs = 20000) {
        auto guard = platform.createTimer();
        bool expired = false;
        guard->onTimer = [&] { expired = true; };
        guard->setInterval(guardMs);
        // Conditions set by other threads (the test servers) send no message:
        // a pacer wakes the wait to look again.
        auto pacer = platform.createTimer();
        pacer->setInterval(10);
        while (!done() && !expired) platform.waitForEvents();
        return done();
    }

    // Handles events for a while, for checks that something does not happen.
    void settle(int ms = 300) {
        auto timer = platform.createTimer();
        bool over = false;
        timer->onTimer = [&] { over = true; };
        timer->setInterval(ms);
        while (!over) platform.waitForEvents();
    }
};

inline std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> list;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        list.push_back(child);
    return list;
}

}  // namespace tempikon::win32::test
