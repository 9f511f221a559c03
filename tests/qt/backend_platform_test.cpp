// The platform object itself: start-up decisions, the event loop, timers,
// message boxes without a display and the small services.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "backend_env.h"
#include "platform/qt/qt_capability.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_start_rules.h"
#include "platform/qt/qt_timer.h"
#include "platform/qt/qt_translate.h"

namespace tempikon::qt {
namespace {

using testing::platform;
using testing::runFor;
using testing::waitUntil;

// ---- start-up -----------------------------------------------------------------

TEST(Startup, OffscreenOnlyWithoutDisplayAndWithoutAChosenPlatform) {
    struct Case {
        std::optional<std::string> display, wayland, qpa;
        bool offscreen;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, true},
        {std::string(), std::string(), std::string(), true},  // set but empty
        {":0", std::nullopt, std::nullopt, false},
        {std::nullopt, "wayland-0", std::nullopt, false},
        {std::nullopt, std::nullopt, "xcb", false},
        {std::nullopt, std::nullopt, "offscreen", false},  // the user's choice
    };
    for (const Case& c : cases) {
        EXPECT_EQ(needsOffscreen(c.display, c.wayland, c.qpa), c.offscreen)
            << c.display.value_or("-") << " " << c.wayland.value_or("-") << " "
            << c.qpa.value_or("-");
    }
}

TEST(Startup, PrivilegedCopyKeepsOnlyQtsOwnPlainPlatforms) {
    struct Case {
        std::optional<std::string> requested, kept;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt},
        {"xcb", "xcb"},
        {"wayland", "wayland"},
        {"offscreen", "offscreen"},
        {"minimal", "minimal"},
        {"wayland;xcb", "wayland;xcb"},
        // Options may name files to read; they go, the name stays.
        {"offscreen:configfile=/home/u/x.json", "offscreen"},
        {"xcb:a;wayland:b", "xcb;wayland"},
        // Names of other plugins, even Qt's own, and tricks with the name.
        {"tempikonmarker", std::nullopt},
        {"eglfs", std::nullopt},
        {"vnc;xcb", "xcb"},
        {"XCB", std::nullopt},
        {"xcb ", std::nullopt},
        {"../xcb", std::nullopt},
        {"", std::nullopt},
        {";;", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platformForSecureRun(c.requested), c.kept) << c.requested.value_or("-");
    }
}

TEST(Startup, CreatePlatformChoseOffscreenForAMachineWithoutDisplay) {
    EXPECT_TRUE(testing::startedWithoutDisplay());
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    EXPECT_TRUE(platform().isHeadless());
}

TEST(Startup, CommandLineIsTakenBeforeQtRemovesItsOwnOptions) {
    // "-style fusion" is eaten by QApplication; the program still sees it.
    EXPECT_EQ(platform().commandLine(), "/Server x  y -style fusion");
    char a0[] = "prog";
    char a1[] = "/RUNONCE";
    char a2[] = "/MIN";
    char* argv[] = {a0, a1, a2, nullptr};
    EXPECT_EQ(joinArguments(3, argv), "/RUNONCE /MIN");
    EXPECT_EQ(joinArguments(1, argv), "");
}

TEST(Startup, DataDirectoriesNextToTheProgramThenShareThenInstallPrefix) {
    EXPECT_EQ(
        dataDirectoriesFor("/opt/t/bin", "/usr/share/tempikon"),
        (std::vector<std::string>{"/opt/t/bin", "/opt/t/share/tempikon", "/usr/share/tempikon"}));
    // The install prefix's folder is not listed twice.
    EXPECT_EQ(dataDirectoriesFor("/usr/bin", "/usr/share/tempikon"),
              (std::vector<std::string>{"/usr/bin", "/usr/share/tempikon"}));
    const auto dirs = platform().dataDirectories();
    ASSERT_GE(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], std::filesystem::path(QCoreApplication::applicationDirPath().toStdString())
                           .lexically_normal()
                           .string());
}

TEST(Startup, VersionComesFromTheBuild) {
    const platform::Version v = platform().version();
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.revision, 10);
}

// ---- event loop ----------------------------------------------------------------

