#include "gui/form_main_measure.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

#include "comm/modbusbox.h"
#include "core/calibration.h"
#include "gui/form_main.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "sim/sim_sensor.h"
#include "sim/virtual_line.h"
#include "tests/support/direct_link.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace {

constexpr double kMmHg = 7.50061438;

// The data bytes of a calibration write as the sensor receives them: each float split into
// its low-order and high-order register, each register high byte first.
std::vector<uint8_t> CalibrationBytes(float offset, float slope) {
  std::vector<uint8_t> bytes;
  for (float value : {offset, slope}) {
    uint16_t low = 0;
    uint16_t high = 0;
    FloatToRegisters(value, low, high);
    for (uint16_t word : {low, high}) {
      bytes.push_back(static_cast<uint8_t>(word >> 8));
      bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    }
  }
  return bytes;
}

// Function 16 requests found in what the master wrote: address, 0x10, register 436, count 4,
// byte count 8, eight data bytes and the checksum. Returns the data bytes of each.
std::vector<std::vector<uint8_t>> CalibrationWrites(const std::vector<uint8_t>& written,
                                                    uint8_t address) {
  const uint8_t head[] = {address, 0x10, 0x01, 0xB4, 0x00, 0x04, 0x08};
  std::vector<std::vector<uint8_t>> writes;
  for (size_t i = 0; i + sizeof head + 10 <= written.size(); ++i) {
    if (std::memcmp(&written[i], head, sizeof head) == 0) {
      const auto data = written.begin() + static_cast<std::ptrdiff_t>(i + sizeof head);
      writes.emplace_back(data, data + 8);
    }
  }
  return writes;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The main window with a link to a simulated sensor wired straight to the line, and the
// measuring commands with the display settings and monitor replaced.
struct Bench {
  explicit Bench(const QTemporaryDir& settings, SensorConfig config = SensorConfig::Pressure())
      : device(config, LineTiming{}, FaultConfig{}),
        window(ui, nullptr, settings.path().toStdString()) {
    AppState& state = window.state;
    line = LinkStraightTo(state, &device, config.address, clock, ui);
    state.Channel = config.unit_code == kUnitDegreeCelsius ? 1 : 0;

    commands.display_settings = [this] {
      ++display_calls;
      if (on_display)
        on_display();
      return display_accepted;
    };
    commands.monitor = [this] {
      shown_offsets.push_back(window.state.SensorOffset);
      shown_slopes.push_back(window.state.SensorSlope);
    };
  }

  SimSensor& sensor() { return device.sensor(); }
  modbusbox& box() { return *window.state.ActiveModbusBox; }
  std::vector<std::vector<uint8_t>> Writes() const {
    return CalibrationWrites(line->written(), device_address);
  }

  VirtualClock clock;
  SimDirectSensor device;
  ScriptedHost ui;
  TFormMain window;
  VirtualLine* line = nullptr;
  uint8_t device_address = device.sensor().config().address;
  MeasuringCommands commands{window};

  bool display_accepted = true;
  int display_calls = 0;
  std::function<void()> on_display;
  std::vector<float> shown_offsets;
  std::vector<float> shown_slopes;
};

// A two-point dialog that hands back fixed points.
std::function<uint8_t(CalibrationRecord&)> Points(float a1, float r1, float a2, float r2,
                                                  std::vector<CalibrationRecord>* seen = nullptr) {
  return [=](CalibrationRecord& record) {
    if (seen)
      seen->push_back(record);
    record.applied = {a1, a2};
    record.received = {r1, r2};
    return TFormCorrect_NSHP::kPointsAccepted;
  };
}

}  // namespace

class FormMainMeasureTest : public QObject {
  Q_OBJECT

  QTemporaryDir settings_;

 private slots:
  void valuesCommandReadsTheCalibrationBeforeItsDialogs() {
    Bench b(settings_);
    b.sensor().config().offset = 0.25f;
    b.sensor().config().slope = 2.0f;
    b.commands.Values();
    QCOMPARE(b.display_calls, 1);
    QCOMPARE(b.shown_offsets, (std::vector<float>{0.25f}));
    QCOMPARE(b.shown_slopes, (std::vector<float>{2.0f}));
    QVERIFY(b.ui.questions.empty());
    QVERIFY(b.ui.messages.empty());
  }

