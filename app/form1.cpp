#include "app/form1.h"

#include <limits>

#include "core/numbers.h"

namespace tempikon::app {

namespace {
const char* const kModeConfig = "Current program mode is CONFIG";
const char* const kModeRunOnce = "Current program mode is RUNONCE";
const char* const kModeServer = "Current program mode is SERVER";
const char* const kNoServer = "No timeserver selected";
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
        case core::SetOutcome::Skipped:
        case core::SetOutcome::None:
            break;
    }
    return kExitNoValidTime;
}

Form1::Form1(platform::Platform& platform, core::PublicStuff& stuff)
    : platform_(platform), stuff_(stuff) {
    platform::WindowSpec spec;
    spec.caption = "Tempikon";
    spec.clientWidthTwips = kWidth;
    spec.clientHeightTwips = 720;
    spec.background = 0x00C0FFFFu;
    spec.hasBackground = true;
    window_ = platform_.createWindow(spec);

    Label1_ = &window_->addLabel({0, 0, kWidth, 255}, kNoServer);
    Label2_ = &window_->addLabel({0, 240, kWidth, 255}, "");
    Label3_ = &window_->addLabel({0, 480, kWidth, 255}, kModeConfig);

    mnuSettings_ = &window_->addMenuItem("&Configuration");
    mnuSet_ = &window_->addMenuItem("&Set time");
    mnuAbout_ = &window_->addMenuItem("&?");
    mnuSet_->setEnabled(false);

    Timer1_ = platform_.createTimer();
    Timer2_ = platform_.createTimer();
    Winsock1_ = platform_.createTcpClient();
    query_ = std::make_unique<core::DaytimeQuery>(platform_, stuff_, *Timer1_, *Winsock1_);
    setter_ = std::make_unique<core::ClockSetter>(platform_, stuff_, *query_, *Label1_, *Label2_);

    mnuSettings_->onClick = [this] { mnuSettings_Click(); };
    mnuSet_->onClick = [this] { mnuSet_Click(); };
    mnuAbout_->onClick = [this] { mnuAbout_Click(); };
    Timer2_->onTimer = [this] { Timer2_Timer(); };
    window_->onClosed = [this] { Form_Closed(); };
}

Form1::~Form1() {
    // Nothing may call back into a half-destroyed window.
    window_->onClosed = nullptr;
    window_->onCloseRequest = nullptr;
    Timer2_->onTimer = nullptr;
    if (settings_) settings_->onClosed = nullptr;
    if (about_) about_->onClosed = nullptr;
    settings_.reset();
    about_.reset();
    query_->shutdown();
}

void Form1::Form_Load() {
    window_->setCaption(core::kTitle);
    Label1_->setText(kNoServer);
    Label2_->setText("");
    Label3_->setText(kModeConfig);
    core::LoadConfig(platform_.settings(), stuff_.Config);
    if (!stuff_.Config.Server.empty()) {
        Label1_->setText(stuff_.Config.Server);
        mnuSet_->setEnabled(true);
    }

    const std::string commandLine = platform_.commandLine();
    if (SwitchPresent(commandLine, "/RUNONCE")) {
        Label3_->setText(kModeRunOnce);
        if (stuff_.Config.Server.empty()) return missingConfigurationEnd();
        // Closing the window before the setting has ended means no time was set.
        exitCode_ = kExitNoValidTime;
        window_->show();
        platform_.processEvents();
        if (ended_) return;
        const core::SetOutcome outcome = setter_->SetClockFromServer();
        if (ended_) return;
        exitCode_ = ExitStatusFor(outcome);
        platform_.processEvents();
        if (ended_) return;
        platform_.sleep(kOneShotWaitMs);
        window_->close();
        return;
    }

    if (SwitchPresent(commandLine, "/SERVER")) {
        Label3_->setText(kModeServer);
        if (stuff_.Config.Server.empty()) return missingConfigurationEnd();
        minutesLeft_ = 0;
        Timer2_Timer();
        if (ended_) return;
    }

    if (SwitchPresent(commandLine, "/MIN")) window_->minimise();
    window_->show();
}

void Form1::missingConfigurationEnd() {
    exitCode_ = kExitNotConfigured;
    platform_.messageBox("You must go through the configuration first.", core::kTitle,
                         platform::kMbOk | platform::kMbIconExclamation);
    window_->close();
}

void Form1::Form_Closed() {
    if (ended_) return;
    ended_ = true;
    // A waiting query returns at once and its setting writes nothing more.
    query_->shutdown();
    Timer2_->setEnabled(false);
    if (settings_) settings_->Close();
    if (about_) about_->Close();
    platform_.quit(exitCode_);
}

void Form1::mnuSettings_Click() {
    if (ended_ || settings_) return;
    settings_ = std::make_unique<settings_dialog::Settings>(
        platform_, stuff_, settings_dialog::MainWindowLink{*query_, *Label1_, *mnuSet_});
    settings_dialog::Settings* opened = settings_.get();
    std::weak_ptr<bool> alive = alive_;
    // Destroyed from the event loop, never from inside its own handler.
    opened->onClosed = [this, alive, opened] {
        platform_.post([this, alive, opened] {
            if (!alive.expired() && settings_.get() == opened) settings_.reset();
        });
    };
    opened->Show();
}

void Form1::mnuSet_Click() {
    // One query at a time: a click while a setting or a check waits does nothing.
    if (ended_ || query_->isBusy() || setter_->isRunning()) return;
    setter_->SetClockFromServer();
}

void Form1::mnuAbout_Click() {
    if (ended_ || about_) return;
    about_ = std::make_unique<about::About>(platform_);
    about::About* opened = about_.get();
    std::weak_ptr<bool> alive = alive_;
    opened->onClosed = [this, alive, opened] {
        platform_.post([this, alive, opened] {
            if (!alive.expired() && about_.get() == opened) about_.reset();
        });
    };
    opened->Show();
}

bool Form1::settingsShown() const {
    return settings_ && settings_->isShown();
}

void Form1::Timer2_Timer() {
    if (ended_) return;
    // Stops at the bound instead of wrapping.
    if (minutesLeft_ > std::numeric_limits<std::int32_t>::min()) --minutesLeft_;
    // A setting due while another query or setting waits stays due for the
    // next tick.
    if (!settingsShown() && minutesLeft_ < 1 && !query_->isBusy() && !setter_->isRunning()) {
        setter_->SetClockFromServer();
        if (ended_) return;
        minutesLeft_ = stuff_.Config.Interval;
    }
    // The next minute counts from here.
    Timer2_->setInterval(kMinuteMs);
    Timer2_->setEnabled(true);
}

}  // namespace tempikon::app
