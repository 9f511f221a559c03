// Start-up of the program to its main window first shown and first painted,
// measured from the moment the process was started. The window is made as
// the program makes it (platform, main window, start-up routine in
// interactive mode); the start is the monotonic time in nanoseconds that the
// caller passes in TEMPIKON_BENCH_START_NS just before it starts the process.
// Prints one line: "shown_ms <ms> painted_ms <ms>". Asserts nothing.
#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/main_window.h"
#include "platform/qt/qt_start.h"

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

class FirstShow : public QObject {
public:
    long long shownNs = 0, paintedNs = 0;
    std::function<void()> onPainted;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget && widget->isWindow()) {
            if (event->type() == QEvent::Show && !shownNs) shownNs = monotonicNs();
            if (event->type() == QEvent::Paint && shownNs && !paintedNs) {
                paintedNs = monotonicNs();
                if (onPainted) onPainted();
            }
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace tempikon;
    const char* startText = std::getenv("TEMPIKON_BENCH_START_NS");
    const long long start = startText ? std::atoll(startText) : monotonicNs();

    auto started = qt::createPlatform(argc, argv);
    platform::Platform& platform = *started.platform;
    FirstShow watch;
    qApp->installEventFilter(&watch);
    // Without a paint (a platform that draws nothing), give up after 10 s.
    QTimer::singleShot(10'000, [&platform] { platform.quit(1); });
    watch.onPainted = [&platform] { platform.post([&platform] { platform.quit(0); }); };

    core::Config config;
    int code = 0;
    {
        app::MainWindow form(platform);
        form.start();
        code = platform.run();
    }
    if (!watch.shownNs) return 1;
    std::printf("shown_ms %.2f painted_ms %.2f\n", (watch.shownNs - start) / 1e6,
                watch.paintedNs ? (watch.paintedNs - start) / 1e6 : -1.0);
    return code;
}
