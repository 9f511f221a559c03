#include "app/main_window.h"

#include <algorithm>
#include <limits>

#include "app/command_line.h"
#include "core/numbers.h"
#include "core/report.h"
#include "core/text.h"
#include "platform/translate.h"
#include "tempikon_version.h"

namespace tempikon::app {

namespace {
const char* const kModeConfig = QT_TRANSLATE_NOOP("Tempikon", "Current program mode is CONFIG");
const char* const kModeRunOnce = QT_TRANSLATE_NOOP("Tempikon", "Current program mode is RUNONCE");
const char* const kModeServer = QT_TRANSLATE_NOOP("Tempikon", "Current program mode is SERVER");
const char* const kNoServer = QT_TRANSLATE_NOOP("Tempikon", "No timeserver selected");
const char* const kAsking = QT_TRANSLATE_NOOP("Tempikon", "Asking the timeserver...");
const char* const kNoticeFailed = QT_TRANSLATE_NOOP("Tempikon", "The clock could not be set");
const char* const kNoticeRecovered = QT_TRANSLATE_NOOP("Tempikon", "The clock is set again");
const char* const kHistoryNotWritten =
    QT_TRANSLATE_NOOP("Tempikon", "The history could not be written: %1");
const char* const kTakeOverQuestion = QT_TRANSLATE_NOOP(
    "Tempikon",
    "The system's automatic time is on, and while it is on the system refuses every other "
    "setting of the clock.\n\nTurn the system's automatic time off and let Tempikon keep "
    "the clock?");
const char* const kTakeOverFailed =
    QT_TRANSLATE_NOOP("Tempikon", "The system's automatic time could not be turned off: %1");
const char* const kNoticeNotConfirmed =
    QT_TRANSLATE_NOOP("Tempikon", "The clock was not set: the change needs a second opinion");
constexpr int kMinuteMs = 60000;
constexpr int kOneShotWaitMs = 5000;
constexpr int kWidth = 3855;
}  // namespace

bool SwitchPresent(std::string_view commandLine, std::string_view switchText) {
    std::string text = core::Trim(commandLine);
    // ASCII only: the switch texts are ASCII, and no other letter may turn
    // into one of theirs.
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text.find(switchText) != std::string::npos;
}

int ExitStatusFor(core::SetOutcome outcome) {
    switch (outcome) {
        case core::SetOutcome::Set:
            return kExitOk;
        case core::SetOutcome::Refused:
            return kExitRefused;
        case core::SetOutcome::Unreachable:
        case core::SetOutcome::InvalidData:
        case core::SetOutcome::NotConfirmed:
        case core::SetOutcome::Skipped:
        case core::SetOutcome::None:
            break;
    }
    return kExitNoValidTime;
}

MainWindow::MainWindow(platform::Platform& platform) : platform_(platform) {
    platform::WindowSpec spec;
    spec.caption = version::kProductName;
    spec.clientWidthTwips = kWidth;
    spec.clientHeightTwips = 1680;
    spec.background = 0x00C0FFFFu;
    spec.hasBackground = true;
    window_ = platform_.createWindow(spec);

    serverLine_ = &window_->addLabel({0, 0, kWidth, 255}, kNoServer);
    outcomeLine_ = &window_->addLabel({0, 240, kWidth, 255}, "");
    // The reason stands under the outcome it explains.
    reasonLine_ = &window_->addLabel({0, 480, kWidth, 255}, "");
    modeLine_ = &window_->addLabel({0, 720, kWidth, 255}, kModeConfig);
    lastSetLine_ = &window_->addLabel({0, 960, kWidth, 255}, "");
    nextSettingLine_ = &window_->addLabel({0, 1200, kWidth, 255}, "");
    othersLine_ = &window_->addLabel({0, 1440, kWidth, 255}, "");

    configurationItem_ = &window_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&Configuration"));
    setTimeItem_ = &window_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&Set time"));
    historyItem_ = &window_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&History"));
    aboutItem_ = &window_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&?"));
    setTimeItem_->setEnabled(false);

    query_ = std::make_unique<core::ServerQuery>(platform_);
    minuteTimer_ = platform_.createTimer();
    setter_ = std::make_unique<core::ClockSetter>(platform_, *query_);

    configurationItem_->onClick = [this] { onConfiguration(); };
    setTimeItem_->onClick = [this] { onSetTime(); };
    aboutItem_->onClick = [this] { onAbout(); };
    historyItem_->onClick = [this] { onHistory(); };
    minuteTimer_->onTimer = [this] { onMinuteTick(); };
    window_->onClosed = [this] { onClosed(); };
    // With the icon in the tray, a minimised window leaves the taskbar too.
    window_->onMinimised = [this] {
        if (inTray_ && !ended_) window_->hide();
    };
}

MainWindow::~MainWindow() {
    // Nothing may call back into a half-destroyed window.
    liveness_.end();
    window_->onClosed = nullptr;
    window_->onCloseRequest = nullptr;
    window_->onMinimised = nullptr;
    minuteTimer_->onTimer = nullptr;
    if (tray_) tray_->onActivated = nullptr;
    if (configDialog_) configDialog_->onClosed = nullptr;
    if (aboutBox_) aboutBox_->onClosed = nullptr;
    if (historyWindow_) historyWindow_->onClosed = nullptr;
    configDialog_.reset();
    aboutBox_.reset();
    historyWindow_.reset();
    query_->shutdown();
}

void MainWindow::start() {
    window_->setCaption(version::kTitle);
    setStatus(*serverLine_, kNoServer);
    setStatus(*outcomeLine_, "");
    setStatus(*modeLine_, kModeConfig);
    // Settings that are there but cannot be read are not "not configured":
    // a save from the dialog would write over them.
    if (const auto why = platform_.settings().unreadableReason(version::kProductName))
        return unreadableSettingsEnd(*why);
    config_ = core::LoadConfig(platform_.settings());
    showTimeSync();
    if (!config_.primary().host.empty()) {
        setStatus(*serverLine_, config_.primary().host);
        setTimeItem_->setEnabled(true);
    }

    const std::string commandLine = platform_.commandLine();
    if (SwitchPresent(commandLine, "/RUNONCE")) {
        setStatus(*modeLine_, kModeRunOnce);
        if (config_.primary().host.empty()) return missingConfigurationEnd();
        if (const std::string problem = core::ProtocolProblem(config_.primary().protocol.text());
            !problem.empty())
            return unusableProtocolEnd(problem);
        // Closing the window before the setting has ended means no time was set.
        exitCode_ = kExitNoValidTime;
        window_->show();
        platform_.processEvents();
        if (ended_) return;
        const core::SetOutcome outcome = setClock();
        if (ended_) return;
        exitCode_ = ExitStatusFor(outcome);
        oneShotWait();
        if (ended_) return;
        // A dialog the user opened meanwhile is theirs to finish: the run
        // ends when it has closed (its OK still saves).
        const platform::Liveness::Watch watch = liveness_.watch();
        while (configDialog_) {
            platform_.waitForEvents();
            if (!watch.alive() || ended_) return;
        }
        window_->close();
        return;
    }

    if (SwitchPresent(commandLine, "/SERVER")) {
        setStatus(*modeLine_, kModeServer);
        if (config_.primary().host.empty()) return missingConfigurationEnd();
        if (const std::string problem = core::ProtocolProblem(config_.primary().protocol.text());
            !problem.empty())
            return unusableProtocolEnd(problem);
        startTray();
        minutesLeft_ = 0;
        onMinuteTick();
        if (ended_) return;
    }

    if (SwitchPresent(commandLine, "/MIN")) {
        // The icon stands for the window until the user asks for it.
        if (inTray_) return;
        window_->minimise();
    }
    window_->show();
}

void MainWindow::oneShotWait() {
    // Events keep flowing through the wait: a window manager may map or
    // expose the window only now, and it must be painted for the whole
    // time. The menus stay shut meanwhile; the close box still ends it.
    configurationItem_->setEnabled(false);
    setTimeItem_->setEnabled(false);
    aboutItem_->setEnabled(false);
    historyItem_->setEnabled(false);
    const std::unique_ptr<platform::Timer> timer = platform_.createTimer();
    bool over = false;
    timer->setEnabled(false);
    timer->setInterval(kOneShotWaitMs);
    timer->onTimer = [&over, &timer] {
        over = true;
        timer->setEnabled(false);
    };
    timer->setEnabled(true);
    const platform::Liveness::Watch watch = liveness_.watch();
    while (!over) {
        platform_.waitForEvents();
        if (!watch.alive() || ended_) return;
    }
}

void MainWindow::startTray() {
    tray_ = platform_.createTray();
    // Without a tray the program runs as a plain window.
    if (!tray_->isAvailable()) return;
    inTray_ = true;
    tray_->setState(platform::TrayState::Unknown);
    tray_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&Set time")).onClick = [this] {
        onSetTime();
    };
    tray_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&Configuration")).onClick = [this] {
        onConfiguration();
    };
    tray_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&History")).onClick = [this] { onHistory(); };
    tray_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "Show &window")).onClick = [this] {
        onShowWindow();
    };
    tray_->addMenuItem(QT_TRANSLATE_NOOP("Tempikon", "&Quit")).onClick = [this] { onQuit(); };
    tray_->onActivated = [this] { onShowWindow(); };
    updateTrayTip();
    tray_->show();
}

