// The configuration dialog on the real Qt backend, offscreen, opened from the
// main window, with its settings file in a temporary folder and Daytime
// servers on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "platform/qt/qt_file_chooser.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_start.h"
#include "platform/qt/qt_window.h"
#include "settings_dialog/config_dialog.h"
#include "tempikon_version.h"
#include "test_addresses.h"
#include "tests/support/daytime_server.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon {
namespace {

namespace fs = std::filesystem;

platform::Platform* gPlatform = nullptr;
fs::path gConfigHome;
fs::path gWorkDir;

// Where the store keeps the settings (under the temporary XDG_CONFIG_HOME).
fs::path SettingsFile() {
    return qt::QtSettingsStore::location(version::kProductName);
}

struct DialogQtTest : ::testing::Test {
    core::Config config;
    std::unique_ptr<app::MainWindow> form;

    void SetUp() override {
        std::error_code ignored;
        fs::remove(SettingsFile(), ignored);
        // The list in the working folder, one entry per local test server;
        // the first with a tab in its free text.
        std::ofstream(gWorkDir / "timeservers.dat", std::ios::binary)
            << "LO " << addresses::dialog.at(0) << " answers\there\r\n"
            << "LO " << addresses::dialog.at(1) << " silent\r\n";
    }

    // Closing the main window would ask the application to quit, which
    // makes every later nested event loop (the popup's) return at once.
    void TearDown() override { form.reset(); }

    static void seed(const std::string& text) {
        fs::create_directories(SettingsFile().parent_path());
        std::ofstream(SettingsFile(), std::ios::binary) << text;
    }

    settings_dialog::ConfigDialog& openDialog() {
        form = std::make_unique<app::MainWindow>(*gPlatform);
        form->start();
        dynamic_cast<qt::QtMenuItem&>(form->configurationItem()).trigger();
        EXPECT_NE(form->configDialog(), nullptr);
        return *form->configDialog();
    }

    static QLineEdit* edit(platform::TextField& f) {
        return dynamic_cast<qt::QtTextField&>(f).widget();
    }
    static QCheckBox* box(platform::CheckBox& b) {
        return dynamic_cast<qt::QtCheckBox&>(b).widget();
    }
    static QComboBox* combo(platform::ComboBox& c) {
        return dynamic_cast<qt::QtComboBox&>(c).widget();
    }
    static QListWidget* listWidget(settings_dialog::ConfigDialog& d) {
        return dynamic_cast<qt::QtListBox&>(d.serverList()).widget();
    }
    static QMenu* menu(settings_dialog::ConfigDialog& d) {
        return dynamic_cast<qt::QtPopupMenu&>(d.serverMenu()).menu();
    }
    static QPoint entryCentre(QListWidget* list, int row) {
        return list->visualItemRect(list->item(row)).center();
    }

    // Runs action; when a popup menu opens meanwhile, records it and picks
    // the item at index (or dismisses it with -1).
    static QMenu* withPopup(int index, const std::function<void()>& action) {
        QMenu* opened = nullptr;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&opened, &timer, index] {
            auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!popup) return;
            timer.stop();
            opened = popup;
            if (index < 0) {
                popup->close();
                return;
            }
            popup->setActiveAction(popup->actions().at(index));
            QTest::keyClick(popup, Qt::Key_Return);
        });
        timer.start();
        action();
        timer.stop();
        return opened;
    }
};

TEST_F(DialogQtTest, FieldsAreFilledFromTheSettingsFile) {
    seed(
        "[CONFIG]\nServer=seeded.example\nServer2=backup.example\nOffset=5.5\n"
        "Offset2=-0.5\nTimeout=7\nInterval=45\nZone2=UTC\n");
    settings_dialog::ConfigDialog& dlg = openDialog();
    EXPECT_TRUE(dlg.isShown());
    EXPECT_EQ(dlg.window().caption(), "Configuration");
    EXPECT_EQ(edit(dlg.serverField())->text(), "seeded.example");
    EXPECT_EQ(edit(dlg.server2Field())->text(), "backup.example");
    EXPECT_EQ(edit(dlg.offsetField())->text(), "5.5");
    EXPECT_EQ(edit(dlg.offset2Field())->text(), "-0.5");
    EXPECT_EQ(edit(dlg.timeoutField())->text(), "7");
    EXPECT_EQ(edit(dlg.intervalField())->text(), "45");
    EXPECT_FALSE(box(dlg.utcBox())->isChecked());
    EXPECT_TRUE(box(dlg.utc2Box())->isChecked());
    // The caption is seen whole.
    EXPECT_LE(box(dlg.utcBox())->sizeHint().width(), box(dlg.utcBox())->width());
    EXPECT_EQ(listWidget(dlg)->count(), 2);
    EXPECT_EQ(listWidget(dlg)->item(0)->text().size(), 55);
    EXPECT_EQ(listWidget(dlg)->font().family(), "Courier New");
}

