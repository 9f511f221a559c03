#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"

// An in-memory platform with virtual time. Nothing happens until a test
// advances time (or a handler waits for events, which moves time on to the
// next scheduled event). Every text, enabled state and clock setting is kept.
namespace tempikon::fake {

class FakePlatform;

// ---- controls -------------------------------------------------------------

class FakeLabel : public platform::Label {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    void setText(const std::string& t) override;
    std::string text() const override { return text_; }
    void setTextColour(platform::Colour c) override { colour = c; }
    platform::Colour textColour() const override { return colour; }
    void setToolTip(const std::string& t) override { tip = t; }
    std::string toolTip() const override { return tip; }
    void setHidden(bool h) override { hidden = h; }
    bool isHidden() const override { return hidden; }

    void mouseMove() {
        if (onMouseMove) onMouseMove();
    }
    void click() {
        if (onClick) onClick();
    }

    platform::TwipsRect rect;
    platform::FontSpec font;
    bool enabled = true;
    bool hidden = false;
    platform::Colour colour = platform::kButtonTextColour;
    std::vector<std::string> history;  // every text written, in order
    std::string tip;
    FakePlatform* owner = nullptr;

private:
    std::string text_;
};

class FakeTextField : public platform::TextField {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    void setText(const std::string& t) override { text_ = t; }
    std::string text() const override { return text_; }
    void setHidden(bool h) override { hidden = h; }
    bool isHidden() const override { return hidden; }

    // The user typing: replaces the whole text.
    void type(const std::string& t) { text_ = t; }

    platform::TwipsRect rect;
    platform::Align align = platform::Align::Left;
    bool enabled = true;
    bool hidden = false;

private:
    std::string text_;
};

class FakeButton : public platform::Button {
public:
    void setEnabled(bool e) override;
    bool isEnabled() const override { return enabled; }
    std::string caption() const override { return caption_; }
    void setToolTip(const std::string& text) override { tip = text; }
    void setHidden(bool h) override { hidden = h; }
    bool isHidden() const override { return hidden; }

    // A user's click: does nothing while disabled or hidden.
    void click() {
        if (enabled && !hidden && onClick) onClick();
    }

    platform::TwipsRect rect;
    platform::FontSpec font;
    bool enabled = true;
    bool hidden = false;
    std::string caption_;
    std::string tip;
    std::vector<bool> enabledHistory;
};

class FakeCheckBox : public platform::CheckBox {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    std::string caption() const override { return caption_; }
    void setChecked(bool c) override { checked = c; }
    bool isChecked() const override { return checked; }
    void setHidden(bool h) override { hidden = h; }
    bool isHidden() const override { return hidden; }

    // A user's click: toggles, unless disabled or hidden.
    void click() {
        if (enabled && !hidden) checked = !checked;
    }

    platform::TwipsRect rect;
    platform::FontSpec font;
    bool enabled = true;
    bool hidden = false;
    bool checked = false;
    std::string caption_;
};

class FakeListBox : public platform::ListBox {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    void clear() override;
    void addItem(const std::string& text) override { items.push_back(text); }
    int count() const override { return static_cast<int>(items.size()); }
    int selectedIndex() const override { return selected; }
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;
    void setItemText(int index, const std::string& text) override;

    // User actions; ignored while disabled, as a disabled list takes no input.
    void userSelect(int index);
    void mouseDown(int button) {
        if (enabled && onMouseDown) onMouseDown(button);
    }
    // Selects the entry under the pointer first, as a real double click does.
    void doubleClick(int index);
    void menuKey() {
        if (enabled && onMenuKey) onMenuKey();
    }

    platform::TwipsRect rect;
    platform::FontSpec font;
    bool enabled = true;
    std::vector<std::string> items;
    int selected = -1;
};

class FakeComboBox : public platform::ComboBox {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    void addItem(const std::string& text) override { items.push_back(text); }
    int count() const override { return static_cast<int>(items.size()); }
    int selectedIndex() const override { return selected; }
    void setSelectedIndex(int index) override;
    std::string itemText(int index) const override;

    // The user's choice of the item with this text; ignored while disabled.
    void userChoose(const std::string& text);

