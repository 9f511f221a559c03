#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/config.h"
#include "core/ntp_packet.h"
#include "core/query/server_query.h"
#include "platform/clock.h"

namespace tempikon::core {

// The one plan every asker follows: which servers to ask and in what turn,
// and what an answer asks of the clock.

// NTP and NTS give a date with the time; Daytime a time of day alone.
bool GivesDate(Protocol protocol);

// One server's turn: the server as asked, whether it is the backup, and
// what it said.
struct Turn {
    ServerSpec server;
    bool backup = false;
    QueryAnswer answer;
};

// Asks the primary, then the backup when the primary gave no answer (a
// reply without a valid time is an answer: the backup is not asked then).
// config is read again after every wait, a dialog may change it meanwhile.
// onAsking hears each server before it is asked, onAnswer each answer. A
// shut-down query ends the turns at once. Returns the last turn.
Turn AskInTurn(ServerQuery& query, const Config& config, int ntpRequests,
               const std::function<void(const Turn&)>& onAsking,
               const std::function<void(const Turn&)>& onAnswer);

// Offset in hours -> whole minutes; halves round away from zero.
long long OffsetMinutes(float offsetHours);

// The instants whose local time is secondsOfDay on the local date `day`
// (days since 1970-01-01), earliest first: two in the hour repeated when
// summer time ends; in the hour skipped when it begins, the one instant the
// offset in force before the skip gives (the wall time lands after the gap).
std::vector<std::int64_t> LocalInstants(const platform::Clock& zone, std::int64_t day,
                                        long long secondsOfDay);

// What one setting does: the instant to set, the change it makes (d, whole
// seconds; 1 s either way shows as 0) and the local time of day it shows.
struct ClockPlan {
    std::int64_t micros = 0;
    long long d = 0;
    int localSecondsOfDay = 0;
};

// The server said serverSeconds (time of day); offsetHours is added; utc:
// that time of day is UTC rather than local. Of the instants with that time
// of day yesterday, today or tomorrow, the one nearest the clock's reading
// nowMicros is taken, so the clock never moves by more than 12 hours. The
// instant is the middle of the reported second plus delayMicros (half the
// round trip, plus the time since the reply came).
ClockPlan PlanClockSetting(int serverSeconds, float offsetHours, bool utc, std::int64_t nowMicros,
                           std::int64_t delayMicros, const platform::Clock& zone);

// An NTP sample and the offset in hours give the instant to set: the
// clock's reading nowMicros plus the sample's offset, whatever the date.
// d is the change rounded to whole seconds.
ClockPlan PlanNtpSetting(const ntp::Sample& sample, float offsetHours, std::int64_t nowMicros,
                         const platform::Clock& zone);

// How much older the last reply is than now (monotonicNow): half its round
// trip, plus the time since its first data came (a reply in pieces); 0
// when no data came.
std::int64_t ReplyAgeMicros(const QueryAnswer& answer, std::int64_t monotonicNow);

// What an answer asks of the clock read at nowMicros (monotonicNow on the
// monotonic clock): a sample is added to the clock with its date; a time of
// day goes to the nearest instant that has it. nullopt when the time text is
// no time of day.
std::optional<ClockPlan> PlanFrom(const QueryAnswer& answer, float offsetHours, bool utc,
                                  std::int64_t nowMicros, std::int64_t monotonicNow,
                                  const platform::Clock& zone);

}  // namespace tempikon::core
