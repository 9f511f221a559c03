// The main window and the About box on the real Qt backend, offscreen, with
// the settings in a temporary folder of their own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "platform/qt/qt_start.h"
#include "platform/qt/qt_translate.h"
#include "platform/qt/qt_window.h"
#include "tempikon_version.h"
#include "test_addresses.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon {
namespace {

platform::Platform* gPlatform = nullptr;

struct WindowsTest : ::testing::Test {
    core::Config config;

    void SetUp() override { storeServer(""); }
    void TearDown() override { storeServer(""); }

    void storeServer(const std::string& server) {
        auto& store = gPlatform->settings();
        store.writeText(version::kProductName, core::kSection, "Server", server);
        store.writeText(version::kProductName, core::kSection, "Server2", "");
        ASSERT_TRUE(store.commit().ok);
    }

    static qt::QtWindow& qtWindow(platform::Window& w) { return dynamic_cast<qt::QtWindow&>(w); }
    static QString labelText(platform::Label& l) {
        return dynamic_cast<qt::QtLabel&>(l).widget()->text();
    }
    static QStringList menuTexts(qt::QtWindow& w) {
        QStringList texts;
        for (QAction* a : w.menuBar()->actions()) texts << a->text();
        return texts;
    }
    static std::vector<bool> menuEnabled(qt::QtWindow& w) {
        std::vector<bool> states;
        for (QAction* a : w.menuBar()->actions()) states.push_back(a->isEnabled());
        return states;
    }
};

TEST_F(WindowsTest, MainWindowWithoutAServer) {
    app::MainWindow form(*gPlatform);
    qt::QtWindow& w = qtWindow(form.window());
    EXPECT_EQ(w.widget()->windowTitle(), "Tempikon");
    form.start();
    EXPECT_EQ(w.widget()->windowTitle(), "Tempikon 1.2");
    EXPECT_TRUE(w.widget()->isVisible());
    EXPECT_EQ(menuTexts(w), (QStringList{"&Configuration", "&Set time", "&History", "&?"}));
    EXPECT_EQ(menuEnabled(w), (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(labelText(form.serverLine()), "No timeserver selected");
    EXPECT_EQ(labelText(form.outcomeLine()), "");
    EXPECT_EQ(labelText(form.modeLine()), "Current program mode is CONFIG");

    // Stacked top to bottom, full width of the client area.
    QLabel* labels[] = {dynamic_cast<qt::QtLabel&>(form.serverLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.outcomeLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.reasonLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.modeLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.lastSetLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.nextSettingLine()).widget(),
                        dynamic_cast<qt::QtLabel&>(form.othersLine()).widget()};
    for (int i = 1; i < 7; ++i) EXPECT_LT(labels[i - 1]->y(), labels[i]->y());
    for (QLabel* l : labels) EXPECT_EQ(l->width(), w.clientArea()->width());
    // 3855 x 1680 twips at the screen's logical DPI.
    const double dpi = w.clientArea()->logicalDpiY();
    EXPECT_NEAR(w.clientArea()->width(), 3855 * dpi / 1440, 1.0);
    EXPECT_NEAR(w.clientArea()->height(), 1680 * dpi / 1440, 1.0);
    EXPECT_NEAR(labels[3]->y(), 720 * dpi / 1440, 1.0);
    w.close();
    EXPECT_TRUE(form.hasEnded());
}

TEST_F(WindowsTest, MainWindowWithAServer) {
    storeServer(addresses::windows.at(0));
    app::MainWindow form(*gPlatform);
    form.start();
    qt::QtWindow& w = qtWindow(form.window());
    EXPECT_EQ(menuEnabled(w), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(labelText(form.serverLine()), addresses::windows.at(0));
    EXPECT_EQ(labelText(form.modeLine()), "Current program mode is CONFIG");
    w.close();
}

TEST_F(WindowsTest, AboutBoxFromTheMenu) {
    app::MainWindow form(*gPlatform);
    form.start();
    dynamic_cast<qt::QtMenuItem&>(form.aboutItem()).trigger();
    ASSERT_NE(form.aboutBox(), nullptr);
    about::About& box = *form.aboutBox();
    qt::QtWindow& w = qtWindow(box.window());
    EXPECT_EQ(w.widget()->windowTitle(), "About Tempikon");
    EXPECT_TRUE(box.isShown());
    EXPECT_EQ(labelText(box.titleLabel()), "Tempikon 1.2");
    // The version comes from the build.
    EXPECT_EQ(labelText(box.revisionLabel()), "Rev 1.2.10");
    bool freeware = false;
    for (const QLabel* label : w.widget()->findChildren<QLabel*>())
        freeware = freeware || label->text() == QLatin1String("This is freeware.");
    EXPECT_TRUE(freeware);
    EXPECT_EQ(labelText(box.webLink()), about::kWebAddress);
    EXPECT_EQ(labelText(box.mailLink()), about::kMailAddress);
    EXPECT_EQ(w.menuBar() == nullptr || w.menuBar()->actions().isEmpty(), true);

    // Closing the main window closes the box too.
    qtWindow(form.window()).close();
    EXPECT_FALSE(box.isShown());
}

// Run also under LANG=de_DE.UTF-8 and QT_SCALE_FACTOR=2 (see windows.cmake):
// each of the About box's lines is whole on its one line, as designed.
TEST_F(WindowsTest, AboutBoxLinesFitInTheirPlaces) {
#ifdef TEMPIKON_TRANSLATIONS_DIR
    qt::LoadTranslations({TEMPIKON_TRANSLATIONS_DIR});
#endif
    app::MainWindow form(*gPlatform);
    form.start();
    dynamic_cast<qt::QtMenuItem&>(form.aboutItem()).trigger();
    ASSERT_NE(form.aboutBox(), nullptr);
    qt::QtWindow& w = qtWindow(form.aboutBox()->window());
    if (const char* lang = std::getenv("LANG"); lang && std::string(lang).rfind("de", 0) == 0) {
        EXPECT_EQ(w.widget()->windowTitle(), QString::fromUtf8("\xC3\x9C"
                                                               "ber Tempikon"));
    }
    int lines = 0;
    for (const QLabel* label : w.clientArea()->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        ++lines;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
    }
    EXPECT_EQ(lines, 8);
    qtWindow(form.window()).close();
}

// The whole of a label's text is drawn inside it, and no two labels overlap.
void ExpectNothingCut(qt::QtWindow& w) {
    const QList<QLabel*> labels = w.clientArea()->findChildren<QLabel*>();
    for (const QLabel* label : labels) {
        if (label->text().isEmpty()) continue;
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->text().toStdString();
        EXPECT_LE(label->geometry().bottom(), w.clientArea()->height())
            << label->text().toStdString();
    }
    for (const QLabel* a : labels) {
        for (const QLabel* b : labels) {
            if (a == b || a->text().isEmpty() || b->text().isEmpty() || a->x() != b->x()) continue;
            EXPECT_LE((a->geometry() & b->geometry()).height(), 1)
                << a->text().toStdString() << " / " << b->text().toStdString();
        }
    }
}

TEST_F(WindowsTest, AStatusLineTooLongWidensTheWindowAndAShortOneGivesTheSpaceBack) {
    app::MainWindow form(*gPlatform);
    form.start();
    qt::QtWindow& w = qtWindow(form.window());
    const int height = w.clientArea()->height();
    const int width = w.clientArea()->width();
    const std::string texts[] = {
        "Couldn't set system clock: no time service on this system",
        "Couldn't set system clock: no time service on this system, and a reason that is longer "
        "still so that it would take a third line",
        "Time set to 12:00:00 d=1s slewed +197 ms",
        "Time set to 12:00:00 d=1s",
    };
    for (platform::Label* line : {&form.serverLine(), &form.modeLine()}) {
        const QLabel* label = dynamic_cast<qt::QtLabel&>(*line).widget();
        EXPECT_EQ(label->toolTip(), label->text()) << "a status line's tool tip is its text";
    }
    const QLabel* outcome = dynamic_cast<qt::QtLabel&>(form.outcomeLine()).widget();
    for (const std::string& text : texts) {
        form.outcomeLine().setText(text);
        ExpectNothingCut(w);
        // One line: nothing wraps inside a number or a word.
        EXPECT_LE(outcome->heightForWidth(outcome->width()), outcome->fontMetrics().height() + 2)
            << text;
        EXPECT_GE(outcome->width(), outcome->fontMetrics().horizontalAdvance(outcome->text()))
            << text;
    }
    EXPECT_EQ(w.clientArea()->height(), height) << "the lines stay one line each";
    EXPECT_EQ(w.clientArea()->width(), width) << "a short text gives the space back";
}

// Dark backgrounds and light texts; as some dark themes do, disabled text
// the same as enabled.
QPalette DarkPalette(const QPalette& light) {
    QPalette dark = light;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(0x30, 0x30, 0x30));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xee, 0xee, 0xee));
    return dark;
}

// Run also under LANG=de_DE.UTF-8 and QT_SCALE_FACTOR=2 (see windows.cmake):
// no button's text touches its edges, and greyed buttons look greyed, in a
// light and a dark palette; the dialog's background follows the palette.
TEST_F(WindowsTest, DialogButtonsHoldTheirTextsAndLookGreyedWhenGreyed) {
#ifdef TEMPIKON_TRANSLATIONS_DIR
    qt::LoadTranslations({TEMPIKON_TRANSLATIONS_DIR});
#endif
    const QPalette light = QApplication::palette();
    const QPalette dark = DarkPalette(light);
    for (const QPalette& palette : {light, dark}) {
        QApplication::setPalette(palette);
        app::MainWindow form(*gPlatform);
        form.start();
        dynamic_cast<qt::QtMenuItem&>(form.configurationItem()).trigger();
        ASSERT_NE(form.configDialog(), nullptr);
        qt::QtWindow& w = qtWindow(form.configDialog()->window());
        EXPECT_EQ(w.clientArea()->palette().color(QPalette::Window),
                  palette.color(QPalette::Window));
        for (const QPushButton* button : w.clientArea()->findChildren<QPushButton*>()) {
            EXPECT_LE(button->sizeHint().width(), button->width()) << button->text().toStdString();
            const QPalette& p = button->palette();
            EXPECT_NE(p.color(QPalette::Disabled, QPalette::ButtonText),
                      p.color(QPalette::Active, QPalette::ButtonText))
                << button->text().toStdString();
        }
        qtWindow(form.window()).close();
    }
    QApplication::setPalette(light);
}

TEST_F(WindowsTest, FixedBackgroundsKeepTheirTextReadableUnderADarkTheme) {
    const QPalette light = QApplication::palette();
    const QPalette dark = DarkPalette(light);
    for (const QPalette& palette : {light, dark}) {
        QApplication::setPalette(palette);
        app::MainWindow form(*gPlatform);
        form.start();
        dynamic_cast<qt::QtMenuItem&>(form.aboutItem()).trigger();
        for (qt::QtWindow* w : {&qtWindow(form.window()), &qtWindow(form.aboutBox()->window())}) {
            const QColor background = w->clientArea()->palette().color(QPalette::Window);
            for (const QLabel* label : w->clientArea()->findChildren<QLabel*>()) {
                if (label->text().isEmpty()) continue;
                const QColor text = label->palette().color(QPalette::WindowText);
                EXPECT_GE(std::abs(text.lightness() - background.lightness()), 100)
                    << label->text().toStdString() << " on " << background.name().toStdString();
            }
        }
        qtWindow(form.window()).close();
    }
    QApplication::setPalette(light);
}

}  // namespace
}  // namespace tempikon

int main(int argc, char** argv) {
    // Settings of these tests live in a folder of their own.
    namespace fs = std::filesystem;
    const fs::path config =
        fs::temp_directory_path() / ("tempikon-windows-test-" + std::to_string(::getpid()));
    fs::create_directories(config);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_STATE_HOME", config.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    ::testing::InitGoogleTest(&argc, argv);
    auto start = tempikon::qt::createPlatform(argc, argv);
    tempikon::gPlatform = start.platform.get();
    const int result = RUN_ALL_TESTS();
    start.platform.reset();
    std::error_code ignored;
    fs::remove_all(config, ignored);
    return result;
}
