#include "core/set_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/correction.h"
#include "core/numbers.h"
#include "core/second_opinion.h"
#include "core/text.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {

constexpr long long kSecondsPerDay = 86'400;
constexpr std::int64_t kMicros = platform::kMicrosPerSecond;
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

std::vector<std::int64_t> LocalInstants(const platform::Clock& zone, std::int64_t day,
                                        long long secondsOfDay) {
    // The wall time read as if it were UTC; the offsets a day either side are
    // those before and after any change of summer time near it.
    const std::int64_t naive = (day * kSecondsPerDay + secondsOfDay) * kMicros;
    const std::int64_t before = zone.utcOffsetSeconds(naive - kSecondsPerDay * kMicros);
    const std::int64_t after = zone.utcOffsetSeconds(naive + kSecondsPerDay * kMicros);
    std::vector<std::int64_t> found;
    for (const std::int64_t offset : {before, after}) {
        const std::int64_t instant = naive - offset * kMicros;
        if (zone.utcOffsetSeconds(instant) == offset && (found.empty() || found.front() != instant))
            found.push_back(instant);
    }
    if (found.empty()) found.push_back(naive - before * kMicros);
    std::sort(found.begin(), found.end());
    return found;
}

ClockPlan PlanClockSetting(int serverSeconds, float offsetHours, bool utc, std::int64_t nowMicros,
                           std::int64_t delayMicros, const platform::Clock& zone) {
    const long long t = serverSeconds + OffsetMinutes(offsetHours) * 60;
    long long timeOfDay = t % kSecondsPerDay;
    if (timeOfDay < 0) timeOfDay += kSecondsPerDay;
    // The server wrote its second anywhere within it: aim at the middle.
    const std::int64_t correction = kMicros / 2 + std::max<std::int64_t>(delayMicros, 0);

    const std::int64_t dayOffset = utc ? 0 : zone.utcOffsetSeconds(nowMicros) * kMicros;
    const std::int64_t shifted = nowMicros + dayOffset;
    std::int64_t today = shifted / (kSecondsPerDay * kMicros);
    if (shifted % (kSecondsPerDay * kMicros) < 0) --today;

    std::optional<std::int64_t> best;
    auto distance = [nowMicros, correction](std::int64_t instant) {
        const std::int64_t m = instant + correction;
        return m > nowMicros ? m - nowMicros : nowMicros - m;
    };
    for (std::int64_t day = today - 1; day <= today + 1; ++day) {
        const std::vector<std::int64_t> instants =
            utc ? std::vector<std::int64_t>{(day * kSecondsPerDay + timeOfDay) * kMicros}
                : LocalInstants(zone, day, timeOfDay);
        for (const std::int64_t instant : instants)
            if (!best || distance(instant) < distance(*best)) best = instant;
    }

    ClockPlan plan;
    plan.micros = *best + correction;
    // As the clock reads in whole seconds, before and after.
    auto wholeSeconds = [](std::int64_t m) { return m / kMicros - (m % kMicros < 0 ? 1 : 0); };
    plan.d = wholeSeconds(plan.micros) - wholeSeconds(nowMicros);
    if (plan.d == 1 || plan.d == -1) plan.d = 0;
    // The time of day the server's second stands for; in a skipped hour, the
    // local time that instant really has.
    const platform::LocalDateTime local = zone.localAt(*best);
    plan.localSecondsOfDay = (local.hour * 60 + local.minute) * 60 + local.second;
    return plan;
}

std::string OutputLine(const SetResult& result) {
    if (result.correction.empty()) return result.status;
    return result.status + " (" + result.correction + ")";
}

ClockPlan PlanNtpSetting(const ntp::Sample& sample, float offsetHours, std::int64_t nowMicros,
                         const platform::Clock& zone) {
    ClockPlan plan;
    // The offset is relative to the clock, so the time spent since the
    // reply came does not matter.
    // An absurd stored offset is held at about 190 years, within 64 bits.
    constexpr long long kMaxMinutes = 100'000'000;
    const long long minutes = std::clamp(OffsetMinutes(offsetHours), -kMaxMinutes, kMaxMinutes);
    plan.micros = nowMicros + sample.offsetMicros + minutes * 60 * kMicros;
    const std::int64_t change = plan.micros - nowMicros;
    plan.d = (change + (change < 0 ? -kMicros / 2 : kMicros / 2)) / kMicros;
    const platform::LocalDateTime local = zone.localAt(plan.micros);
    plan.localSecondsOfDay = (local.hour * 60 + local.minute) * 60 + local.second;
    return plan;
}