    platform::TwipsRect rect;
    platform::FontSpec font;
    bool enabled = true;
    std::vector<std::string> items;
    int selected = -1;
};

class FakeMenuItem : public platform::MenuItem {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    std::string caption() const override { return caption_; }

    void click() {
        if (enabled && onClick) onClick();
    }

    bool enabled = true;
    std::string caption_;
};

class FakePopupMenu : public platform::PopupMenu {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    platform::MenuItem& addItem(const std::string& caption) override;
    // Chooses the item that the test queued with FakePlatform::queuePopupChoice
    // (none: the menu is dismissed).
    void popupAtCursor() override;
    void popupAtSelectedEntry(const platform::ListBox& list) override;

    bool enabled = true;
    std::string caption;
    int timesOpened = 0;
    // Opened from the keyboard, beside the list's selected entry.
    int timesOpenedAtEntry = 0;
    std::vector<std::unique_ptr<FakeMenuItem>> items;
    FakePlatform* owner = nullptr;
};

class FakePicture : public platform::Picture {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    bool enabled = true;
    std::string image;
    platform::TwipsRect rect;
};

// ---- windows ---------------------------------------------------------------

// A canvas of a fixed size (one pixel per 15 twips, as at 96 DPI) that
// keeps the last drawing.
class FakeCanvas : public platform::Canvas {
public:
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
    int pixelWidth() const override { return rect.width / 15; }
    int pixelHeight() const override { return rect.height / 15; }
    void draw(platform::Drawing d) override {
        drawing = std::move(d);
        ++draws;
    }

    void hover(int x, int y) {
        if (onMouseMove) onMouseMove(x, y);
    }
    void key(platform::CanvasKey k) {
        if (onKey) onKey(k);
    }

    platform::TwipsRect rect;
    bool enabled = true;
    platform::Drawing drawing;
    int draws = 0;
};

class FakeWindow : public platform::Window {
public:
    FakeWindow(FakePlatform& owner, platform::WindowSpec spec, platform::NativeHandle handle);
    ~FakeWindow() override;

    void setCaption(const std::string& c) override {
        caption_ = c;
        captionHistory.push_back(c);
    }
    std::string caption() const override { return caption_; }
    platform::Label& addLabel(const platform::TwipsRect& rect, const std::string& text,
                              const platform::FontSpec& font) override;
    platform::TextField& addTextField(const platform::TwipsRect& rect,
                                      platform::Align align) override;
    platform::Button& addButton(const platform::TwipsRect& rect, const std::string& caption,
                                const platform::FontSpec& font) override;
    platform::CheckBox& addCheckBox(const platform::TwipsRect& rect, const std::string& caption,
                                    const platform::FontSpec& font) override;
    platform::ListBox& addListBox(const platform::TwipsRect& rect,
                                  const platform::FontSpec& font) override;
    platform::ComboBox& addComboBox(const platform::TwipsRect& rect,
                                    const platform::FontSpec& font) override;
    platform::Picture& addPicture(const platform::TwipsRect& rect,
                                  const std::string& image) override;
    platform::Canvas& addCanvas(const platform::TwipsRect& rect) override;
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    platform::PopupMenu& addPopupMenu(const std::string& caption) override;
    void setDefaultButton(platform::Button& button) override { defaultButton = &button; }
    void setBuddy(platform::Label& label, platform::Control& target) override {
        buddies[&label] = &target;
    }

    void show() override;
    void showModal() override;
    void minimise() override { minimised = true; }
    void hide() override;
    bool isMinimised() const override { return minimised; }
    bool isVisible() const override { return shown && !closed && !hidden; }
    void close() override;
    bool isClosed() const override { return closed; }
    platform::NativeHandle handle() const override { return handle_; }

    // The user's close box: the same road as close().
    void userClose() { close(); }
    // The user's minimise box.
    void userMinimise();
    // Enter pressed: clicks the default button.
    void pressEnter();
    void mouseMove() {
        if (onMouseMove) onMouseMove();
    }

