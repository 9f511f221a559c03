// Exercises the real clock backend. It must run without CAP_SYS_TIME (under
// capsh --drop=cap_sys_time) and refuses to run otherwise, so that it can
// never set the machine's clock.
//   record <log>  with the recorder preloaded: the times asked for are
//                 recorded as today's date at that local time of day
//   refused       without the recorder: the kernel refuses, and the reason
//                 is reported
//   guard         the capability test agrees with the kernel's own answer
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/qt/qt_clock.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

// CAP_SYS_TIME in the effective set, as /proc/self/status shows it.
bool statusSaysSysTime() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> CAP_SYS_TIME) & 1u;
        }
    }
    return true;  // unknown: assume the worst
}

bool kernelSaysSysTime() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return true;
    return (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) != 0;
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

struct Recorded {
    long long seconds = 0;
    std::string date, time, call;
};

std::vector<Recorded> readLog(const std::string& path) {
    std::vector<Recorded> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Recorded r;
        fields >> r.seconds >> r.date >> r.time >> r.call;
        out.push_back(r);
    }
    return out;
}

std::string localTimeOf(long long seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

int record(const std::string& log) {
    std::remove(log.c_str());
    const std::string dayBefore = today();
    const struct {
        int h, m, s;
        const char* text;
    } asks[] = {{3, 4, 5, "03:04:05"}, {23, 59, 59, "23:59:59"}, {0, 0, 0, "00:00:00"}};
    for (const auto& ask : asks) {
        const tempikon::platform::ClockResult result =
            tempikon::qt::setSystemLocalTimeOfDay(ask.h, ask.m, ask.s);
        check(result.ok, std::string("setting ") + ask.text + " succeeds: " + result.reason);
    }
    const std::string dayAfter = today();
    const std::vector<Recorded> lines = readLog(log);
    check(lines.size() == 3, "three settings recorded, got " + std::to_string(lines.size()));
    for (std::size_t i = 0; i < lines.size() && i < 3; ++i) {
        const Recorded& r = lines[i];
        check(r.call == "clock_settime", "made through clock_settime: " + r.call);
        check(r.time == asks[i].text,
              std::string("time of day ") + asks[i].text + ", got " + r.time);
        check(r.date == dayBefore || r.date == dayAfter, "today's date kept, got " + r.date);
        // The seconds since the epoch name the same local moment.
        check(localTimeOf(r.seconds, "%H:%M:%S") == asks[i].text,
              "epoch seconds are the local time asked for");
        check(localTimeOf(r.seconds, "%Y-%m-%d") == r.date, "epoch seconds are on that date");
    }
    return failures == 0 ? 0 : 1;
}

int refused() {
    const tempikon::platform::ClockResult result = tempikon::qt::setSystemLocalTimeOfDay(3, 4, 5);
    check(!result.ok, "the kernel refuses without CAP_SYS_TIME");
    check(result.reason == "Operation not permitted", "reason: " + result.reason);
    const tempikon::platform::ClockResult bad = tempikon::qt::setSystemLocalTimeOfDay(24, 0, 0);
    check(!bad.ok && !bad.reason.empty(), "24:00:00 is no time of day");
    const tempikon::platform::LocalDateTime now = tempikon::qt::systemLocalNow();
    check(now.year >= 2020 && now.month >= 1 && now.month <= 12, "now() reads the clock");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "guard") {
        check(statusSaysSysTime() == kernelSaysSysTime(), "CapEff agrees with capget()");
        return failures == 0 ? 0 : 1;
    }
    if (statusSaysSysTime()) {
        std::fprintf(stderr,
                     "Refusing to run with CAP_SYS_TIME: start me under "
                     "capsh --drop=cap_sys_time --\n");
        return 1;
    }
    if (mode == "record" && argc == 3) return record(argv[2]);
    if (mode == "refused") return refused();
    std::fprintf(stderr, "usage: %s record <log> | refused | guard\n", argv[0]);
    return 2;
}
