// The program's window on Windows against a simulated corrector: the connection through the
// corrector, the values monitor and a two-point calibration with read-back, over the Win32
// serial layer. Under wine the port is a link in the prefix's dosdevices to the pseudo-terminal
// of the Linux simulator (scripts/windows-gui-tests.sh starts it); on Windows any port with the
// simulator behind a null-modem cable will do.
//
//   VORLIX_TEST_COM=N [VORLIX_TEST_RATE=R] test_windows_gui_sim.exe
//
// Behind the port: the simulator's corrector at address 1, line 1 with a pressure sensor at
// address 101 whose raw 100 kPa it reports as 100 × 1.25 − 2 = 123 with no noise.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "comm/calcbox.h"
#include "core/calibration_journal.h"
#include "gui/connection/connect.h"
#include "gui/connection/show_par.h"
#include "gui/form_main.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace {

const char kConnected[] = "Зв'язок з давачем встановлено";
const char kWritten[] = "Параметри записані";
const char kInService[] = "Коректор в режимі обслуговування.";

int EnvironmentNumber(const char* name, int otherwise) {
  bool ok = false;
  const int value = qEnvironmentVariableIntValue(name, &ok);
  return ok ? value : otherwise;
}

uint32_t Bits(float value) {
  return std::bit_cast<uint32_t>(value);
}

uint32_t BitsOf(const QString& text) {
  return Bits(static_cast<float>(text.toDouble()));
}

// The main window with a settings folder of its own; questions and messages scripted, modal
// dialogs driven from inside their own loops.
struct WindowOnPort {
  explicit WindowOnPort(int port_number, int line_rate) : port(port_number), rate(line_rate) {
    window = std::make_unique<TFormMain>(ui, nullptr, folder.path().toStdString());
    window->show();
  }
  ~WindowOnPort() {
    if (window)
      window->close();
  }

  void ConnectThroughCorrector() {
    OnNextModal<TFormConnect>([this](TFormConnect* d) {
      d->ComboBox8->setCurrentIndex(1);
      d->ComboBox8Click();
      d->ComboBox1->setCurrentIndex(d->ComboBox1->findText(QStringLiteral("COM%1").arg(port)));
      d->ComboBox2->setCurrentIndex(d->ComboBox2->findText(QString::number(rate)));
      d->Edit1->setText(QStringLiteral("300"));
      d->Edit2->setText(QStringLiteral("300"));
      d->ComboBox5->setCurrentIndex(0);
      d->Edit10->setText(QStringLiteral("1234"));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
      if (d->isVisible())
        d->reject();
    });
    window->N1->trigger();
  }

  void AcceptDisplaySettings(int interval) {
    OnNextModal<TFormShow_Par>([interval](TFormShow_Par* d) {
      d->ComboBox1->setCurrentIndex(1);  // kPa
      d->ComboBox2->setCurrentIndex(2);
      d->Edit1->setText(QString::number(interval));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    });
  }

  bool Said(const char* text) const {
    for (const auto& m : ui.messages) {
      if (m.text == text)
        return true;
    }
    return false;
  }

  QString Messages() const {
    QStringList all;
    for (const auto& m : ui.messages)
      all << QString::fromStdString(m.text);
    return all.join(QStringLiteral(" | "));
  }

  int port;
  int rate;
  QTemporaryDir folder;
  ScriptedHost ui;
  std::unique_ptr<TFormMain> window;
};

struct MonitorView {
  bool grew = false;
  QString value, factory_value, slope, offset;
};

MonitorView RunMonitor(WindowOnPort& app, int readings) {
  MonitorView view;
  app.AcceptDisplaySettings(50);
  OnNextModal<TFormCheck_Val>([&view, readings](TFormCheck_Val* d) {
    if (QTest::qWaitFor([d] { return d->count() >= 1; }, 10000)) {
      const int first = d->count();
      view.grew = QTest::qWaitFor([&] { return d->count() >= first + readings; }, 10000);
    }
    view.slope = d->Panel3->text();
    view.offset = d->Panel4->text();
    view.value = d->Panel5->text();
    view.factory_value = d->Panel6->text();
    QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
  });
  app.window->Nval->trigger();
  return view;
}

}  // namespace

class WindowsGuiSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    UseFullStopDecimalSeparator();
    if (EnvironmentNumber("VORLIX_TEST_COM", 0) <= 0)
      QSKIP("no port with the simulator behind it (VORLIX_TEST_COM)");
  }

  void throughTheCorrectorTheMonitorAndATwoPointCalibrationWithReadBack() {
    WindowOnPort app(EnvironmentNumber("VORLIX_TEST_COM", 0),
                     EnvironmentNumber("VORLIX_TEST_RATE", 115200));

    app.ConnectThroughCorrector();
    QVERIFY2(app.Said(kConnected), qPrintable(app.Messages()));
    QVERIFY(app.window->Nval->isEnabled() && app.window->Nclb->isEnabled());
    QCOMPARE(app.window->state.ActiveCalcBox->service_state, calcbox::kStateService);
    QCOMPARE(app.window->state.SensorSlope, 1.25f);
    QCOMPARE(app.window->state.SensorOffset, -2.0f);

    const MonitorView before = RunMonitor(app, 3);
    QVERIFY(before.grew);
    QCOMPARE(before.value, QStringLiteral("123.00"));
    QCOMPARE(before.factory_value, QStringLiteral("100.00"));

    // Point 1: 120 applied, the reading averaged by statistics; point 2: 200 applied, 205
    // typed as received. Every question is answered yes.
    QString average, shown_slope, shown_offset;
    bool statistics_filled = false;
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* d) {
      OnNextModal<TFormAsk_Val>([&](TFormAsk_Val* a) {
        statistics_filled = QTest::qWaitFor([a] { return a->statistics().pos() >= 3; }, 10000);
        average = a->Panel3->text();
        app.ui.answers = {true};
        QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
      });
      QTest::keyClicks(d->Edit1, QStringLiteral("120"));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
      QTest::keyClicks(d->Edit2, QStringLiteral("200"));
      QTest::keyClicks(d->Edit4, QStringLiteral("205"));
      OnNextModal<TFormCorrect_Set>([&](TFormCorrect_Set* s) {
        shown_slope = s->Edit1->text();
        shown_offset = s->Edit2->text();
        app.ui.answers = {true, false, false, false};
        QTest::mouseClick(s->BitBtn1, Qt::LeftButton);
      });
      QTest::mouseClick(d->BitBtn4, Qt::LeftButton);
      if (d->isVisible())
        d->reject();
    });
    app.window->Nclb->trigger();
    QVERIFY(statistics_filled);
    QCOMPARE(average, QStringLiteral("123.00"));
    QCOMPARE(shown_slope, QStringLiteral("1.21951"));
    QCOMPARE(shown_offset, QStringLiteral("-1.95122"));
    QVERIFY2(app.Said(kWritten), qPrintable(app.Messages()));

    // The journal on the Windows file system holds the read-back of the write.
    const std::vector<JournalRecord> journal =
        ReadJournal(JournalPath(app.folder.path().toStdString()));
    QCOMPARE(journal.size(), size_t{1});
    QVERIFY(journal[0].as_found->SameBits({-2.0f, 1.25f}));
    QVERIFY(journal[0].read_back_matches.value_or(false));

    // The next values command reads the registers back through the corrector's relay.
    const MonitorView after = RunMonitor(app, 1);
    QVERIFY(after.grew);
    QCOMPARE(Bits(app.window->state.SensorSlope), BitsOf(shown_slope));
    QCOMPARE(Bits(app.window->state.SensorOffset), BitsOf(shown_offset));
    QCOMPARE(after.value, QStringLiteral("120.00"));

    // Closing takes the line out of service when asked to.
    app.ui.questions.clear();
    app.ui.answers = {true};
    QVERIFY(app.window->close());
    QCOMPARE(app.ui.questions.size(), size_t{1});
    QCOMPARE(QString::fromStdString(app.ui.questions[0].line1), QString::fromUtf8(kInService));
    QCOMPARE(app.window->state.ComHandle, kNoComHandle);
  }
};

QTEST_MAIN(WindowsGuiSimTest)
#include "gui_sim_test.moc"
