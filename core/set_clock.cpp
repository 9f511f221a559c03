#include "core/set_clock.h"

#include <cstdio>

#include "core/correction.h"
#include "core/numbers.h"
#include "core/plan.h"
#include "core/second_opinion.h"
#include "core/text.h"
#include "core/time_text.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

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
    if (!firstWasBackup && config.backup().host.empty()) return false;
    const ServerSpec other = config.servers[firstWasBackup ? kPrimary : kBackup];
    const std::string name = EscapeText(other.host);
    onAsking(firstWasBackup ? other.host : other.host + " (Backup)");
    const QueryAnswer answer = query_.ask(other, config.timeout, kNtpBurstRequests);
    if (query_.isShutDown()) return false;
    for (const std::string& warning : answer.warnings)
        failures.push_back(name + ": the key server warns: " + warning);
    platform::Clock& clock = platform_.clock();
    const std::int64_t now = clock.nowMicros();
    std::optional<std::int64_t> otherChange;
    if (answer.any()) {
        const std::optional<ClockPlan> plan = PlanFrom(answer, other.offsetHours, other.utc, now,
                                                       platform_.monotonicMicros(), clock);
        if (plan)
            otherChange = plan->micros - now;
        else
            failures.push_back(name + ": " + InvalidTimeFailure(answer.timeText).reason);
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
    const Turn turn = AskInTurn(
        query_, config, kNtpBurstRequests,
        [&](const Turn& t) { onAsking(t.backup ? t.server.host + " (Backup)" : t.server.host); },
        [&](const Turn& t) {
            const std::string host = EscapeText(t.server.host);
            for (const std::string& warning : t.answer.warnings)
                failures.push_back(host + ": the key server warns: " + warning);
            if (!t.answer.any() && !query_.isShutDown())
                failures.push_back(host + ": " + t.answer.failure.reason);
        });
    // The window is closing: nothing may be reported or set any more.
    if (query_.isShutDown()) return skipped();
    const QueryAnswer& answer = turn.answer;

    std::optional<std::int64_t> measured;
    std::optional<std::int64_t> roundTrip;
    auto report = [&, this](std::string text, SetOutcome outcome) {
        last_ = outcome;
        SetResult result{outcome, std::move(text), std::move(failures)};
        result.server = turn.server.host;
        const std::optional<Protocol> protocol = turn.server.protocol.kind();
        result.protocol = protocol ? ProtocolName(*protocol) : Trim(turn.server.protocol.text());
        result.offsetMicros = measured;
        result.roundTripMicros = roundTrip;
        return result;
    };

    if (!answer.any())
        return report(QT_TRANSLATE_NOOP("Tempikon", "Couldn't reach timeserver(s)"),
                      SetOutcome::Unreachable);

    // The offset and zone are read now: a dialog may have changed them
    // during the wait.
    const ServerSpec& now = config.servers[turn.backup ? kBackup : kPrimary];
    platform::Clock& clock = platform_.clock();
    // The reading the plan starts from; the clock gets the change from it.
    std::int64_t plannedAt = clock.nowMicros();
    std::optional<ClockPlan> planned = PlanFrom(answer, now.offsetHours, now.utc, plannedAt,
                                                platform_.monotonicMicros(), clock);
    if (!planned) {
        failures.push_back(EscapeText(turn.server.host) + ": " +
                           InvalidTimeFailure(answer.timeText).reason);
        return report(QT_TRANSLATE_NOOP("Tempikon", "Invalid data received"),
                      SetOutcome::InvalidData);
    }
    // A date from one server may move the clock only so far (a Daytime
    // time of day never moves it by more than 12 hours).
    const std::int64_t build = platform_.version().buildSeconds * platform::kMicrosPerSecond;
    if (answer.hasDate() && !WithinMaxChange(plannedAt, planned->micros, config.maxChange, build)) {
        const std::int64_t change = planned->micros - plannedAt;
        const bool confirmed = secondOpinion(config, turn.backup, change, failures, onAsking);
        if (query_.isShutDown()) return skipped();
        // The line names the server whose time it is again.
        const std::string& host = turn.server.host;
        if (turn.backup || !config.backup().host.empty())
            onAsking(turn.backup ? host + " (Backup)" : host);
        if (!confirmed) {
            const LargeChange large{host, FormatLocalDateTime(clock.localAt(plannedAt)),
                                    FormatLocalDateTime(clock.localAt(planned->micros)), change,
                                    config.maxChange};
            const bool yes = askUser && askUser(large);
            // A question handles events; the window may be gone now.
            if (query_.isShutDown()) return skipped();
            if (!yes) {
                const std::string why =
                    NotConfirmedText(large.serverTime, change, config.maxChange);
                failures.push_back(EscapeText(host) + ": " + why);
                return report(why, SetOutcome::NotConfirmed);
            }
        }
        // The sample's offset holds; the time spent asking does not count.
        plannedAt = clock.nowMicros();
        planned = PlanFrom(answer, now.offsetHours, now.utc, plannedAt,
                           platform_.monotonicMicros(), clock);
    }
    const ClockPlan& plan = *planned;
    // Small corrections are slewed, so that the clock never jumps back; a
    // slew the system refuses becomes a step.
    Correction correction = ChooseCorrection(plan.micros, plannedAt, config.step, clock.canSlew());
    measured = correction.offsetMicros;
    roundTrip = answer.sample ? answer.sample->delayMicros : answer.roundTripMicros;
    platform::ClockResult result;
    if (correction.kind == CorrectionKind::Slew) {
        result = clock.slewMicros(correction.offsetMicros);
        if (!result.ok && !clock.canSlew() && !query_.isShutDown()) {
            correction = ChooseCorrection(plan.micros, plannedAt, "always", false);
            result = clock.stepMicros(plan.micros - plannedAt);
        }
    } else {
        result = clock.stepMicros(plan.micros - plannedAt);
    }
    // Setting the clock may have handled events; the window may be gone now.
    if (query_.isShutDown()) return skipped();
    if (!result.ok) {
        const std::string reason = result.reason.empty() ? "unknown error" : result.reason;
        return report("Couldn't set system clock: " + reason, SetOutcome::Refused);
    }
    const bool authenticated = turn.server.protocol.kind() == Protocol::Nts;
    SetResult set = report("Time set to " + FormatTimeOfDay(plan.localSecondsOfDay) +
                               " d=" + std::to_string(plan.d) + "s" + correction.statusSuffix +
                               (authenticated ? ", authenticated (NTS)" : ""),
                           SetOutcome::Set);
    set.correction = correction.word;
    if (authenticated) set.authenticatedBy = answer.ntsSubject;
    return set;
}

}  // namespace tempikon::core
