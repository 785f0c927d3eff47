// The verification window's unattended run: a simulated pressure controller moves the input a
// simulated sensor reads, both on the virtual clock; the window's timer is stood in for by the
// test, one tick at a poll interval.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "comm/modbusbox.h"
#include "core/reference_settings.h"
#include "gui/form_main.h"
#include "gui/service/verify_auto.h"
#include "gui/service/verify_window.h"
#include "sim/sim_reference.h"
#include "sim/sim_sensor.h"
#include "sim/virtual_line.h"
#include "tests/support/direct_link.h"
#include "tests/support/scripted_host.h"

namespace {

constexpr uint32_t kIntervalMs = 100;
const char kVent[] = ":OUTP:STAT OFF";

SensorConfig ReadsInput(std::shared_ptr<SimInput> input) {
  SensorConfig config = SensorConfig::Pressure();
  config.input = std::move(input);
  return config;
}

// The main window linked to a pressure sensor in kPa, and a controller on COM9 of the settings.
struct Bench {
  explicit Bench(const QTemporaryDir& settings)
      : input(std::make_shared<SimInput>(SimInput::Config{})),
        sensor(ReadsInput(input), LineTiming{}, FaultConfig{}),
        window(ui, nullptr, settings.path().toStdString()) {
    SimReferenceConfig config;
    config.style = SimReferenceStyle::kScpiController;
    controller = std::make_unique<SimReference>(config, input);
    AppState& state = window.state;
    LinkStraightTo(state, &sensor, sensor.sensor().config().address, clock, ui);
    state.Channel = 0;
    state.ConnectSettings.P_unit = kKilopascalUnit;
    state.ConnectSettings.P_format = 2;
    state.ConnectSettings.interval = kIntervalMs;
    window.Nclb->setEnabled(true);
    ReferenceSettings reference;
    ApplyReferencePreset(ReferencePresets()[0], reference);
    reference.port = 9;
    reference.timeout = 300;
    std::string reason;
    SaveReferenceSettings(state.IniPath, reference, reason);
    state.make_reference_line = [this] {
      auto line = std::make_unique<VirtualLine>(clock, controller.get());
      reference_line = line.get();
      return line;
    };
  }

  // The commands the controller was given, its queries left out.
  std::vector<std::string> Commands() const {
    std::vector<std::string> commands;
    for (const std::string& c : controller->commands()) {
      if (c.empty() || c.back() != '?')
        commands.push_back(c);
    }
    return commands;
  }

  VirtualClock clock;
  std::shared_ptr<SimInput> input;
  SimDirectSensor sensor;
  std::unique_ptr<SimReference> controller;
  VirtualLine* reference_line = nullptr;
  ScriptedHost ui;
  TFormMain window;
};

void Plan(TFormVerify& d) {
  d.EditRangeLow->setText(QStringLiteral("0"));
  d.EditRangeHigh->setText(QStringLiteral("100"));
  d.EditPoints->setText(QStringLiteral("20; 80"));
  d.ComboDirection->setCurrentIndex(0);
  d.EditTolerance->setText(QStringLiteral("1"));
  d.ComboToleranceKind->setCurrentIndex(0);
}

// Starts the unattended run, its timer left to the test.
void Start(TFormVerify& d) {
  d.AutoClick();
  QVERIFY(d.auto_running());
  d.auto_run()->timer()->stop();
}

// Ticks at the poll interval while the run goes on, at most `ticks` times.
void Drive(Bench& b, TFormVerify& d, int ticks = 5000) {
  for (int i = 0; i < ticks && d.auto_running(); ++i) {
    b.clock.Pause(kIntervalMs);
    d.auto_run()->Tick();
  }
}

}  // namespace

class VerifyAutoTest : public QObject {
  Q_OBJECT

  QTemporaryDir settings_;