TEST(EventLoop, WaitForEventsBlocksInsteadOfSpinning) {
    QtTimer timer;
    int fired = 0;
    timer.onTimer = [&] {
        ++fired;
        timer.setEnabled(false);
    };
    timer.setInterval(300);
    int wakeUps = 0;
    while (fired == 0 && wakeUps < 100000) {
        platform().waitForEvents();
        ++wakeUps;
    }
    EXPECT_EQ(fired, 1);
    // A busy loop would come back many thousands of times in 300 ms.
    EXPECT_LT(wakeUps, 50);
}

TEST(EventLoop, ProcessEventsDoesNotWaitForFutureEvents) {
    QtTimer timer;
    int fired = 0;
    timer.onTimer = [&] { ++fired; };
    timer.setInterval(60000);
    bool posted = false;
    platform().post([&] { posted = true; });
    platform().processEvents();
    EXPECT_TRUE(posted);
    EXPECT_EQ(fired, 0);
}

TEST(EventLoop, PostRunsLaterAndInOrder) {
    std::vector<int> order;
    platform().post([&] {
        order.push_back(1);
        platform().post([&] { order.push_back(3); });
        order.push_back(2);
    });
    platform().post([&] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(waitUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
}

TEST(EventLoop, QuitBeforeRunReturnsAtOnceWithTheCode) {
    platform().quit(3);
    EXPECT_EQ(platform().run(), 3);
}

TEST(EventLoop, QuitFromAHandlerEndsRun) {
    platform().post([] { platform().quit(7); });
    EXPECT_EQ(platform().run(), 7);
}

TEST(EventLoop, SleepBlocksWithoutHandlingEvents) {
    bool posted = false;
    platform().post([&] { posted = true; });
    platform().sleep(20);
    EXPECT_FALSE(posted);
    platform().processEvents();
    EXPECT_TRUE(posted);
}

// ---- timers --------------------------------------------------------------------

TEST(Timer, FreshTimerIsEnabledWithIntervalZeroAndDoesNotFire) {
    QtTimer timer;
    int fired = 0;
    timer.onTimer = [&] { ++fired; };
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_EQ(timer.interval(), 0);
    EXPECT_FALSE(timer.isCounting());
    runFor(50);
    EXPECT_EQ(fired, 0);
}

TEST(Timer, EnabledAndIntervalAreIndependent) {
    QtTimer timer;
    timer.setEnabled(false);
    timer.setInterval(20);
    EXPECT_FALSE(timer.isCounting());
    EXPECT_EQ(timer.interval(), 20);
    timer.setEnabled(true);
    EXPECT_TRUE(timer.isCounting());
    timer.setInterval(0);
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_FALSE(timer.isCounting());
}

TEST(Timer, FiresRepeatedlyUntilDisabled) {
    QtTimer timer;
    int fired = 0;
    timer.onTimer = [&] {
        if (++fired == 3) timer.setEnabled(false);
    };
    timer.setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return fired >= 3; }));
    runFor(60);
    EXPECT_EQ(fired, 3);
}

TEST(Timer, HandlerIsNotReenteredFromANestedLoop) {
    QtTimer timer;
    int entered = 0;
    int maxDepth = 0;
    int depth = 0;
    timer.onTimer = [&] {
        ++entered;
        maxDepth = std::max(maxDepth, ++depth);
        if (entered == 1) runFor(100);  // several intervals pass in here
        --depth;
    };
    timer.setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return entered >= 2; }));
    timer.setEnabled(false);
    EXPECT_EQ(maxDepth, 1);
}

TEST(Timer, FiresInsideAModalLoop) {
    // A modal box runs its own loop; the query's time-out must still come.
    QtTimer timer;
    QEventLoop modal;
    int fired = 0;
    timer.onTimer = [&] {
        ++fired;
        modal.quit();
    };
    timer.setInterval(20);
    QTimer::singleShot(5000, &modal, &QEventLoop::quit);
    modal.exec();
    EXPECT_EQ(fired, 1);
}

TEST(Timer, MayBeDestroyedByItsOwnHandler) {
    auto timer = std::make_unique<QtTimer>();
    bool done = false;
    timer->onTimer = [&] {
        // Through a nested loop, as an owner destroying its window would.
        platform().post([&] { timer.reset(); });
        runFor(30);
        done = true;
    };
    timer->setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(timer, nullptr);
    runFor(30);
}