    platform::WindowSpec spec;
    std::vector<std::string> captionHistory;
    bool shown = false;
    bool modal = false;
    bool minimised = false;
    bool closed = false;
    // Taken off the screen by hide(); show() clears it.
    bool hidden = false;
    int timesHidden = 0;
    // Minimised state at the moment the window was first shown.
    std::optional<bool> minimisedWhenFirstShown;
    // Virtual time of the first show.
    std::optional<long long> firstShownAt;
    platform::Button* defaultButton = nullptr;
    // Label -> the control its accelerator focuses.
    std::map<const platform::Label*, platform::Control*> buddies;
    // In the order of creation; the focusable ones give the tab order.
    std::vector<platform::Control*> controls;
    std::vector<platform::Control*> tabOrder;
    std::vector<FakeMenuItem*> menuBar;

private:
    FakePlatform& owner_;
    std::string caption_;
    platform::NativeHandle handle_;
    std::vector<std::unique_ptr<platform::Control>> owned_;

    // Takes a new control into the window, in creation (and tab) order.
    template <typename T>
    T& keep(std::unique_ptr<T> control, bool focusable) {
        T& ref = *control;
        controls.push_back(&ref);
        if (focusable) tabOrder.push_back(&ref);
        owned_.push_back(std::move(control));
        return ref;
    }
};

// ---- tray ------------------------------------------------------------------

struct Notification {
    std::string title;
    std::string text;
    long long atMs = 0;
};

class FakeTray : public platform::Tray {
public:
    explicit FakeTray(FakePlatform& owner);
    ~FakeTray() override;
    bool isAvailable() const override;
    void show() override { shown = true; }
    void hide() override { shown = false; }
    void setState(platform::TrayState s) override { state = s; }
    void setToolTip(const std::string& text) override { tip = text; }
    platform::MenuItem& addMenuItem(const std::string& caption) override;
    void notify(const std::string& title, const std::string& text) override;

    // The user's click on the icon.
    void activate() {
        if (onActivated) onActivated();
    }
    // The menu item with this caption; nullptr when there is none.
    FakeMenuItem* item(const std::string& caption);

    bool shown = false;
    platform::TrayState state = platform::TrayState::Unknown;
    std::string tip;
    std::vector<std::unique_ptr<FakeMenuItem>> items;

private:
    FakePlatform& owner_;
};

// ---- timer and socket -------------------------------------------------------

class FakeTimer : public platform::Timer {
public:
    explicit FakeTimer(FakePlatform& owner) : owner_(owner) {}
    ~FakeTimer() override;
    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool e) override;
    bool isEnabled() const override { return enabled_; }

    int fireCount = 0;
    std::vector<int> intervalHistory;

private:
    friend class FakePlatform;
    void rearm();
    void fire(std::uint64_t generation);

    FakePlatform& owner_;
    int interval_ = 0;
    bool enabled_ = true;  // like a fresh window timer: enabled, interval 0
    bool inCallback_ = false;
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// What a scripted server does after a connection is made, each step at a
// delay from the connection.
struct PeerStep {
    enum Kind { Data, Error, ReadFailure, Close } kind = Data;
    long long atMs = 0;
    std::string bytes;  // Data: bytes; Error: description
    platform::SocketErrorKind errorKind = platform::SocketErrorKind::Refused;
};

struct PeerScript {
    std::vector<PeerStep> steps;  // empty: accepted and silent

    PeerScript& reply(long long atMs, std::string bytes) {
        steps.push_back({PeerStep::Data, atMs, std::move(bytes)});
        return *this;
    }
    PeerScript& error(long long atMs, std::string description = "Connection refused",
                      platform::SocketErrorKind kind = platform::SocketErrorKind::Refused) {
        steps.push_back({PeerStep::Error, atMs, std::move(description), kind});
        return *this;
    }
    PeerScript& close(long long atMs) {
        steps.push_back({PeerStep::Close, atMs, {}});
        return *this;
    }
    PeerScript& failNextRead(long long atMs) {
        steps.push_back({PeerStep::ReadFailure, atMs, {}});
        return *this;
    }
};

class FakeTcpClient : public platform::TcpClient {
public:
    explicit FakeTcpClient(FakePlatform& owner) : owner_(owner) {}
    ~FakeTcpClient() override;
    void connect(const std::string& host, std::uint16_t port) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    void close() override;
    bool isOpen() const override { return open_; }

