#include "tests/fake/fake_platform.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#if TEMPIKON_NTS
#include "platform/gnutls/gnutls_crypto.h"
#endif

namespace tempikon::fake {

// ---- controls ----------------------------------------------------------------

void FakeLabel::setText(const std::string& t) {
    text_ = t;
    history.push_back(t);
}

void FakeButton::setEnabled(bool e) {
    enabled = e;
    enabledHistory.push_back(e);
}

void FakeListBox::clear() {
    items.clear();
    selected = -1;
}

void FakeListBox::setSelectedIndex(int index) {
    if (index < -1 || index >= count()) throw std::out_of_range("FakeListBox: bad index");
    if (index == selected) return;
    selected = index;
    if (onSelectionChanged) onSelectionChanged();
}

std::string FakeListBox::itemText(int index) const {
    if (index < 0 || index >= count()) return {};
    return items[static_cast<std::size_t>(index)];
}

void FakeListBox::setItemText(int index, const std::string& text) {
    if (index < 0 || index >= count()) throw std::out_of_range("FakeListBox: bad index");
    items[static_cast<std::size_t>(index)] = text;
}

void FakeListBox::userSelect(int index) {
    if (enabled) setSelectedIndex(index);
}

void FakeListBox::doubleClick(int index) {
    if (!enabled) return;
    setSelectedIndex(index);
    if (onDoubleClick) onDoubleClick();
}

void FakeComboBox::setSelectedIndex(int index) {
    if (index < -1 || index >= count()) throw std::out_of_range("FakeComboBox: bad index");
    if (index == selected) return;
    selected = index;
    if (onSelectionChanged) onSelectionChanged();
}

std::string FakeComboBox::itemText(int index) const {
    if (index < 0 || index >= count()) return {};
    return items[static_cast<std::size_t>(index)];
}

void FakeComboBox::userChoose(const std::string& text) {
    const auto it = std::find(items.begin(), items.end(), text);
    if (it == items.end()) throw std::out_of_range("FakeComboBox: no item " + text);
    if (enabled) setSelectedIndex(static_cast<int>(it - items.begin()));
}

platform::MenuItem& FakePopupMenu::addItem(const std::string& c) {
    auto item = std::make_unique<FakeMenuItem>();
    item->caption_ = c;
    items.push_back(std::move(item));
    return *items.back();
}

void FakePopupMenu::popupAtCursor() {
    ++timesOpened;
    if (!owner || owner->popupChoices.empty()) return;
    const int choice = owner->popupChoices.front();
    owner->popupChoices.pop_front();
    if (choice >= 0 && choice < static_cast<int>(items.size())) items[choice]->click();
}

void FakePopupMenu::popupAtSelectedEntry(const platform::ListBox&) {
    ++timesOpenedAtEntry;
    popupAtCursor();
}

// ---- windows --------------------------------------------------------------------

FakeWindow::FakeWindow(FakePlatform& owner, platform::WindowSpec s, platform::NativeHandle h)
    : spec(std::move(s)), owner_(owner), caption_(spec.caption), handle_(h) {}

FakeWindow::~FakeWindow() {
    owner_.forgetWindow(this);
}

platform::Label& FakeWindow::addLabel(const platform::TwipsRect& rect, const std::string& text,
                                      const platform::FontSpec& font) {
    auto c = std::make_unique<FakeLabel>();
    c->rect = rect;
    c->font = font;
    c->owner = &owner_;
    c->setText(text);
    c->history.clear();
    return keep(std::move(c), false);
}

platform::TextField& FakeWindow::addTextField(const platform::TwipsRect& rect,
                                              platform::Align align) {
    auto c = std::make_unique<FakeTextField>();
    c->rect = rect;
    c->align = align;
    return keep(std::move(c), true);
}

platform::Button& FakeWindow::addButton(const platform::TwipsRect& rect, const std::string& caption,
                                        const platform::FontSpec& font) {
    auto c = std::make_unique<FakeButton>();
    c->rect = rect;
    c->font = font;
    c->caption_ = caption;
    return keep(std::move(c), true);
}

platform::CheckBox& FakeWindow::addCheckBox(const platform::TwipsRect& rect,
                                            const std::string& caption,
                                            const platform::FontSpec& font) {
    auto c = std::make_unique<FakeCheckBox>();
    c->rect = rect;
    c->font = font;
    c->caption_ = caption;
    return keep(std::move(c), true);
}

platform::ListBox& FakeWindow::addListBox(const platform::TwipsRect& rect,
                                          const platform::FontSpec& font) {
    auto c = std::make_unique<FakeListBox>();
    c->rect = rect;
    c->font = font;
    return keep(std::move(c), true);
}

platform::ComboBox& FakeWindow::addComboBox(const platform::TwipsRect& rect,
                                            const platform::FontSpec& font) {
    auto c = std::make_unique<FakeComboBox>();
    c->rect = rect;
    c->font = font;
    return keep(std::move(c), true);
}

platform::Picture& FakeWindow::addPicture(const platform::TwipsRect& rect,
                                          const std::string& image) {
    auto c = std::make_unique<FakePicture>();
    c->rect = rect;
    c->image = image;
    return keep(std::move(c), false);
}

platform::Canvas& FakeWindow::addCanvas(const platform::TwipsRect& rect) {
    auto c = std::make_unique<FakeCanvas>();
    c->rect = rect;
    return keep(std::move(c), true);
}

platform::MenuItem& FakeWindow::addMenuItem(const std::string& caption) {
    auto c = std::make_unique<FakeMenuItem>();
    c->caption_ = caption;
    FakeMenuItem& ref = keep(std::move(c), false);
    menuBar.push_back(&ref);
    return ref;
}

platform::PopupMenu& FakeWindow::addPopupMenu(const std::string& caption) {
    auto c = std::make_unique<FakePopupMenu>();
    c->caption = caption;
    c->owner = &owner_;
    return keep(std::move(c), false);
}

void FakeWindow::show() {
    if (closed) return;
    if (!shown) {
        minimisedWhenFirstShown = minimised;
        firstShownAt = owner_.nowMs();
    }
    shown = true;
    hidden = false;
}

void FakeWindow::hide() {
    if (closed) return;
    hidden = true;
    minimised = false;
    ++timesHidden;
}

void FakeWindow::userMinimise() {
    if (closed || !isVisible()) return;
    minimised = true;
    if (onMinimised) onMinimised();
}

void FakeWindow::showModal() {
    show();
    modal = true;
}

void FakeWindow::close() {
    if (closed) return;
    if (onCloseRequest && !onCloseRequest()) return;
    closed = true;
    if (onClosed) onClosed();
}

void FakeWindow::pressEnter() {
    if (defaultButton) static_cast<FakeButton*>(defaultButton)->click();
}

// ---- timer ----------------------------------------------------------------------

FakeTimer::~FakeTimer() {
    *alive_ = false;
    --owner_.openTimers;
}

void FakeTimer::setInterval(int ms) {
    interval_ = ms;
    intervalHistory.push_back(ms);
    rearm();
}

void FakeTimer::setEnabled(bool e) {
    enabled_ = e;
    rearm();
}

void FakeTimer::rearm() {
    const std::uint64_t gen = ++generation_;
    if (!enabled_ || interval_ <= 0) return;
    std::weak_ptr<bool> alive = alive_;
    owner_.schedule(owner_.nowMs() + interval_, [this, alive, gen] {
        if (alive.lock()) fire(gen);
    });
}

void FakeTimer::fire(std::uint64_t gen) {
    if (gen != generation_ || !enabled_ || interval_ <= 0) return;
    // The next tick counts from this one; a timer never fires inside its own handler.
    rearm();
    if (inCallback_) return;
    ++fireCount;
    inCallback_ = true;
    std::weak_ptr<bool> alive = alive_;
    if (onTimer) onTimer();
    if (alive.lock()) inCallback_ = false;
}

// ---- socket -------------------------------------------------------------------

FakeTcpClient::~FakeTcpClient() {
    *alive_ = false;
    --owner_.openTcpClients;
}

void FakeTcpClient::connect(const std::string& h, std::uint16_t p) {
    if (open_) throw std::logic_error("FakeTcpClient: connect while open");
    host = h;
    port = p;
    open_ = true;
    failRead_ = false;
    buffer_.clear();
    const std::uint64_t gen = ++generation_;
    owner_.connections.push_back(h);
    auto it = owner_.peers.find(h);
    if (it == owner_.peers.end()) return;
    std::weak_ptr<bool> alive = alive_;
    for (const PeerStep& step : it->second.steps) {
        owner_.schedule(owner_.nowMs() + step.atMs, [this, alive, gen, step] {
            if (!alive.lock() || gen != generation_ || !open_) return;
            switch (step.kind) {
                case PeerStep::Data:
                    buffer_ += step.bytes;
                    if (onDataArrival) onDataArrival();
                    break;
                case PeerStep::Error:
                    if (onError) onError(step.errorKind, step.bytes);
                    break;
                case PeerStep::ReadFailure:
                    failRead_ = true;
                    break;
                case PeerStep::Close:
                    if (onPeerClosed) onPeerClosed();
                    break;
            }
        });
    }
}

std::optional<std::string> FakeTcpClient::readAll(std::size_t maxBytes) {
    if (failRead_) {
        failRead_ = false;
        return std::nullopt;
    }
    std::string out = buffer_.substr(0, std::min(maxBytes, buffer_.size()));
    buffer_.clear();
    return out;
}

void FakeTcpClient::close() {
    ++closeCount;
    open_ = false;
    ++generation_;
    buffer_.clear();
}

// ---- UDP ------------------------------------------------------------------------

FakeUdpClient::~FakeUdpClient() {
    *alive_ = false;
    --owner_.openUdpClients;
}

void FakeUdpClient::open(const std::string& h, std::uint16_t p) {
    if (open_) throw std::logic_error("FakeUdpClient: open while open");
    host = h;
    port = p;
    open_ = true;
    ready_ = false;
    const std::uint64_t gen = ++generation_;
    std::weak_ptr<bool> alive = alive_;
    // The lookup answers from the event loop, never inside open().
    owner_.schedule(owner_.nowMs(), [this, alive, gen] {
        if (!alive.lock() || gen != generation_ || !open_) return;
        const auto failed = owner_.udpLookupErrors.find(host);
        if (failed != owner_.udpLookupErrors.end()) {
            open_ = false;
            if (onError) onError(platform::SocketErrorKind::HostNotFound, failed->second);
            return;
        }
        ready_ = true;
        if (onReady) onReady();
    });
}

std::optional<std::int64_t> FakeUdpClient::send(const std::string& bytes) {
    if (!open_ || !ready_) throw std::logic_error("FakeUdpClient: send before ready");
    const std::int64_t sentAt = owner_.clock().nowMicros();
    owner_.udpRequests.push_back({host, port, bytes, owner_.nowMs()});
    // A new request is a new socket: replies to earlier ones are lost.
    const std::uint64_t gen = ++generation_;
    const auto it = owner_.udpPeers.find(host);
    if (it == owner_.udpPeers.end()) return sentAt;
    std::weak_ptr<bool> alive = alive_;
    for (const UdpReply& reply : it->second(bytes)) {
        owner_.schedule(owner_.nowMs() + reply.atMs, [this, alive, gen, reply] {
            if (!alive.lock() || gen != generation_ || !open_) return;
            platform::Datagram d;
            d.bytes = reply.bytes;
            d.receivedMicros = owner_.clock().nowMicros();
            d.fromServer = reply.fromServer;
            d.from = reply.fromServer ? host + ":" + std::to_string(port) : "192.0.2.1:9";
            if (onDatagram) onDatagram(d);
        });
    }
    return sentAt;
}

void FakeUdpClient::close() {
    open_ = false;
    ready_ = false;
    ++generation_;
}

// ---- TLS ----------------------------------------------------------------------

std::string FakeExportedKey(const std::string& secret, const std::string& label,
                            const std::string& context, std::size_t length) {
    // Not cryptography, only distinct bytes per input (FNV-1a, stretched).
    std::string out;
    std::uint64_t h = 1469598103934665603ull;
    const std::string input = secret + '\0' + label + '\0' + context;
    while (out.size() < length) {
        for (const char c : input) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        h = (h ^ out.size()) * 1099511628211ull;
        out += static_cast<char>(h >> 56);
    }
    return out;
}

FakeTlsClient::~FakeTlsClient() {
    *alive_ = false;
}

void FakeTlsClient::connect(const std::string& host, std::uint16_t port, const std::string& alpn,
                            const std::string& extraTrust) {
    if (open_) throw std::logic_error("FakeTlsClient: connect while open");
    open_ = true;
    connected_ = false;
    written_.clear();
    buffer_.clear();
    owner_.tlsConnections.push_back({host, port, alpn, extraTrust});
    const std::uint64_t gen = ++generation_;
    const auto it = owner_.tlsPeers.find(host);
    if (it == owner_.tlsPeers.end()) return;
    script_ = it->second;
    std::weak_ptr<bool> alive = alive_;
    owner_.schedule(owner_.nowMs() + script_.handshakeMs, [this, alive, gen] {
        if (!alive.lock() || gen != generation_ || !open_) return;
        if (script_.socketError) {
            open_ = false;
            if (onError) onError(script_.socketError->first, script_.socketError->second);
        } else if (script_.tlsError) {
            open_ = false;
            if (onTlsError) onTlsError(script_.tlsError->first, script_.tlsError->second);
        } else {
            connected_ = true;
            if (onConnected) onConnected();
        }
    });
}

bool FakeTlsClient::write(const std::string& bytes) {
    if (!open_ || !connected_) return false;
    written_ += bytes;
    if (!script_.respond) return true;
    const std::string answer = script_.respond(written_);
    if (answer.empty() && !script_.closeAfterReply) return true;
    const std::uint64_t gen = generation_;
    std::weak_ptr<bool> alive = alive_;
    owner_.schedule(owner_.nowMs() + script_.replyMs, [this, alive, gen, answer] {
        if (!alive.lock() || gen != generation_ || !open_) return;
        buffer_ += answer;
        if (!answer.empty() && onDataArrival) onDataArrival();
        if (script_.closeAfterReply && open_ && gen == generation_ && onPeerClosed) onPeerClosed();
    });
    return true;
}

std::optional<std::string> FakeTlsClient::readAll(std::size_t maxBytes) {
    std::string out = buffer_.substr(0, std::min(maxBytes, buffer_.size()));
    buffer_.clear();
    return out;
}

std::optional<std::string> FakeTlsClient::exportKeyingMaterial(const std::string& label,
                                                               const std::string& context,
                                                               std::size_t length) {
    if (!connected_) return std::nullopt;
    return FakeExportedKey(script_.secret, label, context, length);
}

void FakeTlsClient::close() {
    open_ = false;
    connected_ = false;
    ++generation_;
}

// ---- clock --------------------------------------------------------------------

std::int64_t FakeClock::nowMicros() const {
    return baseMicros_ + owner_.nowMs() * 1000 + slewDone(owner_.nowMs()) +
           rateDone(owner_.nowMs());
}

std::int64_t FakeClock::rateDone(long long atMs) const {
    return static_cast<std::int64_t>(std::llround(static_cast<double>(atMs) * ratePpm / 1000.0));
}

std::int64_t FakeClock::slewDone(long long atMs) const {
    const std::int64_t moved = (atMs - slewStartMs_) * slewMicrosPerSecond / 1000;
    if (slewOffset_ >= 0) return std::min(slewOffset_, moved);
    return std::max(slewOffset_, -moved);
}

std::int64_t FakeClock::slewLeftMicros() const {
    return slewOffset_ - slewDone(owner_.nowMs());
}

// Keeps what the slew in progress has done and drops the rest.
void FakeClock::endSlew(long long atMs) {
    baseMicros_ += slewDone(atMs);
    slewOffset_ = 0;
    slewStartMs_ = atMs;
}

platform::ClockResult FakeClock::slewMicros(std::int64_t offsetMicros) {
    const long long atMs = owner_.nowMs();
    slews.push_back({offsetMicros, atMs, slewLeftMicros()});
    if (!refuseSlewWith.empty()) {
        slewable = false;
        return {false, refuseSlewWith};
    }
    endSlew(atMs);
    slewOffset_ = offsetMicros;
    return {true, {}};
}

int FakeClock::utcOffsetSeconds(std::int64_t micros) const {
    if (zone == Zone::Utc) return 0;
    const platform::LocalDateTime utc = platform::CivilFromMicros(micros);
    // 01:00 UTC on the last Sunday of the month (1970-01-01 was a Thursday).
    auto lastSunday = [&utc](int month) {
        const std::int64_t last = platform::DaysFromCivil(utc.year, month, 31);
        const std::int64_t weekday = (last + 4) % 7;  // 0: Sunday
        return ((last - weekday) * 86'400 + 3600) * 1'000'000;
    };
    const bool summer = micros >= lastSunday(3) && micros < lastSunday(10);
    return summer ? 7200 : 3600;
}

void FakeClock::setNowUtc(int year, int month, int day, int hour, int minute, int second, int ms) {
    const std::int64_t utc = (platform::DaysFromCivil(year, month, day) * 86'400 +
                              (hour * 60LL + minute) * 60 + second) *
                                 1'000'000 +
                             ms * 1000LL;
    endSlew(owner_.nowMs());
    baseMicros_ = utc - owner_.nowMs() * 1000 - rateDone(owner_.nowMs());
}

void FakeClock::setNow(int year, int month, int day, int hour, int minute, int second, int ms) {
    const std::int64_t naive = (platform::DaysFromCivil(year, month, day) * 86'400 +
                                (hour * 60LL + minute) * 60 + second) *
                                   1'000'000 +
                               ms * 1000LL;
    const std::int64_t day1 = 86'400'000'000LL;
    std::int64_t utc = naive - utcOffsetSeconds(naive - day1) * 1'000'000LL;
    if (utcOffsetSeconds(utc) * 1'000'000LL != naive - utc)
        utc = naive - utcOffsetSeconds(naive + day1) * 1'000'000LL;
    endSlew(owner_.nowMs());
    baseMicros_ = utc - owner_.nowMs() * 1000 - rateDone(owner_.nowMs());
}

platform::ClockResult FakeClock::setMicros(std::int64_t micros) {
    const long long atMs = owner_.nowMs();
    const platform::LocalDateTime local = localAt(micros);
    settings.push_back({local.hour, local.minute, local.second, atMs, micros});
    owner_.holdFor(holdMs);
    if (!refuseWith.empty()) return {false, refuseWith};
    // As the time service: nobody else sets the clock while its automatic
    // time is on.
    const platform::TimeSyncState& sync = owner_.timeSync_.current;
    if (owner_.hasTimeSync && sync.known && sync.on)
        return {false, "automatic time synchronisation is on"};
    // The service sets the clock as asked at the call, the prompt's time
    // added.
    endSlew(owner_.nowMs());
    baseMicros_ = micros - atMs * 1000 - rateDone(atMs);
    return {true, {}};
}

// ---- state file -----------------------------------------------------------

platform::FileRead FakeStateFile::read(std::size_t maxBytes) {
    ++reads;
    if (kind == Kind::Fifo) return {false, {}, "not a regular file"};
    if (kind == Kind::Folder) return {false, {}, "it is a folder"};
    if (!text) return {};
    if (text->size() > maxBytes) return {false, {}, "too large"};
    return {true, *text, {}};
}

platform::StoreResult FakeStateFile::append(const std::string& t) {
    ++appends;
    if (kind != Kind::Regular) return {false, "not a regular file"};
    if (!writeFailure.empty()) return {false, writeFailure};
    if (keepText) text = text.value_or(std::string()) + t;
    return {};
}

platform::StoreResult FakeStateFile::replace(const std::string& t) {
    ++replaces;
    if (kind != Kind::Regular) return {false, "not a regular file"};
    if (!writeFailure.empty()) return {false, writeFailure};
    if (keepText) text = t;
    return {};
}

platform::ClockResult FakeTimeSync::setAutomatic(bool on) {
    switches.push_back(on);
    owner_.holdFor(holdMs);
    if (!refuseWith.empty()) return {false, refuseWith};
    current.on = on;
    return {true, {}};
}

// ---- store --------------------------------------------------------------------

std::string FakeSettingsStore::readText(const std::string& app, const std::string& section,
                                        const std::string& key, const std::string& defaultValue) {
    ++reads;
    auto it = values.find({app, section, key});
    return it == values.end() ? defaultValue : it->second;
}

std::map<std::string, std::string> FakeSettingsStore::readSection(const std::string& app,
                                                                  const std::string& section) {
    ++reads;
    std::map<std::string, std::string> texts;
    for (const auto& [where, value] : values) {
        if (std::get<0>(where) == app && std::get<1>(where) == section)
            texts[std::get<2>(where)] = value;
    }
    return texts;
}

void FakeSettingsStore::writeText(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& value) {
    values[{app, section, key}] = value;
    writtenKeys.push_back(key);
}

platform::StoreResult FakeSettingsStore::commit() {
    ++commits;
    if (!failCommitWith.empty()) return {false, failCommitWith};
    return {};
}

void FakeSettingsStore::seed(const std::string& key, const std::string& value) {
    values[{"Tempikon", "CONFIG", key}] = value;
}

std::optional<std::string> FakeSettingsStore::stored(const std::string& key) const {
    auto it = values.find({"Tempikon", "CONFIG", key});
    if (it == values.end()) return std::nullopt;
    return it->second;
}

// ---- tray ---------------------------------------------------------------------

FakeTray::FakeTray(FakePlatform& owner) : owner_(owner) {
    owner_.trays.push_back(this);
}

FakeTray::~FakeTray() {
    owner_.trays.erase(std::remove(owner_.trays.begin(), owner_.trays.end(), this),
                       owner_.trays.end());
}

bool FakeTray::isAvailable() const {
    return owner_.trayAvailable;
}

platform::MenuItem& FakeTray::addMenuItem(const std::string& caption) {
    items.push_back(std::make_unique<FakeMenuItem>());
    items.back()->caption_ = caption;
    return *items.back();
}

void FakeTray::notify(const std::string& title, const std::string& text) {
    owner_.notifications.push_back({title, text, owner_.nowMs()});
}

FakeMenuItem* FakeTray::item(const std::string& caption) {
    for (auto& i : items)
        if (i->caption_ == caption) return i.get();
    return nullptr;
}

// ---- platform -----------------------------------------------------------------

FakePlatform::FakePlatform() {
    clock_.setNow(2026, 12, 7, 12, 0, 0);
#if TEMPIKON_NTS
    crypto_ = platform::CreateGnutlsCrypto();
#else
    ntsUnavailable = "NTS is not offered by this build";
#endif
}

FakePlatform::~FakePlatform() = default;

std::unique_ptr<platform::Window> FakePlatform::createWindow(const platform::WindowSpec& spec) {
    auto w = std::make_unique<FakeWindow>(*this, spec, nextHandle_++);
    windows.push_back(w.get());
    return w;
}

std::unique_ptr<platform::Timer> FakePlatform::createTimer() {
    ++openTimers;
    return std::make_unique<FakeTimer>(*this);
}

std::unique_ptr<platform::TcpClient> FakePlatform::createTcpClient() {
    ++openTcpClients;
    return std::make_unique<FakeTcpClient>(*this);
}

std::unique_ptr<platform::UdpClient> FakePlatform::createUdpClient() {
    ++openUdpClients;
    return std::make_unique<FakeUdpClient>(*this);
}

std::unique_ptr<platform::TlsClient> FakePlatform::createTlsClient() {
    if (!ntsUnavailable.empty()) return nullptr;
    return std::make_unique<FakeTlsClient>(*this);
}

std::unique_ptr<platform::Tray> FakePlatform::createTray() {
    return std::make_unique<FakeTray>(*this);
}

void FakePlatform::queueAnswer(int answer, long long holdMs) {
    answers_.emplace_back(answer, holdMs);
}

int FakePlatform::messageBox(const std::string& text, const std::string& title, int flags) {
    boxes.push_back({text, title, flags, now_});
    int answer = (flags & 0x0F) == platform::kMbYesNo ? platform::kIdNo : platform::kIdOk;
    long long hold = 0;
    if (!answers_.empty()) {
        answer = answers_.front().first;
        hold = answers_.front().second;
        answers_.pop_front();
    }
    holdFor(hold);
    return answer;
}

std::optional<std::string> FakePlatform::chooseFile(const platform::FileChoice& choice,
                                                    platform::NativeHandle) {
    fileChoosers.push_back(choice);
    if (fileAnswers_.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return answer;
}

void FakePlatform::holdFor(long long ms) {
    if (ms <= 0) return;
    const long long until = now_ + ms;
    while (true) {
        runPass();
        if (queue_.empty() || queue_.front().atMs > until) break;
        now_ = std::max(now_, queue_.front().atMs);
    }
    now_ = std::max(now_, until);
}

void FakePlatform::schedule(long long atMs, std::function<void()> fn) {
    Event e{std::max(atMs, now_), seq_++, std::move(fn)};
    auto pos =
        std::upper_bound(queue_.begin(), queue_.end(), e, [](const Event& a, const Event& b) {
            return a.atMs != b.atMs ? a.atMs < b.atMs : a.seq < b.seq;
        });
    queue_.insert(pos, std::move(e));
}

bool FakePlatform::runPass() {
    const std::uint64_t limit = seq_;
    bool ran = false;
    while (true) {
        auto it = std::find_if(queue_.begin(), queue_.end(),
                               [&](const Event& e) { return e.atMs <= now_ && e.seq < limit; });
        if (it == queue_.end()) break;
        std::function<void()> fn = std::move(it->fn);
        queue_.erase(it);
        ran = true;
        fn();
    }
    return ran;
}

void FakePlatform::processEvents() {
    runPass();
}

void FakePlatform::waitForEvents() {
    if (runPass()) return;
    if (queue_.empty())
        throw std::logic_error("FakePlatform: waiting for events with nothing scheduled");
    now_ = std::max(now_, queue_.front().atMs);
    runPass();
}

void FakePlatform::sleep(int milliseconds) {
    sleeps.push_back(milliseconds);
    now_ += milliseconds;
}

void FakePlatform::post(std::function<void()> fn) {
    schedule(now_, std::move(fn));
}

int FakePlatform::run() {
    while (!quitRequested && !queue_.empty()) waitForEvents();
    return exitCode;
}

void FakePlatform::quit(int code) {
    quitRequested = true;
    exitCode = code;
}

bool FakePlatform::openAddress(const std::string& address, platform::NativeHandle) {
    if (!canOpenAddresses) return false;
    openedAddresses.push_back(address);
    return true;
}

std::optional<std::string> FakePlatform::readFile(const std::string& path) {
    filesRead.push_back(path);
    auto it = files.find(path);
    if (it == files.end() || it->second.size() > platform::kMaxReadFileBytes) return std::nullopt;
    return it->second;
}

void FakePlatform::advance(long long ms) {
    const long long until = now_ + ms;
    while (!queue_.empty() && queue_.front().atMs <= until) {
        now_ = std::max(now_, queue_.front().atMs);
        runPass();
    }
    now_ = std::max(now_, until);
}

void FakePlatform::at(long long atMs, std::function<void()> fn) {
    schedule(atMs, std::move(fn));
}

void FakePlatform::forgetWindow(FakeWindow* w) {
    windows.erase(std::remove(windows.begin(), windows.end(), w), windows.end());
}

}  // namespace tempikon::fake