// Each number field shows the longest value it takes whole: no digit is
// scrolled out of view at either edge.
TEST_F(DialogQtTest, NumberFieldsShowTheirLongestValuesWhole) {
    settings_dialog::ConfigDialog& dlg = openDialog();
    const struct {
        platform::TextField* field;
        QString text;
    } cases[] = {
        {&dlg.timeoutField(), "2147483647"},
        {&dlg.intervalField(), "2147483647"},
        {&dlg.offsetField(), "-23.45678"},
        {&dlg.offset2Field(), "-23.45678"},
    };
    for (const auto& c : cases) {
        c.field->setText(c.text.toStdString());
        QLineEdit* e = edit(*c.field);
        e->repaint();  // the line edit places its text when it paints
        const int middle = e->height() / 2;
        EXPECT_EQ(e->cursorPositionAt(QPoint(1, middle)), 0) << c.text.toStdString();
        EXPECT_EQ(e->cursorPositionAt(QPoint(e->width() - 2, middle)), c.text.size())
            << c.text.toStdString();
    }
}

TEST_F(DialogQtTest, EnterPressesOkWhichWritesTheSettingsFile) {
    settings_dialog::ConfigDialog& dlg = openDialog();
    edit(dlg.serverField())->setText("  typed.example ");
    edit(dlg.offsetField())->setText("2.5");
    edit(dlg.timeoutField())->setText("3.5");
    edit(dlg.intervalField())->setText("15");
    QTest::mouseClick(box(dlg.utcBox()), Qt::LeftButton, {},
                      QPoint(4, box(dlg.utcBox())->height() / 2));
    edit(dlg.intervalField())->setFocus();
    QTest::keyClick(edit(dlg.intervalField()), Qt::Key_Return);

    EXPECT_EQ(form->configDialog() == nullptr || !form->configDialog()->isShown(), true);
    QSettings file(QString::fromStdString(SettingsFile().string()), QSettings::IniFormat);
    ASSERT_EQ(SettingsFile().parent_path().parent_path(), gConfigHome);
    EXPECT_EQ(file.value("CONFIG/Server").toString(), "typed.example");
    EXPECT_EQ(file.value("CONFIG/Offset").toString(), "2.5");
    EXPECT_EQ(file.value("CONFIG/Timeout").toString(), "4");
    EXPECT_EQ(file.value("CONFIG/Interval").toString(), "15");
    EXPECT_EQ(file.value("CONFIG/Zone").toString(), "UTC");
    EXPECT_EQ(file.value("CONFIG/Zone2").toString(), "");
    EXPECT_EQ(dynamic_cast<qt::QtLabel&>(form->serverLine()).widget()->text(), "typed.example");
    EXPECT_TRUE(form->setTimeItem().isEnabled());
}

// The protocol choices: filled from the settings, reached by Tab right after
// their server fields, chosen with the keyboard and written by OK.
TEST_F(DialogQtTest, TheProtocolChoicesAreFilledChosenAndWritten) {
    seed("[CONFIG]\nServer=p.example\nServer2=b.example\nProtocol2=NTP\nZone=UTC\n");
    settings_dialog::ConfigDialog& dlg = openDialog();
    QComboBox* primary = combo(dlg.protocolBox());
    QComboBox* backup = combo(dlg.protocol2Box());
    EXPECT_EQ(primary->currentText(), "Daytime");
    EXPECT_EQ(backup->currentText(), "NTP");
    EXPECT_FALSE(primary->isEditable());
    EXPECT_TRUE(box(dlg.utcBox())->isEnabled());
    EXPECT_FALSE(box(dlg.utc2Box())->isEnabled()) << "no zone for an NTP server";

    // Shown beside its field and overlapping no other control.
    for (QComboBox* c : {primary, backup}) {
        EXPECT_TRUE(c->isVisible());
        for (QWidget* other :
             c->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (other == c || !other->isVisible()) continue;
            EXPECT_FALSE(c->geometry().intersects(other->geometry()))
                << other->metaObject()->className() << " at " << other->x() << "," << other->y();
        }
    }

    EXPECT_EQ(edit(dlg.serverField())->nextInFocusChain(), primary);
    EXPECT_EQ(primary->nextInFocusChain(), edit(dlg.offsetField()));
    QTest::keyClick(primary, Qt::Key_Down);
    EXPECT_EQ(primary->currentText(), "NTP");
    EXPECT_FALSE(box(dlg.utcBox())->isEnabled());
    EXPECT_EQ(edit(dlg.server2Field())->nextInFocusChain(), backup);
    QTest::keyClick(backup, Qt::Key_Up);
    EXPECT_EQ(backup->currentText(), "Daytime");
    EXPECT_TRUE(box(dlg.utc2Box())->isEnabled());

    dynamic_cast<qt::QtButton&>(dlg.okButton()).click();
    QSettings file(QString::fromStdString(SettingsFile().string()), QSettings::IniFormat);
    EXPECT_EQ(file.value("CONFIG/Protocol").toString(), "NTP");
    EXPECT_EQ(file.value("CONFIG/Protocol2").toString(), "Daytime");
}

