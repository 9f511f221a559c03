#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <string>

#include "platform/qt/qt_platform.h"

// Shared by the backend tests: one QtPlatform per test process, made by
// createPlatform with no display in the environment, and a private
// XDG_CONFIG_HOME so that no test touches the user's settings.
namespace tempikon::qt::testing {

QtPlatform& platform();
// What createPlatform reported at start-up.
bool startedWithoutDisplay();
// The command line the platform was created with (after argv[0]).
const char* const* startArguments();
// The temporary XDG_CONFIG_HOME of this process.
const std::string& configHome();

// Handles events for about ms milliseconds.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits for events through the platform until pred holds; false when it
// does not hold within limitMs (a safety net, not a timing check).
inline bool waitUntil(const std::function<bool()>& pred, int limitMs = 10000) {
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&expired] { expired = true; });
    guard.start(limitMs);
    while (!pred() && !expired) platform().waitForEvents();
    return pred();
}

}  // namespace tempikon::qt::testing
