// A verification run read side by side from a reference instrument: a scripted instrument on a
// virtual line, a sensor function, the virtual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "core/calibration.h"
#include "core/instrument_run.h"
#include "core/reference_settings.h"
#include "sim/virtual_line.h"

namespace {

constexpr uint32_t kInterval = 100;  // ms between polls

// An instrument in the command style of the first preset, working in bar: a set point takes
// effect at once, the in-limits query says no `settle_queries` times after each set point, and
// any reply can be put in its mouth.
class ScriptedInstrument final : public LineDevice {
 public:
  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    std::vector<TimedByte> out;
    for (uint8_t b : bytes) {
      if (b == '\r')
        continue;
      if (b != '\n') {
        pending_ += static_cast<char>(b);
        continue;
      }
      const std::string line = pending_;
      pending_.clear();
      lines.push_back(line);
      if (on_line)
        on_line(line);
      const std::string answer = Answer(line);
      if (silent || answer.empty())
        continue;
      for (char c : answer + "\r\n")
        out.push_back({now_us + 2000, static_cast<uint8_t>(c)});
    }
    return out;
  }

  std::string Answer(const std::string& line) {
    if (line == "*IDN?")
      return identification;
    if (line == ":SENS:PRES:INL?")
      return in_limits_replies_left > 0 ? (--in_limits_replies_left, "0") : "1";
    if (line == ":SENS:PRES?") {
      if (!reading_reply.empty())
        return reading_reply;
      char text[64];
      std::snprintf(text, sizeof text, "%.6f bar", bar + noise());
      return text;
    }
    if (line.rfind(":SOUR:PRES ", 0) == 0) {
      bar = std::stod(line.substr(11));
      in_limits_replies_left = settle_queries;
    } else if (line == ":OUTP:STAT ON") {
      output = true;
    } else if (line == ":OUTP:STAT OFF") {
      output = false;
    }
    return "";
  }

  double noise() { return noise_left > 0 ? (--noise_left % 2 == 0 ? 0.05 : -0.05) : 0.0; }

  std::vector<std::string> SetPoints() const {
    std::vector<std::string> list;
    for (const std::string& l : lines)
      if (l.rfind(":SOUR", 0) == 0 || l.rfind(":OUTP", 0) == 0)
        list.push_back(l);
    return list;
  }

  std::string identification = "SIM,PC-1,4411,2.0";
  double bar = 0.0;
  bool output = false;
  int settle_queries = 0;
  int in_limits_replies_left = 0;
  int noise_left = 0;  // readings that jump by 0.05 bar either way
  std::string reading_reply;
  bool silent = false;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> on_line;

 private:
  std::string pending_;
};

class InstrumentRunTest : public ::testing::Test {
 protected:
  InstrumentRunTest() {
    ApplyReferencePreset(ReferencePresets()[0], settings_);
    settings_.port = 9;
    settings_.unit = "bar";
    settings_.timeout = 300;
    TestPlan plan;
    plan.range_low = 0;
    plan.range_high = 100;
    plan.points = {0, 50, 100};
    plan.direction = PlanDirection::kRisingThenFalling;
    plan.tolerance_kind = ToleranceKind::kUnit;
    plan.tolerance = 0.25;
    run_ = NewVerificationRun(plan, 0, "кПа", 1.0, 2, std::nullopt);
  }

  void Make() {
    engine_.reset();
    link_ =
        std::make_unique<ReferenceLink>(settings_, clock_, NullExchangeHost::Instance(), nullptr);
    link_->set_line_maker([this]() -> std::unique_ptr<SerialLine> {
      if (!port_there_)
        return nullptr;
      auto line = std::make_unique<VirtualLine>(clock_, &device_);
      line_ = line.get();
      return line;
    });
    std::string error;
    ASSERT_TRUE(link_->Open(error)) << error;
    InstrumentRunConfig config;
    config.p_unit = kKilopascalUnit;
    config.display_step = 0.01;
    config.stability_share = 0.0005;
    config.point_limit_ms = 5000;
    engine_ = std::make_unique<InstrumentRun>(
        run_, *link_, [this] { return Sensor(); }, config);
    engine_->set_listener([this](const InstrumentEvent& e) { events_.push_back(e); });
  }

  // The sensor reads the applied pressure (kPa) with an error of +0.1 rising, +0.3 falling.
  SensorSample Sensor() {
    ++sensor_reads_;
    if (sensor_fault_)
      return sensor_fault_(sensor_reads_);
    const bool falling = engine_->progress().point.falling;
    return {SensorSample::Kind::kValue, device_.bar * 100.0 + (falling ? 0.3 : 0.1), {}};
  }

