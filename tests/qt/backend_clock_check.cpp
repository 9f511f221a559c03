// Exercises the real clock backend. It must run without CAP_SYS_TIME (under
// capsh --drop=cap_sys_time) and refuses to run otherwise, so that it can
// never set the machine's clock.
//   record <log>  with the recorder preloaded: the times asked for are
//                 recorded as today's date at that local time of day
//   refused       without the recorder: the kernel refuses, and the reason
//                 is reported
//   slew <log> [refused]
//                 with the recorder preloaded: slews are recorded with the
//                 offset asked for (refused: and refused as the kernel
//                 does); reads of the slew pass through unrecorded
//   step <log> [EPERM|EINVAL|EOPNOTSUPP]
//                 with the recorder preloaded: steps by an offset, accepted,
//                 refused for lack of the right, or refused in that form
//   guard         the capability test agrees with the kernel's own answer
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

struct Recorded {
    long long seconds = 0;
    std::string date, time, call, value;
};

std::vector<Recorded> readLog(const std::string& path) {
    std::vector<Recorded> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Recorded r;
        fields >> r.seconds >> r.date >> r.time >> r.call >> r.value;
        out.push_back(r);
    }
    return out;
}

// The seconds of "value=<seconds.nanoseconds>".
double valueSeconds(const Recorded& r) {
    return r.value.rfind("value=", 0) == 0 ? std::stod(r.value.substr(6)) : 0;
}

// The real clock at the call ("at=<seconds.nanoseconds>", the sixth field).
double atSeconds(const std::string& path, std::size_t index) {
    std::ifstream in(path);
    std::string line;
    for (std::size_t i = 0; std::getline(in, line); ++i) {
        if (i != index) continue;
        const std::size_t at = line.find(" at=");
        return at == std::string::npos ? 0 : std::stod(line.substr(at + 4));
    }
    return 0;
}

