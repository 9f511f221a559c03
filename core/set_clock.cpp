#include "core/set_clock.h"

#include "core/correction.h"
#include "core/numbers.h"
#include "core/plan.h"
#include "core/text.h"
#include "core/time_text.h"
#include "platform/reentrance.h"
#include "platform/translate.h"

namespace tempikon::core {

ClockSetter::ClockSetter(platform::Platform& platform, ServerQuery& query)
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
    const std::int64_t plannedAt = clock.nowMicros();
    const std::optional<ClockPlan> planned = PlanFrom(
        answer, now.offsetHours, now.utc, plannedAt, platform_.monotonicMicros(), clock);
    if (!planned) {
        failures.push_back(EscapeText(turn.server.host) + ": " +
                           InvalidTimeFailure(answer.timeText).reason);
        return report(QT_TRANSLATE_NOOP("Tempikon", "Invalid data received"),
                      SetOutcome::InvalidData);
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
