#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A dbus-daemon of the test's own, posing as the system bus through
// DBUS_SYSTEM_BUS_ADDRESS, and a mock of the time service on it.
namespace tempikon::dbustest {

struct SetTimeCall {
    std::int64_t stampMicros = 0;  // the real clock when the service had it, to the ms
    std::int64_t usec = 0;         // an instant (UTC), or with relative an offset
    bool relative = true;
    bool interactive = false;
};

class PrivateBus {
public:
    // Starts the daemon; ok() tells whether it runs.
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return !address_.isEmpty(); }
    QString address() const { return address_; }
    std::string failure() const { return failure_; }

    // Starts the time service mock with these template parameters (JSON)
    // and waits until it owns its name.
    bool startTimeService(const QString& parametersJson = QStringLiteral("{}"));
    // The SetTime calls the mock received, in order.
    std::vector<SetTimeCall> setTimeCalls() const;

    // A bus address where nothing listens.
    QString deadAddress() const;

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess mock_;
    QString address_;
    std::string failure_;
};

}  // namespace tempikon::dbustest
