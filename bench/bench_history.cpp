// The History window over 10,000 records: from the menu's click to the
// window first painted, and what it adds to the process's resident memory.
// The records span the last week (one a minute), so that all of them are
// plotted. The main window is shown first, as when a user opens History.
// Runs in its own temporary XDG_STATE_HOME. Prints one line:
// "records <n> open_ms <ms> rss_added_kib <KiB>". Asserts nothing.
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "core/history.h"
#include "platform/qt/qt_start.h"

namespace {

constexpr int kRecords = 10'000;

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

long residentKib() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The first paint of a window whose title is not the main window's.
class FirstPaint : public QObject {
public:
    long long paintedNs = 0;
    QString mainTitle;
    std::function<void()> onPainted;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget && event->type() == QEvent::Paint && !paintedNs &&
            widget->window()->windowTitle() != mainTitle && widget->window()->isVisible() &&
            !mainTitle.isEmpty()) {
            paintedNs = monotonicNs();
            if (onPainted) onPainted();
        }
        return false;
    }
};

std::string WeekOfRecords(std::int64_t nowMicros) {
    std::string text = std::string(tempikon::core::kHistoryHeader) + "\n";
    for (int i = 0; i < kRecords; ++i) {
        tempikon::core::HistoryRecord r;
        r.atMicros = nowMicros - static_cast<std::int64_t>(kRecords - i) * 60'000'000;
        r.server = "ntp.example.org";
        r.protocol = "NTP";
        r.set = i % 50 != 0;
        if (r.set) {
            r.offsetMicros = -840 + (i % 7) * 30;  // 14 ppm over a minute
            r.roundTripMicros = 18'000 + (i % 11) * 100;
            r.correction = i % 97 == 0 ? "step" : "slew";
        } else {
            r.reason = "no answer within 3 s";
        }
        text += tempikon::core::FormatHistoryLine(r) + "\n";
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tempikon;
    char pattern[] = "/tmp/tempikon-bench-history-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    const std::filesystem::path home = pattern;
    setenv("XDG_STATE_HOME", pattern, 1);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    std::filesystem::create_directories(home / "Tempikon");
    {
        std::ofstream out(home / "Tempikon" / "history.csv", std::ios::binary);
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        out << WeekOfRecords(now.tv_sec * 1'000'000LL + now.tv_nsec / 1000);
    }

    auto started = qt::createPlatform(argc, argv);
    platform::Platform& platform = *started.platform;
    FirstPaint watch;
    qApp->installEventFilter(&watch);
    QTimer::singleShot(20'000, [&platform] { platform.quit(1); });
    watch.onPainted = [&platform] { platform.post([&platform] { platform.quit(0); }); };

    int code = 0;
    long long clicked = 0;
    long before = 0, after = 0;
    {
        app::MainWindow form(platform);
        form.start();
        // The main window settles (shown and painted) before the click.
        QTimer::singleShot(500, [&] {
            watch.mainTitle = QString::fromUtf8(form.window().caption().c_str());
            before = residentKib();
            clicked = monotonicNs();
            form.onHistory();
        });
        code = platform.run();
        after = residentKib();
    }
    std::filesystem::remove_all(home);
    if (!watch.paintedNs) return 1;
    std::printf("records %d open_ms %.2f rss_added_kib %ld\n", kRecords,
                (watch.paintedNs - clicked) / 1e6, after - before);
    return code;
}
