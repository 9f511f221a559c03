// A whole setting of the clock from a server's reply, on the fake platform:
// the query, the cut, the validity test, the offset and the status texts.
//
// Input: a flag byte (bit 0: the primary fails and the backup gives the
// reply; bit 1: the reply comes in two pieces in one pass), four bytes of
// the offset as a float's bits, three bytes for the local clock's hour,
// minute and second, then the reply's bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/query/daytime_exchange.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "core/time_text.h"
#include "fuzz/fuzz_check.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/setting_run.h"

namespace {

using namespace tempikon;

constexpr long long kDay = 86'400;

long long Modulo(long long value, long long m) {
    const long long r = value % m;
    return r < 0 ? r + m : r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const bool backup = data[0] & 1;
    const bool twoPieces = data[0] & 2;
    float offset;
    std::memcpy(&offset, data + 1, sizeof offset);
    const int hour = data[5] % 24, minute = data[6] % 60, second = data[7] % 60;
    const std::string reply(reinterpret_cast<const char*>(data + 8), size - 8);

    fake::FakePlatform platform;
    platform.fakeClock().setNow(2026, 12, 7, hour, minute, second);
    core::Config config;
    config.primary().host = "primary.test";
    config.backup().host = backup ? "backup.test" : "";
    config.timeout = 3;
    (backup ? config.backup().offsetHours : config.primary().offsetHours) = offset;
    (backup ? config.primary().offsetHours : config.backup().offsetHours) = 7.0f;

    fake::PeerScript script;
    if (twoPieces && reply.size() >= 2) {
        const std::size_t cut = reply.size() / 2;
        script.reply(5, reply.substr(0, cut)).reply(5, reply.substr(cut));
    } else if (!reply.empty()) {
        script.reply(5, reply);
    }
    if (backup) {
        platform.script("primary.test", fake::PeerScript().error(1));
        platform.script("backup.test", script);
    } else {
        platform.script("primary.test", script);
    }

    auto window = platform.createWindow({});
    platform::Label& serverLine = window->addLabel({}, "");
    platform::Label& outcomeLine = window->addLabel({}, "");
    core::ServerQuery query(platform);
    platform::Timer* queryTimer = &query.daytime().timer();
    platform::TcpClient* querySocket = &query.daytime().socket();
    core::ClockSetter setter(platform, query);

    const core::SetOutcome outcome =
        testing::RunSetting(setter, config, platform, serverLine, outcomeLine);
    FUZZ_CHECK(!query.isBusy() && !querySocket->isOpen() && !queryTimer->isEnabled());
    FUZZ_CHECK(serverLine.text() == (backup ? "backup.test (Backup)" : "primary.test"));
    // Standard output also says how a setting was made; this clock steps.
    FUZZ_CHECK(platform.output.size() == 1 &&
               platform.output[0] ==
                   outcomeLine.text() + (outcome == core::SetOutcome::Set ? " (step)" : ""));
    // Never more than a time-out plus the reply's delay.
    FUZZ_CHECK(platform.nowMs() <= (backup ? 2 : 1) * 3000 + 5);
    FUZZ_CHECK(query.lastAnswer().reply.size() <= core::kMaxReplyBytes);

    // Whatever the pieces, the time is cut from the reply the query ended
    // with, up to a line end; a reply whose time is not whole holds none.
    const std::string& ended = query.lastAnswer().reply;
    const std::string timeText = core::FinalTimeText(ended);
    const std::string cut = core::CutTimeText(ended);
    FUZZ_CHECK(cut.compare(0, timeText.size(), timeText) == 0);
    FUZZ_CHECK(timeText.find_first_of("\r\n", 3) == std::string::npos);
    const bool whole = core::ReplyHoldsTheTime(ended) || core::ReplyEndsAfterTheMinutes(ended);
    FUZZ_CHECK(timeText.empty() == (!whole || cut.empty()));
    const auto& settings = platform.fakeClock().settings;
    if (timeText.empty()) {
        FUZZ_CHECK(outcome == core::SetOutcome::Unreachable);
        FUZZ_CHECK(outcomeLine.text() == "Couldn't reach timeserver(s)");
        FUZZ_CHECK(settings.empty());
        return 0;
    }
    const auto serverSeconds = core::ParseTimeOfDay(timeText);
    if (!serverSeconds) {
        FUZZ_CHECK(outcome == core::SetOutcome::InvalidData);
        FUZZ_CHECK(outcomeLine.text() == "Invalid data received");
        FUZZ_CHECK(settings.empty());
        return 0;
    }

    FUZZ_CHECK(outcome == core::SetOutcome::Set);
    FUZZ_CHECK(settings.size() == 1);
    // Offsets beyond a trillion minutes are held there.
    double minutes = std::round(double(offset) * 60.0);
    if (std::isnan(minutes)) minutes = 0;
    minutes = std::fmax(-1e12, std::fmin(1e12, minutes));
    const long long t = *serverSeconds + static_cast<long long>(minutes) * 60;
    const long long timeOfDay = Modulo(t, kDay);
    const auto& set = settings[0];
    // The local time set is the corrected server time (the fake's zone has
    // no daylight saving in December), and the clock never moves by more
    // than half a day. A reply that ended at the time-out ("12:34" and
    // nothing more) is that much older: up to the 3 s are added.
    const long long aged =
        Modulo(set.hour * 3600LL + set.minute * 60 + set.second - timeOfDay, kDay);
    FUZZ_CHECK(aged == 0 || (!core::ReplyHoldsTheTime(ended) && aged <= 3));
    const std::string prefix = "Time set to " + core::FormatTimeOfDay(int(timeOfDay)) + " d=";
    const std::string& status = outcomeLine.text();
    FUZZ_CHECK(status.rfind(prefix, 0) == 0 && status.back() == 's');
    const long long d = std::stoll(status.substr(prefix.size()));
    FUZZ_CHECK(d >= -kDay / 2 - 1 && d <= kDay / 2 + 1);
    return 0;
}