    std::string host;
    std::uint16_t port = 0;
    int closeCount = 0;

private:
    FakePlatform& owner_;
    bool open_ = false;
    bool failRead_ = false;
    std::string buffer_;
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// What a scripted UDP server sends back for one request: each datagram at a
// delay from the request, by default from the server's own address.
struct UdpReply {
    long long atMs = 0;
    std::string bytes;
    bool fromServer = true;
};
using UdpResponder = std::function<std::vector<UdpReply>(const std::string& request)>;

struct UdpRequest {
    std::string host;
    std::uint16_t port = 0;
    std::string bytes;
    long long atMs = 0;
};

class FakeUdpClient : public platform::UdpClient {
public:
    explicit FakeUdpClient(FakePlatform& owner) : owner_(owner) {}
    ~FakeUdpClient() override;
    void open(const std::string& host, std::uint16_t port) override;
    std::optional<std::int64_t> send(const std::string& bytes) override;
    void close() override;
    bool isOpen() const override { return open_; }

    std::string host;
    std::uint16_t port = 0;

private:
    FakePlatform& owner_;
    bool open_ = false;
    bool ready_ = false;
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A scripted TLS server: how its handshake ends and what it answers to what
// the client writes. An unscripted host accepts and never finishes the
// handshake.
struct TlsPeerScript {
    long long handshakeMs = 1;
    // Set: the handshake fails with this.
    std::optional<std::pair<platform::TlsErrorKind, std::string>> tlsError;
    // Set: the connection fails with this instead.
    std::optional<std::pair<platform::SocketErrorKind, std::string>> socketError;
    std::string subject = "CN=fake.example";
    // The exported keys come from this (FakeExportedKey), so that a fake
    // server can work out the same.
    std::string secret = "fake session";
    // The answer to everything the client has written so far, sent replyMs
    // after each write; empty: nothing is sent. The server closes after it
    // when closeAfterReply.
    std::function<std::string(const std::string& written)> respond;
    long long replyMs = 1;
    bool closeAfterReply = true;
};

struct TlsConnection {
    std::string host;
    std::uint16_t port = 0;
    std::string alpn;
    std::string extraTrust;
};

// What a fake session exports: the same bytes for the same secret, label
// and context, different ones otherwise.
std::string FakeExportedKey(const std::string& secret, const std::string& label,
                            const std::string& context, std::size_t length);

class FakeTlsClient : public platform::TlsClient {
public:
    explicit FakeTlsClient(FakePlatform& owner) : owner_(owner) {}
    ~FakeTlsClient() override;
    void connect(const std::string& host, std::uint16_t port, const std::string& alpn,
                 const std::string& extraTrust) override;
    bool write(const std::string& bytes) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    std::optional<std::string> exportKeyingMaterial(const std::string& label,
                                                    const std::string& context,
                                                    std::size_t length) override;
    std::string peerSubject() const override { return connected_ ? script_.subject : ""; }
    void close() override;
    bool isOpen() const override { return open_; }

private:
    FakePlatform& owner_;
    bool open_ = false;
    bool connected_ = false;
    TlsPeerScript script_;
    std::string written_;
    std::string buffer_;
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// ---- clock and store --------------------------------------------------------

class FakeClock : public platform::Clock {
public:
    explicit FakeClock(FakePlatform& owner) : owner_(owner) {}
    std::int64_t nowMicros() const override;
    int utcOffsetSeconds(std::int64_t micros) const override;
    platform::ClockResult setMicros(std::int64_t micros) override;
    // Recorded in steps, then made as a setting of the reading plus it.
    platform::ClockResult stepMicros(std::int64_t offsetMicros) override {
        steps.push_back(offsetMicros);
        return Clock::stepMicros(offsetMicros);
    }
    bool canSlew() const override { return slewable; }
    platform::ClockResult slewMicros(std::int64_t offsetMicros) override;