// ---- message boxes and small services --------------------------------------------

// Captures what is written to a standard stream while it lives.
class StreamCapture {
public:
    explicit StreamCapture(FILE* stream) : stream_(stream), fd_(fileno(stream)) {
        std::fflush(stream_);
        saved_ = dup(fd_);
        file_ = std::tmpfile();
        dup2(fileno(file_), fd_);
    }
    ~StreamCapture() { restore(); }
    std::string text() {
        restore();
        std::rewind(file_);
        std::string out;
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) out.append(buffer, n);
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stream_);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }
    FILE* stream_;
    int fd_;
    int saved_ = -1;
    FILE* file_ = nullptr;
};

TEST(MessageBox, HeadlessAnswersAtOnceAndSaysItOnStandardError) {
    struct Case {
        int flags;
        int answer;
    };
    for (const Case c : {Case{48, platform::kIdOk}, Case{64, platform::kIdOk},
                         Case{52, platform::kIdNo}, Case{0, platform::kIdOk}}) {
        StreamCapture err(stderr);
        EXPECT_EQ(platform().messageBox("Some text.", "Tempikon 1.2", c.flags), c.answer)
            << c.flags;
        EXPECT_EQ(err.text(), "Tempikon 1.2: Some text.\n");
    }
}

// With a display the box is a real modal QMessageBox; here a timer plays
// the user, after checking what the box shows.
TEST(MessageBox, IconsButtonsAndAnswersFollowTheFlags) {
    struct Case {
        int flags;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press;
        int answer;
    };
    const Case cases[] = {
        {48, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, platform::kIdOk},
        {64, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, platform::kIdOk},
        {52, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
         platform::kIdYes},
        {52, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
         platform::kIdNo},
    };
    for (const Case& c : cases) {
        bool seen = false;
        QTimer::singleShot(30, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Tempikon 1.2"));
            EXPECT_EQ(box->text(), QStringLiteral("<b>not markup</b> & more"));
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->standardButtons(), c.buttons);
            box->button(c.press)->click();
        });
        EXPECT_EQ(showMessageBox("<b>not markup</b> & more", "Tempikon 1.2", c.flags), c.answer);
        EXPECT_TRUE(seen);
    }
}

TEST(MessageBox, TimersAndPostedCallsRunWhileTheBoxIsOpen) {
    QtTimer timer;
    int ticks = 0;
    bool posted = false;
    timer.onTimer = [&] {
        if (++ticks == 3) {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Ok)->click();
        }
    };
    timer.setInterval(15);
    platform().post([&] { posted = true; });
    EXPECT_EQ(showMessageBox("Waiting", "Tempikon 1.2", 64), platform::kIdOk);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(posted);
}

TEST(Services, WriteOutputLineEndsTheLine) {
    StreamCapture out(stdout);
    platform().writeOutputLine("Time set to 14:03:27 d=0s");
    EXPECT_EQ(out.text(), "Time set to 14:03:27 d=0s\n");
}

TEST(Services, ReadFileGivesAllBytesOrNothing) {
    const std::string path = testing::configHome() + "/bytes.dat";
    const std::string bytes("line 1\r\n\0\xff tail", 15);
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_EQ(platform().readFile(path), bytes);
    EXPECT_EQ(platform().readFile(testing::configHome() + "/missing.dat"), std::nullopt);
    // A folder is not a file.
    EXPECT_EQ(platform().readFile(testing::configHome()), std::nullopt);
}

TEST(Services, OpenAddressHeadlessOpensNothing) {
    StreamCapture err(stderr);
    platform().openAddress("https://example.org/help", 0);
    platform().openAddress("file:///etc/passwd", 0);
    const std::string said = err.text();
    EXPECT_NE(said.find("https://example.org/help"), std::string::npos);
    // Only web and mail addresses are ever handed on.
    EXPECT_EQ(said.find("passwd"), std::string::npos);
}