  // Ticks at the poll interval until the run ends or `ticks` were made.
  void Drive(int ticks = 1000) {
    for (int i = 0; i < ticks && !engine_->ended(); ++i) {
      engine_->Tick(clock_.TickCount());
      clock_.Pause(kInterval);
    }
  }

  VirtualClock clock_;
  ScriptedInstrument device_;
  ReferenceSettings settings_;
  VerificationRun run_;
  std::unique_ptr<ReferenceLink> link_;
  std::unique_ptr<InstrumentRun> engine_;
  VirtualLine* line_ = nullptr;
  bool port_there_ = true;
  std::vector<InstrumentEvent> events_;
  int sensor_reads_ = 0;
  std::function<SensorSample(int)> sensor_fault_;
};

TEST_F(InstrumentRunTest, SetsEachPointRisingThenFallingInTheInstrumentsUnitAndVentsLast) {
  device_.settle_queries = 3;
  Make();
  Drive();
  ASSERT_EQ(engine_->phase(), InstrumentPhase::kDone) << engine_->message();
  EXPECT_EQ(
      device_.SetPoints(),
      (std::vector<std::string>{":SOUR:PRES 0", ":OUTP:STAT ON", ":SOUR:PRES 0.5", ":SOUR:PRES 1",
                                ":SOUR:PRES 0.5", ":SOUR:PRES 0", ":OUTP:STAT OFF"}));
  EXPECT_FALSE(device_.output);
  EXPECT_FALSE(engine_->vent_pending());
  EXPECT_EQ(device_.lines.front(), "*IDN?");
  EXPECT_EQ(run_.instrument, "SIM,PC-1,4411,2.0");
  ASSERT_EQ(run_.points.size(), 5u);
  EXPECT_TRUE(Complete(run_));
  EXPECT_FALSE(run_.cancelled);
  const double nominal[] = {0, 50, 100, 50, 0};
  for (size_t i = 0; i < 5; ++i) {
    const VerificationPoint& p = run_.points[i];
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(p.nominal, nominal[i]);
    EXPECT_EQ(p.falling, i >= 3);
    EXPECT_EQ(p.source, AppliedSource::kInstrument);
    EXPECT_EQ(p.source_id, "SIM,PC-1,4411,2.0");
    EXPECT_NEAR(p.applied, nominal[i], 1e-9);
    EXPECT_EQ(p.applied_readings, 10);
    EXPECT_EQ(p.readings, 10);
    EXPECT_NEAR(p.error, i >= 3 ? 0.3 : 0.1, 1e-9);
    EXPECT_EQ(p.verdict, i >= 3 ? Verdict::kFail : Verdict::kPass);
  }
  ASSERT_EQ(HysteresisOf(run_).size(), 2u);
  EXPECT_NEAR(HysteresisOf(run_)[0].value, 0.2, 1e-9);

  // Each point: started, settled, done, with the time it took (a tick to set it, three out of
  // limits, ten readings, and the exchanges' own time).
  ASSERT_EQ(engine_->point_times().size(), 5u);
  EXPECT_GE(engine_->point_times()[1], (1 + 3 + 9) * kInterval);
  ASSERT_EQ(events_.size(), 15u);
  EXPECT_EQ(events_[0].kind, InstrumentEvent::Kind::kPointStarted);
  EXPECT_EQ(events_[1].kind, InstrumentEvent::Kind::kSettled);
  EXPECT_EQ(events_[14].kind, InstrumentEvent::Kind::kPointDone);
  EXPECT_EQ(events_[14].index, 4u);
  EXPECT_TRUE(events_[14].point.falling);
  EXPECT_EQ(events_[14].point_ms, engine_->point_times()[4]);
}

