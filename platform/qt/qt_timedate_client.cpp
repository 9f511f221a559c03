#include "platform/qt/qt_timedate_client.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <set>

namespace tempikon::qt {

namespace {

// The bus's own time-out runs a little longer than ours, so that ours decides.
constexpr int kBusGraceMs = 5000;
const char* const kService = "org.freedesktop.timedate1";
const char* const kPath = "/org/freedesktop/timedate1";
const char* const kInterface = "org.freedesktop.timedate1";
const char* const kDefaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

std::atomic<int> nextConnection{1};

}  // namespace

std::string TimedateErrorReason(const QString& errorName, const QString& message) {
    if (errorName == QLatin1String("org.freedesktop.timedate1.AutomaticTimeSyncEnabled"))
        return kReasonAutoSync;
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.AccessDenied") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"))
        return kReasonNotAuthorised;
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.Spawn.ServiceNotFound") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        return kReasonNoService;
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        return kReasonNoAnswer;
    // One line, so the status line stays one line.
    QString text = message.simplified();
    if (text.isEmpty()) text = errorName.simplified();
    if (text.isEmpty()) text = QStringLiteral("unknown error");
    return text.toStdString();
}

TimedateClient::TimedateClient(int timeoutMs)
    : timeoutMs_(timeoutMs),
      connectionName_(QStringLiteral("tempikon-timedate-%1").arg(nextConnection++)) {}

TimedateClient::~TimedateClient() {
    if (connected_) QDBusConnection::disconnectFromBus(connectionName_);
}

bool TimedateClient::connect(bool fresh) {
    // One connection for the whole run keeps polkit's "remember" of the
    // password; a lost one (bus restarted) is opened again.
    if (connected_ && !fresh && QDBusConnection(connectionName_).isConnected()) return true;
    if (connected_) QDBusConnection::disconnectFromBus(connectionName_);
    QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address.isEmpty()) address = kDefaultSystemBus;
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromLocal8Bit(address), connectionName_);
    connected_ = true;  // the name is registered even when connecting failed
    return bus.isConnected();
}

platform::ClockResult TimedateClient::setTime(std::int64_t usec, bool relative) {
    abandoned_ = false;
    QDBusError error;
    Answer answer = connect(false) ? call(usec, relative, error) : Answer::NoBus;
    // A connection that broke since the last setting (the bus restarted)
    // never carried the call: open a new one and try once more.
    if (answer == Answer::Failed && error.type() == QDBusError::Disconnected)
        answer = connect(true) ? call(usec, relative, error) : Answer::NoBus;

    return resultOf(answer, error);
}

platform::ClockResult TimedateClient::resultOf(Answer answer, const QDBusError& error) {
    switch (answer) {
        case Answer::Done:
            return {true, {}};
        case Answer::NoBus:
            return {false, kReasonNoService};
        case Answer::TimedOut:
            return {false, kReasonNoAnswer};
        case Answer::Failed:
            break;
    }
    return {false, TimedateErrorReason(error.name(), error.message())};
}

TimedateClient::Answer TimedateClient::call(std::int64_t usec, bool relative, QDBusError& error) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("SetTime"));
    message << QVariant::fromValue<qlonglong>(usec) << relative << true;
    message.setInteractiveAuthorizationAllowed(true);
    return send(message, timeoutMs_, error, nullptr);
}

TimedateClient::Answer TimedateClient::send(const QDBusMessage& message, int timeoutMs,
                                            QDBusError& error, QDBusMessage* reply) {
    QDBusPendingCallWatcher watcher(
        QDBusConnection(connectionName_).asyncCall(message, timeoutMs + kBusGraceMs));
    bool answered = false;
    bool timedOut = false;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished,
                     [&answered] { answered = true; });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
    deadline.start(timeoutMs);
    // Window events keep flowing while polkit asks for the password.
    while (!answered && !timedOut && !abandoned_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!answered) return Answer::TimedOut;
    if (watcher.isError()) {
        error = watcher.error();
        return Answer::Failed;
    }
    if (reply) *reply = watcher.reply();
    return Answer::Done;
}

platform::TimeSyncState TimedateClient::automaticTime() {
    // A property read needs no password: a short wait is enough.
    constexpr int kReadTimeoutMs = 3000;
    abandoned_ = false;
    platform::TimeSyncState state;
    if (!connect(false)) return state;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    message << QLatin1String(kInterface);
    QDBusError error;
    QDBusMessage reply;
    if (send(message, kReadTimeoutMs, error, &reply) != Answer::Done) return state;
    if (reply.arguments().isEmpty()) return state;
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    if (!properties.contains(QStringLiteral("NTP"))) return state;
    state.known = true;
    state.on = properties.value(QStringLiteral("NTP")).toBool();
    state.canChange = properties.value(QStringLiteral("CanNTP"), true).toBool();
    return state;
}

platform::ClockResult TimedateClient::setAutomaticTime(bool on) {
    abandoned_ = false;
    if (!connect(false)) return {false, kReasonNoService};
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("SetNTP"));
    message << on << true;
    message.setInteractiveAuthorizationAllowed(true);
    QDBusError error;
    const Answer answer = send(message, timeoutMs_, error, nullptr);
    return resultOf(answer, error);
}

std::string RunningTimeDaemon(const std::string& procRoot) {
    static const std::set<QString> kDaemons = {
        QStringLiteral("chronyd"), QStringLiteral("ntpd"), QStringLiteral("openntpd"),
        QStringLiteral("systemd-timesyn")};  // comm keeps 15 characters
    const QDir proc(QString::fromStdString(procRoot));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : entries) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number) continue;
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly)) continue;
        const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
        if (kDaemons.count(name) == 0) continue;
        QFile cmdline(proc.filePath(pid + QStringLiteral("/cmdline")));
        if (cmdline.open(QIODevice::ReadOnly)) {
            // chronyd -x serves time and leaves the clock alone.
            const QList<QByteArray> words = cmdline.readAll().split('\0');
            if (name == QLatin1String("chronyd") && words.contains(QByteArray("-x"))) continue;
        }
        if (name == QLatin1String("systemd-timesyn")) return "systemd-timesyncd";
        return name.toStdString();
    }
    return {};
}

platform::TimeSyncState TimedateSync::state() {
    platform::TimeSyncState state = client_.automaticTime();
    state.daemon = RunningTimeDaemon();
    return state;
}

platform::ClockResult TimedateSync::setAutomatic(bool on) {
    return client_.setAutomaticTime(on);
}

}  // namespace tempikon::qt
