// Preloaded into the installed program by the package test (LD_PRELOAD), it
// plays the user: opens the configuration dialog, writes the entries of its
// server list to the file named by TEMPIKON_DRIVER_OUT, presses Help, then
// Cancel, and closes the main window. Lines written: "entry<TAB>text",
// "help<TAB>pressed", "closed", or "stuck<TAB>step" when a step times out.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {

constexpr int kTickMs = 50;
constexpr int kStepTicks = 400;  // 20 s for one step

QFile* out = nullptr;

void writeLine(const QString& line) {
    out->write((line + QLatin1Char('\n')).toUtf8());
    out->flush();
}

QWidget* topLevelTitled(const QString& title) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == title) return w;
    }
    return nullptr;
}

QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        // Message boxes carry the program's title too, but no menu bar.
        if (w->isVisible() && w->windowTitle().startsWith(QLatin1String("Tempikon")) &&
            w->findChild<QMenuBar*>()) {
            return w;
        }
    }
    return nullptr;
}

QAbstractButton* button(QWidget* window, const QString& text) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

class Driver {
public:
    void tick() {
        if (++ticks_ > kStepTicks) {
            writeLine(QStringLiteral("stuck\t%1").arg(step_));
            QCoreApplication::exit(70);
            return;
        }
        if (step_ == 0) {
            QWidget* main = mainWindow();
            if (!main) return;
            for (QAction* action : main->findChildren<QAction*>()) {
                if (action->text() == QLatin1String("&Configuration")) {
                    action->trigger();
                    next();
                    return;
                }
            }
        } else if (step_ == 1) {
            QWidget* dialog = topLevelTitled(QStringLiteral("Configuration"));
            if (!dialog) return;
            auto* list = dialog->findChild<QListWidget*>();
            QAbstractButton* help = button(dialog, QStringLiteral("&Help"));
            if (!list || !help) return;
            for (int i = 0; i < list->count(); ++i) {
                writeLine(QStringLiteral("entry\t") + list->item(i)->text());
            }
            help->click();
            writeLine(QStringLiteral("help\tpressed"));
            next();
        } else if (step_ == 2) {
            QWidget* dialog = topLevelTitled(QStringLiteral("Configuration"));
            if (!dialog) return next();
            if (QAbstractButton* cancel = button(dialog, QStringLiteral("&Cancel")))
                cancel->click();
        } else if (step_ == 3) {
            QWidget* main = mainWindow();
            if (!main) return;
            writeLine(QStringLiteral("closed"));
            main->close();
            next();
        }
    }

private:
    void next() {
        ++step_;
        ticks_ = 0;
    }

    int step_ = 0;
    int ticks_ = 0;
};

void startDriver() {
    const QString path = qEnvironmentVariable("TEMPIKON_DRIVER_OUT");
    if (path.isEmpty()) return;
    out = new QFile(path);
    if (!out->open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("driver: cannot write");
    // Runs from inside the application's constructor: start once the event
    // loop runs, when the main window exists.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            auto driver = std::make_shared<Driver>();
            auto* timer = new QTimer(QCoreApplication::instance());
            QObject::connect(timer, &QTimer::timeout, timer, [driver] { driver->tick(); });
            timer->start(kTickMs);
        },
        Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