    // The zone's rules: UTC itself (the default: local time is UTC), or
    // Berlin's (UTC+1, summer time UTC+2 from 01:00 UTC on the last Sunday
    // of March to 01:00 UTC on the last Sunday of October).
    enum class Zone { Utc, Berlin };
    Zone zone = Zone::Utc;

    // The local time at the current virtual moment; in the hour repeated in
    // autumn, its first pass.
    void setNow(int year, int month, int day, int hour, int minute, int second, int ms = 0);
    void setNowUtc(int year, int month, int day, int hour, int minute, int second, int ms = 0);
    // Next settings fail with this reason; empty: they succeed.
    std::string refuseWith;
    // Each setting takes this long, handling events meanwhile, as a password
    // prompt of the system's time service does.
    long long holdMs = 0;

    struct Setting {
        int hour, minute, second;  // the local time set
        long long atMs;            // virtual time of the call
        std::int64_t micros;       // the instant set
    };
    std::vector<Setting> settings;
    std::vector<std::int64_t> steps;  // the offsets of settings made as steps

    // A slew moves the reading by this much a second of virtual time until
    // its offset is reached (the Linux kernel's rate); a new slew drops what
    // is left of the one before, and a setting ends it. False: the clock
    // can only be stepped, as through the desktop time service.
    bool slewable = false;
    long long slewMicrosPerSecond = 500;
    // The clock runs this many parts per million fast (negative: slow)
    // against virtual time.
    double ratePpm = 0;
    // Next slews fail with this reason, and canSlew() turns false.
    std::string refuseSlewWith;
    struct Slew {
        std::int64_t offsetMicros;  // asked for
        long long atMs;             // virtual time of the call
        std::int64_t leftMicros;    // what the slew before still had to go
    };
    std::vector<Slew> slews;
    // What the slew in progress still has to go.
    std::int64_t slewLeftMicros() const;

private:
    // How far the slew in progress has moved the clock at virtual time atMs.
    std::int64_t slewDone(long long atMs) const;
    void endSlew(long long atMs);
    // What the rate has added by virtual time atMs.
    std::int64_t rateDone(long long atMs) const;

    FakePlatform& owner_;
    // The instant (microseconds UTC) at virtual time 0, slews done before
    // the one in progress included.
    std::int64_t baseMicros_ = 0;
    std::int64_t slewOffset_ = 0;
    long long slewStartMs_ = 0;
};

// A state file in memory. A FIFO or an oversized file at its path is
// modelled by `kind`; a failure text makes every write fail with it.
class FakeStateFile : public platform::StateFile {
public:
    enum class Kind { Regular, Fifo, Folder };
    std::string location() const override { return path; }
    platform::FileRead read(std::size_t maxBytes) override;
    platform::StoreResult append(const std::string& text) override;
    platform::StoreResult replace(const std::string& text) override;
    bool openFolder() override {
        ++foldersOpened;
        return canOpenFolder;
    }

