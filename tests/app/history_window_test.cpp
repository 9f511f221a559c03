#include "app/history_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/history.h"
#include "tests/app/app_fixture.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::app::testing {
namespace {

using fake::PeerScript;
constexpr long long kMinuteMs = 60'000;

struct HistoryTest : AppFixture {
    tempikon::testing::FakeNtpServer ntp;

    void ntpServer(const std::string& interval, const std::string& step = "always") {
        configure(kPrimary, interval);
        platform.store().seed("Protocol", "NTP");
        platform.store().seed("Step", step);
        ntp.platform = &platform;
        platform.scriptUdp(kPrimary, ntp.responder());
    }
    std::vector<core::HistoryRecord> records() {
        const auto& text = platform.history().text;
        return text ? core::ParseHistory(*text).records : std::vector<core::HistoryRecord>{};
    }
    HistoryWindow& history() {
        EXPECT_NE(form->historyWindow(), nullptr);
        return *form->historyWindow();
    }
    fake::FakeCanvas& canvas() { return fake::as<fake::FakeCanvas>(history().canvas()); }
};

TEST_F(HistoryTest, ResidentSettingsOfAFastClockNameItsDrift) {
    // 50 ppm fast: 4.32 s a day, 90 ms in each half hour between settings.
    platform.fakeClock().ratePpm = 50;
    ntpServer("30");
    start("/SERVER");
    platform.advance(199 * 30 * kMinuteMs + 30'000);

    const std::vector<core::HistoryRecord> kept = records();
    ASSERT_EQ(kept.size(), 200u);
    EXPECT_EQ(platform.fakeClock().settings.size(), 200u);
    for (const core::HistoryRecord& r : kept) {
        EXPECT_TRUE(r.set);
        EXPECT_EQ(r.server, kPrimary);
        EXPECT_EQ(r.protocol, "NTP");
        EXPECT_EQ(r.correction, "step");
        ASSERT_TRUE(r.offsetMicros.has_value());
        ASSERT_TRUE(r.roundTripMicros.has_value());
    }
    // After the first, each setting finds the clock about 90 ms ahead.
    EXPECT_NEAR(static_cast<double>(*kept[100].offsetMicros), -90'000, 1'000);
    const std::optional<core::Drift> drift = core::ComputeDrift(kept);
    ASSERT_TRUE(drift.has_value());
    EXPECT_NEAR(drift->secondsPerDay, 4.32, 4.32 * 0.05);
    EXPECT_NEAR(drift->ppm, 50, 50 * 0.05);

    // The window says it in words.
    click(form->historyItem());
    EXPECT_TRUE(history().isShown());
    EXPECT_EQ(label(history().driftLine()).text(), "This clock gains about 4.3 s a day (50 ppm)");
}

TEST_F(HistoryTest, EveryKindOfSettingIsRecordedWithItsOutcome) {
    configure(kPrimary);
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    start("");
    click(form->setTimeItem());
    // The server goes silent; then the system refuses.
    platform.script(kPrimary, PeerScript().error(10));
    click(form->setTimeItem());
    platform.script(kPrimary, PeerScript().reply(50, kReply));
    platform.fakeClock().refuseWith = "Operation not permitted";
    click(form->setTimeItem());

    const std::vector<core::HistoryRecord> kept = records();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_TRUE(kept[0].set);
    EXPECT_EQ(kept[0].protocol, "Daytime");
    EXPECT_EQ(kept[0].correction, "step");
    // The server said 12:00:30 when the clock read 12:00:00.05.
    ASSERT_TRUE(kept[0].offsetMicros.has_value());
    EXPECT_NEAR(static_cast<double>(*kept[0].offsetMicros), 30.5e6, 0.2e6);
    EXPECT_FALSE(kept[1].set);
    EXPECT_FALSE(kept[1].offsetMicros.has_value());
    EXPECT_EQ(kept[1].correction, "none");
    EXPECT_EQ(kept[1].server, kPrimary);
    EXPECT_EQ(kept[1].reason.find(kPrimary), std::string::npos) << kept[1].reason;
    EXPECT_FALSE(kept[1].reason.empty());
    EXPECT_FALSE(kept[2].set);
    EXPECT_TRUE(kept[2].offsetMicros.has_value());
    EXPECT_EQ(kept[2].reason, "Couldn't set system clock: Operation not permitted");
    // Nothing on the tooltips: every line was written.
    EXPECT_EQ(label(form->outcomeLine()).toolTip().find("history"), std::string::npos);
}

TEST_F(HistoryTest, AFileThatCannotBeWrittenNeverStopsASetting) {
    struct Case {
        std::string name;
        fake::FakeStateFile::Kind kind;
        std::string failure;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"a FIFO at the path", fake::FakeStateFile::Kind::Fifo, "", "not a regular file"},
        {"a full disk", fake::FakeStateFile::Kind::Regular, "No space left on device",
         "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        p.history().kind = c.kind;
        p.history().writeFailure = c.failure;
        p.store().seed("Server", kPrimary);
        p.script(kPrimary, PeerScript().reply(50, kReply));
        p.commandLineText = "/SERVER";
        MainWindow f(p);
        f.start();
        p.advance(3 * 30 * kMinuteMs + kMinuteMs);
        EXPECT_EQ(p.fakeClock().settings.size(), 4u);
        const std::string tip = fake::as<fake::FakeLabel>(f.outcomeLine()).toolTip();
        EXPECT_EQ(fake::as<fake::FakeLabel>(f.outcomeLine()).text().rfind("Time set to", 0), 0u);
        EXPECT_NE(tip.find("The history could not be written: " + c.said), std::string::npos)
            << tip;
        // Said once on standard error, not at every setting.
        EXPECT_EQ(std::count_if(
                      p.errors.begin(), p.errors.end(),
                      [](const std::string& e) { return e.find("history") != std::string::npos; }),
                  1);
    }
}

TEST_F(HistoryTest, WindowOpensFromMenuAndTrayAndShowsOneRecordInFull) {
    platform.trayAvailable = true;
    ntpServer("30", "auto");
    platform.fakeClock().slewable = true;
    ntp.aheadMicros = 200'000;  // slewed
    start("/SERVER");
    ntp.aheadMicros = 2'000'000;  // stepped
    platform.advance(30 * kMinuteMs);
    platform.udpPeers.erase(kPrimary);  // silent: a failure
    platform.advance(30 * kMinuteMs);
    ASSERT_EQ(records().size(), 3u);

    fake::FakeMenuItem* fromTray = platform.trays.front()->item("&History");
    ASSERT_NE(fromTray, nullptr);
    fromTray->click();
    HistoryWindow* opened = form->historyWindow();
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(opened->isShown());
    // The menu brings the same window.
    click(form->historyItem());
    EXPECT_EQ(form->historyWindow(), opened);

    EXPECT_EQ(history().records().size(), 3u);
    EXPECT_EQ(label(history().driftLine()).text(),
              "Too few settings yet to tell how the clock drifts");
    const platform::Drawing& d = canvas().drawing;
    using Shape = platform::Drawing::Shape;
    auto marks = [&d](Shape s) {
        return std::count_if(d.marks.begin(), d.marks.end(),
                             [s](const auto& m) { return m.shape == s; });
    };
    // Each once in the legend, and the three settings.
    EXPECT_EQ(marks(Shape::Ring), 2);
    EXPECT_EQ(marks(Shape::Disc), 2);
    EXPECT_EQ(marks(Shape::Cross), 2);

    // Keys walk the settings; End is the newest, the failure.
    canvas().key(platform::CanvasKey::End);
    EXPECT_EQ(history().selected(), 2);
    EXPECT_NE(label(history().detailLine()).text().find(": failed, "), std::string::npos);
    canvas().key(platform::CanvasKey::Left);
    EXPECT_EQ(history().selected(), 1);
    EXPECT_NE(label(history().detailLine()).text().find("+1800."), std::string::npos)
        << label(history().detailLine()).text();
    canvas().key(platform::CanvasKey::Home);
    EXPECT_EQ(history().selected(), 0);
    EXPECT_NE(label(history().detailLine()).text().find(": slewed, round trip "),
              std::string::npos);

    // Over the last day, the pointer near the middle setting shows it.
    history().rangeBox().setSelectedIndex(0);
    EXPECT_EQ(history().selected(), -1);
    const core::PlotScale scale = core::ComputeScale(history().records(), core::HistoryRange::Day,
                                                     platform.clock().nowMicros(), 0);
    const core::PlotFrame frame =
        core::FrameFor(scale, canvas().pixelWidth(), canvas().pixelHeight());
    canvas().hover(frame.xOf(history().records()[1].atMicros) + 2, frame.top);
    EXPECT_EQ(history().selected(), 1);

    // A new setting reaches the open window.
    platform.scriptUdp(kPrimary, ntp.responder());
    platform.advance(30 * kMinuteMs);
    EXPECT_EQ(history().records().size(), 4u);
    EXPECT_EQ(history().selected(), 1);

    fake::as<fake::FakeButton>(history().openFolderButton()).click();
    EXPECT_EQ(platform.history().foldersOpened, 1);
    platform.history().canOpenFolder = false;
    fake::as<fake::FakeButton>(history().openFolderButton()).click();
    ASSERT_FALSE(platform.boxes.empty());
    EXPECT_EQ(platform.boxes.back().text, "Nothing on this system could open\n/state/Tempikon");

    history().close();
    platform.advance(1);
    EXPECT_EQ(form->historyWindow(), nullptr);

    // Opened again before the closed one is destroyed: a new window shows.
    click(form->historyItem());
    history().close();
    click(form->historyItem());
    ASSERT_NE(form->historyWindow(), nullptr);
    EXPECT_TRUE(history().isShown());
    platform.advance(1);
    ASSERT_NE(form->historyWindow(), nullptr);
    EXPECT_TRUE(history().isShown());
}

TEST_F(HistoryTest, UnreadableOrEmptyHistoryIsSaidInTheWindow) {
    configure(kPrimary);
    start("");
    click(form->historyItem());
    EXPECT_EQ(label(history().detailLine()).text(), "No settings recorded yet");
    EXPECT_EQ(label(history().driftLine()).text(), "");
    history().close();
    platform.advance(1);

    platform.history().kind = fake::FakeStateFile::Kind::Fifo;
    click(form->historyItem());
    EXPECT_EQ(label(history().detailLine()).text(),
              "The history cannot be read: not a regular file");
    // Nothing was opened for reading beyond the refusal.
    EXPECT_FALSE(platform.history().text.has_value());
}

}  // namespace
}  // namespace tempikon::app::testing