// The NTS server's trust row shows whole, beside nothing it overlaps, and
// its accelerator reaches its field; the other server's row is hidden and
// its accelerator reaches nothing. Choosing NTS brings it, and OK stores it.
TEST_F(DialogQtTest, TheTrustRowShowsForNtsAndItsAcceleratorReachesItsField) {
    seed(
        "[CONFIG]\nServer=p.example:4460\nProtocol=NTS\nTrustedCertificates=/srv/ca.pem\n"
        "Server2=b.example\nProtocol2=NTP\n");
    settings_dialog::ConfigDialog& dlg = openDialog();
    using Role = settings_dialog::ConfigDialog::Role;
    const auto row = [&dlg](Role role) {
        return std::vector<QWidget*>{dynamic_cast<qt::QtLabel&>(dlg.trustLabel(role)).widget(),
                                     edit(dlg.trustField(role)),
                                     dynamic_cast<qt::QtButton&>(dlg.trustButton(role)).widget()};
    };
    QWidget* window = edit(dlg.serverField())->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(edit(dlg.trustField(Role::Primary))->text(), "/srv/ca.pem");
    for (QWidget* w : row(Role::Primary)) {
        EXPECT_TRUE(w->isVisible()) << w->metaObject()->className();
        // Whole on one line, inside the window, over nothing else shown.
        if (!qobject_cast<QLineEdit*>(w)) {
            EXPECT_LE(w->sizeHint().width(), w->width()) << w->metaObject()->className();
        }
        EXPECT_LE(w->geometry().right(), w->parentWidget()->width());
        for (QWidget* other :
             w->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (other == w || !other->isVisible()) continue;
            EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                << w->metaObject()->className() << " over " << other->metaObject()->className()
                << " at " << other->x() << "," << other->y();
        }
    }
    for (QWidget* w : row(Role::Backup)) EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(box(dlg.utcBox())->isVisible());
    EXPECT_TRUE(box(dlg.utc2Box())->isVisible());

    QTest::keyClick(window, Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), edit(dlg.trustField(Role::Primary)));
    QTest::keyClick(window, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), edit(dlg.trustField(Role::Primary)))
        << "a hidden row's accelerator moves nothing";

    combo(dlg.protocol2Box())->setCurrentIndex(2);  // NTS
    for (QWidget* w : row(Role::Backup)) EXPECT_TRUE(w->isVisible());
    QTest::keyClick(window, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), edit(dlg.trustField(Role::Backup)));
    QTest::keyClicks(edit(dlg.trustField(Role::Backup)), "/srv/backup-ca.pem");
    combo(dlg.protocolBox())->setCurrentIndex(1);  // NTP
    for (QWidget* w : row(Role::Primary)) EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(box(dlg.utcBox())->isVisible());

    dynamic_cast<qt::QtButton&>(dlg.okButton()).click();
    QSettings file(QString::fromStdString(SettingsFile().string()), QSettings::IniFormat);
    EXPECT_EQ(file.value("CONFIG/Protocol2").toString(), "NTS");
    EXPECT_EQ(file.value("CONFIG/TrustedCertificates2").toString(), "/srv/backup-ca.pem");
    EXPECT_EQ(file.value("CONFIG/TrustedCertificates").toString(), "/srv/ca.pem");
}

// The file chooser opens at the file chosen so far and gives the file the
// user picks; cancelled, it gives none. (The platform answers none at once
// where nobody could answer, as offscreen.)
TEST_F(DialogQtTest, TheFileChooserOpensAtTheCurrentFileAndGivesThePickedOne) {
    const fs::path folder = gWorkDir / "certs";
    fs::create_directories(folder);
    std::ofstream(folder / "a.pem") << "a";
    std::ofstream(folder / "b.crt") << "b";
    platform::FileChoice choice{
        "Certificates", (folder / "a.pem").string(), "PEM certificates", {"*.pem", "*.crt"}};
    for (const bool pick : {true, false}) {
        QString openedAt;
        QStringList filters;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            // Picked once the folder is read, as a user sees it.
            auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
            const QString shownFolder = QString::fromStdString(folder.string());
            if (!model || model->rowCount(model->index(shownFolder)) < 2) return;
            openedAt = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            if (pick) {
                // Typed into the name field, which has the focus, until the
                // dialog has it (the folder's listing may still select the
                // file it opened with).
                const QString wanted = QString::fromStdString((folder / "b.crt").string());
                if (dialog->selectedFiles() != QStringList{wanted}) {
                    auto* name = qobject_cast<QLineEdit*>(dialog->focusWidget());
                    if (!name) return;
                    name->clear();
                    name->setText("b.crt");
                    return;
                }
                timer.stop();
                static_cast<QDialog*>(dialog)->accept();
            } else {
                timer.stop();
                dialog->reject();
            }
        });
        timer.start();
        const std::optional<std::string> chosen = qt::showFileChooser(choice, nullptr);
        timer.stop();
        EXPECT_EQ(openedAt.toStdString(), folder.string());
        ASSERT_EQ(filters.size(), 2);
        EXPECT_EQ(filters[0], "PEM certificates (*.pem *.crt)");
        if (pick) {
            EXPECT_EQ(chosen, (folder / "b.crt").string());
        } else {
            EXPECT_EQ(chosen, std::nullopt);
        }
    }
}

