#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/time_sync.h"

class QDBusError;
class QDBusMessage;

// Setting the clock as a normal user: systemd's time service on the system
// bus (org.freedesktop.timedate1), which asks for a password through polkit.
namespace tempikon::qt {

// The short reasons behind "Couldn't set system clock: ".
inline constexpr const char* kReasonAutoSync = "automatic time synchronisation is on";
inline constexpr const char* kReasonNotAuthorised = "not authorised";
inline constexpr const char* kReasonNoService = "no time service on this system";
inline constexpr const char* kReasonNoAnswer = "the time service did not answer";

// The short reason for an error the service (or the bus) returned.
std::string TimedateErrorReason(const QString& errorName, const QString& message);

class TimedateClient {
public:
    // A polkit password prompt may stay open for a long time.
    static constexpr int kDefaultTimeoutMs = 120000;

    // The bus address comes from DBUS_SYSTEM_BUS_ADDRESS, else the standard
    // system bus socket.
    explicit TimedateClient(int timeoutMs = kDefaultTimeoutMs);
    ~TimedateClient();
    TimedateClient(const TimedateClient&) = delete;
    TimedateClient& operator=(const TimedateClient&) = delete;

    // SetTime(usec, relative, interactive=true): usec is an instant (UTC), or
    // with relative an offset the service adds to the clock when it acts,
    // after any password prompt. Handles window events until the service
    // answers or the time-out passes.
    platform::ClockResult setTime(std::int64_t usec, bool relative = false);
    // The program is ending: the waiting call gives up at once.
    void abandon() { abandoned_ = true; }

    // The service's NTP and CanNTP properties (known stays false when it
    // does not answer); the daemon is not looked for here.
    platform::TimeSyncState automaticTime();
    // SetNTP(on, interactive=true); the desktop may ask for a password.
    platform::ClockResult setAutomaticTime(bool on);

private:
    enum class Answer { Done, Failed, TimedOut, NoBus };
    // fresh: drop the connection held so far and open a new one.
    bool connect(bool fresh);
    Answer call(std::int64_t usec, bool relative, QDBusError& error);
    // What a call came to, as a setting's result.
    static platform::ClockResult resultOf(Answer answer, const QDBusError& error);
    // Sends the message and handles window events until its answer, the
    // time-out or abandon().
    Answer send(const QDBusMessage& message, int timeoutMs, QDBusError& error, QDBusMessage* reply);

    int timeoutMs_;
    QString connectionName_;
    bool connected_ = false;
    bool abandoned_ = false;
};

// A running time daemon that sets this clock ("chronyd", "ntpd",
// "systemd-timesyncd"), found under procRoot (/proc); empty when none runs.
// A chronyd started with -x never sets the clock and does not count.
std::string RunningTimeDaemon(const std::string& procRoot = "/proc");

// The system's automatic time through the time service, and the daemons.
class TimedateSync : public platform::TimeSync {
public:
    platform::TimeSyncState state() override;
    platform::ClockResult setAutomatic(bool on) override;

private:
    // Asking for the state must not keep a window waiting long.
    TimedateClient client_{TimedateClient::kDefaultTimeoutMs};
};

}  // namespace tempikon::qt
