#include "core/set_clock.h"

#include <cmath>
#include <cstdio>

#include "core/numbers.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {

constexpr long long kSecondsPerDay = 86'400;
// Far beyond any real offset; keeps T and d within 64 bits for absurd ones.
constexpr double kMaxOffsetMinutes = 1e12;

// One or two digits at text[i]; advances i.
std::optional<int> TwoDigits(std::string_view text, std::size_t& i) {
    int value = 0;
    int count = 0;
    while (i < text.size() && count < 2 && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int> ParseTimeOfDay(std::string_view text) {
    const std::string t = Trim(text);
    std::size_t i = 0;
    const auto hours = TwoDigits(t, i);
    if (!hours || *hours > 23 || i >= t.size() || t[i] != ':') return std::nullopt;
    ++i;
    const auto minutes = TwoDigits(t, i);
    if (!minutes || *minutes > 59) return std::nullopt;
    int seconds = 0;
    if (i < t.size()) {
        if (t[i] != ':') return std::nullopt;
        ++i;
        const auto s = TwoDigits(t, i);
        if (!s || *s > 59) return std::nullopt;
        seconds = *s;
    }
    if (i != t.size()) return std::nullopt;
    return (*hours * 60 + *minutes) * 60 + seconds;
}

std::string FormatTimeOfDay(int secondsOfDay) {
    long long s = secondsOfDay % kSecondsPerDay;
    if (s < 0) s += kSecondsPerDay;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

long long OffsetMinutes(float offsetHours) {
    const double minutes = static_cast<double>(offsetHours) * 60.0;
    if (std::isnan(minutes)) return 0;
    // std::round takes halves away from zero.
    const double rounded =
        std::round(std::fmax(-kMaxOffsetMinutes, std::fmin(minutes, kMaxOffsetMinutes)));
    return static_cast<long long>(rounded);
}

ClockSetter::ClockSetter(platform::Platform& platform, DaytimeQuery& query)
    : platform_(platform), query_(query) {}

SetResult ClockSetter::run(const Config& config,
                           const std::function<void(const std::string&)>& onAsking) {
    auto skipped = [this] {
        last_ = SetOutcome::Skipped;
        return SetResult{SetOutcome::Skipped, {}, {}};
    };
    // Another setting or a dialog check is waiting: leave it undisturbed.
    // Setting the clock can wait too (the system may ask for a password).
    if (running_ || query_.isBusy()) return skipped();
    running_ = true;
    const platform::ScopeExit runEnd([this] { running_ = false; });

    std::vector<std::string> failures;
    // The host as asked, before a dialog may change the configuration.
    std::string asked = config.server;
    onAsking(asked);
    std::string timeText = query_.ask(asked, config.timeout);
    // The window is closing: nothing may be reported or set any more.
    if (query_.isShutDown()) return skipped();
    bool backup = false;

    if (timeText.empty() && !config.server2.empty()) {
        failures.push_back(asked + ": " + query_.lastFailure().reason);
        asked = config.server2;
        onAsking(asked + " (Backup)");
        timeText = query_.ask(asked, config.timeout);
        if (query_.isShutDown()) return skipped();
        backup = true;
    }

    auto report = [this, &failures](std::string text, SetOutcome outcome) {
        last_ = outcome;
        return SetResult{outcome, std::move(text), std::move(failures)};
    };

    if (timeText.empty()) {
        failures.push_back(asked + ": " + query_.lastFailure().reason);
        return report(QT_TRANSLATE_NOOP("Tempikon", "Couldn't reach timeserver(s)"),
                      SetOutcome::Unreachable);
    }
    const auto serverSeconds = ParseTimeOfDay(timeText);
    if (!serverSeconds) {
        failures.push_back(asked + ": " + InvalidTimeFailure(timeText).reason);
        return report(QT_TRANSLATE_NOOP("Tempikon", "Invalid data received"),
                      SetOutcome::InvalidData);
    }

    // Offsets are read now: a dialog may have changed them during the wait.
    const float offset = backup ? config.offset2 : config.offset;
    const long long t = *serverSeconds + OffsetMinutes(offset) * 60;
    const platform::LocalDateTime now = platform_.clock().now();
    const long long c = (now.hour * 60LL + now.minute) * 60 + now.second;
    long long d = t - c;
    if (d == 1 || d == -1) d = 0;

    long long timeOfDay = t % kSecondsPerDay;
    if (timeOfDay < 0) timeOfDay += kSecondsPerDay;
    const int hour = static_cast<int>(timeOfDay / 3600);
    const int minute = static_cast<int>(timeOfDay / 60 % 60);
    const int second = static_cast<int>(timeOfDay % 60);
    const platform::ClockResult result = platform_.clock().setLocalTimeOfDay(hour, minute, second);
    // Setting the clock may have handled events; the window may be gone now.
    if (query_.isShutDown()) return skipped();
    if (!result.ok) {
        const std::string reason = result.reason.empty() ? "unknown error" : result.reason;
        return report("Couldn't set system clock: " + reason, SetOutcome::Refused);
    }
    return report("Time set to " + FormatTimeOfDay(static_cast<int>(timeOfDay)) +
                      " d=" + std::to_string(d) + "s",
                  SetOutcome::Set);
}

}  // namespace tempikon::core