  void cancelledDisplaySettingsEndBothCommands() {
    Bench b(settings_);
    b.display_accepted = false;
    int two_point_calls = 0;
    b.commands.two_point = [&](CalibrationRecord&) {
      ++two_point_calls;
      return TFormCorrect_NSHP::kFactorySetting;
    };
    b.commands.Values();
    b.commands.Calibration();
    QCOMPARE(b.display_calls, 2);
    QVERIFY(b.shown_offsets.empty());
    QCOMPARE(two_point_calls, 0);
    QVERIFY(b.Writes().empty());
    // The link stays up: the next command works.
    b.display_accepted = true;
    b.commands.Values();
    QCOMPARE(b.shown_offsets.size(), 1u);
  }

  void failedCalibrationReadEndsTheCommand() {
    Bench b(settings_);
    b.device.faults().silence = true;
    b.ui.answers = {true, false};
    b.commands.Calibration();
    QCOMPARE(b.ui.questions.size(), 2u);
    QCOMPARE(Q(b.ui.questions[0].line1), QStringLiteral("Читання зміщення калібровки давача:"));
    QCOMPARE(b.display_calls, 0);
    QVERIFY(b.Writes().empty());
  }

  void recordCarriesTheUnitOfTheChannel() {
    // Pressure in mm Hg, then temperature with the same display settings.
    for (const SensorConfig& config : {SensorConfig::Pressure(), SensorConfig::Temperature()}) {
      Bench b(settings_, config);
      b.window.state.ConnectSettings.P_unit = 5;
      b.window.state.ConnectSettings.P_format = 3;
      b.window.state.ConnectSettings.T_format = 1;
      std::vector<CalibrationRecord> seen;
      b.commands.two_point = [&](CalibrationRecord& record) {
        seen.push_back(record);
        return TFormCorrect_NSHP::kCancelled;
      };
      b.commands.Calibration();
      QCOMPARE(seen.size(), 1u);
      const bool pressure = b.window.state.Channel == 0;
      QCOMPARE(seen[0].factor, pressure ? kMmHg : 1.0);
      QCOMPARE(seen[0].digits, pressure ? 3 : 1);
      QCOMPARE(seen[0].applied[0], 0.0f);
      QCOMPARE(seen[0].slope, 0.0f);
      QVERIFY(b.Writes().empty());
    }
  }

