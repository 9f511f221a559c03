#include "settings_dialog/config_dialog.h"

#include "core/nts_ke.h"
#include "core/numbers.h"
#include "core/plan.h"
#include "core/server_address.h"
#include "core/text.h"
#include "platform/translate.h"
#include "settings_dialog/field_rules.h"
#include "settings_dialog/server_list.h"
#include "tempikon_version.h"

namespace tempikon::settings_dialog {

namespace {

using platform::Align;
using platform::FontSpec;

const FontSpec kBoldFont{"Comic Sans MS", 9.75, true};
const FontSpec kSmallFont{"Comic Sans MS", 8.25, false};
const FontSpec kListFont{"Courier New", 8.25, false};
constexpr platform::Colour kHintColour = 0x000000FFu;  // pure red

constexpr const char* kHint = QT_TRANSLATE_NOOP("Tempikon", "Select from the list below");
constexpr const char* kChecking = QT_TRANSLATE_NOOP("Tempikon", "Checking %1...");
// The result column of an entry whose check the user stopped.
constexpr const char* kStoppedMark = "Stopped";
// Why the check controls are greyed while the main window asks a server.
constexpr const char* kWaitingForMainWindow = QT_TRANSLATE_NOOP(
    "Tempikon", "The main window is asking a timeserver; checks can start when it has its answer.");
constexpr const char* kKeepClockFailed =
    QT_TRANSLATE_NOOP("Tempikon", "The system's automatic time could not be switched: %1");

// The number fields hold the longest values they take: an offset such as
// -23.45678, a time-out or interval of ten digits (2147483647). Their unit
// labels follow.
constexpr int kNumberWidth = 1095;
constexpr int kLongNumberWidth = 1455;
constexpr int kUnitLeft = 4080 + kNumberWidth + 60;
constexpr int kUnit2Left = 5880 + kLongNumberWidth + 60;
// "The server sends UTC" sits under its offset field, as wide as the field
// and its unit label.
constexpr int kUtcWidth = kUnitLeft + 615 - 4080;
constexpr const char* kUtcCaption = QT_TRANSLATE_NOOP("Tempikon", "sends &UTC");
// Its own accelerator: the two boxes would otherwise share one.
constexpr const char* kUtc2Caption = QT_TRANSLATE_NOOP("Tempikon", "se&nds UTC");

// Under the list: why the selected entry's check failed, or why the dialog
// stays open.
constexpr platform::TwipsRect kStatusRect{120, 5190, 7695, 255};
constexpr platform::TwipsRect kAutostartRect{120, 5520, 7695, 255};
constexpr platform::TwipsRect kKeepClockRect{120, 5790, 7695, 255};

// NTS: the trust row lies under its server's host field, in place of the
// hint and the "sends UTC" box, which NTS has no use for; the chooser
// button lines up with the buttons on the right.
constexpr int kTrustTop = 780;
constexpr int kTrust2Top = 1740;
constexpr int kTrustLabelWidth = 2880;
constexpr int kTrustFieldLeft = 120 + kTrustLabelWidth + 60;
constexpr int kTrustButtonLeft = 8040;
constexpr int kTrustFieldWidth = kTrustButtonLeft - 60 - kTrustFieldLeft;
constexpr int kTrustButtonWidth = 1455;
constexpr int kTrustHeight = 285;
// Each row's own accelerator.
constexpr const char* kTrustCaption =
    QT_TRANSLATE_NOOP("Tempikon", "E&xtra trusted certificates (PEM)");
constexpr const char* kTrust2Caption =
    QT_TRANSLATE_NOOP("Tempikon", "Extra trusted certificates (PE&M)");
constexpr const char* kBrowseCaption = QT_TRANSLATE_NOOP("Tempikon", "Browse…");
constexpr const char* kTrustChooserTitle =
    QT_TRANSLATE_NOOP("Tempikon", "Certificates to trust besides the system's");
constexpr const char* kPemFiles = QT_TRANSLATE_NOOP("Tempikon", "PEM certificates");

// The host field leaves room for its protocol choice, which ends where the
// host field used to and stops short of the red hint below.
constexpr int kHostWidth = 2475;
constexpr int kChoiceHeight = 270;
constexpr int kChoiceLeft = 120 + kHostWidth + 60;
constexpr int kChoiceWidth = 3855 - kChoiceLeft;
// The choice's fixed items (NTS only where the system offers it); a stored
// value that names none of them follows them.
constexpr int kDaytimeItem = 0;
constexpr int kNtpItem = 1;
constexpr int kNtsItem = 2;

int ProtocolItem(core::Protocol protocol) {
    switch (protocol) {
        case core::Protocol::Ntp:
            return kNtpItem;
        case core::Protocol::Nts:
            return kNtsItem;
        case core::Protocol::Daytime:
            break;
    }
    return kDaytimeItem;
}

// What OK stores for a choice: the stored text while it still names the
// chosen protocol, so that OK rewrites nothing the user left alone.
std::string ChosenProtocol(const platform::ComboBox& box, const std::string& stored) {
    const int index = box.selectedIndex();
    if (index < 0) return stored;
    const std::string chosen = box.itemText(index);
    return core::ParseProtocol(stored) == core::ParseProtocol(chosen) ? stored : chosen;
}

bool ChoiceIsNts(const platform::ComboBox& box) {
    const int index = box.selectedIndex();
    return index >= 0 && core::ParseProtocol(box.itemText(index)) == core::Protocol::Nts;
}

// NTP and NTS give UTC with the date: no zone applies.
bool ChoiceGivesUtc(const platform::ComboBox& box) {
    const int index = box.selectedIndex();
    if (index < 0) return false;
    const std::optional<core::Protocol> protocol = core::ParseProtocol(box.itemText(index));
    return protocol && core::GivesDate(*protocol);
}

}  // namespace

ConfigDialog::ConfigDialog(platform::Platform& platform, core::ServerQuery& query,
                           const core::Config& inForce, Hooks hooks)
    : platform_(platform), query_(query), inForce_(inForce), hooks_(std::move(hooks)) {
    platform::WindowSpec spec;
    spec.caption = QT_TRANSLATE_NOOP("Tempikon", "Configuration");
    spec.clientWidthTwips = 9675;
    spec.clientHeightTwips = 6165;
    spec.dialog = true;
    // The background follows the desktop's palette (a dark one too); the red
    // hints read on either.
    window_ = platform_.createWindow(spec);
    createControls();

    window_->onCloseRequest = [this] { return onCloseRequest(); };
    window_->onClosed = [this] { windowClosed(); };
    busyListener_ = query_.addBusyListener([this] { showStates(); });
    showStates();
}

ConfigDialog::~ConfigDialog() {
    window_->onCloseRequest = nullptr;
    window_->onClosed = nullptr;
    if (busyListener_ != 0) query_.removeBusyListener(busyListener_);
}

void ConfigDialog::createControls() {
    platform::Window& w = *window_;
    // Labels take no focus; the focusable controls follow in tab order.
    platform::Label& serverLabel = w.addLabel(
        {120, 120, 2055, 255}, QT_TRANSLATE_NOOP("Tempikon", "&Primary Timeserver"), kBoldFont);
    primaryHint_ = &w.addLabel({120, 750, 2655, 255}, kHint, kSmallFont);
    platform::Label& offsetLabel =
        w.addLabel({4080, 120, 855, 255}, QT_TRANSLATE_NOOP("Tempikon", "O&ffset"), kBoldFont);
    w.addLabel({kUnitLeft, 480, 615, 285}, QT_TRANSLATE_NOOP("Tempikon", "Hours"), kSmallFont);
    platform::Label& timeoutLabel =
        w.addLabel({5880, 120, 975, 255}, QT_TRANSLATE_NOOP("Tempikon", "&Timeout"), kBoldFont);
    w.addLabel({kUnit2Left, 480, 855, 285}, QT_TRANSLATE_NOOP("Tempikon", "Seconds"), kSmallFont);
    platform::Label& server2Label = w.addLabel(
        {120, 1080, 2055, 255}, QT_TRANSLATE_NOOP("Tempikon", "&Backup Timeserver"), kBoldFont);
    backupHint_ = &w.addLabel({120, 1710, 2655, 255}, kHint, kSmallFont);
    platform::Label& offset2Label =
        w.addLabel({4080, 1080, 855, 255}, QT_TRANSLATE_NOOP("Tempikon", "Offs&et"), kBoldFont);
    w.addLabel({kUnitLeft, 1440, 615, 285}, QT_TRANSLATE_NOOP("Tempikon", "Hours"), kSmallFont);
    platform::Label& intervalLabel =
        w.addLabel({5880, 1080, 2415, 255},
                   QT_TRANSLATE_NOOP("Tempikon", "&Interval (Server mode)"), kBoldFont);
    w.addLabel({kUnit2Left, 1440, 735, 285}, QT_TRANSLATE_NOOP("Tempikon", "Minutes"), kSmallFont);
    // Each protocol choice has a label and an accelerator of its own.
    platform::Label& protocolLabel =
        w.addLabel({kChoiceLeft, 120, kChoiceWidth, 255},
                   QT_TRANSLATE_NOOP("Tempikon", "&Get time by"), kSmallFont);
    platform::Label& protocol2Label =
        w.addLabel({kChoiceLeft, 1080, kChoiceWidth, 255},
                   QT_TRANSLATE_NOOP("Tempikon", "Get time b&y"), kSmallFont);
    platform::Label& listLabel =
        w.addLabel({120, 2160, 4335, 255},
                   QT_TRANSLATE_NOOP("Tempikon", "&List of public Timerservers"), kBoldFont);
    statusLine_ = &w.addLabel(kStatusRect, "", kSmallFont);
    primaryHint_->setTextColour(kHintColour);
    backupHint_->setTextColour(kHintColour);

    serverField_ = &w.addTextField({120, 480, kHostWidth, 285}, Align::Left);
    protocolBox_ = &w.addComboBox({kChoiceLeft, 480, kChoiceWidth, kChoiceHeight});
    offsetField_ = &w.addTextField({4080, 480, kNumberWidth, 285}, Align::Right);
    utcBox_ = &w.addCheckBox({4080, 765, kUtcWidth, 255}, kUtcCaption, kSmallFont);
    addTrustRow(Role::Primary, kTrustTop, kTrustCaption);
    server2Field_ = &w.addTextField({120, 1440, kHostWidth, 285}, Align::Left);
    protocol2Box_ = &w.addComboBox({kChoiceLeft, 1440, kChoiceWidth, kChoiceHeight});
    offset2Field_ = &w.addTextField({4080, 1440, kNumberWidth, 285}, Align::Right);
    utc2Box_ = &w.addCheckBox({4080, 1725, kUtcWidth, 255}, kUtc2Caption, kSmallFont);
    addTrustRow(Role::Backup, kTrust2Top, kTrust2Caption);
    timeoutField_ = &w.addTextField({5880, 480, kLongNumberWidth, 285}, Align::Right);
    intervalField_ = &w.addTextField({5880, 1440, kLongNumberWidth, 285}, Align::Right);
    serverList_ = &w.addListBox({120, 2520, 7695, 2610}, kListFont);
    autostartBox_ = &w.addCheckBox(
        kAutostartRect,
        QT_TRANSLATE_NOOP("Tempikon", "Start with the &desktop (resident, minimised)"), kSmallFont);
    keepClockBox_ = &w.addCheckBox(
        kKeepClockRect,
        QT_TRANSLATE_NOOP("Tempikon",
                          "Let Tempikon &keep the clock (turn the system's automatic time off)"),
        kSmallFont);
    checkAllButton_ = &w.addButton({8040, 2520, 1455, 375},
                                   QT_TRANSLATE_NOOP("Tempikon", "Check &all"), kBoldFont);
    checkServerButton_ = &w.addButton({8040, 3000, 1455, 375},
                                      QT_TRANSLATE_NOOP("Tempikon", "Check &server"), kBoldFont);
    abortButton_ =
        &w.addButton({8040, 3480, 1455, 375}, QT_TRANSLATE_NOOP("Tempikon", "Abo&rt"), kBoldFont);
    okButton_ =
        &w.addButton({8040, 4440, 1455, 375}, QT_TRANSLATE_NOOP("Tempikon", "&OK"), kBoldFont);
    cancelButton_ =
        &w.addButton({8040, 4920, 1455, 375}, QT_TRANSLATE_NOOP("Tempikon", "&Cancel"), kBoldFont);
    helpButton_ =
        &w.addButton({8040, 5400, 1455, 375}, QT_TRANSLATE_NOOP("Tempikon", "&Help"), kBoldFont);
    w.setDefaultButton(*okButton_);
    w.setBuddy(serverLabel, *serverField_);
    w.setBuddy(offsetLabel, *offsetField_);
    w.setBuddy(timeoutLabel, *timeoutField_);
    w.setBuddy(server2Label, *server2Field_);
    w.setBuddy(offset2Label, *offset2Field_);
    w.setBuddy(intervalLabel, *intervalField_);
    w.setBuddy(listLabel, *serverList_);
    w.setBuddy(protocolLabel, *protocolBox_);
    w.setBuddy(protocol2Label, *protocol2Box_);

    serverMenu_ = &w.addPopupMenu(QT_TRANSLATE_NOOP("Tempikon", "&Set Server"));
    usePrimaryItem_ =
        &serverMenu_->addItem(QT_TRANSLATE_NOOP("Tempikon", "Use as &primary timeserver"));
    useBackupItem_ =
        &serverMenu_->addItem(QT_TRANSLATE_NOOP("Tempikon", "Use as &backup timeserver"));

    checkAllButton_->onClick = [this] { onCheckAll(); };
    checkServerButton_->onClick = [this] { onCheckServer(); };
    abortButton_->onClick = [this] { onAbort(); };
    okButton_->onClick = [this] { onOk(); };
    cancelButton_->onClick = [this] { onCancel(); };
    helpButton_->onClick = [this] { onHelp(); };
    serverList_->onSelectionChanged = [this] { onSelectionChanged(); };
    serverList_->onMouseDown = [this](int button) { onListMouseDown(button); };
    serverList_->onDoubleClick = [this] { onListDoubleClick(); };
    serverList_->onMenuKey = [this] { onListMenuKey(); };
    protocolBox_->onSelectionChanged = [this] { protocolChosen(Role::Primary); };
    protocol2Box_->onSelectionChanged = [this] { protocolChosen(Role::Backup); };
    usePrimaryItem_->onClick = [this] { onUseServer(Role::Primary); };
    useBackupItem_->onClick = [this] { onUseServer(Role::Backup); };
}

void ConfigDialog::addTrustRow(Role role, int top, const char* caption) {
    platform::Window& w = *window_;
    TrustRow& row = trust_[Index(role)];
    row.label = &w.addLabel({120, top + 15, kTrustLabelWidth, 255}, caption, kSmallFont);
    row.field =
        &w.addTextField({kTrustFieldLeft, top, kTrustFieldWidth, kTrustHeight}, Align::Left);
    row.button = &w.addButton({kTrustButtonLeft, top, kTrustButtonWidth, kTrustHeight},
                              kBrowseCaption, kSmallFont);
    w.setBuddy(*row.label, *row.field);
    row.button->onClick = [this, role] { onChooseTrustFile(role); };
}

// ---- opening and closing ------------------------------------------------------

void ConfigDialog::show() {
    fillFields();
    window_->showModal();
}

void ConfigDialog::fillFields() {
    serverField_->setText(inForce_.primary().host);
    server2Field_->setText(inForce_.backup().host);
    offsetField_->setText(core::NumberText(inForce_.primary().offsetHours));
    offset2Field_->setText(core::NumberText(inForce_.backup().offsetHours));
    utcBox_->setChecked(core::IsUtcZone(inForce_.primary().zone()));
    utc2Box_->setChecked(core::IsUtcZone(inForce_.backup().zone()));
    fillProtocolChoice(*protocolBox_, inForce_.primary().protocol.text());
    fillProtocolChoice(*protocol2Box_, inForce_.backup().protocol.text());
    trust_[0].field->setText(inForce_.primary().trustFile);
    trust_[1].field->setText(inForce_.backup().trustFile);
    protocolChosen(Role::Primary);
    protocolChosen(Role::Backup);
    timeoutField_->setText(core::NumberText(inForce_.timeout));
    intervalField_->setText(core::NumberText(inForce_.interval));
    // The real state: the entry may have been made or removed elsewhere.
    autostartBox_->setChecked(platform_.autostartEnabled());
    fillKeepClockBox();
    loadServerList();
}

void ConfigDialog::fillKeepClockBox() {
    platform::TimeSync* sync = platform_.timeSync();
    const platform::TimeSyncState state = sync ? sync->state() : platform::TimeSyncState{};
    keepClockBox_->setChecked(state.known && !state.on);
    // Only what the system can switch: without its time service the box
    // says nothing and changes nothing.
    keepClockBox_->setEnabled(state.known && state.canChange);
}

bool ConfigDialog::applyKeepClock() {
    platform::TimeSync* sync = platform_.timeSync();
    if (!sync || !keepClockBox_->isEnabled()) return true;
    const platform::Liveness::Watch watch = liveness_.watch();
    const platform::TimeSyncState state = sync->state();
    if (!stillOpen(watch)) return false;
    const bool automatic = !keepClockBox_->isChecked();
    // Only a change the user asked for: the box left as it was opened
    // changes nothing, whatever happened elsewhere.
    if (!state.known || state.on == automatic) return true;
    const platform::ClockResult switched = sync->setAutomatic(automatic);
    if (!stillOpen(watch)) return false;
    if (hooks_.onTimeSyncChanged) hooks_.onTimeSyncChanged();
    if (switched.ok) return true;
    std::string text = kKeepClockFailed;
    text.replace(text.find("%1"), 2, switched.reason.empty() ? "unknown error" : switched.reason);
    messageBox(text, platform::kMbOk | platform::kMbIconExclamation);
    if (!stillOpen(watch)) return false;
    fillKeepClockBox();
    return false;
}

std::string ConfigDialog::trustFor(const std::string& server) const {
    // A private server in the list is checked with the certificates its
    // configured twin trusts: the same host on the same key port.
    const auto wanted = core::ParseServerAddress(server, core::nts::kKePort);
    if (!wanted) return {};
    const auto same = [&wanted](const std::string& configured) {
        const auto address = core::ParseServerAddress(configured, core::nts::kKePort);
        return address && *address == *wanted;
    };
    if (same(inForce_.primary().host)) return inForce_.primary().trustFile;
    if (same(inForce_.backup().host)) return inForce_.backup().trustFile;
    return {};
}

int ConfigDialog::fixedProtocolItems() const {
    return platform_.ntsUnavailableReason().empty() ? kNtsItem + 1 : kNtsItem;
}

void ConfigDialog::fillProtocolChoice(platform::ComboBox& box, const std::string& stored) {
    box.addItem(core::ProtocolName(core::Protocol::Daytime));
    box.addItem(core::ProtocolName(core::Protocol::Ntp));
    if (fixedProtocolItems() > kNtsItem) box.addItem(core::ProtocolName(core::Protocol::Nts));
    const std::optional<core::Protocol> protocol = core::ParseProtocol(stored);
    if (protocol && ProtocolItem(*protocol) < fixedProtocolItems()) {
        box.setSelectedIndex(ProtocolItem(*protocol));
        return;
    }
    // One that cannot be used (NTS where the system offers none, a typing
    // error in the settings) stays selected as stored: the setting reports
    // it, and OK keeps it.
    box.addItem(stored);
    box.setSelectedIndex(box.count() - 1);
}

void ConfigDialog::protocolChosen(Role role) {
    const bool primary = role == Role::Primary;
    const platform::ComboBox& box = primary ? *protocolBox_ : *protocol2Box_;
    platform::CheckBox& utcBox = primary ? *utcBox_ : *utc2Box_;
    utcBox.setEnabled(!ChoiceGivesUtc(box));
    const bool nts = ChoiceIsNts(box);
    // The row's text stays while hidden: choosing NTS again brings it back,
    // and OK keeps it (only NTS reads it).
    utcBox.setHidden(nts);
    (primary ? *primaryHint_ : *backupHint_).setHidden(nts);
    const TrustRow& row = trust_[Index(role)];
    row.label->setHidden(!nts);
    row.field->setHidden(!nts);
    row.button->setHidden(!nts);
}

void ConfigDialog::loadServerList() {
    serverList_->clear();
    failures_.clear();
    showStatus({});
    for (const std::string& entry : LoadServerListEntries(platform_)) serverList_->addItem(entry);
}

bool ConfigDialog::isShown() const {
    return window_->isVisible();
}

void ConfigDialog::close() {
    window_->close();
}

platform::Window& ConfigDialog::window() {
    return *window_;
}

bool ConfigDialog::onCloseRequest() {
    // The main window is closing: its query has ended every wait.
    if (query_.isShutDown()) return true;
    // A check or an adoption still has to write into the dialog.
    if (!isWorking()) return true;
    // An adoption's query ends by itself; Abort does not reach it.
    if (!closed_ && checking()) showStatus(kCheckRunning);
    return false;
}

void ConfigDialog::windowClosed() {
    closed_ = true;
    if (busyListener_ != 0) {
        query_.removeBusyListener(busyListener_);
        busyListener_ = 0;
    }
    if (onClosed) onClosed();
}

// ---- enabled states -----------------------------------------------------------

bool ConfigDialog::queryBlocked() const {
    return query_.isBusy() || adopting_;
}

void ConfigDialog::setStates(bool checkAll, bool checkServer, bool abort, bool list) {
    states_.checkAll = checkAll;
    states_.checkServer = checkServer;
    states_.abort = abort;
    states_.list = list;
    showStates();
}

void ConfigDialog::showStates() {
    if (closed_) return;
    const bool blocked = queryBlocked();
    checkAllButton_->setEnabled(states_.checkAll && !blocked);
    checkServerButton_->setEnabled(states_.checkServer && !blocked);
    // Greyed only because another query waits: the tip says so.
    const bool mainWindowAsks = query_.isBusy() && !adopting_ && !checking();
    checkAllButton_->setToolTip(mainWindowAsks ? kWaitingForMainWindow : "");
    checkServerButton_->setToolTip(mainWindowAsks ? kWaitingForMainWindow : "");
    abortButton_->setEnabled(states_.abort);
    serverList_->setEnabled(states_.list);
    serverMenu_->setEnabled(states_.serverMenu && !blocked);
    // An entry without a host has nothing to adopt.
    const int selected = serverList_->selectedIndex();
    const bool hasHost = selected >= 0 && HostOfEntry(serverList_->itemText(selected));
    usePrimaryItem_->setEnabled(hasHost);
    useBackupItem_->setEnabled(hasHost);
}

bool ConfigDialog::stillOpen(const platform::Liveness::Watch& watch) const {
    return watch.alive() && !closed_;
}

int ConfigDialog::messageBox(const std::string& text, int flags) {
    return platform_.messageBox(text, version::kTitle, flags);
}

// ---- server checks ------------------------------------------------------------

std::optional<std::int32_t> ConfigDialog::takeTimeout() {
    const std::optional<std::int32_t> timeout = TimeoutFromField(timeoutField_->text());
    if (!timeout) {
        messageBox(kTimeoutMessage, platform::kMbOk | platform::kMbIconExclamation);
        return std::nullopt;
    }
    if (hooks_.useTimeoutUntilNextOk) hooks_.useTimeoutUntilNextOk(*timeout);
    return timeout;
}

bool ConfigDialog::checkSelectedServer() {
    // The field is read for every server: a time-out typed during "Check
    // all" applies from the next one.
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::optional<std::int32_t> timeout = takeTimeout();
    if (!timeout) return stillOpen(watch);
    const int index = serverList_->selectedIndex();
    if (index < 0) return true;
    const std::string entry = serverList_->itemText(index);
    std::string result;
    std::string failure;
    std::string authenticatedBy;
    // No usable host: no query, the entry shows "[Timeout ]".
    const std::optional<std::string> host = HostOfEntry(entry);
    core::QueryAnswer answer;
    if (host) {
        // The line under the list follows the entry being checked.
        std::string checkingText = kChecking;
        checkingText.replace(checkingText.find("%1"), 2, *host);
        showStatus(checkingText);
        const core::Protocol protocol = EntryProtocol(entry);
        const core::ServerSpec spec{.host = *host,
                                    .protocol = core::ProtocolSetting(protocol),
                                    .trustFile = trustFor(*host)};
        // One request: a check shows the time, it sets nothing.
        answer = query_.ask(spec, *timeout, 1);
        if (!stillOpen(watch)) return false;
        if (answer.sample) {
            const core::ntp::Sample& sample = *answer.sample;
            const platform::LocalDateTime server =
                platform_.clock().localAt(sample.receivedMicros + sample.offsetMicros);
            result = NtpResultText(server.hour * 3600 + server.minute * 60 + server.second,
                                   sample.offsetMicros);
            if (protocol == core::Protocol::Nts) {
                result += " authenticated";
                authenticatedBy = answer.ntsSubject;
            }
        } else {
            result = core::Latin1ToUtf8(answer.timeText);
        }
        if (result.empty()) failure = answer.failure.reason;
    } else {
        failure = QT_TRANSLATE_NOOP("Tempikon", "the entry names no server");
    }
    const int selected = serverList_->selectedIndex();
    const int target = selected >= 0 ? selected : index;
    std::string status;
    if (result.empty()) {
        if (host) status = *host + ": ";
        status += failure;
    } else {
        // The entry's column may cut the result: the line holds it whole,
        // and names who vouched for an NTS server's time.
        status = *host + ": " + result;
        if (!authenticatedBy.empty()) status += " by " + core::EscapeText(authenticatedBy);
    }
    if (answer.failure.kind == core::FailureKind::Stopped && host) {
        // Stopped by the user: the entry says so, not that the server was silent.
        serverList_->setItemText(target, EntryWithResult(entry, kStoppedMark));
        failures_[target] = status;
    } else {
        serverList_->setItemText(target, EntryWithResult(entry, result));
        failures_[target] = status;
    }
    showStatus(status);
    return true;
}

void ConfigDialog::onCheckServer() {
    if (queryBlocked() || isWorking()) return;
    // Abort stops the one check at once.
    setStates(false, false, true, false);
    checkingOne_ = true;
    const platform::Liveness::Watch watch = liveness_.watch();
    const bool open = checkSelectedServer();
    if (!watch.alive()) return;
    checkingOne_ = false;
    if (!open) return;
    setStates(true, true, false, true);
}

void ConfigDialog::onCheckAll() {
    if (queryBlocked() || isWorking()) return;
    const platform::Liveness::Watch watch = liveness_.watch();
    if (!takeTimeout()) return;
    setStates(false, false, true, false);
    abortRequested_ = false;
    const int count = serverList_->count();
    for (int i = 0; i < count; ++i) {
        // Selecting runs the selection rule; re-selecting the same entry
        // raises no notification, so run the rule here then.
        if (serverList_->selectedIndex() == i) {
            onSelectionChanged();
        } else {
            serverList_->setSelectedIndex(i);
        }
        if (!checkSelectedServer()) return;
        if (abortRequested_ || query_.isShutDown()) break;
    }
    if (!stillOpen(watch)) return;
    setStates(true, true, false, true);
}

void ConfigDialog::onAbort() {
    if (checkingOne_) {
        query_.cancel();
        return;
    }
    abortRequested_ = true;
    messageBox(kAbortMessage, platform::kMbOk | platform::kMbIconInformation);
}

void ConfigDialog::onSelectionChanged() {
    states_.checkServer = states_.checkAll;
    states_.serverMenu = states_.checkAll;
    showStates();
    // The selected entry's last failure, or nothing; a check that runs
    // writes its own.
    if (checking()) return;
    const auto failure = failures_.find(serverList_->selectedIndex());
    showStatus(failure != failures_.end() ? failure->second : std::string());
}

void ConfigDialog::showStatus(const std::string& text) {
    statusLine_->setText(text);
    // The line may be too short for a long reason: the tip holds it whole.
    statusLine_->setToolTip(text);
}

// ---- adopting a listed server ---------------------------------------------------

void ConfigDialog::onListMouseDown(int button) {
    if (button == 2 && serverMenu_->isEnabled()) serverMenu_->popupAtCursor();
}

void ConfigDialog::onListDoubleClick() {
    if (serverMenu_->isEnabled()) serverMenu_->popupAtCursor();
}

void ConfigDialog::onListMenuKey() {
    if (serverMenu_->isEnabled() && serverList_->selectedIndex() >= 0)
        serverMenu_->popupAtSelectedEntry(*serverList_);
}

void ConfigDialog::onUseServer(Role role) {
    if (queryBlocked() || isWorking()) return;
    const int selected = serverList_->selectedIndex();
    if (selected < 0) return;
    const std::string entry = serverList_->itemText(selected);
    const std::optional<std::string> host = HostOfEntry(entry);
    if (!host) return;

    const core::Protocol protocol = EntryProtocol(entry);
    // NTP and NTS both give UTC with the date.
    const bool ntp = core::GivesDate(protocol);

    const platform::Liveness::Watch watch = liveness_.watch();
    adopting_ = true;
    showStates();
    const core::ServerSpec spec{
        .host = *host, .protocol = core::ProtocolSetting(protocol), .trustFile = trustFor(*host)};
    const core::QueryAnswer answer = query_.ask(spec, inForce_.timeout, 1);
    const std::string& timeText = answer.timeText;
    const bool answered = answer.any();
    if (!watch.alive()) return;
    Adoption adoption;
    bool adopt = !closed_;
    if (adopt && ntp) {
        // NTP gives UTC with the date: offset 0 and no zone, whatever it said.
        if (!answered) {
            const int answer = messageBox(NoAnswerWarning(*host),
                                          platform::kMbYesNo | platform::kMbIconExclamation);
            if (!watch.alive()) return;
            adopt = !closed_ && answer == platform::kIdYes;
        }
    } else if (adopt && answered) {
        const platform::Clock& clock = platform_.clock();
        const std::int64_t nowMicros = clock.nowMicros();
        const platform::LocalDateTime now = clock.localAt(nowMicros);
        adoption = ChooseAdoption(answer.reply, timeText, EntryMarksUtc(entry), now.hour,
                                  now.minute, clock.utcOffsetSeconds(nowMicros));
    } else if (adopt) {
        const int answer =
            messageBox(NoAnswerWarning(*host), platform::kMbYesNo | platform::kMbIconExclamation);
        if (!watch.alive()) return;
        adopt = !closed_ && answer == platform::kIdYes;
        adoption = ChooseAdoption({}, {}, EntryMarksUtc(entry), 0, 0, 0);
    }
    adopting_ = false;
    if (!adopt) {
        showStates();
        return;
    }
    platform::TextField& hostField = role == Role::Primary ? *serverField_ : *server2Field_;
    platform::TextField& hoursField = role == Role::Primary ? *offsetField_ : *offset2Field_;
    platform::CheckBox& utcBox = role == Role::Primary ? *utcBox_ : *utc2Box_;
    platform::ComboBox& choice = role == Role::Primary ? *protocolBox_ : *protocol2Box_;
    hostField.setText(*host);
    // The certificates go with the server they were configured for.
    trust_[Index(role)].field->setText(trustFor(*host));
    hoursField.setText(core::NumberText(adoption.offset));
    utcBox.setChecked(adoption.utc);
    // Where the system offers no NTS the entry's own protocol is stored as
    // text, and the setting says why it cannot be used.
    const int item = ProtocolItem(protocol);
    if (item < fixedProtocolItems()) {
        choice.setSelectedIndex(item);
    } else {
        int stored = fixedProtocolItems();
        while (stored < choice.count() && core::ParseProtocol(choice.itemText(stored)) != protocol)
            ++stored;
        if (stored == choice.count()) choice.addItem(core::ProtocolName(protocol));
        choice.setSelectedIndex(stored);
    }
    showStates();
}

void ConfigDialog::onChooseTrustFile(Role role) {
    platform::TextField& field = *trust_[Index(role)].field;
    platform::FileChoice choice;
    choice.title = kTrustChooserTitle;
    choice.current = core::Trim(field.text());
    choice.filterName = kPemFiles;
    choice.patterns = {"*.pem", "*.crt", "*.cer"};
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::optional<std::string> chosen = platform_.chooseFile(choice, window_->handle());
    if (!stillOpen(watch) || !chosen) return;
    field.setText(*chosen);
}

// ---- OK, Cancel, Help ------------------------------------------------------------

void ConfigDialog::onOk() {
    const FieldTexts fields{serverField_->text(),
                            offsetField_->text(),
                            server2Field_->text(),
                            offset2Field_->text(),
                            timeoutField_->text(),
                            intervalField_->text(),
                            utcBox_->isChecked(),
                            utc2Box_->isChecked(),
                            ChosenProtocol(*protocolBox_, inForce_.primary().protocol.text()),
                            ChosenProtocol(*protocol2Box_, inForce_.backup().protocol.text()),
                            trust_[0].field->text(),
                            trust_[1].field->text()};
    std::optional<core::Config> config = ValidatedConfig(fields, inForce_);
    if (!config) {
        messageBox(kFieldsMessage, platform::kMbOk | platform::kMbIconExclamation);
        return;
    }
    const platform::StoreResult saved = core::SaveConfig(platform_.settings(), *config);
    if (hooks_.onApplied) hooks_.onApplied(*config);
    if (!saved.ok) {
        // The values are in force; the dialog stays open so nothing typed is lost.
        std::string text = "The settings could not be saved";
        text += saved.reason.empty() ? "." : ": " + saved.reason;
        messageBox(text, platform::kMbOk | platform::kMbIconExclamation);
        return;
    }
    // Only a change is written: an entry the user keeps stays untouched.
    const bool autostart = autostartBox_->isChecked();
    if (autostart != platform_.autostartEnabled()) {
        const platform::StoreResult written = platform_.setAutostart(autostart);
        if (!written.ok) {
            std::string text = "The autostart entry could not be changed";
            if (written.reason.empty()) {
                text += '.';
            } else {
                text += ": ";
                text += written.reason;
            }
            const platform::Liveness::Watch watch = liveness_.watch();
            messageBox(text, platform::kMbOk | platform::kMbIconExclamation);
            if (!stillOpen(watch)) return;
            autostartBox_->setChecked(platform_.autostartEnabled());
            return;
        }
    }
    if (!applyKeepClock()) return;
    close();
}

void ConfigDialog::onCancel() {
    close();
}

void ConfigDialog::onHelp() {
    const std::string address = HelpAddress(platform_);
    if (!platform_.openAddress(address, window_->handle()))
        messageBox(platform::NotOpenedMessage(address),
                   platform::kMbOk | platform::kMbIconExclamation);
}

}  // namespace tempikon::settings_dialog
