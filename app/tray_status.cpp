#include "app/tray_status.h"

#include <cstdio>

#include "platform/translate.h"

namespace tempikon::app {

namespace {
// Built from parts; the backend translates them by these patterns.
const char* const kLastSet = QT_TRANSLATE_NOOP("Tempikon", "Last set: %1");
const char* const kLastSetFrom = QT_TRANSLATE_NOOP("Tempikon", "Last set: %1 from %2");
const char* const kNextSetting = QT_TRANSLATE_NOOP("Tempikon", "Next setting: %1");
const char* const kSystemSets =
    QT_TRANSLATE_NOOP("Tempikon", "The system's automatic time also sets this clock");
const char* const kDaemonSets = QT_TRANSLATE_NOOP("Tempikon", "%1 also sets this clock");

std::string Fill(const char* pattern, const std::string& first, const std::string& second = {}) {
    std::string text;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (p[0] == '%' && (p[1] == '1' || p[1] == '2')) {
            text += p[1] == '1' ? first : second;
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}
}  // namespace

std::string FormatDateTime(const platform::LocalDateTime& t) {
    return core::FormatLocalDateTime(t);
}

NoticeRule::Notice NoticeRule::after(core::SetOutcome outcome) {
    const bool saidAlready = notConfirmed_;
    if (outcome != core::SetOutcome::Skipped && outcome != core::SetOutcome::None)
        notConfirmed_ = outcome == core::SetOutcome::NotConfirmed;
    switch (outcome) {
        case core::SetOutcome::NotConfirmed:
            if (state_ == State::Ok) state_ = State::FailedAfterOk;
            return saidAlready ? Notice::None : Notice::NotConfirmed;
        case core::SetOutcome::Set: {
            const bool recovered = state_ == State::FailedAfterOk;
            state_ = State::Ok;
            return recovered ? Notice::Recovered : Notice::None;
        }
        case core::SetOutcome::Unreachable:
        case core::SetOutcome::InvalidData:
        case core::SetOutcome::Refused:
            if (state_ != State::Ok) return Notice::None;
            state_ = State::FailedAfterOk;
            return Notice::Failed;
        case core::SetOutcome::Skipped:
        case core::SetOutcome::None:
            break;
    }
    return Notice::None;
}

platform::TrayState TrayStateFor(core::SetOutcome outcome) {
    switch (outcome) {
        case core::SetOutcome::Set:
            return platform::TrayState::Ok;
        case core::SetOutcome::Unreachable:
        case core::SetOutcome::InvalidData:
        case core::SetOutcome::Refused:
        case core::SetOutcome::NotConfirmed:
            return platform::TrayState::Failed;
        case core::SetOutcome::Skipped:
        case core::SetOutcome::None:
            break;
    }
    return platform::TrayState::Unknown;
}

std::string LastSetLine(const SettingRecord& record) {
    return record.lastSetAt.empty() ? std::string() : Fill(kLastSet, record.lastSetAt);
}

std::string NextSettingLine(const SettingRecord& record) {
    return record.nextAt.empty() ? std::string() : Fill(kNextSetting, record.nextAt);
}

std::string OthersSetClockLine(const platform::TimeSyncState& state) {
    if (state.known && state.on) return kSystemSets;
    if (!state.daemon.empty()) return Fill(kDaemonSets, state.daemon);
    return {};
}

std::string TrayToolTip(const std::string& title, const SettingRecord& record) {
    std::string tip = title;
    if (!record.lastStatus.empty()) {
        tip += '\n';
        tip += record.lastStatus;
    }
    if (!record.lastReason.empty()) {
        tip += '\n';
        tip += record.lastReason;
    }
    if (!record.lastSetAt.empty()) {
        tip += '\n';
        tip += Fill(kLastSetFrom, record.lastSetAt, record.lastServer);
    }
    if (!record.nextAt.empty()) {
        tip += '\n';
        tip += NextSettingLine(record);
    }
    if (!record.othersLine.empty()) {
        tip += '\n';
        tip += record.othersLine;
    }
    return tip;
}

}  // namespace tempikon::app