void MainWindow::updateTrayTip() {
    if (inTray_) tray_->setToolTip(TrayToolTip(version::kTitle, record_));
}

platform::TimeSyncState MainWindow::showTimeSync() {
    platform::TimeSync* sync = platform_.timeSync();
    // Without a screen nobody reads the line or answers an offer (and a
    // cron job at its process limit cannot start the bus's thread).
    if (!sync || platform_.isHeadless()) return {};
    const platform::Liveness::Watch watch = liveness_.watch();
    const platform::TimeSyncState state = sync->state();
    if (!watch.alive() || ended_) return state;
    record_.othersLine = OthersSetClockLine(state);
    setStatus(*othersLine_, record_.othersLine);
    updateTrayTip();
    return state;
}

bool MainWindow::offerToTakeOverClock() {
    platform::TimeSync* sync = platform_.timeSync();
    if (!sync || takeOverOffered_ || platform_.isHeadless()) return false;
    const platform::Liveness::Watch watch = liveness_.watch();
    const platform::TimeSyncState state = showTimeSync();
    if (!watch.alive() || ended_) return false;
    if (!state.known || !state.on || !state.canChange) return false;
    // Once a run: a user who said No is not asked at every tick.
    takeOverOffered_ = true;
    const int answer = platform_.messageBox(kTakeOverQuestion, version::kTitle,
                                            platform::kMbYesNo | platform::kMbIconExclamation);
    if (!watch.alive() || ended_ || answer != platform::kIdYes) return false;
    const platform::ClockResult switched = sync->setAutomatic(false);
    if (!watch.alive() || ended_) return false;
    if (!switched.ok) {
        std::string text = kTakeOverFailed;
        text.replace(text.find("%1"), 2,
                     switched.reason.empty() ? "unknown error" : switched.reason);
        platform_.messageBox(text, version::kTitle, platform::kMbOk | platform::kMbIconExclamation);
        return false;
    }
    const platform::TimeSyncState now = showTimeSync();
    return watch.alive() && !ended_ && !(now.known && now.on);
}