    std::string path = "/state/Tempikon/history.csv";
    std::optional<std::string> text;  // nullopt: absent
    Kind kind = Kind::Regular;
    std::string writeFailure;
    // False: writes succeed and keep nothing, as into /dev/null.
    bool keepText = true;
    int appends = 0;
    int replaces = 0;
    int reads = 0;
    int foldersOpened = 0;
    bool canOpenFolder = true;
};

class FakeSettingsStore : public platform::SettingsStore {
public:
    std::string readText(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    // One read, as readText.
    std::map<std::string, std::string> readSection(const std::string& app,
                                                   const std::string& section) override;
    void writeText(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
    platform::StoreResult commit() override;
    char decimalSeparator() const override { return separator; }
    std::string locationOf(const std::string& app) const override {
        return "/fake/" + app + ".conf";
    }
    std::optional<std::string> unreadableReason(const std::string&) const override {
        if (unreadableWith.empty()) return std::nullopt;
        return unreadableWith;
    }

    // Direct access for seeding and checking: section "CONFIG" of "Tempikon".
    void seed(const std::string& key, const std::string& value);
    std::optional<std::string> stored(const std::string& key) const;

    char separator = '.';
    std::string failCommitWith;            // non-empty: commit() fails with it
    std::string unreadableWith;            // non-empty: the store exists but cannot be read
    std::vector<std::string> writtenKeys;  // in order
    int commits = 0;
    int reads = 0;
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

// The system's automatic time: a state the test sets, and the switches the
// program asked for.
class FakeTimeSync : public platform::TimeSync {
public:
    explicit FakeTimeSync(FakePlatform& owner) : owner_(owner) {}
    platform::TimeSyncState state() override {
        ++reads;
        return current;
    }
    platform::ClockResult setAutomatic(bool on) override;

    platform::TimeSyncState current;
    int reads = 0;
    std::vector<bool> switches;  // every setAutomatic(), in order
    // Not empty: switching fails with this reason.
    std::string refuseWith;
    // Each switch takes this long, handling events meanwhile (the password).
    long long holdMs = 0;

private:
    FakePlatform& owner_;
};

// ---- the platform -----------------------------------------------------------

struct MessageBoxCall {
    std::string text;
    std::string title;
    int flags = 0;
    long long atMs = 0;
};

class FakePlatform : public platform::Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // platform::Platform
    std::unique_ptr<platform::Window> createWindow(const platform::WindowSpec& spec) override;
    std::unique_ptr<platform::Timer> createTimer() override;
    std::unique_ptr<platform::TcpClient> createTcpClient() override;
    std::unique_ptr<platform::UdpClient> createUdpClient() override;
    std::unique_ptr<platform::TlsClient> createTlsClient() override;
    platform::Crypto* crypto() override { return ntsUnavailable.empty() ? crypto_.get() : nullptr; }
    std::string ntsUnavailableReason() const override { return ntsUnavailable; }
    std::unique_ptr<platform::Tray> createTray() override;
    platform::Clock& clock() override { return clock_; }
    platform::SettingsStore& settings() override { return store_; }
    platform::StateFile& historyFile() override { return history_; }
    platform::TimeSync* timeSync() override { return hasTimeSync ? &timeSync_ : nullptr; }
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    std::optional<std::string> chooseFile(const platform::FileChoice& choice,
                                          platform::NativeHandle owner) override;
    void processEvents() override;
    void waitForEvents() override;
    void sleep(int milliseconds) override;
    void post(std::function<void()> fn) override;
    int run() override;
    void quit(int exitCode) override;
    std::string commandLine() const override { return commandLineText; }
    bool openAddress(const std::string& address, platform::NativeHandle owner) override;
    std::optional<std::string> readFile(const std::string& path) override;
    std::vector<std::string> dataDirectories() const override { return dataDirs; }
    bool autostartEnabled() const override { return autostart; }
    platform::StoreResult setAutostart(bool enabled) override {
        ++autostartWrites;
        if (!autostartFailure.empty()) return {false, autostartFailure};
        autostart = enabled;
        return {};
    }
    void writeOutputLine(const std::string& line) override { output.push_back(line); }
    void writeErrorLine(const std::string& line) override { errors.push_back(line); }
    platform::Version version() const override { return versionNumbers; }
    bool isHeadless() const override { return headless; }
    std::int64_t monotonicMicros() const override { return now_ * 1000; }

    // Virtual time.
    long long nowMs() const { return now_; }
    // Runs everything due until now + ms, in order of time.
    void advance(long long ms);
    // Runs fn at the virtual moment atMs (absolute), or after ms from now.
    void at(long long atMs, std::function<void()> fn);
    void after(long long ms, std::function<void()> fn) { at(now_ + ms, std::move(fn)); }
    bool hasPendingEvents() const { return !queue_.empty(); }
    std::size_t pendingEventCount() const { return queue_.size(); }

    // Scripted servers, by host name. An unscripted host accepts and stays silent.
    void script(const std::string& host, PeerScript script) { peers[host] = std::move(script); }
    // Scripted UDP servers, by host name. An unscripted host stays silent; a
    // host in udpLookupErrors fails its lookup with that description.
    void scriptUdp(const std::string& host, UdpResponder responder) {
        udpPeers[host] = std::move(responder);
    }

    // Answers for the next message boxes, in order. Unanswered boxes answer
    // OK, or No for a Yes/No box. holdMs keeps the box open that long in
    // virtual time, handling events meanwhile, as a real modal box does.
    void queueAnswer(int answer, long long holdMs = 0);
    // What the next file chooser answers (nullopt: the user cancelled, as
    // an unanswered one does).
    void queueFileChoice(std::optional<std::string> path) {
        fileAnswers_.push_back(std::move(path));
    }
    // The item index the next popup menu chooses (-1: dismissed).
    void queuePopupChoice(int index) { popupChoices.push_back(index); }

    FakeClock& fakeClock() { return clock_; }
    // The system's automatic time; timeSync() is null unless hasTimeSync.
    FakeTimeSync& fakeTimeSync() { return timeSync_; }
    bool hasTimeSync = false;
    FakeSettingsStore& store() { return store_; }
    FakeStateFile& history() { return history_; }

    std::string commandLineText;
    std::vector<MessageBoxCall> boxes;
    std::vector<platform::FileChoice> fileChoosers;  // every chooser opened, in order
    std::vector<std::string> output;
    std::vector<std::string> errors;  // lines on standard error
    std::vector<std::string> openedAddresses;
    // False: nothing on the system opens an address.
    bool canOpenAddresses = true;
    std::vector<int> sleeps;
    std::map<std::string, std::string> files;  // path -> bytes
    std::vector<std::string> dataDirs;
    // The autostart entry; a failure text makes every change fail with it.
    bool autostart = false;
    int autostartWrites = 0;
    std::string autostartFailure;
    std::vector<std::string> filesRead;
    std::map<std::string, PeerScript> peers;
    std::vector<std::string> connections;  // hosts, in order of connect()
    std::map<std::string, UdpResponder> udpPeers;
    std::map<std::string, std::string> udpLookupErrors;
    std::vector<UdpRequest> udpRequests;  // every datagram sent, in order
    int openUdpClients = 0;
    std::map<std::string, TlsPeerScript> tlsPeers;
    std::vector<TlsConnection> tlsConnections;  // every connect(), in order
    // Not empty: the system offers no NTS, for this reason (as on Windows).
    // Empty by default where the tests have GnuTLS's cryptography.
    std::string ntsUnavailable;
    std::deque<int> popupChoices;
    platform::Version versionNumbers{1, 2, 10};
    bool headless = false;
    bool quitRequested = false;
    int exitCode = 0;
    std::vector<FakeWindow*> windows;  // every window created, alive or not
    // False (the default): the desktop has no notification area.
    bool trayAvailable = false;
    std::vector<FakeTray*> trays;             // alive
    std::vector<Notification> notifications;  // from every tray, in order
    int openTcpClients = 0;
    int openTimers = 0;

private:
    friend class FakeTimer;
    friend class FakeTcpClient;
    friend class FakeUdpClient;
    friend class FakeTlsClient;
    friend class FakeWindow;
    friend class FakeClock;
    friend class FakeTray;
    friend class FakeTimeSync;

    struct Event {
        long long atMs;
        std::uint64_t seq;
        std::function<void()> fn;
    };
    // Handles events for ms of virtual time, as a nested modal loop does.
    void holdFor(long long ms);
    void schedule(long long atMs, std::function<void()> fn);
    // Runs the events due now that were queued before the pass began.
    bool runPass();
    void forgetWindow(FakeWindow* w);

    long long now_ = 0;
    std::uint64_t seq_ = 0;
    std::vector<Event> queue_;  // kept sorted by (atMs, seq)
    std::deque<std::pair<int, long long>> answers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    platform::NativeHandle nextHandle_ = 0x1000;
    FakeClock clock_{*this};
    FakeSettingsStore store_;
    FakeStateFile history_;
    FakeTimeSync timeSync_{*this};
    std::unique_ptr<platform::Crypto> crypto_;
};

// Casts a control or window of the fake platform to its fake type.
template <typename Fake, typename Base>
Fake& as(Base& base) {
    return dynamic_cast<Fake&>(base);
}

}  // namespace tempikon::fake