 private slots:
  void theWholePlanRunsUnattendedReadFromTheControllerAndIsVentedAtTheEnd() {
    Bench b(settings_);
    TFormVerify d(b.window);
    Plan(d);
    QVERIFY(d.BtnAuto->isVisible() || !d.BtnAuto->isHidden());
    Start(d);
    Drive(b, d, 3);
    // Nothing that would disturb the run can be touched meanwhile.
    for (QWidget* w : std::initializer_list<QWidget*>{d.BtnStart, d.BtnAuto, d.BtnMeasure,
                                                      d.BtnClose, d.EditRangeLow, d.EditApplied})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(d.BtnCancelRun->isEnabled());
    QVERIFY2(d.LabelPoint->text().contains(QStringLiteral("точка 1 з 2: 20.00 кПа на зростанні")),
             qPrintable(d.LabelPoint->text()));
    Drive(b, d);
    QVERIFY(!d.auto_running());
    QVERIFY(b.ui.messages.empty());

    const std::vector<std::string> commands = b.Commands();
    QVERIFY(!commands.empty());
    QCOMPARE(commands.front(), std::string(":SOUR:PRES 20"));
    QVERIFY(std::find(commands.begin(), commands.end(), ":SOUR:PRES 80") != commands.end());
    QCOMPARE(commands.back(), std::string(kVent));
    QCOMPARE(std::count(commands.begin(), commands.end(), std::string(kVent)), 1);

    QCOMPARE(d.finished().size(), size_t{1});
    const VerificationRun& run = d.finished().back();
    QVERIFY(!run.cancelled);
    QCOMPARE(run.instrument, std::string("VORLIX-SIM,REFERENCE,0001,1.0"));
    QCOMPARE(run.points.size(), size_t{2});
    for (int row = 0; row < 2; ++row) {
      const VerificationPoint& p = run.points[static_cast<size_t>(row)];
      QCOMPARE(p.source, AppliedSource::kInstrument);
      QVERIFY(std::fabs(p.applied - (row == 0 ? 20.0 : 80.0)) < 0.05);
      QCOMPARE(d.TablePoints->item(row, 3)->text(), QStringLiteral("еталон"));
      // The time the point took, from its set point to its settled readings.
      QVERIFY(d.TablePoints->item(row, 12) != nullptr);
      QVERIFY(d.TablePoints->item(row, 12)->text().toDouble() > 1.0);
    }
    QVERIFY(d.BtnAuto->isEnabled() && d.BtnClose->isEnabled() && d.BtnCertificate->isEnabled());
  }

  void escCancelsAtOnceWithoutAQuestionAndVents() {
    Bench b(settings_);
    TFormVerify d(b.window);
    Plan(d);
    d.show();
    Start(d);
    Drive(b, d, 20);
    QVERIFY(d.auto_running());
    QTest::keyClick(&d, Qt::Key_Escape);
    QVERIFY(!d.auto_running());
    QVERIFY(b.ui.questions.empty());
    QVERIFY(d.isVisible());  // open on what was measured
    QCOMPARE(b.Commands().back(), std::string(kVent));
    QVERIFY(d.finished().back().cancelled);
    QVERIFY(!d.auto_run()->timer()->isActive());
  }

  void closingTheWindowInsideAnExchangeStopsTheRunVentsAndThenCloses() {
    // As the program's termination does: the window is closed from the event pump of a running
    // exchange.
    Bench b(settings_);
    TFormVerify d(b.window);
    Plan(d);
    d.show();
    Start(d);
    Drive(b, d, 10);
    bool closed = false;
    b.ui.on_process = [&] {
      if (!closed) {
        closed = true;
        d.close();
      }
    };
    Drive(b, d, 1);
    QVERIFY(closed);
    QVERIFY(!d.auto_running());
    QCoreApplication::processEvents();
    QVERIFY(!d.isVisible());
    QCOMPARE(b.Commands().back(), std::string(kVent));
    QVERIFY(b.ui.questions.empty());
    QVERIFY(d.finished().back().cancelled);
  }

  void aLostControllerPortStopsTheRunAndIsVentedWhenItIsBack() {
    Bench b(settings_);
    TFormVerify d(b.window);
    Plan(d);
    Start(d);
    Drive(b, d, 10);
    const std::vector<std::string> before = b.Commands();
    const auto vents = std::count(before.begin(), before.end(), std::string(kVent));
    b.reference_line->set_gone_at(b.clock.Counter());
    Drive(b, d, 1);
    QVERIFY(!d.auto_running());
    QCOMPARE(b.ui.messages.size(), size_t{1});
    QVERIFY2(
        QString::fromStdString(b.ui.messages[0].text).startsWith(QStringLiteral("Еталон (COM9)")),
        b.ui.messages[0].text.c_str());
    QVERIFY(d.auto_run()->engine().vent_pending());
    QVERIFY(d.auto_run()->timer()->isActive());  // it keeps trying
    // The test's line maker has the port back at once: the next tick vents.
    d.auto_run()->Tick();
    QVERIFY(!d.auto_run()->engine().vent_pending());
    const std::vector<std::string> commands = b.Commands();
    QCOMPARE(commands.back(), std::string(kVent));
    QCOMPARE(std::count(commands.begin(), commands.end(), std::string(kVent)), vents + 1);
    QVERIFY(!d.auto_run()->timer()->isActive());
  }
};

QTEST_MAIN(VerifyAutoTest)
#include "verify_auto_test.moc"