void MainWindow::onShowWindow() {
    if (!ended_) window_->show();
}

void MainWindow::onQuit() {
    // The same road as the close box: closing the window ends the program.
    if (!ended_) window_->close();
}

void MainWindow::setStatus(platform::Label& line, const std::string& text) {
    line.setText(text);
    // The whole text, also when the line is too narrow for it.
    line.setToolTip(text);
}

core::SetOutcome MainWindow::setClock(bool byUser) {
    // Only a user at the window is asked about a large change no second
    // server confirms; No is the default.
    std::function<bool(const core::LargeChange&)> askUser;
    if (byUser) {
        askUser = [this](const core::LargeChange& change) {
            return platform_.messageBox(core::LargeChangeQuestion(change), version::kTitle,
                                        platform::kMbYesNo | platform::kMbIconExclamation |
                                            platform::kMbDefaultButton2) == platform::kIdYes;
        };
    }
    const core::SetResult result = setter_->run(
        config_,
        [this](const std::string& server) {
            setStatus(*serverLine_, server);
            // The last outcome is not the current one while a server is asked.
            setStatus(*outcomeLine_, kAsking);
            setStatus(*reasonLine_, "");
        },
        askUser);
    // A skipped setting reports nothing; a closed window is never written.
    if (!result.status.empty() && !ended_) {
        setStatus(*outcomeLine_, result.status);
        platform_.writeOutputLine(core::OutputLine(result));
        // The status line keeps its few words; the first reason has a line
        // of its own, and every reason goes to standard error and to the
        // tool tips.
        std::vector<std::string> reasons = result.failures;
        if (result.outcome == core::SetOutcome::Refused) reasons.push_back(result.status);
        std::string tip = result.status;
        for (const std::string& reason : reasons) {
            platform_.writeErrorLine("tempikon: " + reason);
            if (reason != result.status) tip += '\n' + reason;
        }
        // A history that cannot be written never stops a setting; the
        // tooltip says so, standard error once.
        if (const std::string why = recordHistory(result); !why.empty()) {
            const std::string line = core::FillPattern(kHistoryNotWritten, why);
            tip += '\n' + line;
            if (!historyFailureSaid_) platform_.writeErrorLine("tempikon: " + line);
            historyFailureSaid_ = true;
        }
        if (!result.authenticatedBy.empty())
            tip += '\n' + result.server + ": authenticated by " + result.authenticatedBy;
        outcomeLine_->setToolTip(tip);
        const bool failed = result.outcome != core::SetOutcome::Set;
        reasonLine_->setText(failed && !result.failures.empty() ? result.failures.front() : "");
        reasonLine_->setToolTip(reasonLine_->text().empty() ? "" : tip);
        record_.lastReason = reasonLine_->text();
        recordOutcome(result);
        if (historyWindow_) historyWindow_->reload();
        // The system's automatic time refused it: the user may hand the
        // clock over, and then it is set at once.
        if (result.outcome == core::SetOutcome::Refused && offerToTakeOverClock())
            return setClock(byUser);
    }
    return result.outcome;
}