std::string twoDigits(int v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

int record(const std::string& log) {
    std::remove(log.c_str());
    const std::int64_t now = tempikon::qt::systemNowMicros();
    // An hour ahead, a day back, and a fraction of a second into the future.
    const std::int64_t asks[] = {now + 3'600'000'000LL, now - 86'400'000'000LL, now + 250'000};
    for (const std::int64_t ask : asks) {
        const tempikon::platform::ClockResult result = tempikon::qt::setSystemMicros(ask);
        check(result.ok, "setting succeeds: " + result.reason);
    }
    const std::vector<Recorded> lines = readLog(log);
    check(lines.size() == 3, "three settings recorded, got " + std::to_string(lines.size()));
    for (std::size_t i = 0; i < lines.size() && i < 3; ++i) {
        const Recorded& r = lines[i];
        check(r.call == "clock_settime", "made through clock_settime: " + r.call);
        check(r.seconds == asks[i] / 1'000'000, "the instant asked for, to the second");
        // The zone offset the program uses gives the local time the C
        // library shows for that instant.
        const tempikon::platform::LocalDateTime local = tempikon::qt::QtClock().localAt(asks[i]);
        const std::string date =
            std::to_string(local.year) + "-" + twoDigits(local.month) + "-" + twoDigits(local.day);
        const std::string time =
            twoDigits(local.hour) + ":" + twoDigits(local.minute) + ":" + twoDigits(local.second);
        check(r.date == date && r.time == time,
              "local reading " + date + " " + time + ", C library " + r.date + " " + r.time);
    }
    return failures == 0 ? 0 : 1;
}

// Steps by an offset: made by clock_adjtime(ADJ_SETOFFSET), which the
// recorder logs as the instant it gives; where that form is refused
// (refusal: EINVAL, EOPNOTSUPP, ENOSYS) the clock is read and set by
// clock_settime; a refusal of the right (EPERM) is final.
int step(const std::string& log, const std::string& refusal) {
    std::remove(log.c_str());
    const std::int64_t asks[] = {3'600'000'000LL, -86'400'000'000LL, 1, -1, -1'500'001};
    const bool perm = refusal == "EPERM";
    const bool fallback = !refusal.empty() && !perm;
    for (const std::int64_t ask : asks) {
        const tempikon::platform::ClockResult result = tempikon::qt::stepSystemMicros(ask);
        if (perm)
            check(!result.ok && result.reason == "Operation not permitted",
                  "refused without the right: " + result.reason);
        else
            check(result.ok, "the step succeeds: " + result.reason);
    }
    const std::vector<Recorded> lines = readLog(log);
    const std::size_t perAsk = fallback ? 2 : 1;
    check(lines.size() == perAsk * std::size(asks),
          "calls recorded: " + std::to_string(lines.size()));
    for (std::size_t i = 0; i < std::size(asks) && (i + 1) * perAsk <= lines.size(); ++i) {
        const std::size_t first = i * perAsk;
        check(lines[first].call ==
                  std::string(fallback ? "refused:" : "") + "clock_adjtime(ADJ_SETOFFSET)",
              "tried as a step by an offset: " + lines[first].call);
        const std::size_t made = first + perAsk - 1;
        if (fallback) check(lines[made].call == "clock_settime", "then set: " + lines[made].call);
        // The instant set less the real clock at the call is the offset, to
        // within the few microseconds between the reading and the call.
        const double error = valueSeconds(lines[made]) - atSeconds(log, made) - asks[i] / 1e6;
        check(error > -0.002 && error <= 0.000'001,
              "the offset lands relative to the clock at the call: " + std::to_string(error));
    }
    return failures == 0 ? 0 : 1;
}

int refused() {
    const std::int64_t now = tempikon::qt::systemNowMicros();
    const tempikon::platform::ClockResult result = tempikon::qt::setSystemMicros(now);
    check(!result.ok, "the kernel refuses without CAP_SYS_TIME");
    check(result.reason == "Operation not permitted", "reason: " + result.reason);
    // The kernel refuses a step by an offset for the right first, not for
    // its form: the time service then takes over rather than clock_settime.
    const tempikon::platform::ClockResult stepped = tempikon::qt::stepSystemMicros(-1);
    check(!stepped.ok && stepped.reason == "Operation not permitted",
          "a step is refused for the right: " + stepped.reason);
    const tempikon::platform::ClockResult bad = tempikon::qt::setSystemMicros(-1'000'000);
    check(!bad.ok && !bad.reason.empty(), "an instant before 1970 is refused");
    check(now > 1'577'836'800'000'000LL, "nowMicros() reads the clock");
    return failures == 0 ? 0 : 1;
}

int slew(const std::string& log, bool refusing) {
    std::remove(log.c_str());
    tempikon::qt::QtClock clock;
    // The kernel's answer decides, as it does for a setting.
    check(clock.canSlew(), "a slew is tried before the kernel refuses one");
    struct Ask {
        std::int64_t offset;
        const char* value;
    };
    const Ask asks[] = {{100'000, "value=0.100000000"},
                        {-250'000, "value=-0.250000000"},
                        {-1'500'001, "value=-1.500001000"}};
    std::vector<std::int64_t> before;
    for (const Ask& ask : asks) {
        before.push_back(tempikon::qt::systemNowMicros());
        const tempikon::platform::ClockResult result = clock.slewMicros(ask.offset);
        if (refusing) {
            check(!result.ok && result.reason == "Operation not permitted",
                  "the slew is refused: " + result.reason);
        } else {
            check(result.ok, "the slew succeeds: " + result.reason);
        }
        // Reads of what is left must reach the kernel and stay unrecorded.
        timeval left{};
        check(adjtime(nullptr, &left) == 0, "adjtime read passes through");
        timex read{};
        check(adjtimex(&read) >= 0, "adjtimex read passes through");
    }
    // Once refused, settings go to the time service, which only steps.
    check(clock.canSlew() == !refusing, "a refused slew ends slewing");
    // The other ways to slew or shift the clock, made straight.
    timex single{};
    single.modes = ADJ_OFFSET_SINGLESHOT;
    single.offset = 20'000;
    const int singleResult = adjtimex(&single);
    timex nano{};
    nano.modes = ADJ_OFFSET | ADJ_NANO;
    nano.offset = -5'000'000;
    const int nanoResult = ntp_adjtime(&nano);
    timex shift{};
    shift.modes = ADJ_SETOFFSET;
    shift.time.tv_sec = -1;
    shift.time.tv_usec = 500'000;
    const int shiftResult = clock_adjtime(CLOCK_REALTIME, &shift);
    for (const int result : {singleResult, nanoResult, shiftResult})
        check(refusing ? result == -1 && errno == EPERM : result == TIME_OK,
              "direct call answered as a setting is: " + std::to_string(result));

    const std::vector<std::string> calls = {
        "adjtime", "adjtime", "adjtime", "adjtimex", "ntp_adjtime", "clock_adjtime(ADJ_SETOFFSET)"};
    const std::vector<std::string> values = {asks[0].value, asks[1].value, asks[2].value,
                                             "value=0.020000000", "value=-0.005000000"};
    const std::vector<Recorded> lines = readLog(log);
    check(lines.size() == calls.size(), "six calls recorded, got " + std::to_string(lines.size()));
    for (std::size_t i = 0; i < lines.size() && i < calls.size(); ++i) {
        const Recorded& r = lines[i];
        check(r.call == calls[i], "made through " + calls[i] + ": " + r.call);
        if (i < values.size()) check(r.value == values[i], "offset asked for: " + r.value);
    }
    // A step by an offset is recorded as the instant it sets.
    if (lines.size() == calls.size()) {
        const double shifted = valueSeconds(lines[5]);
        const double expected = static_cast<double>(tempikon::qt::systemNowMicros()) / 1e6 - 0.5;
        check(shifted > expected - 1 && shifted <= expected, "steps back half a second");
    }
    // The time in front is where the slew leads.
    for (std::size_t i = 0; i < lines.size() && i < 3; ++i) {
        const long long target = (before[i] + asks[i].offset) / 1'000'000;
        check(lines[i].seconds >= target && lines[i].seconds <= target + 1,
              "leads to now plus the offset: " + std::to_string(lines[i].seconds));
    }
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
    if (mode == "step" && (argc == 3 || argc == 4)) return step(argv[2], argc == 4 ? argv[3] : "");
    if (mode == "slew" && (argc == 3 || (argc == 4 && std::string(argv[3]) == "refused")))
        return slew(argv[2], argc == 4);
    std::fprintf(
        stderr,
        "usage: %s record <log> | slew <log> [refused] | step <log> [error] | refused | guard\n",
        argv[0]);
    return 2;
}