TEST_F(DialogQtTest, RightClickOpensThePopupAndAdoptsTheSelectedServer) {
    auto server = testsupport::DaytimeServer::replying(addresses::dialog.at(0),
                                                       "Sun Dec  6 14:03:27 2026\r\n");
    settings_dialog::ConfigDialog& dlg = openDialog();
    QListWidget* list = listWidget(dlg);

    // Nothing selected: the menu is disabled and a right click opens nothing.
    EXPECT_EQ(withPopup(-1,
                        [&] {
                            QTest::mouseClick(list->viewport(), Qt::RightButton, {},
                                              entryCentre(list, 0));
                            QTest::qWait(100);
                        }),
              nullptr);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entryCentre(list, 0));
    ASSERT_EQ(dlg.serverList().selectedIndex(), 0);
    // A right click over the other entry opens the menu for the selected one.
    QMenu* opened = withPopup(
        0, [&] { QTest::mouseClick(list->viewport(), Qt::RightButton, {}, entryCentre(list, 1)); });
    EXPECT_EQ(opened, menu(dlg));
    EXPECT_EQ(dlg.serverList().selectedIndex(), 0);
    EXPECT_EQ(edit(dlg.serverField())->text(), addresses::dialog.at(0));
    EXPECT_FALSE(edit(dlg.offsetField())->text().isEmpty());
    EXPECT_EQ(server->connectionsAccepted(), 1);
}

TEST_F(DialogQtTest, DoubleClickSelectsTheEntryAndOpensThePopup) {
    settings_dialog::ConfigDialog& dlg = openDialog();
    QListWidget* list = listWidget(dlg);
    QMenu* opened = withPopup(-1, [&] {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entryCentre(list, 1));
    });
    EXPECT_EQ(opened, menu(dlg));
    EXPECT_EQ(dlg.serverList().selectedIndex(), 1);
    EXPECT_EQ(edit(dlg.server2Field())->text(), "");  // dismissed: nothing adopted
}

TEST_F(DialogQtTest, CheckServerWritesTheResultColumn) {
    auto server = testsupport::DaytimeServer::replying(addresses::dialog.at(0),
                                                       "Sun Dec  6 14:03:27 2026\r\n");
    settings_dialog::ConfigDialog& dlg = openDialog();
    QListWidget* list = listWidget(dlg);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entryCentre(list, 0));
    dynamic_cast<qt::QtButton&>(dlg.checkServerButton()).click();
    // The tab takes one column on the screen, so the result stays in line;
    // the entry itself keeps its tab.
    const QString shown =
        (QString("LO ") + addresses::dialog.at(0) + " answers here").leftJustified(55) +
        "   [14:03:27]";
    EXPECT_EQ(list->item(0)->text(), shown);
    EXPECT_EQ(dlg.serverList().itemText(0),
              ((QString("LO ") + addresses::dialog.at(0) + " answers\there").leftJustified(55) +
               "   [14:03:27]")
                  .toStdString());
    EXPECT_TRUE(dlg.checkAllButton().isEnabled());
}

}  // namespace
}  // namespace tempikon

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tempikon-dialog-test-XXXXXX";
    if (!::mkdtemp(pattern)) return 2;
    const fs::path root = pattern;
    tempikon::gConfigHome = root / "config";
    tempikon::gWorkDir = root / "work";
    fs::create_directories(tempikon::gConfigHome);
    fs::create_directories(tempikon::gWorkDir);
    ::setenv("XDG_CONFIG_HOME", tempikon::gConfigHome.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    fs::current_path(tempikon::gWorkDir);

    ::testing::InitGoogleTest(&argc, argv);
    auto start = tempikon::qt::createPlatform(argc, argv);
    tempikon::gPlatform = start.platform.get();
    const int result = RUN_ALL_TESTS();
    start.platform.reset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return result;
}