std::string MainWindow::recordHistory(const core::SetResult& result) {
    core::HistoryRecord record;
    record.atMicros = platform_.clock().nowMicros();
    record.server = result.server;
    record.protocol = result.protocol;
    record.offsetMicros = result.offsetMicros;
    record.roundTripMicros = result.roundTripMicros;
    record.set = result.outcome == core::SetOutcome::Set;
    record.correction = record.set && !result.correction.empty() ? result.correction : "none";
    if (!record.set) {
        // "<server>: <reason>" names the server in its own column already.
        std::string first = result.failures.empty() ? result.status : result.failures.front();
        if (!result.failures.empty()) {
            const std::size_t colon = first.find(": ");
            if (colon != std::string::npos) first.erase(0, colon + 2);
        }
        record.reason = first;
    }
    core::HistoryLog log(platform_.historyFile());
    return log.append(record).value_or(std::string());
}

void MainWindow::recordOutcome(const core::SetResult& result) {
    record_.lastStatus = result.status;
    if (result.outcome == core::SetOutcome::Set) {
        record_.lastSetAt = FormatDateTime(platform_.clock().now());
        record_.lastServer = result.server;
        setStatus(*lastSetLine_, LastSetLine(record_));
    }
    const NoticeRule::Notice notice = notices_.after(result.outcome);
    if (!inTray_) return;
    tray_->setState(TrayStateFor(result.outcome));
    updateTrayTip();
    // The balloon says why, as the window does.
    const std::string why =
        record_.lastReason.empty() ? result.status : result.status + '\n' + record_.lastReason;
    if (notice == NoticeRule::Notice::Failed) tray_->notify(kNoticeFailed, why);
    if (notice == NoticeRule::Notice::Recovered) tray_->notify(kNoticeRecovered, result.status);
    if (notice == NoticeRule::Notice::NotConfirmed)
        tray_->notify(kNoticeNotConfirmed, result.status);
}

void MainWindow::scheduleShown() {
    // A setting held back (a dialog open, a query waiting) comes a minute later.
    const std::int64_t minutes = std::max<std::int32_t>(minutesLeft_, 1);
    platform::Clock& clock = platform_.clock();
    record_.nextAt = FormatDateTime(
        clock.localAt(clock.nowMicros() + minutes * 60 * platform::kMicrosPerSecond));
    setStatus(*nextSettingLine_, NextSettingLine(record_));
    updateTrayTip();
}

void MainWindow::missingConfigurationEnd() {
    exitCode_ = kExitNotConfigured;
    platform_.writeErrorLine(
        MissingConfigurationLine(platform_.settings().locationOf(version::kProductName)));
    platform_.messageBox(
        QT_TRANSLATE_NOOP("Tempikon", "You must go through the configuration first."),
        version::kTitle, platform::kMbOk | platform::kMbIconExclamation);
    window_->close();
}

void MainWindow::unreadableSettingsEnd(const std::string& why) {
    exitCode_ = kExitNotConfigured;
    const std::string location = platform_.settings().locationOf(version::kProductName);
    platform_.writeErrorLine(UnreadableSettingsLine(location, why));
    platform_.messageBox("Cannot read the settings file " + location + ": " + why, version::kTitle,
                         platform::kMbOk | platform::kMbIconExclamation);
    window_->close();
}