TEST_F(InstrumentRunTest, APointWaitsForTheInstrumentInLimitsAndBothReadingsStable) {
  Make();
  device_.settle_queries = 4;
  int unstable_sensor = 14;
  sensor_fault_ = [&](int) {
    const double jump = --unstable_sensor > 0 ? (unstable_sensor % 2 ? 0.2 : -0.2) : 0.0;
    return SensorSample{SensorSample::Kind::kValue, device_.bar * 100.0 + jump, {}};
  };
  std::vector<InstrumentAwaits> seen;
  for (int i = 0; i < 40 && run_.points.empty(); ++i) {
    engine_->Tick(clock_.TickCount());
    seen.push_back(engine_->progress().awaits);
    clock_.Pause(kInterval);
  }
  ASSERT_EQ(run_.points.size(), 1u);
  EXPECT_NE(std::find(seen.begin(), seen.end(), InstrumentAwaits::kInLimits), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), InstrumentAwaits::kSensor), seen.end());
  EXPECT_NEAR(run_.points[0].mean, 0.0, 1e-9);  // only the settled window counts

  // The instrument's own noise holds the next point back just the same.
  device_.noise_left = 12;
  unstable_sensor = 0;
  seen.clear();
  for (int i = 0; i < 60 && run_.points.size() < 2; ++i) {
    engine_->Tick(clock_.TickCount());
    seen.push_back(engine_->progress().awaits);
    clock_.Pause(kInterval);
  }
  ASSERT_EQ(run_.points.size(), 2u);
  EXPECT_NE(std::find(seen.begin(), seen.end(), InstrumentAwaits::kReference), seen.end());
  EXPECT_NEAR(run_.points[1].applied, 50.0, 1e-9);
  EXPECT_EQ(run_.points[1].applied_deviation, 0.0);
}

TEST_F(InstrumentRunTest, ACancelKeepsThePointsMeasuredAndVentsEvenFromInsideAnExchange) {
  Make();
  Drive(18);  // the first point and part of the second
  ASSERT_EQ(run_.points.size(), 1u);
  ASSERT_TRUE(device_.output);
  engine_->Cancel();
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kCancelled);
  EXPECT_TRUE(run_.cancelled);
  EXPECT_EQ(run_.points.size(), 1u);
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
  EXPECT_FALSE(engine_->vent_pending());
  EXPECT_TRUE(engine_->message().empty());

  // A cancel that arrives while a reading is under way: the tick ends, then vents.
  device_ = {};
  run_.points.clear();
  run_.cancelled = false;
  Make();
  Drive(5);
  device_.on_line = [this](const std::string& line) {
    if (line == ":SENS:PRES?")
      engine_->Cancel();
  };
  const size_t sensor_before = sensor_reads_;
  engine_->Tick(clock_.TickCount());
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kCancelled);
  EXPECT_EQ(sensor_reads_, sensor_before);  // nothing more is asked of the sensor
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
  EXPECT_TRUE(run_.points.empty());
}

TEST_F(InstrumentRunTest, ALostPortStopsTheRunAndTheVentWaitsForThePortToComeBack) {
  Make();
  Drive(20);
  ASSERT_TRUE(device_.output);
  const size_t measured = run_.points.size();
  line_->set_gone_at(clock_.Counter());
  port_there_ = false;
  engine_->Tick(clock_.TickCount());
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
  EXPECT_EQ(engine_->message(),
            "Еталон (COM9): зв'язок з еталоном втрачено: порт зник (адаптер від'єднано?)");
  EXPECT_TRUE(engine_->vent_pending());
  EXPECT_EQ(engine_->progress().awaits, InstrumentAwaits::kPortBack);
  EXPECT_EQ(run_.points.size(), measured);
  EXPECT_TRUE(run_.cancelled);
  for (int i = 0; i < 5; ++i)
    engine_->Tick(clock_.TickCount());
  EXPECT_TRUE(engine_->vent_pending());
  EXPECT_TRUE(device_.output);

  port_there_ = true;
  engine_->Tick(clock_.TickCount());
  EXPECT_FALSE(engine_->vent_pending());
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
  EXPECT_FALSE(device_.output);
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
}

TEST_F(InstrumentRunTest, AnAnswerThatIsNoReadingStopsTheRunNamingTheInstrumentAndTheAnswer) {
  struct Case {
    const char* reply;
    bool silent;
    const char* message;
  };
  const Case cases[] = {
      {"OK", false,
       "Еталон «ПК-1» (COM9): на «:SENS:PRES?» відповів «OK»: у відповіді немає числа"},
      {"0.500 psi", false,
       "Еталон «ПК-1» (COM9): на «:SENS:PRES?» відповів «0.500 psi»: показ в одиницях psi, а "
       "очікується bar"},
      {"", true, "Еталон «ПК-1» (COM9): не відповідає на «:SENS:PRES:INL?»"},
  };
  settings_.name = "ПК-1";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    device_ = {};
    run_.points.clear();
    run_.cancelled = false;
    sensor_reads_ = 0;
    Make();
    Drive(16);  // the first point is measured
    ASSERT_EQ(run_.points.size(), 1u);
    device_.reading_reply = c.reply;
    device_.silent = c.silent;
    const int sensor_before = sensor_reads_;
    Drive();
    EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
    EXPECT_EQ(engine_->stop(), InstrumentStop::kReference);
    EXPECT_EQ(engine_->message(), c.message);
    EXPECT_EQ(run_.points.size(), 1u);
    EXPECT_EQ(sensor_reads_, sensor_before);
    // The vent goes out even to an instrument that says nothing back.
    EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
    EXPECT_FALSE(device_.output);
  }
}

