#include "core/daytime_query.h"

#include <algorithm>
#include <utility>

namespace tempikon::core {

namespace {
constexpr std::int32_t kMaxTimeoutSeconds = 2'147'483;
}

std::string CutTimeText(std::string_view reply) {
    const std::size_t colon = reply.find(':');
    // A colon at 0-based index 0 or 1 leaves no room for two hour digits.
    if (colon == std::string_view::npos || colon < 2) return {};
    return std::string(reply.substr(colon - 2, 8));
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int TimeoutMilliseconds(std::int32_t timeoutSeconds) {
    return std::clamp(timeoutSeconds, std::int32_t{1}, kMaxTimeoutSeconds) * 1000;
}

DaytimeQuery::DaytimeQuery(platform::Platform& platform, PublicStuff& stuff,
                           platform::Timer& timer1, platform::TcpClient& winsock1)
    : platform_(platform), stuff_(stuff), timer1_(timer1), winsock1_(winsock1) {
    timer1_.setEnabled(false);
    timer1_.onTimer = [this] { Timer1_Timer(); };
    winsock1_.onDataArrival = [this] { Winsock1_DataArrival(); };
    winsock1_.onError = [this](const std::string&) { Winsock1_Error(); };
}

DaytimeQuery::~DaytimeQuery() {
    timer1_.onTimer = nullptr;
    winsock1_.onDataArrival = nullptr;
    winsock1_.onError = nullptr;
}

std::string DaytimeQuery::QueryTimeServer(const std::string& host) {
    // Timer1, Winsock1, QueryDone and ReplyText serve one query at a time.
    if (busy_ || shutDown_) return {};
    setBusy(true);

    // Leaves Idle however the wait ends, even by an exception.
    struct Finish {
        DaytimeQuery& q;
        ~Finish() { q.endQuery(); }
    } finish{*this};

    stuff_.QueryDone = false;
    stuff_.ReplyText.clear();
    // The system's resolver reads a name only up to a NUL and would ask
    // another host than the one named: such a name is never found.
    if (host.find('\0') != std::string::npos) {
        stuff_.QueryDone = true;
        return {};
    }
    timer1_.setInterval(TimeoutMilliseconds(stuff_.Config.Timeout));
    timer1_.setEnabled(true);
    if (winsock1_.isOpen()) winsock1_.close();
    winsock1_.connect(host, kDaytimePort);

    while (!stuff_.QueryDone) platform_.waitForEvents();

    winsock1_.close();
    timer1_.setEnabled(false);
    if (shutDown_) return {};
    return CutTimeText(stuff_.ReplyText);
}

void DaytimeQuery::endQuery() {
    if (winsock1_.isOpen()) winsock1_.close();
    timer1_.setEnabled(false);
    setBusy(false);
}

bool DaytimeQuery::isBusy() const {
    return busy_;
}

void DaytimeQuery::shutdown() {
    shutDown_ = true;
    if (!busy_) return;
    timer1_.setEnabled(false);
    stuff_.ReplyText.clear();
    stuff_.QueryDone = true;
}

bool DaytimeQuery::isShutDown() const {
    return shutDown_;
}

int DaytimeQuery::addBusyListener(std::function<void()> listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void DaytimeQuery::removeBusyListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void DaytimeQuery::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    // A listener may add or remove listeners: call those present at the
    // start that are still registered when their turn comes.
    std::vector<int> ids;
    for (const auto& entry : listeners_) ids.push_back(entry.first);
    for (const int id : ids) {
        auto it = std::find_if(listeners_.begin(), listeners_.end(),
                               [id](const auto& entry) { return entry.first == id; });
        if (it == listeners_.end() || !it->second) continue;
        const auto listener = it->second;
        listener();
    }
}

// The handlers act only while a query waits: a late notification of an
// earlier connection must not touch the next query's state.
void DaytimeQuery::Timer1_Timer() {
    timer1_.setEnabled(false);
    if (!busy_ || shutDown_) return;
    stuff_.ReplyText.clear();
    stuff_.QueryDone = true;
}

void DaytimeQuery::Winsock1_Error() {
    Timer1_Timer();
}

void DaytimeQuery::Winsock1_DataArrival() {
    if (!busy_ || shutDown_) return;
    timer1_.setEnabled(false);
    if (auto bytes = winsock1_.readAll(kMaxReplyBytes)) stuff_.ReplyText = std::move(*bytes);
    stuff_.QueryDone = true;
}

}  // namespace tempikon::core
