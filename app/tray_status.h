#pragma once

#include <cstdint>
#include <string>

#include "core/set_clock.h"
#include "platform/clock.h"
#include "platform/time_sync.h"
#include "platform/tray.h"

namespace tempikon::app {

// "2026-12-07 12:00:30": the same in every language.
std::string FormatDateTime(const platform::LocalDateTime& t);

// When the tray tells the user about a setting: once when settings start
// failing after one succeeded, and once when they succeed again. Every
// failed tick after the first stays quiet; so does a program that never
// managed a setting (its icon says so).
class NoticeRule {
public:
    // NotConfirmed: a large change was not made for want of a second
    // opinion; said once until another outcome comes between.
    enum class Notice { None, Failed, Recovered, NotConfirmed };
    Notice after(core::SetOutcome outcome);

private:
    enum class State { NeverSet, Ok, FailedAfterOk } state_ = State::NeverSet;
    bool notConfirmed_ = false;
};

platform::TrayState TrayStateFor(core::SetOutcome outcome);

// What the tray's tool tip and the window's lines say about the settings.
struct SettingRecord {
    // The last outcome's status line; empty before the first setting.
    std::string lastStatus;
    // Why it failed (the first reason); empty when it did not.
    std::string lastReason;
    // The last successful setting; empty when there was none.
    std::string lastSetAt;
    std::string lastServer;
    // Empty when no setting is scheduled.
    std::string nextAt;
    // Who else sets this clock (the system's automatic time); empty: nobody.
    std::string othersLine;
};

std::string LastSetLine(const SettingRecord& record);
std::string NextSettingLine(const SettingRecord& record);
// The title, the last outcome, when (and from where) the clock was last set,
// when the next setting is due and who else sets the clock, one line each.
// The line that says the system sets this clock too; empty when it does not.
std::string OthersSetClockLine(const platform::TimeSyncState& state);

std::string TrayToolTip(const std::string& title, const SettingRecord& record);

}  // namespace tempikon::app