TEST_F(InstrumentRunTest, APointThatNeverSettlesStopsAtItsLimitAndALostSensorStopsAtOnce) {
  Make();
  sensor_fault_ = [](int n) {
    return SensorSample{SensorSample::Kind::kValue, n % 2 ? 1.0 : -1.0, {}};
  };
  const uint32_t start = clock_.TickCount();
  Drive();
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
  EXPECT_EQ(engine_->stop(), InstrumentStop::kNotSettled);
  EXPECT_EQ(engine_->message(),
            "Точка 1 із 5 (0.00 кПа, на зростанні) не встановилася за 5 с: покази давача ще не "
            "стабільні");
  EXPECT_TRUE(run_.points.empty());
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
  EXPECT_LE(clock_.TickCount() - start, 5000u + 3 * kInterval);

  device_ = {};
  Make();
  device_.settle_queries = 1000;
  Drive();
  EXPECT_EQ(engine_->message(),
            "Точка 1 із 5 (0.00 кПа, на зростанні) не встановилася за 5 с: Еталон (COM9): "
            "контролер ще не в межах");

  device_ = {};
  Make();
  sensor_fault_ = [](int n) {
    if (n < 3)
      return SensorSample{SensorSample::Kind::kFailed, 0.0, "Датчик не відповідає"};
    return SensorSample{SensorSample::Kind::kLinkLost, 0.0, "Зв'язок з давачем втрачено"};
  };
  Drive();
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
  EXPECT_EQ(engine_->stop(), InstrumentStop::kSensor);
  EXPECT_EQ(engine_->message(), "Зв'язок з давачем втрачено");
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
}

TEST_F(InstrumentRunTest, AGaugeWaitsForEachPointToBeAppliedAndIsNeverCommanded) {
  ApplyReferencePreset(ReferencePresets()[1], settings_);  // VAL?, *IDN?, no in-limits query
  settings_.read = ":SENS:PRES?";
  settings_.identify.clear();
  Make();
  Drive(20);
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kAwaitingProceed);
  EXPECT_EQ(engine_->progress().awaits, InstrumentAwaits::kProceed);
  EXPECT_TRUE(run_.points.empty());
  EXPECT_EQ(sensor_reads_, 0);
  for (int point = 0; point < 5; ++point) {
    device_.bar = engine_->progress().point.nominal / 100.0;  // the engineer's hand pump
    engine_->Proceed(clock_.TickCount());
    for (int i = 0; i < 30 && engine_->phase() == InstrumentPhase::kSettling; ++i) {
      engine_->Tick(clock_.TickCount());
      clock_.Pause(kInterval);
    }
  }
  Drive(3);
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kDone);
  ASSERT_EQ(run_.points.size(), 5u);
  EXPECT_TRUE(run_.instrument.empty());
  EXPECT_EQ(run_.points[4].source_id, "Еталон (COM9)");
  EXPECT_NEAR(run_.points[4].error, 0.3, 1e-9);
  EXPECT_TRUE(device_.SetPoints().empty());
}

TEST_F(InstrumentRunTest, ARunAbandonedMidWayVentsWhenItIsClosed) {
  Make();
  Drive(8);
  ASSERT_TRUE(device_.output);
  engine_.reset();
  EXPECT_EQ(device_.lines.back(), ":OUTP:STAT OFF");
  EXPECT_TRUE(run_.cancelled);

  // A controller with no way to vent is refused before anything is set.
  settings_.output_off.clear();
  device_ = {};
  Make();
  Drive();
  EXPECT_EQ(engine_->phase(), InstrumentPhase::kFailed);
  EXPECT_EQ(engine_->message(),
            "Еталон (COM9): команди задання і скидання тиску не задано в налаштуваннях");
  EXPECT_TRUE(device_.SetPoints().empty());
}

}  // namespace
