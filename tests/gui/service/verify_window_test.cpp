// The verification window against a simulated sensor, the readings at each point handed in
// by the test instead of the statistics window.

#include "gui/service/verify_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "comm/modbusbox.h"
#include "core/calibration_journal.h"
#include "core/reference_settings.h"
#include "gui/form_main.h"
#include "gui/service/verify_plot.h"
#include "sim/sim_reference.h"
#include "sim/sim_sensor.h"
#include "sim/virtual_line.h"
#include "tests/support/direct_link.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace {

// The main window linked to a simulated pressure sensor straight on the line, shown in mm Hg.
struct Bench {
  explicit Bench(const QTemporaryDir& settings)
      : device(SensorConfig::Pressure(), LineTiming{}, FaultConfig{}),
        window(ui, nullptr, settings.path().toStdString()) {
    AppState& state = window.state;
    LinkStraightTo(state, &device, device.sensor().config().address, clock, ui);
    state.Channel = 0;
    state.ConnectSettings.P_unit = 5;
    state.ConnectSettings.P_format = 2;
    window.Nclb->setEnabled(true);
  }

  VirtualClock clock;
  SimDirectSensor device;
  ScriptedHost ui;
  TFormMain window;
};

// A hand-held reference on COM9 of the settings file, answering from a simulated input.
struct ReferenceOnBench {
  explicit ReferenceOnBench(Bench& b) {
    ReferenceSettings settings;
    ApplyReferencePreset(ReferencePresets()[1], settings);
    settings.port = 9;
    std::string reason;
    SaveReferenceSettings(b.window.state.IniPath, settings, reason);
    b.window.state.make_reference_line = [this, &b] {
      device = std::make_unique<SimReference>(config, input);
      return std::make_unique<VirtualLine>(b.clock, device.get());
    };
  }
  SimReferenceConfig config;
  std::shared_ptr<SimInput> input = std::make_shared<SimInput>(SimInput::Config{});
  std::unique_ptr<SimReference> device;
};

void SmallPlan(TFormVerify& d) {
  d.EditRangeLow->setText(QStringLiteral("0"));
  d.EditRangeHigh->setText(QStringLiteral("100"));
  d.EditPoints->setText(QStringLiteral("20; 80"));
  d.ComboDirection->setCurrentIndex(0);
  d.EditTolerance->setText(QStringLiteral("1"));
  d.ComboToleranceKind->setCurrentIndex(0);
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QList<QPointF> Points(const QCPGraph* graph) {
  QList<QPointF> points;
  for (const QCPGraphData& d : *graph->data())
    points.append({d.key, d.value});
  return points;
}

double BandAt(const QCPGraph* graph, double key) {
  for (const QCPGraphData& d : *graph->data()) {
    if (qFuzzyCompare(d.key, key))
      return d.value;
  }
  return qQNaN();
}

}  // namespace

class VerifyWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir settings_;

 private slots:
  // A termination finds nobody to answer "перервати перевірку?": the window closes without it,
  // and the points measured so far go to the journal as a cancelled run.
  void terminationEndsARunAsCancelledWithoutAsking() {
    Bench b(settings_);
    bool rescued = false;
    OnNextModal<TFormVerify>([&](TFormVerify* d) {
      SmallPlan(*d);
      d->collect = [](double applied, bool) -> std::optional<PointReadings> {
        PointReadings readings;
        readings.sensor = {10, applied + 0.1, 0.01};
        return readings;
      };
      d->StartClick();
      d->MeasureClick();
      QTimer::singleShot(3000, d, [&rescued, d] {
        rescued = true;
        d->done(QDialog::Rejected);
      });
      b.window.RequestTermination();
    });
    ShowVerification(b.window);
    QVERIFY(!rescued);
    for (const ScriptedHost::Question& q : b.ui.questions)
      QVERIFY(q.line2.value_or("") != "перервати перевірку?");
    const std::vector<JournalRecord> journal =
        ReadJournal(JournalPath(b.window.state.SettingsFolder));
    QCOMPARE(journal.size(), size_t{1});
    const std::vector<VerificationRun> runs = VerificationsOf(journal[0]);
    QCOMPARE(runs.size(), size_t{1});
    QVERIFY(runs[0].cancelled);
    QCOMPARE(runs[0].points.size(), size_t{1});
  }

  void plotHoldsTheMeasuredErrorsByDirectionOverTheBandAtEachPoint() {
    Bench b(settings_);
    TFormVerify d(b.window);
    // 0.5 % of reading over 0..100 kPa, up and back down through 20, 50 and 80 kPa.
    d.EditRangeLow->setText(QStringLiteral("0"));
    d.EditRangeHigh->setText(QStringLiteral("100"));
    d.EditPoints->setText(QStringLiteral("20; 50; 80"));
    d.ComboDirection->setCurrentIndex(1);
    d.EditTolerance->setText(QStringLiteral("0.5"));
    d.ComboToleranceKind->setCurrentIndex(1);
    // The readings at the n-th collection: the applied value and an error of its own.
    const std::vector<double> errors = {0.4, -0.7, 1.1, 2.5, -0.2, 0.9};
    size_t collected = 0;
    d.collect = [&](double applied, bool) -> std::optional<PointReadings> {
      PointReadings readings;
      readings.sensor.count = 10;
      readings.sensor.mean = applied + errors[collected++];
      readings.sensor.deviation = 0.01;
      return readings;
    };

    d.StartClick();
    QCOMPARE(d.TablePoints->rowCount(), 5);
    QVERIFY(d.PlotErrors->rising()->data()->isEmpty());
    QVERIFY(d.PlotErrors->falling()->data()->isEmpty());
    // The applied value, not the nominal one, places a point: each typed a little off.
    std::vector<double> applied;
    for (int point = 0; point < 5; ++point) {
      applied.push_back(d.EditApplied->text().toDouble() + 0.3);
      d.EditApplied->setText(QString::number(applied.back()));
      d.MeasureClick();
    }
    QCOMPARE(collected, size_t{5});

    // 80 kPa on the way up measured again: the plot shows it once, as last measured.
    d.TablePoints->setCurrentCell(2, 0);
    d.EditApplied->setText(QString::number(applied[2]));
    d.RepeatClick();
    QCOMPARE(collected, size_t{6});

    const VerifyPlot& plot = *d.PlotErrors;
    // Rising 20, 50, 80 kPa (the last repeated); falling 50 and 20 kPa, in order of the key.
    QCOMPARE(Points(plot.rising()),
             (QList<QPointF>{
                 {applied[0], errors[0]}, {applied[1], errors[1]}, {applied[2], errors[5]}}));
    QCOMPARE(Points(plot.falling()),
             (QList<QPointF>{{applied[4], errors[4]}, {applied[3], errors[3]}}));
    // In mm Hg: 50 kPa is about 375 mm Hg, so the band there is ±1.88.
    QVERIFY2(applied[1] > 375.0 && applied[1] < 375.5, qPrintable(QString::number(applied[1])));
    for (double a : applied) {
      QCOMPARE(BandAt(plot.band_upper(), a), 0.005 * a);
      QCOMPARE(BandAt(plot.band_lower(), a), -0.005 * a);
    }
    // The band reaches across the whole range, 0..100 kPa.
    QCOMPARE(plot.band_upper()->data()->constBegin()->key, 0.0);
    QCOMPARE((plot.band_upper()->data()->constEnd() - 1)->key, 100.0 * 7.50061438);
    QCOMPARE(plot.xAxis->label(), QStringLiteral("Подане значення, мм рт.ст."));
    QCOMPARE(plot.yAxis->label(), QStringLiteral("Похибка, мм рт.ст."));
    // Every error and the band in sight.
    QVERIFY(plot.yAxis->range().contains(errors[3]));
    QVERIFY(plot.yAxis->range().contains(-0.005 * 100.0 * 7.50061438));
  }

  void aPointReadFromTheReferenceTakesItsMeanAndATypedOneStaysPossible() {
    Bench b(settings_);
    ReferenceOnBench reference(b);
    TFormVerify d(b.window);
    SmallPlan(d);
    QVERIFY(!d.CheckFromReference->isHidden());
    std::vector<bool> asked_reference;
    d.collect = [&](double applied, bool from_reference) -> std::optional<PointReadings> {
      asked_reference.push_back(from_reference);
      PointReadings readings;
      readings.sensor = {10, applied + 0.2, 0.01};
      if (from_reference)
        readings.reference = ReadingSpread{10, 150.125, 0.004};
      return readings;
    };
    d.StartClick();
    QVERIFY(b.ui.messages.empty());
    QCOMPARE(d.current()->instrument, std::string("VORLIX-SIM,REFERENCE,0001,1.0"));
    QVERIFY(!d.EditApplied->isEnabled());
    d.MeasureClick();
    // The second point typed instead.
    d.CheckFromReference->setChecked(false);
    QVERIFY(d.EditApplied->isEnabled());
    d.EditApplied->setText(QStringLiteral("600.5"));
    d.MeasureClick();
    QCOMPARE(asked_reference, (std::vector<bool>{true, false}));

    const std::vector<VerificationPoint>& points = d.current()->points;
    QCOMPARE(points.size(), size_t{2});
    QCOMPARE(points[0].source, AppliedSource::kInstrument);
    QCOMPARE(points[0].source_id, std::string("VORLIX-SIM,REFERENCE,0001,1.0"));
    QCOMPARE(points[0].applied, 150.125);
    QCOMPARE(points[0].applied_deviation, 0.004);
    QCOMPARE(points[0].applied_readings, 10);
    QCOMPARE(points[1].source, AppliedSource::kTyped);
    QCOMPARE(points[1].applied, 600.5);
    QVERIFY(points[1].source_id.empty());
    QCOMPARE(d.TablePoints->item(0, 3)->text(), QStringLiteral("еталон"));
    QCOMPARE(d.TablePoints->item(1, 3)->text(), QStringLiteral("введено"));
  }

  void aSilentReferenceKeepsTheRunFromStartingAndAPointWithoutItsReadingIsNotRecorded() {
    Bench b(settings_);
    ReferenceOnBench reference(b);
    reference.config.silence = true;
    TFormVerify d(b.window);
    SmallPlan(d);
    d.StartClick();
    QVERIFY(!d.current());
    QCOMPARE(b.ui.messages.size(), size_t{1});
    QVERIFY(Q(b.ui.messages[0].text)
                .startsWith(QStringLiteral("Еталон (COM9): не відповідає на «*IDN?»\r")));

    reference.device->config().silence = false;
    b.ui.messages.clear();
    d.collect = [&](double applied, bool) -> std::optional<PointReadings> {
      PointReadings readings;
      readings.sensor = {10, applied, 0.01};
      return readings;
    };
    d.StartClick();
    QVERIFY(d.current());
    d.MeasureClick();
    QVERIFY(d.current()->points.empty());
    QCOMPARE(b.ui.messages.size(), size_t{1});
    QCOMPARE(Q(b.ui.messages[0].text),
             QStringLiteral("Еталон (COM9): показу еталона немає.\rТочку не записано."));
  }
};

QTEST_MAIN(VerifyWindowTest)
#include "verify_window_test.moc"
