// The reference instrument beside the sensor in the statistics window: both simulated on the
// virtual clock, the settings in a real file on disk.

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "core/ini_file.h"
#include "core/reference_settings.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/reference_readout.h"
#include "sim/sim_reference.h"
#include "sim/sim_sensor.h"
#include "tests/support/meas_value_sensor.h"

namespace {

constexpr int kIntervalMs = 50;

// A sensor and a reference instrument that read one simulated input.
struct SideBySide {
  explicit SideBySide(SimReferenceConfig reference = {}, bool controller = false) {
    SimInput::Config input;
    input.value = 250.0;
    shared = std::make_shared<SimInput>(input);
    SensorConfig sensor_config;
    sensor_config.input = shared;
    sensor_config.noise = 0.0005;
    sensor = std::make_unique<SimDirectSensor>(sensor_config, LineTiming{}, FaultConfig{});
    if (controller)
      reference.style = SimReferenceStyle::kScpiController;
    device = std::make_unique<SimReference>(reference, shared);
    bench = std::make_unique<MeasBench>(sensor.get());
    bench->state.IniPath = folder.filePath(QStringLiteral("vorlix.ini")).toStdString();
    ReferenceSettings settings;
    ApplyReferencePreset(ReferencePresets()[controller ? 0 : 1], settings);
    settings.port = 9;
    std::string reason;
    SaveReferenceSettings(bench->state.IniPath, settings, reason);
    bench->state.make_reference_line = [this] {
      auto line = std::make_unique<VirtualLine>(bench->clock, device.get());
      reference_line = line.get();
      return line;
    };
  }

  QTemporaryDir folder;
  std::shared_ptr<SimInput> shared;
  std::unique_ptr<SimDirectSensor> sensor;
  std::unique_ptr<SimReference> device;
  std::unique_ptr<MeasBench> bench;
  VirtualLine* reference_line = nullptr;
};

CalibrationRecord Record() {
  CalibrationRecord record;
  record.factor = 1.0;
  record.digits = 3;
  record.applied = {-11.0f, -12.0f};
  record.received = {-21.0f, -22.0f};
  return record;
}

// Shows the dialog and takes `ticks` readings of both, `kIntervalMs` apart.
void Poll(SideBySide& s, TFormAsk_Val& dialog, int ticks) {
  if (!dialog.isVisible()) {
    dialog.show();
    QCoreApplication::processEvents();
    dialog.Timer1->stop();
    --ticks;
  }
  for (int i = 0; i < ticks; ++i) {
    s.bench->clock.Advance(kIntervalMs * 1000);
    dialog.Timer1Timer();
  }
}

}  // namespace

class ReferenceReadoutTest : public QObject {
  Q_OBJECT

 private slots:
  void theReferencesMeanOverTheSameWindowBecomesTheAppliedValue() {
    SimReferenceConfig reference;
    reference.noise = 0.002;
    SideBySide s(reference);
    CalibrationRecord record = Record();
    TFormAsk_Val dialog(s.bench->state);
    dialog.record = &record;
    Poll(s, dialog, 10);
    QVERIFY(dialog.RefBox1->isVisible());
    QVERIFY(dialog.RefBox1->title().startsWith(QStringLiteral("Еталон (COM9)")));
    QCOMPARE(dialog.RefBox1->RefPanel4->text(), QStringLiteral("усталився"));
    QVERIFY(dialog.RefBox1->RefStatus->text().isEmpty());
    // Both instruments were asked once a tick.
    QCOMPARE(s.device->commands().size(), 10u);

    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(s.bench->ui.questions.empty());
    QVERIFY(dialog.accepted);
    QVERIFY(std::fabs(record.applied[0] - 250.0f) <= 0.002f);
    QCOMPARE(record.applied_readings[0], 10);
    QVERIFY(record.applied_deviation[0] > 0.0f && record.applied_deviation[0] < 0.002f);
    QVERIFY(std::fabs(record.received[0] - 250.0f) <= 0.0005f);
    QCOMPARE(record.readings[0], 10);
    QCOMPARE(record.applied[1], -12.0f);
  }

  void aReferenceThatAnswersInAnotherUnitRecordsNothing() {
    SimReferenceConfig reference;
    reference.wrong_unit = "psi";
    SideBySide s(reference);
    CalibrationRecord record = Record();
    TFormAsk_Val dialog(s.bench->state);
    dialog.record = &record;
    Poll(s, dialog, 10);
    QCOMPARE(dialog.RefBox1->RefStatus->text(),
             QStringLiteral("Еталон (COM9): на «VAL?» відповів «250.00000 psi»: показ в одиницях "
                            "psi, а очікується kPa"));
    QCOMPARE(dialog.RefBox1->RefPanel1->text(), QStringLiteral("—"));
    QVERIFY(dialog.BitBtn1->isEnabled());  // the sensor's side stands
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(!dialog.accepted);
    QCOMPARE(s.bench->ui.messages.size(), 1u);
    QVERIFY(QString::fromStdString(s.bench->ui.messages[0].text)
                .endsWith(QStringLiteral("а очікується kPa\rТочку не прийнято.")));
    QCOMPARE(record.applied[0], -11.0f);
    QCOMPARE(record.received[0], -21.0f);
  }

  void aControllerNotInLimitsIsAskedAboutBeforeThePointIsTaken() {
    SideBySide s({}, true);
    s.shared->MoveTo(400.0, 0);  // on its way, 20 kPa/s: many seconds from in limits
    CalibrationRecord record = Record();
    TFormAsk_Val dialog(s.bench->state);
    dialog.record = &record;
    Poll(s, dialog, 10);
    QCOMPARE(dialog.RefBox1->RefPanel4->text(), QStringLiteral("не в допуску"));
    s.bench->ui.answers = {false};
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(s.bench->ui.questions.size(), 1u);
    QVERIFY(QString::fromStdString(s.bench->ui.questions[0].line2.value())
                .contains(QStringLiteral("Еталон ще не усталився.")));
    QVERIFY(!dialog.accepted);
    QCOMPARE(record.applied[0], -11.0f);
  }

  void aLostReferencePortIsOpenedAgainWhenItIsBack() {
    SideBySide s;
    CalibrationRecord record = Record();
    TFormAsk_Val dialog(s.bench->state);
    dialog.record = &record;
    Poll(s, dialog, 3);
    s.reference_line->set_gone_at(s.bench->clock.Counter());
    Poll(s, dialog, 1);
    QVERIFY(dialog.RefBox1->RefStatus->text().contains(QStringLiteral("порт зник")));
    QVERIFY(s.bench->state.Reference->lost());
    Poll(s, dialog, 1);  // the test's line maker makes the device "back" at once
    QVERIFY(dialog.RefBox1->RefStatus->text().isEmpty());
    QVERIFY(!s.bench->state.Reference->lost());
  }

  void withoutAReferenceTheDialogIsAsBefore() {
    MeasValueSensor sensor;
    sensor.Value(4.0f);
    MeasBench bench(&sensor);
    QTemporaryDir folder;
    bench.state.IniPath = folder.filePath(QStringLiteral("vorlix.ini")).toStdString();
    CalibrationRecord record = Record();
    TFormAsk_Val dialog(bench.state);
    dialog.record = &record;
    dialog.show();
    QCoreApplication::processEvents();
    QVERIFY(!dialog.RefBox1->isVisible());
    QVERIFY(!bench.state.Reference);
  }
};

QTEST_MAIN(ReferenceReadoutTest)
#include "reference_readout_test.moc"