void MainWindow::unusableProtocolEnd(const std::string& problem) {
    exitCode_ = kExitNotConfigured;
    const std::string line = core::EscapeText(config_.primary().host) + ": " + problem;
    platform_.writeErrorLine("tempikon: " + line);
    platform_.messageBox(line, version::kTitle, platform::kMbOk | platform::kMbIconExclamation);
    window_->close();
}

void MainWindow::onClosed() {
    if (ended_) return;
    ended_ = true;
    // A waiting query returns at once and its setting writes nothing more.
    query_->shutdown();
    minuteTimer_->setEnabled(false);
    if (tray_) tray_->hide();
    if (configDialog_) configDialog_->close();
    if (aboutBox_) aboutBox_->close();
    if (historyWindow_) historyWindow_->close();
    platform_.quit(exitCode_);
}

template <typename Child>
void MainWindow::destroyWhenClosed(std::unique_ptr<Child>& slot) {
    Child* opened = slot.get();
    opened->onClosed = [this, &slot, opened, watch = liveness_.watch()] {
        platform_.post([&slot, opened, watch] {
            if (watch.alive() && slot.get() == opened) slot.reset();
        });
    };
}

void MainWindow::onConfiguration() {
    if (ended_ || configDialog_) return;
    settings_dialog::ConfigDialog::Hooks hooks;
    hooks.useTimeoutUntilNextOk = [this](std::int32_t timeout) { config_.timeout = timeout; };
    hooks.onTimeSyncChanged = [this] { showTimeSync(); };
    hooks.onApplied = [this](const core::Config& config) {
        // New settings: a server that refused may be asked again.
        query_->forgetRefusals();
        config_ = config;
        setStatus(*serverLine_, config_.primary().host);
        setTimeItem_->setEnabled(true);
    };
    configDialog_ = std::make_unique<settings_dialog::ConfigDialog>(platform_, *query_, config_,
                                                                    std::move(hooks));
    destroyWhenClosed(configDialog_);
    configDialog_->show();
}

void MainWindow::onSetTime() {
    // One query at a time: a click while a setting or a check waits does nothing.
    if (ended_ || query_->isBusy() || setter_->isRunning()) return;
    setClock(true);
}

void MainWindow::onAbout() {
    if (ended_ || aboutBox_) return;
    aboutBox_ = std::make_unique<about::About>(platform_);
    destroyWhenClosed(aboutBox_);
    aboutBox_->show();
}

void MainWindow::onHistory() {
    if (ended_) return;
    // Closed, its destruction still posted: a new one takes its place, and
    // the old one lives until a posted call of its own, so that the new one
    // never gets its address (which the posted destruction compares).
    if (historyWindow_ && historyWindow_->window().isClosed()) {
        std::shared_ptr<HistoryWindow> old(std::move(historyWindow_));
        platform_.post([old] {});
    }
    if (!historyWindow_) {
        historyWindow_ = std::make_unique<HistoryWindow>(platform_);
        destroyWhenClosed(historyWindow_);
    }
    historyWindow_->show();
}

bool MainWindow::configDialogShown() const {
    return configDialog_ && configDialog_->isShown();
}

void MainWindow::onMinuteTick() {
    if (ended_) return;
    // Stops at the bound instead of wrapping.
    if (minutesLeft_ > std::numeric_limits<std::int32_t>::min()) --minutesLeft_;
    // A setting due while another query or setting waits stays due for the
    // next tick.
    if (!configDialogShown() && minutesLeft_ < 1 && !query_->isBusy() && !setter_->isRunning()) {
        setClock();
        if (ended_) return;
        minutesLeft_ = config_.interval;
    }
    // The next minute counts from here.
    minuteTimer_->setInterval(kMinuteMs);
    minuteTimer_->setEnabled(true);
    scheduleShown();
}

int RunWithWindows(platform::Platform& platform, bool noDisplay) {
    const std::string commandLine = platform.commandLine();
    // Only the one-shot and resident modes can do their work unseen.
    if (noDisplay && !SwitchPresent(commandLine, "/RUNONCE") &&
        !SwitchPresent(commandLine, "/SERVER")) {
        platform.writeErrorLine(
            NoDisplayLines(platform.settings().locationOf(version::kProductName)));
        return kExitNotConfigured;
    }
    MainWindow window(platform);
    window.start();
    return window.hasEnded() ? window.exitCode() : platform.run();
}

}  // namespace tempikon::app
