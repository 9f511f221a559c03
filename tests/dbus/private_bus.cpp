#include "tests/dbus/private_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThread>

namespace tempikon::dbustest {

namespace {

// A bus that lets everyone talk to everyone and starts no services.
const char* const kBusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

constexpr int kStartMs = 10000;

}  // namespace

PrivateBus::PrivateBus() {
    if (!dir_.isValid()) {
        failure_ = "no temporary folder";
        return;
    }
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(
            QString::fromLatin1(kBusConfig).arg(dir_.filePath(QStringLiteral("bus"))).toUtf8()) <
            0) {
        failure_ = "cannot write the bus configuration";
        return;
    }
    file.close();

    daemon_.setProgram(QStringLiteral(TEMPIKON_DBUS_DAEMON));
    daemon_.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
    daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_.start();
    if (!daemon_.waitForStarted(kStartMs)) {
        failure_ = "dbus-daemon did not start";
        return;
    }
    QByteArray line;
    QDeadlineTimer deadline(kStartMs);
    while (!line.contains('\n') && !deadline.hasExpired()) {
        if (daemon_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            line += daemon_.readAll();
        else if (daemon_.state() != QProcess::Running)
            break;
    }
    if (!line.contains('\n')) {
        failure_ = "dbus-daemon printed no address";
        return;
    }
    address_ = QString::fromUtf8(line.left(line.indexOf('\n')).trimmed());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
}

PrivateBus::~PrivateBus() {
    for (QProcess* process : {&mock_, &daemon_}) {
        if (process->state() == QProcess::NotRunning) continue;
        process->terminate();
        if (!process->waitForFinished(kStartMs)) {
            process->kill();
            process->waitForFinished(kStartMs);
        }
    }
}

bool PrivateBus::startTimeService(const QString& parametersJson) {
    if (!ok()) return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    mock_.setProcessEnvironment(env);
    mock_.setProgram(QStringLiteral(TEMPIKON_MOCK_PYTHON));
    mock_.setArguments(
        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
         QStringLiteral("-t"), QStringLiteral(TEMPIKON_TIMEDATED_TEMPLATE), QStringLiteral("-l"),
         dir_.filePath(QStringLiteral("calls.log")), QStringLiteral("-p"), parametersJson});
    mock_.setProcessChannelMode(QProcess::ForwardedChannels);
    mock_.start();
    if (!mock_.waitForStarted(kStartMs)) {
        failure_ = "the time service mock did not start";
        return false;
    }

    const QString name = QStringLiteral("tempikon-test-watcher");
    bool owned = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, name);
        QDeadlineTimer deadline(kStartMs);
        while (bus.isConnected() && !deadline.hasExpired() && mock_.state() == QProcess::Running) {
            if (bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.timedate1"))) {
                owned = true;
                break;
            }
            QThread::msleep(20);
        }
    }
    QDBusConnection::disconnectFromBus(name);
    if (!owned) failure_ = "the time service mock did not take its name";
    return owned;
}

std::vector<SetTimeCall> PrivateBus::setTimeCalls() const {
    std::vector<SetTimeCall> calls;
    QFile file(dir_.filePath(QStringLiteral("calls.log")));
    if (!file.open(QIODevice::ReadOnly)) return calls;
    // Lines read "<stamp> SetTime <usec> <True|False> <True|False>".
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QStringList words =
            QString::fromUtf8(raw).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 5 || words[1] != QLatin1String("SetTime")) continue;
        bool number = false;
        SetTimeCall call;
        call.usec = words[2].toLongLong(&number);
        if (!number) continue;
        call.stampMicros = static_cast<std::int64_t>(words[0].toDouble() * 1e6);
        call.relative = words[3] == QLatin1String("True");
        call.interactive = words[4] == QLatin1String("True");
        calls.push_back(call);
    }
    return calls;
}

QString PrivateBus::deadAddress() const {
    return QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("nobody-listens"));
}

}  // namespace tempikon::dbustest