std::int64_t ReplyAgeMicros(const QueryAnswer& answer, std::int64_t monotonicNow) {
    if (answer.roundTripMicros < 0) return 0;
    return answer.roundTripMicros / 2 + (monotonicNow - answer.firstDataMicros);
}

std::string FormatLocalDateTime(const platform::LocalDateTime& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::string LargeChangeQuestion(const LargeChange& change) {
    return "The time of " + EscapeText(change.server) + " is " + DistanceText(change.changeMicros) +
           " from this clock, more than MaxChange (" + std::to_string(change.maxChangeSeconds) +
           " s), and no second server agrees.\n\nThis clock: " + change.clockTime +
           "\nThe server: " + change.serverTime + "\n\nSet the clock to the server's time?";
}

ClockSetter::ClockSetter(platform::Platform& platform, ServerQuery& query)
    : platform_(platform), query_(query) {}

bool ClockSetter::secondOpinion(const Config& config, bool firstWasBackup,
                                std::int64_t changeMicros, std::vector<std::string>& failures,
                                const std::function<void(const std::string&)>& onAsking) {
    // The other configured server, whatever its protocol.
    if (!firstWasBackup && config.server2.empty()) return false;
    const ServerSpec other = firstWasBackup ? PrimaryServer(config) : BackupServer(config);
    const std::string name = EscapeText(other.host);
    onAsking(firstWasBackup ? other.host : other.host + " (Backup)");
    const QueryAnswer answer = query_.ask(other, config.timeout, kNtpBurstRequests);
    if (query_.isShutDown()) return false;
    for (const std::string& warning : answer.warnings)
        failures.push_back(name + ": the key server warns: " + warning);
    platform::Clock& clock = platform_.clock();
    const std::int64_t now = clock.nowMicros();
    std::optional<std::int64_t> otherChange;
    if (answer.sample) {
        otherChange = PlanNtpSetting(*answer.sample, other.offsetHours, now, clock).micros - now;
    } else if (!answer.timeText.empty()) {
        if (const auto seconds = ParseTimeOfDay(answer.timeText)) {
            const std::int64_t age = ReplyAgeMicros(answer, platform_.monotonicMicros());
            otherChange =
                PlanClockSetting(*seconds, other.offsetHours, other.utc, now, age, clock).micros -
                now;
        } else {
            failures.push_back(name + ": " + InvalidTimeFailure(answer.timeText).reason);
        }
    } else {
        failures.push_back(name + ": " + answer.failure.reason);
    }
    if (!otherChange) return false;
    if (Confirms(changeMicros, *otherChange, answer.hasDate())) return true;
    const bool beyondTimeOfDay = !answer.hasDate() && (changeMicros >= kTimeOfDayReachMicros ||
                                                       changeMicros <= -kTimeOfDayReachMicros);
    failures.push_back(
        name + ": " +
        (beyondTimeOfDay
             ? "a time of day alone cannot confirm a change of " + DistanceText(changeMicros)
             : "its time is " + DistanceText(*otherChange - changeMicros) +
                   " from the other server's; it does not confirm the change"));
    return false;
}

SetResult ClockSetter::run(const Config& config,
                           const std::function<void(const std::string&)>& onAsking,
                           const std::function<bool(const LargeChange&)>& askUser) {
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
    // The server as asked, before a dialog may change the configuration.
    ServerSpec asked = PrimaryServer(config);
    const auto ask = [&](const std::string& label) {
        onAsking(label);
        QueryAnswer answer = query_.ask(asked, config.timeout, kNtpBurstRequests);
        for (const std::string& warning : answer.warnings)
            failures.push_back(EscapeText(asked.host) + ": the key server warns: " + warning);
        if (!answer.any() && !query_.isShutDown())
            failures.push_back(EscapeText(asked.host) + ": " + answer.failure.reason);
        return answer;
    };
    QueryAnswer answer = ask(asked.host);
    // The window is closing: nothing may be reported or set any more.
    if (query_.isShutDown()) return skipped();
    bool backup = false;

    if (!answer.any() && !config.server2.empty()) {
        asked = BackupServer(config);
        answer = ask(asked.host + " (Backup)");
        if (query_.isShutDown()) return skipped();
        backup = true;
    }

    auto report = [this, &failures](std::string text, SetOutcome outcome) {
        last_ = outcome;
        return SetResult{outcome, std::move(text), std::move(failures)};
    };

    if (!answer.any())
        return report(QT_TRANSLATE_NOOP("Tempikon", "Couldn't reach timeserver(s)"),
                      SetOutcome::Unreachable);

    // Offsets are read now: a dialog may have changed them during the wait.
    const float offset = backup ? config.offset2 : config.offset;
    platform::Clock& clock = platform_.clock();
    ClockPlan plan;
    if (answer.sample) {
        plan = PlanNtpSetting(*answer.sample, offset, clock.nowMicros(), clock);
        const std::int64_t now = clock.nowMicros();
        const std::int64_t build = platform_.version().buildSeconds * kMicros;
        if (!WithinMaxChange(now, plan.micros, config.maxChange, build)) {
            const std::int64_t change = plan.micros - now;
            const bool confirmed = secondOpinion(config, backup, change, failures, onAsking);
            if (query_.isShutDown()) return skipped();
            // The line names the server whose time it is again.
            if (backup || !config.server2.empty())
                onAsking(backup ? asked.host + " (Backup)" : asked.host);
            if (!confirmed) {
                const LargeChange large{asked.host, FormatLocalDateTime(clock.localAt(now)),
                                        FormatLocalDateTime(clock.localAt(plan.micros)), change,
                                        config.maxChange};
                const bool yes = askUser && askUser(large);
                // A question handles events; the window may be gone now.
                if (query_.isShutDown()) return skipped();
                if (!yes) {
                    const std::string why =
                        NotConfirmedText(large.serverTime, change, config.maxChange);
                    failures.push_back(EscapeText(asked.host) + ": " + why);
                    return report(why, SetOutcome::NotConfirmed);
                }
            }
            // The sample's offset holds; the time spent asking does not count.
            plan = PlanNtpSetting(*answer.sample, offset, clock.nowMicros(), clock);
        }
    } else {
        const auto serverSeconds = ParseTimeOfDay(answer.timeText);
        if (!serverSeconds) {
            failures.push_back(EscapeText(asked.host) + ": " +
                               InvalidTimeFailure(answer.timeText).reason);
            return report(QT_TRANSLATE_NOOP("Tempikon", "Invalid data received"),
                          SetOutcome::InvalidData);
        }
        const bool utc = IsUtcZone(backup ? config.zone2 : config.zone);
        const std::int64_t delay = ReplyAgeMicros(answer, platform_.monotonicMicros());
        plan = PlanClockSetting(*serverSeconds, offset, utc, clock.nowMicros(), delay, clock);
    }
    // Small corrections are slewed, so that the clock never jumps back; a
    // slew the system refuses becomes a step.
    Correction correction =
        ChooseCorrection(plan.micros, clock.nowMicros(), config.step, clock.canSlew());
    platform::ClockResult result;
    if (correction.kind == CorrectionKind::Slew) {
        result = clock.slewMicros(correction.offsetMicros);
        if (!result.ok && !clock.canSlew() && !query_.isShutDown()) {
            correction = ChooseCorrection(plan.micros, clock.nowMicros(), "always", false);
            result = clock.setMicros(plan.micros);
        }
    } else {
        result = clock.setMicros(plan.micros);
    }
    // Setting the clock may have handled events; the window may be gone now.
    if (query_.isShutDown()) return skipped();
    if (!result.ok) {
        const std::string reason = result.reason.empty() ? "unknown error" : result.reason;
        return report("Couldn't set system clock: " + reason, SetOutcome::Refused);
    }
    SetResult set = report("Time set to " + FormatTimeOfDay(plan.localSecondsOfDay) +
                               " d=" + std::to_string(plan.d) + "s" + correction.statusSuffix,
                           SetOutcome::Set);
    set.correction = correction.word;
    set.server = asked.host;
    return set;
}

}  // namespace tempikon::core