  void factorySettingSkipsTheResultsAndWritesOneAndZero() {
    Bench b(settings_);
    b.sensor().config().offset = 0.5f;
    b.sensor().config().slope = 2.0f;
    bool results_shown = false;
    b.commands.two_point = [](CalibrationRecord& record) {
      record.offset = 0.0f;
      record.slope = 1.0f;
      return TFormCorrect_NSHP::kFactorySetting;
    };
    b.commands.results = [&](CalibrationRecord&) {
      results_shown = true;
      return true;
    };
    b.commands.Calibration();
    QVERIFY(!results_shown);
    const auto writes = b.Writes();
    QCOMPARE(writes.size(), 1u);
    QCOMPARE(writes[0], (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x80}));
    QCOMPARE(b.sensor().offset(), 0.0f);
    QCOMPARE(b.sensor().slope(), 1.0f);
    QCOMPARE(b.ui.messages.size(), 1u);
    QCOMPARE(Q(b.ui.messages[0].text), QStringLiteral("Параметри записані"));
    QCOMPARE(Q(b.ui.messages[0].caption), QString());
  }

  void resultsNotConfirmedGoBackToThePointsKeptAndWriteNothing() {
    Bench b(settings_);
    std::vector<CalibrationRecord> seen;
    const auto points = Points(0.0f, 0.5f, 100.0f, 100.5f, &seen);
    b.commands.two_point = [&](CalibrationRecord& record) {
      return seen.empty() ? points(record)
                          : (seen.push_back(record), TFormCorrect_NSHP::kCancelled);
    };
    b.commands.results = [](CalibrationRecord& record) {
      record.offset = -0.5f;
      record.slope = 1.0f;
      return false;
    };
    b.commands.Calibration();
    QCOMPARE(seen.size(), 2u);
    QCOMPARE(seen[1].received[1], 100.5f);
    QVERIFY(b.Writes().empty());
    QVERIFY(b.ui.messages.empty());
  }

  void failingWriteIsRepeatedWhileTheUserSaysSo() {
    Bench b(settings_);
    b.commands.two_point = [](CalibrationRecord& record) {
      record.offset = 0.0f;
      record.slope = 1.0f;
      return TFormCorrect_NSHP::kFactorySetting;
    };
    // The read before got through; every write after it meets silence.
    b.on_display = [&] { b.device.faults().silence = true; };
    b.ui.answers = {true, true, false};
    b.commands.Calibration();
    QCOMPARE(b.Writes().size(), 3u);
    QCOMPARE(b.ui.questions.size(), 3u);
    for (const ScriptedHost::Question& q : b.ui.questions) {
      QCOMPARE(Q(q.line1), QStringLiteral("Запис зміщення калібровки давача:"));
      QVERIFY(Q(q.line2.value()).contains(QStringLiteral("Пристрій не відповідає")));
      QCOMPARE(Q(q.line3.value()), QStringLiteral("Повторити спробу?"));
    }
    QVERIFY(b.ui.messages.empty());
  }

  void writeThatGetsThroughOnARetryIsReported() {
    Bench b(settings_);
    b.sensor().config().slope = 3.0f;
    b.commands.two_point = [](CalibrationRecord& record) {
      record.offset = 0.0f;
      record.slope = 1.0f;
      return TFormCorrect_NSHP::kFactorySetting;
    };
    b.on_display = [&] {
      b.device.faults().silence = true;
      b.device.faults().count = 2;
    };
    b.ui.answers = {true, true};
    b.commands.Calibration();
    QCOMPARE(b.Writes().size(), 3u);
    QCOMPARE(b.ui.questions.size(), 3u);  // the last offers the certificate
    QCOMPARE(b.ui.messages.size(), 1u);
    QCOMPARE(Q(b.ui.messages[0].text), QStringLiteral("Параметри записані"));
    QCOMPARE(b.sensor().slope(), 1.0f);
  }

  void writeStoppedByTheUserEndsSilently() {
    Bench b(settings_);
    b.commands.two_point = [](CalibrationRecord& record) {
      record.offset = 0.0f;
      record.slope = 1.0f;
      return TFormCorrect_NSHP::kFactorySetting;
    };
    b.on_display = [&] {
      b.device.faults().silence = true;
      b.ui.on_process = [&] { b.box().abort_requested = true; };
    };
    b.ui.answers = {true};
    b.commands.Calibration();
    QCOMPARE(b.box().error_code, modbusbox::kErrorAborted);
    QVERIFY(b.ui.questions.empty());
    QVERIFY(b.ui.messages.empty());
  }

  void calibrationThatIsNotFiniteIsNeverWritten() {
    Bench b(settings_);
    b.commands.two_point = Points(0.0f, 0.5f, 100.0f, 100.5f);
    const float bad[][2] = {
        {std::numeric_limits<float>::quiet_NaN(), 1.0f},
        {0.0f, std::numeric_limits<float>::infinity()},
        {-std::numeric_limits<float>::infinity(), 1.0f},
        {0.0f, 0.0f},
    };
    for (const auto& values : bad) {
      b.ui.messages.clear();
      b.commands.results = [&](CalibrationRecord& record) {
        record.offset = values[0];
        record.slope = values[1];
        return true;
      };
      b.commands.Calibration();
      QCOMPARE(b.ui.messages.size(), 1u);
      QVERIFY(Q(b.ui.messages[0].text).startsWith(QStringLiteral("Калібровку не записано")));
    }
    QVERIFY(b.Writes().empty());
    QCOMPARE(b.sensor().slope(), 1.0f);
  }

  void millimetresOfMercuryWriteTheKilopascalOffset() {
    Bench b(settings_);
    b.window.state.ConnectSettings.P_unit = 5;
    std::vector<CalibrationRecord> seen;
    b.commands.two_point = Points(0.0f, 1.0f, 750.061438f, 751.061438f, &seen);
    QString edit4;
    QString edit5;
    OnNextModal<TFormCorrect_Set>([&](TFormCorrect_Set* dialog) {
      edit4 = dialog->Edit4->text();
      edit5 = dialog->Edit5->text();
      QTest::mouseClick(dialog->BitBtn4, Qt::LeftButton);
    });
    b.commands.Calibration();
    QCOMPARE(seen.at(0).factor, kMmHg);
    QCOMPARE(edit4, QStringLiteral("-0.99998"));
    QCOMPARE(edit5, QStringLiteral("-0.13332"));
    const auto writes = b.Writes();
    QCOMPARE(writes.size(), 1u);
    QCOMPARE(writes[0], CalibrationBytes(-0.13332f, 1.0f));
    QCOMPARE(b.sensor().offset(), -0.13332f);
    QCOMPARE(Q(b.ui.messages.at(0).text), QStringLiteral("Параметри записані"));
  }

  void nextValuesCommandShowsTheCalibrationJustWritten() {
    Bench b(settings_);
    // Both real calibration dialogs, driven as the user would.
    OnNextModal<TFormCorrect_NSHP>([](TFormCorrect_NSHP* points) {
      points->Edit1->setText(QStringLiteral("0"));
      points->Edit3->setText(QStringLiteral("0.5"));
      points->Edit2->setText(QStringLiteral("100"));
      points->Edit4->setText(QStringLiteral("100.5"));
      OnNextModal<TFormCorrect_Set>(
          [](TFormCorrect_Set* results) { QTest::mouseClick(results->BitBtn1, Qt::LeftButton); });
      QTest::mouseClick(points->BitBtn4, Qt::LeftButton);
    });
    b.commands.Calibration();
    QCOMPARE(b.sensor().offset(), -0.5f);
    QCOMPARE(b.sensor().slope(), 1.0f);
    // Not taken over by the command itself.
    QCOMPARE(b.window.state.SensorOffset, 0.0f);

    b.commands.Values();
    QCOMPARE(b.shown_offsets, (std::vector<float>{-0.5f}));
    QCOMPARE(b.shown_slopes, (std::vector<float>{1.0f}));
  }

  void theRealPointsDialogShowsThePointsAgainAfterUnwrittenResults() {
    Bench b(settings_);
    b.commands.results = [](CalibrationRecord&) { return false; };
    QStringList shown_again;
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* points) {
      points->Edit1->setText(QStringLiteral("0"));
      points->Edit3->setText(QStringLiteral("0.5"));
      points->Edit2->setText(QStringLiteral("100"));
      points->Edit4->setText(QStringLiteral("100.5"));
      OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* again) {
        for (QLineEdit* edit : {again->Edit1, again->Edit3, again->Edit2, again->Edit4})
          shown_again << edit->text();
        b.ui.answers = {true};
        QTest::mouseClick(again->BitBtn3, Qt::LeftButton);
      });
      QTest::mouseClick(points->BitBtn4, Qt::LeftButton);
    });
    b.commands.Calibration();
    QCOMPARE(shown_again, (QStringList{"0", "0.5", "100", "100.5"}));
    QVERIFY(b.Writes().empty());
  }

  void terminationClosesThePointsWindowWithoutAskingAboutItsPoints() {
    Bench b(settings_);
    bool rescued = false;
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* points) {
      points->Edit1->setText(QStringLiteral("0"));
      // Nobody answers a question during a termination: its close must not ask at every step.
      QTimer::singleShot(3000, points, [&rescued, points] {
        rescued = true;
        points->reject();
      });
      b.window.RequestTermination();
    });
    b.commands.Calibration();
    QVERIFY(!rescued);
    for (const ScriptedHost::Question& q : b.ui.questions)
      QVERIFY(q.line2.value_or("") != "відмінити калібровку?");
    QVERIFY(b.Writes().empty());
  }

  void commandsAreIgnoredWhileTheWindowRunsAnExchange() {
    Bench b(settings_);
    b.line->ClearLog();
    b.window.RunOwnExchange([&] {
      b.window.NvalClick();
      b.window.NclbClick();
      b.commands.Calibration();
      return true;
    });
    QVERIFY(b.line->written().empty());
    QCOMPARE(b.display_calls, 0);
    QVERIFY(b.ui.questions.empty());
  }
};

QTEST_MAIN(FormMainMeasureTest)
#include "form_main_measure_test.moc"