TEST(Services, OpenAddressTakesFilesOnlyFromTheProgramsDataFolders) {
    namespace fs = std::filesystem;
    // The program's folder is its first data folder.
    const fs::path dir(QCoreApplication::applicationDirPath().toStdString());
    const fs::path page = dir / "open_address_page.html";
    const fs::path link = dir / "open_address_link.html";
    const std::string elsewhere = testing::configHome() + "/x.html";
    std::ofstream(page) << "<p>help</p>";
    std::ofstream(elsewhere) << "<p>not ours</p>";
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink("/etc/passwd", link);
    StreamCapture err(stderr);
    platform().openAddress("file://" + page.string(), 0);
    platform().openAddress("file://" + link.string(), 0);
    platform().openAddress("file://" + (dir / "open_address_missing.html").string(), 0);
    platform().openAddress("file://" + elsewhere, 0);
    const std::string said = err.text();
    fs::remove(page, ignored);
    fs::remove(link, ignored);
    EXPECT_NE(said.find("file://" + page.string()), std::string::npos) << said;
    // A link out of the folder, a missing file and a file elsewhere stay shut.
    EXPECT_EQ(said.find("open_address_link"), std::string::npos) << said;
    EXPECT_EQ(said.find("open_address_missing"), std::string::npos) << said;
    EXPECT_EQ(said.find("x.html"), std::string::npos) << said;
}

TEST(ClockRight, EffectiveOnlyAroundTheClockCall) {
    // Only moves the right between the sets; the clock itself is not touched.
    ClockRight probe;
    if (!HoldsClockRight()) GTEST_SKIP() << "CAP_SYS_TIME is not permitted here";
    DropClockRight();
    EXPECT_FALSE(HoldsClockRight());
    {
        const ClockRight right;
        EXPECT_TRUE(HoldsClockRight());
    }
    EXPECT_FALSE(HoldsClockRight());
}

// ---- translation ----------------------------------------------------------------

#ifdef TEMPIKON_TRANSLATIONS_DIR
// Texts the logic builds from pieces (a tooltip: the outcome, then one line
// for each server) read in German piece by piece; hosts, replies and the
// system's own words stay as they are.
TEST(Translation, ComposedTextsReadInGermanPieceByPiece) {
    QTranslator german;
    ASSERT_TRUE(
        german.load(QStringLiteral("tempikon_de"), QStringLiteral(TEMPIKON_TRANSLATIONS_DIR)));
    QCoreApplication::installTranslator(&german);
    const struct {
        const char* english;
        const char* german;
    } rows[] = {
        {"Couldn't reach timeserver(s)\n127.0.0.9: connection refused\nb.example: no answer "
         "within 3 s",
         "Zeitserver nicht erreichbar\n127.0.0.9: Verbindung abgelehnt\nb.example: keine Antwort "
         "innerhalb von 3 s"},
        // The outcome's pattern must not swallow the lines below it.
        {"Time set to 12:00:00 d=3s\na.example: no answer within 3 s",
         "Zeit gestellt auf 12:00:00 d=3s\na.example: keine Antwort innerhalb von 3 s"},
        // A reply holding ": " or a translated word is quoted, not translated.
        {"a.example: the reply held no time: \"x: host not found\"",
         "a.example: die Antwort enthielt keine Uhrzeit: \"x: host not found\""},
        {"a.example: the reply ended early: \"Mon 14:0\"",
         "a.example: die Antwort endete vorzeitig: \"Mon 14:0\""},
        {"Couldn't set system clock: not permitted (run as root, give the program CAP_SYS_TIME, "
         "or use the system's time service; see man tempikon); kernel: Operation not permitted; "
         "time service: not authorised",
         "Systemuhr nicht gestellt: nicht erlaubt (als root starten, dem Programm CAP_SYS_TIME "
         "geben oder den Zeitdienst des Systems verwenden; siehe man tempikon); Kernel: Operation "
         "not permitted; Zeitdienst: nicht berechtigt"},
        {"Cannot read the settings file /home/u: x/Tempikon.conf: it is a folder",
         "Die Einstellungsdatei /home/u: x/Tempikon.conf ist nicht lesbar: es ist ein Ordner"},
        {"ntp.example: something new\nplain words", "ntp.example: something new\nplain words"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Translated(row.english).toStdString(), row.german) << row.english;
    }
    QCoreApplication::removeTranslator(&german);
}
#endif

}  // namespace
}  // namespace tempikon::qt
