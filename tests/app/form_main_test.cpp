#include "app/form_main.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <cstdio>

#include "tests/support/qt_modal.h"
#include "tests/support/scripted_ui.h"

class FormMainTest : public QObject {
  Q_OBJECT

  QTemporaryDir settings_;

 private slots:
  void titleEndsInTheFileDateAndTime() {
    const QDateTime stamp(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(MainWindowTitle(stamp), QStringLiteral("Прграма обслуговування Р_Т-давачів  "
                                                    "(vorlix_modbus.exe від 05.03.24 14:07:09)"));
  }

  void titleOfAFileStampedAtMidnightHasOnlyTheDate() {
    QCOMPARE(
        MainWindowTitle(QDateTime(QDate(2009, 12, 31), QTime(0, 0))),
        QStringLiteral("Прграма обслуговування Р_Т-давачів  (vorlix_modbus.exe від 31.12.09)"));
    // Shown to the second: a few milliseconds past midnight still read as midnight.
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(0, 0, 0, 400))),
             QStringLiteral("31.12.09"));
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(0, 0, 1))),
             QStringLiteral("31.12.09 00:00:01"));
    QCOMPARE(FileStampText(QDateTime(QDate(2009, 12, 31), QTime(23, 59, 59))),
             QStringLiteral("31.12.09 23:59:59"));
  }

  void startUpLoadsTheSettingsAndShowsThePortInPanelZero() {
    QFile ini(settings_.filePath(QStringLiteral("vorlix.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[CURR_CONNECT_PAR]\r\nport=12\r\nrate=9600\r\n");
    ini.close();
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QCOMPARE(window.state.ConnectSettings.port, 12);
    QCOMPARE(window.state.SavedSettings.port, 12);
    QCOMPARE(window.state.ConnectSettings.wait_time, 1000);  // default for the missing key
    QVERIFY(window.state.CounterFrequency > 0);
    window.show();
    QCOMPARE(window.status_panels[0]->text(), QStringLiteral(" COM12 9600 бит/с"));
    QFile::remove(ini.fileName());
  }

  void portStatusText() { QCOMPARE(PortStatusText(3, 9600), QStringLiteral(" COM3 9600 бит/с")); }

  void decimalSeparatorIsTheFullStopInQtAndTheCLibrary() {
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
    UseFullStopDecimalSeparator();
    QCOMPARE(QLocale().toString(1.25, 'f', 2), QStringLiteral("1.25"));
    bool ok = false;
    QCOMPARE(QLocale().toDouble(QStringLiteral("2.5"), &ok), 2.5);
    QVERIFY(ok);
    QCOMPARE(std::localeconv()->decimal_point, ".");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 0.5);
    QCOMPARE(text, "0.5");
  }

  void menusAndControlsCarryTheirNames() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QCOMPARE(FormMain, &window);
    auto* file = Child<QMenu>(&window, "N4");
    auto* conn = Child<QMenu>(&window, "Nconn");
    QVERIFY(file && conn);
    QCOMPARE(file->title(), QStringLiteral("Файл"));
    QCOMPARE(conn->title(), QStringLiteral("Встановлення зв'яку з давачем"));
    QCOMPARE(Child<QAction>(&window, "Nexit")->text(), QStringLiteral("Вихід"));
    QCOMPARE(Child<QAction>(&window, "N1")->text(), QStringLiteral("Тиск"));
    QCOMPARE(Child<QAction>(&window, "N1")->data().toInt(), 0);
    QCOMPARE(Child<QAction>(&window, "N2")->text(), QStringLiteral("Температура"));
    QCOMPARE(Child<QAction>(&window, "N2")->data().toInt(), 1);
    QCOMPARE(Child<QAction>(&window, "Nval")->text(), QStringLiteral("Поточні значення"));
    QCOMPARE(Child<QAction>(&window, "Nclb")->text(),
             QStringLiteral("Калібровка каналу за двома точками"));
    QVERIFY(Child<QFrame>(&window, "Panel1"));
    QCOMPARE(window.centralWidget(), Child<QFrame>(&window, "Panel1"));
    QVERIFY(Child<QStatusBar>(&window, "StatusBar1"));
    for (const char* name : {"StatusBar1Panel0", "StatusBar1Panel1", "StatusBar1Panel2"}) {
      QVERIFY2(Child<QLabel>(&window, name), name);
    }

    // The menu bar reads: Файл, the connection menu, then the two commands themselves.
    const QList<QAction*> top = window.menuBar()->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[0], file->menuAction());
    QCOMPARE(top[1], conn->menuAction());
    QCOMPARE(top[2], window.Nval);
    QCOMPARE(top[3], window.Nclb);
  }

  void bothMeasuringCommandsAreDisabledAtStart() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QVERIFY(!window.Nval->isEnabled());
    QVERIFY(!window.Nclb->isEnabled());
    QVERIFY(window.N1->isEnabled());
    QVERIFY(window.N2->isEnabled());
  }

  void titleAndFolderComeFromTheExecutableWhateverTheCurrentFolder() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const QString start_folder = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    QVERIFY(QDir::setCurrent(start_folder));
    QCOMPARE(window.windowTitle(), MainWindowTitle(exe.lastModified()));
    QVERIFY(QString::fromStdString(window.state.ExeFolder).endsWith(QDir::separator()));
    QCOMPARE(QDir(QString::fromStdString(window.state.ExeFolder)), QDir(exe.absolutePath()));
  }

  void shownWindowIs890By580AndCentredWithItsStatusPanels() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry().size(), QSize(890, 580));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((window.frameGeometry().center() - centre).manhattanLength() <= 2);
    QCOMPARE(window.status_panels[0]->width(), 150);
    QCOMPARE(window.status_panels[1]->width(), window.width() - 150 - 95);
    QVERIFY(window.status_panels[2]->width() >= 60);
    QVERIFY(window.status_panels[2]->geometry().right() <= window.StatusBar1->width());

    // Shown again after a hide, the window keeps the size the user gave it.
    window.resize(700, 500);
    window.hide();
    window.show();
    QCOMPARE(window.size(), QSize(700, 500));
  }

  void exchangePanelWritesTheThirdPanel() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.ExchangePanel().SetText("Запит 1");
    QCOMPARE(window.status_panels[2]->text(), QStringLiteral("Запит 1"));
    QCOMPARE(window.status_panels[0]->text(), QString());
  }

  void closeConnectionDisablesTheCommandsUnderTheHourglass() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.Nval->setEnabled(true);
    window.Nclb->setEnabled(true);
    window.CloseConnection();
    QVERIFY(!window.Nval->isEnabled());
    QVERIFY(!window.Nclb->isEnabled());
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));
    QVERIFY(ui.questions.empty());
  }

  void connectionCommandTakesTheChannelFromTheItemAndClearsTheCalibration() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.state.SensorOffset = 1.5f;
    window.state.SensorSlope = 0.9f;
    window.N2->trigger();
    QCOMPARE(window.state.Channel, 1);
    QCOMPARE(window.state.SensorOffset, 0.0f);
    QCOMPARE(window.state.SensorSlope, 0.0f);
    // The old link is taken down first.
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));
    window.N1->trigger();
    QCOMPARE(window.state.Channel, 0);
    QVERIFY(!window.Nval->isEnabled());
  }

  void exitAndTheCloseBoxTakeTheLinkDownAndClose() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Nval->setEnabled(true);
    window.Nexit->trigger();
    QVERIFY(!window.isVisible());
    QVERIFY(!window.Nval->isEnabled());
    QCOMPARE(ui.cursor_changes, (std::vector<bool>{true, false}));

    window.show();
    window.Nclb->setEnabled(true);
    window.close();
    QVERIFY(!window.Nclb->isEnabled());
    QCOMPARE(ui.cursor_changes.size(), 4u);
  }

  void altOpensTheMenuBarAndArrowsMoveAlongIt() {
    ScriptedUi ui;
    TFormMain window(ui, nullptr, settings_.path().toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QMenuBar* bar = window.menuBar();
    QTest::keyClick(&window, Qt::Key_Alt, Qt::AltModifier);
    QTRY_COMPARE(bar->activeAction(), window.N4->menuAction());
    QTest::keyClick(bar, Qt::Key_Right);
    QTRY_COMPARE(bar->activeAction(), window.Nconn->menuAction());
    QTest::keyClick(bar, Qt::Key_Escape);
  }
};

QTEST_MAIN(FormMainTest)
#include "form_main_test.moc"
