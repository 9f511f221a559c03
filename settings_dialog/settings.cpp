#include "settings_dialog/settings.h"

#include "core/numbers.h"
#include "settings_dialog/field_rules.h"
#include "settings_dialog/server_list.h"

namespace tempikon::settings_dialog {

namespace {

using platform::Align;
using platform::FontSpec;
using platform::TwipsRect;

const FontSpec kBoldFont{"Comic Sans MS", 9.75, true};
const FontSpec kSmallFont{"Comic Sans MS", 8.25, false};
const FontSpec kListFont{"Courier New", 8.25, false};
constexpr platform::Colour kHintColour = 0x000000FFu;  // pure red

constexpr const char* kHint = "Select from the list below";

}  // namespace

Settings::Settings(platform::Platform& platform, core::PublicStuff& stuff, MainWindowLink link)
    : platform_(platform), stuff_(stuff), link_(link) {
    platform::WindowSpec spec;
    spec.caption = "Configuration";
    spec.clientWidthTwips = 9675;
    spec.clientHeightTwips = 5895;
    spec.dialog = true;
    window_ = platform_.createWindow(spec);
    createControls();

    window_->onCloseRequest = [this] { return Form_QueryUnload(); };
    window_->onClosed = [this] { Form_Closed(); };
    busyListener_ = link_.query.addBusyListener([this] { showStates(); });
    showStates();
}

Settings::~Settings() {
    window_->onCloseRequest = nullptr;
    window_->onClosed = nullptr;
    if (busyListener_ != 0) link_.query.removeBusyListener(busyListener_);
}

void Settings::createControls() {
    platform::Window& w = *window_;
    // Labels take no focus; the focusable controls follow in tab order.
    Label1_ = &w.addLabel({120, 120, 2055, 255}, "Primary Timeserver", kBoldFont);
    Label2_ = &w.addLabel({120, 750, 2655, 255}, kHint, kSmallFont);
    Label10_ = &w.addLabel({4080, 120, 855, 255}, "Offset", kBoldFont);
    Label12_ = &w.addLabel({4680, 480, 615, 285}, "Hours", kSmallFont);
    Label4_ = &w.addLabel({5880, 120, 975, 255}, "Timeout", kBoldFont);
    Label5_ = &w.addLabel({6480, 480, 855, 285}, "Seconds", kSmallFont);
    Label8_ = &w.addLabel({120, 1080, 2055, 255}, "Backup Timeserver", kBoldFont);
    Label9_ = &w.addLabel({120, 1710, 2655, 255}, kHint, kSmallFont);
    Label11_ = &w.addLabel({4080, 1080, 855, 255}, "Offset", kBoldFont);
    Label13_ = &w.addLabel({4680, 1440, 615, 285}, "Hours");
    Label6_ = &w.addLabel({5880, 1080, 2415, 255}, "Interval (Server mode)", kBoldFont);
    Label7_ = &w.addLabel({6480, 1440, 735, 285}, "Minutes", kSmallFont);
    Label3_ = &w.addLabel({120, 2160, 4335, 255}, "List of public Timerservers", kBoldFont);
    Label2_->setTextColour(kHintColour);
    Label9_->setTextColour(kHintColour);

    Text1_ = &w.addTextField({120, 480, 3735, 285}, Align::Left);
    Text5_ = &w.addTextField({4080, 480, 495, 285}, Align::Right);
    Text4_ = &w.addTextField({120, 1440, 3735, 285}, Align::Left);
    Text6_ = &w.addTextField({4080, 1440, 495, 285}, Align::Right);
    Text2_ = &w.addTextField({5880, 480, 495, 285}, Align::Right);
    Text3_ = &w.addTextField({5880, 1440, 495, 285}, Align::Right);
    List1_ = &w.addListBox({120, 2520, 7695, 3210}, kListFont);
    Command1_ = &w.addButton({8040, 2520, 1455, 375}, "Check all", kBoldFont);
    Command2_ = &w.addButton({8040, 3000, 1455, 375}, "Check server", kBoldFont);
    Command5_ = &w.addButton({8040, 3480, 1455, 375}, "Abort", kBoldFont);
    Command4_ = &w.addButton({8040, 4440, 1455, 375}, "&OK", kBoldFont);
    Command3_ = &w.addButton({8040, 4920, 1455, 375}, "Cancel", kBoldFont);
    Command6_ = &w.addButton({8040, 5400, 1455, 375}, "Help", kBoldFont);
    w.setDefaultButton(*Command4_);

    mnuServer_ = &w.addPopupMenu("&Set Server");
    mnuSet_[0] = &mnuServer_->addItem("Use as &primary Timeserver");
    mnuSet_[1] = &mnuServer_->addItem("Use as backup Timeserver");

    Command1_->onClick = [this] { Command1_Click(); };
    Command2_->onClick = [this] { Command2_Click(); };
    Command5_->onClick = [this] { Command5_Click(); };
    Command4_->onClick = [this] { Command4_Click(); };
    Command3_->onClick = [this] { Command3_Click(); };
    Command6_->onClick = [this] { Command6_Click(); };
    List1_->onSelectionChanged = [this] { List1_Click(); };
    List1_->onMouseDown = [this](int button) { List1_MouseDown(button); };
    List1_->onDoubleClick = [this] { List1_DblClick(); };
    mnuSet_[0]->onClick = [this] { mnuSet_Click(0); };
    mnuSet_[1]->onClick = [this] { mnuSet_Click(1); };
}

// ---- opening and closing ------------------------------------------------------

void Settings::Show() {
    Form_Load();
    window_->showModal();
}

void Settings::Form_Load() {
    const core::ConfigRecord& config = stuff_.Config;
    Text1_->setText(config.Server);
    Text4_->setText(config.Server2);
    Text5_->setText(core::NumberText(config.Offset));
    Text6_->setText(core::NumberText(config.Offset2));
    Text2_->setText(core::NumberText(config.Timeout));
    Text3_->setText(core::NumberText(config.Interval));
    LoadServerList();
}

void Settings::LoadServerList() {
    List1_->clear();
    for (const std::string& entry : LoadServerListEntries(platform_)) List1_->addItem(entry);
}

bool Settings::isShown() const {
    return window_->isVisible();
}

void Settings::Close() {
    window_->close();
}

platform::Window& Settings::window() {
    return *window_;
}

bool Settings::Form_QueryUnload() {
    // The main window is closing: its query has ended every wait.
    if (link_.query.isShutDown()) return true;
    // A check or an adoption still has to write into the dialog.
    return !isWorking();
}

void Settings::Form_Closed() {
    closed_ = true;
    if (busyListener_ != 0) {
        link_.query.removeBusyListener(busyListener_);
        busyListener_ = 0;
    }
    if (onClosed) onClosed();
}

// ---- enabled states -----------------------------------------------------------

bool Settings::queryBlocked() const {
    return link_.query.isBusy() || adopting_;
}

void Settings::showStates() {
    if (closed_) return;
    const bool blocked = queryBlocked();
    Command1_->setEnabled(states_.command1 && !blocked);
    Command2_->setEnabled(states_.command2 && !blocked);
    Command5_->setEnabled(states_.command5);
    List1_->setEnabled(states_.list1);
    mnuServer_->setEnabled(states_.mnuServer && !blocked);
}

bool Settings::stillOpen(const std::weak_ptr<bool>& alive) const {
    return !alive.expired() && !closed_;
}

int Settings::messageBox(const std::string& text, int flags) {
    return platform_.messageBox(text, core::kTitle, flags);
}

// ---- server checks ------------------------------------------------------------

bool Settings::takeTimeout() {
    const std::optional<std::int32_t> timeout = TimeoutFromField(Text2_->text());
    if (!timeout) {
        messageBox(kTimeoutMessage, platform::kMbOk | platform::kMbIconExclamation);
        return false;
    }
    stuff_.Config.Timeout = *timeout;
    return true;
}

bool Settings::CheckSelectedServer() {
    const std::weak_ptr<bool> alive = alive_;
    if (!takeTimeout()) return stillOpen(alive);
    const int index = List1_->selectedIndex();
    if (index < 0) return true;
    const std::string entry = List1_->itemText(index);
    std::string timeText;
    // No usable host: no query, the entry shows "[Timeout ]".
    if (const std::optional<std::string> host = HostOfEntry(entry)) {
        timeText = link_.query.QueryTimeServer(*host);
        if (!stillOpen(alive)) return false;
    }
    const int selected = List1_->selectedIndex();
    List1_->setItemText(selected >= 0 ? selected : index,
                        EntryWithResult(entry, core::Latin1ToUtf8(timeText)));
    return true;
}

void Settings::Command2_Click() {
    if (queryBlocked() || isWorking()) return;
    states_.command1 = false;
    states_.command2 = false;
    states_.command5 = false;
    states_.list1 = false;
    showStates();
    if (!CheckSelectedServer()) return;
    states_.command1 = true;
    states_.command2 = true;
    states_.command5 = false;
    states_.list1 = true;
    showStates();
}

void Settings::Command1_Click() {
    if (queryBlocked() || isWorking()) return;
    const std::weak_ptr<bool> alive = alive_;
    if (!takeTimeout()) return;
    states_.command1 = false;
    states_.command2 = false;
    states_.command5 = true;
    states_.list1 = false;
    showStates();
    abortRequested_ = false;
    const int count = List1_->count();
    for (int i = 0; i < count; ++i) {
        // Selecting runs the selection rule; re-selecting the same entry
        // raises no notification, so run the rule here then.
        if (List1_->selectedIndex() == i) {
            List1_Click();
        } else {
            List1_->setSelectedIndex(i);
        }
        if (!CheckSelectedServer()) return;
        if (abortRequested_ || link_.query.isShutDown()) break;
    }
    if (!stillOpen(alive)) return;
    states_.command1 = true;
    states_.command2 = true;
    states_.command5 = false;
    states_.list1 = true;
    showStates();
}

void Settings::Command5_Click() {
    abortRequested_ = true;
    messageBox(kAbortMessage, platform::kMbOk | platform::kMbIconInformation);
}

void Settings::List1_Click() {
    states_.command2 = states_.command1;
    states_.mnuServer = states_.command1;
    showStates();
}

// ---- adopting a listed server ---------------------------------------------------

void Settings::List1_MouseDown(int button) {
    if (button == 2 && mnuServer_->isEnabled()) mnuServer_->popupAtCursor();
}

void Settings::List1_DblClick() {
    if (mnuServer_->isEnabled()) mnuServer_->popupAtCursor();
}

void Settings::mnuSet_Click(int index) {
    if (queryBlocked() || isWorking()) return;
    const int selected = List1_->selectedIndex();
    if (selected < 0) return;
    const std::optional<std::string> host = HostOfEntry(List1_->itemText(selected));
    if (!host) return;

    const std::weak_ptr<bool> alive = alive_;
    adopting_ = true;
    showStates();
    const std::string timeText = link_.query.QueryTimeServer(*host);
    if (alive.expired()) return;
    float offset = 0.0f;
    bool adopt = !closed_;
    if (adopt && !timeText.empty()) {
        const platform::LocalDateTime now = platform_.clock().now();
        offset = EstimateOffset(now.hour, now.minute, timeText);
    } else if (adopt) {
        const int answer =
            messageBox(NoAnswerWarning(*host), platform::kMbYesNo | platform::kMbIconExclamation);
        if (alive.expired()) return;
        adopt = !closed_ && answer == platform::kIdYes;
    }
    adopting_ = false;
    if (!adopt) {
        showStates();
        return;
    }
    platform::TextField& serverField = index == 0 ? *Text1_ : *Text4_;
    platform::TextField& offsetField = index == 0 ? *Text5_ : *Text6_;
    serverField.setText(*host);
    offsetField.setText(core::NumberText(offset));
    showStates();
}

// ---- OK, Cancel, Help ------------------------------------------------------------

void Settings::Command4_Click() {
    const FieldTexts fields{Text1_->text(), Text5_->text(), Text4_->text(),
                            Text6_->text(), Text2_->text(), Text3_->text()};
    const std::optional<core::ConfigRecord> config = ValidatedConfig(fields);
    if (!config) {
        messageBox(kFieldsMessage, platform::kMbOk | platform::kMbIconExclamation);
        return;
    }
    stuff_.Config = *config;
    const platform::StoreResult saved = core::SaveConfig(platform_.settings(), stuff_.Config);
    link_.label1.setText(stuff_.Config.Server);
    link_.mnuSet.setEnabled(true);
    if (!saved.ok) {
        // The values are in force; the dialog stays open so nothing typed is lost.
        std::string text = "The settings could not be saved";
        text += saved.reason.empty() ? "." : ": " + saved.reason;
        messageBox(text, platform::kMbOk | platform::kMbIconExclamation);
        return;
    }
    Close();
}

void Settings::Command3_Click() {
    Close();
}

void Settings::Command6_Click() {
    platform_.openAddress(HelpAddress(platform_), window_->handle());
}

}  // namespace tempikon::settings_dialog
