#include "core/plan.h"

#include <algorithm>
#include <cmath>

#include "core/time_text.h"

namespace tempikon::core {

namespace {

constexpr long long kSecondsPerDay = 86'400;
constexpr std::int64_t kMicros = platform::kMicrosPerSecond;
// Far beyond any real offset; keeps T and d within 64 bits for absurd ones.
constexpr double kMaxOffsetMinutes = 1e12;

}  // namespace

bool GivesDate(Protocol protocol) {
    return protocol == Protocol::Ntp || protocol == Protocol::Nts;
}

Turn AskInTurn(ServerQuery& query, const Config& config, int ntpRequests,
               const std::function<void(const Turn&)>& onAsking,
               const std::function<void(const Turn&)>& onAnswer) {
    Turn turn;
    for (const int which : {kPrimary, kBackup}) {
        // The backup only when the primary gave nothing, and only if there
        // is one (read now: the wait may have changed it).
        if (which == kBackup && (turn.answer.any() || config.backup().host.empty())) break;
        turn = {config.servers[which], which == kBackup, {}};
        onAsking(turn);
        turn.answer = query.ask(turn.server, config.timeout, ntpRequests);
        onAnswer(turn);
        if (query.isShutDown()) break;
    }
    return turn;
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

std::optional<ClockPlan> PlanFrom(const QueryAnswer& answer, float offsetHours, bool utc,
                                  std::int64_t nowMicros, std::int64_t monotonicNow,
                                  const platform::Clock& zone) {
    if (answer.sample) return PlanNtpSetting(*answer.sample, offsetHours, nowMicros, zone);
    const std::optional<int> serverSeconds = ParseTimeOfDay(answer.timeText);
    if (!serverSeconds) return std::nullopt;
    return PlanClockSetting(*serverSeconds, offsetHours, utc, nowMicros,
                            ReplyAgeMicros(answer, monotonicNow), zone);
}

}  // namespace tempikon::core
