// The reference instrument: its replies, units, settings section and its link, against the
// simulated instrument on a virtual line.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "comm/line_tap_format.h"
#include "core/calibration.h"
#include "core/calibration_certificate.h"
#include "core/calibration_journal.h"
#include "core/ini_file.h"
#include "core/reference_link.h"
#include "core/reference_reading.h"
#include "core/reference_settings.h"
#include "sim/sim_reference.h"
#include "sim/virtual_line.h"
#include "tests/support/temp_folder.h"

namespace {

const ReferenceUnit& Unit(const char* word) {
  return *FindReferenceUnit(word);
}

TEST(ReferenceReply, TakesTheFirstNumberAndChecksTheUnitWordAfterIt) {
  struct Case {
    const char* reply;
    const char* unit;
    bool check;
    ReferenceReply::Kind kind;
    double value;
  };
  using K = ReferenceReply::Kind;
  const Case cases[] = {
      {"101.325", "kPa", true, K::kNumber, 101.325},
      {"  +1.5E+2 kPa", "kPa", true, K::kNumber, 150.0},
      {"VAL 12.5 BAR", "bar", true, K::kNumber, 12.5},
      {"-.5 kPaG", "kPa", true, K::kNumber, -0.5},
      {"100.0,psi", "kPa", true, K::kOtherUnit, 100.0},
      {"14.7 psi", "kPa", true, K::kOtherUnit, 14.7},
      {"14.7 psi", "kPa", false, K::kNumber, 14.7},
      {"20.1 G", "kPa", true, K::kNumber, 20.1},  // a word that names no unit is not looked at
      {"21.5 C", "°C", true, K::kNumber, 21.5},
      {"OK", "kPa", true, K::kNoNumber, 0},
      {"nan kPa", "kPa", true, K::kNoNumber, 0},
      {"1e999", "kPa", true, K::kNoNumber, 0},
      {"", "kPa", true, K::kNoNumber, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    const ReferenceReply r = ParseReferenceReply(c.reply, Unit(c.unit), c.check);
    EXPECT_EQ(r.kind, c.kind);
    if (c.kind != K::kNoNumber) {
      EXPECT_DOUBLE_EQ(r.value, c.value);
    }
  }
}

TEST(ReferenceReply, ConvertsIntoTheChannelsUnitAndRefusesTheOtherQuantity) {
  EXPECT_NEAR(*ReferenceToDisplay(1.0, Unit("bar"), 0, kKilopascalUnit), 100.0, 1e-9);
  EXPECT_NEAR(*ReferenceToDisplay(100.0, Unit("kPa"), 0, 5), 750.061438, 1e-6);   // mm Hg
  EXPECT_NEAR(*ReferenceToDisplay(14.5037737730, Unit("psi"), 0, 3), 1.0, 1e-9);  // bar
  EXPECT_NEAR(*DisplayToReference(750.061438, Unit("psi"), 0, 5), 14.5037737730, 1e-6);
  EXPECT_DOUBLE_EQ(*ReferenceToDisplay(21.5, Unit("°C"), 1, 0), 21.5);
  EXPECT_FALSE(ReferenceToDisplay(21.5, Unit("°C"), 0, 1));
  EXPECT_FALSE(DisplayToReference(100.0, Unit("kPa"), 1, 1));
}

TEST(ReferenceReply, SetPointTextHasAFullStopAndNoTrailingZeros) {
  EXPECT_EQ(FillSetPoint(":SOUR:PRES {value}", 250.5), ":SOUR:PRES 250.5");
  EXPECT_EQ(FillSetPoint("SP {value};SP? {value}", 100.0), "SP 100;SP? 100");
  EXPECT_EQ(FillSetPoint("{value}", -0.0000001), "0");
  EXPECT_EQ(ReferenceNumberText(0.1234567), "0.123457");
}

TEST(ReferenceSettings, OwnSectionRoundTripsAndLeavesTheRestOfTheFileAlone) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  const std::string before = "; kept\r\n[CURR_CONNECT_PAR]\r\nport=3\r\nrate=19200\r\n";
  ASSERT_TRUE(ReplaceFileAtomically(path, before));

  ReferenceSettings s;
  ApplyReferencePreset(ReferencePresets()[0], s);
  s.port = 7;
  s.name = "ДТ-1";
  s.rate = 115200;
  s.unit = "bar";
  s.output_off = " :OUTP:STAT OFF";  // a leading blank the instrument wants
  std::string reason;
  ASSERT_TRUE(SaveReferenceSettings(path, s, reason)) << reason;

  std::string bytes;
  ASSERT_EQ(ReadIniFile(path, bytes), IniFileState::kRead);
  EXPECT_EQ(bytes.substr(0, before.size()), before);
  EXPECT_EQ(LoadReferenceSettings(path), s);
  EXPECT_TRUE(s.controller);
  EXPECT_EQ(s.set_point, ":SOUR:PRES {value}");
  EXPECT_EQ(s.in_limits, ":SENS:PRES:INL?");
}

TEST(ReferenceSettings, DamagedValuesTakeTheirDefaults) {
  const ReferenceSettings s = ReferenceSettingsFromBytes(
      "[REFERENCE]\nport=999\nrate=abc\nparity=1\ncheck_unit=yes\nread=A?\n");
  const ReferenceSettings defaults;
  EXPECT_EQ(s.port, defaults.port);
  EXPECT_EQ(s.rate, defaults.rate);
  EXPECT_EQ(s.check_unit, defaults.check_unit);
  EXPECT_EQ(s.parity, 1);
  EXPECT_EQ(s.read, "A?");
}

TEST(ReferenceJournal, AnAppliedValueFromTheReferenceIsMarkedAndATypedOneIsNot) {
  JournalRecord r;
  r.time = "2026-12-08T10:00:00.000+02:00";
  r.unit = "кПа";
  r.points = {{100.0, 100.2, 10, 0.01, 10, 0.002}, {500.0, 501.0, 10, 0.02, 0, 0.0}};
  const std::string line = JournalLine(r);
  EXPECT_EQ(line.find("applied_readings\":0"), std::string::npos);  // typed: as before
  const auto back = ParseJournalLine(line);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->points.size(), 2u);
  EXPECT_EQ(back->points[0].applied_readings, 10);
  EXPECT_DOUBLE_EQ(back->points[0].applied_deviation, 0.002);
  EXPECT_EQ(back->points[1].applied_readings, 0);

  const std::string html = CertificateHtml(*back);
  EXPECT_NE(html.find("100.000<br>еталон: 10, СКВ 0.0020"), std::string::npos);
  EXPECT_NE(html.find("без позначки — введене вручну"), std::string::npos);
  r.points[0].applied_readings = 0;
  EXPECT_EQ(CertificateHtml(r).find("еталон"), std::string::npos);
}

// The simulated instrument on a virtual line, its input shared as the sensor's would be.
class ReferenceLinkTest : public ::testing::Test {
 protected:
  void Make(SimReferenceStyle style, const ReferenceSettings& settings) {
    SimInput::Config input;
    input.value = 100.0;
    input.slew_per_s = 50.0;
    input_ = std::make_shared<SimInput>(input);
    config_.style = style;
    device_ = std::make_unique<SimReference>(config_, input_);
    link_ = std::make_unique<ReferenceLink>(settings, clock_, NullExchangeHost::Instance(), &tap_);
    link_->set_line_maker([this] {
      auto line = std::make_unique<VirtualLine>(clock_, device_.get());
      line_ = line.get();
      return line;
    });
    std::string error;
    ASSERT_TRUE(link_->Open(error)) << error;
  }
  ReferenceSettings Handheld() {
    ReferenceSettings s;
    ApplyReferencePreset(ReferencePresets()[1], s);
    s.port = 5;
    return s;
  }
  ReferenceSettings Controller() {
    ReferenceSettings s;
    ApplyReferencePreset(ReferencePresets()[0], s);
    s.port = 6;
    return s;
  }

  VirtualClock clock_;
  LineTap tap_{clock_};
  SimReferenceConfig config_;
  std::shared_ptr<SimInput> input_;
  std::unique_ptr<SimReference> device_;
  std::unique_ptr<ReferenceLink> link_;
  VirtualLine* line_ = nullptr;
};

TEST_F(ReferenceLinkTest, ReadsTheInputInTheDisplayUnitAndCountsOnTheTap) {
  config_.unit_word = "kPa";
  config_.noise = 0.001;
  Make(SimReferenceStyle::kHandheld, Handheld());
  double value = 0;
  std::string error;
  ASSERT_EQ(link_->Read(0, 4, value, error), ReferenceLink::Result::kOk) << error;
  EXPECT_NEAR(value, 1000.0, 0.011);  // mbar
  std::string id;
  ASSERT_EQ(link_->Identify(id, error), ReferenceLink::Result::kOk);
  EXPECT_EQ(id, "VORLIX-SIM,REFERENCE,0001,1.0");
  const LinkStats& stats = tap_.stats(TapProtocol::kReference);
  EXPECT_EQ(stats.requests, 2u);
  EXPECT_EQ(stats.answered, 2u);
  EXPECT_EQ(tap_.stats(TapProtocol::kModbus).requests, 0u);
  std::vector<std::string> lines;
  tap_.ForEachSettled(0, [&](const TapFrame& f) { lines.push_back(FormatTapLine(f)); });
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[0].find("Еталон"), std::string::npos);
  EXPECT_NE(lines[0].find("запит «VAL?\\r\\n»"), std::string::npos);
  EXPECT_NE(lines[1].find("kPa\\r»"), std::string::npos) << lines[1];  // the LF is purged
}

TEST_F(ReferenceLinkTest, EachBadAnswerNamesTheInstrumentAndWhatItSaid) {
  struct Case {
    std::function<void(SimReferenceConfig&)> fault;
    const char* expected;
  };
  const Case cases[] = {
      {[](SimReferenceConfig& c) { c.silence = true; },
       "Еталон «Робочий» (COM5): не відповідає на «VAL?»"},
      {[](SimReferenceConfig& c) { c.wrong_unit = "psi"; },
       "Еталон «Робочий» (COM5): на «VAL?» відповів «100.00000 psi»: показ в одиницях psi, а "
       "очікується kPa"},
      {[](SimReferenceConfig& c) { c.garbage = true; },
       "Еталон «Робочий» (COM5): у відповіді еталона незрозумілі байти (перешкоди або інша "
       "швидкість) (на «VAL?» прийшло «\\x02\\x157\\x7F#»)"},
      {[](SimReferenceConfig& c) { c.style = SimReferenceStyle::kSimple; },
       "Еталон «Робочий» (COM5): не відповідає на «VAL?»"},
  };
  for (const Case& c : cases) {
    config_ = {};
    c.fault(config_);
    ReferenceSettings s = Handheld();
    s.name = "Робочий";
    Make(config_.style, s);
    double value = -1;
    std::string error;
    EXPECT_EQ(link_->Read(0, kKilopascalUnit, value, error), ReferenceLink::Result::kFailed);
    EXPECT_EQ(error, c.expected);
    EXPECT_EQ(value, -1);
  }
}

TEST_F(ReferenceLinkTest, ATemperatureReadingIsRefusedOnThePressureChannel) {
  ReferenceSettings s = Handheld();
  s.unit = "°C";
  Make(SimReferenceStyle::kHandheld, s);
  double value = -1;
  std::string error;
  EXPECT_EQ(link_->Read(0, 1, value, error), ReferenceLink::Result::kFailed);
  EXPECT_EQ(error, "Еталон (COM5): показ в одиницях °C не підходить для каналу тиску");
  EXPECT_EQ(link_->Read(1, 1, value, error), ReferenceLink::Result::kOk);
  EXPECT_DOUBLE_EQ(value, 100.0);
}

TEST_F(ReferenceLinkTest, AControllerMovesTheInputReportsInLimitsWhenSettledAndVents) {
  config_.in_limits = 0.01;
  Make(SimReferenceStyle::kScpiController, Controller());
  std::string error;
  ASSERT_EQ(link_->SetPoint(2.0, 0, 3, error), ReferenceLink::Result::kOk) << error;  // bar
  EXPECT_EQ(device_->commands().back(), ":SOUR:PRES 200");
  bool in = true;
  ASSERT_EQ(link_->InLimits(in, error), ReferenceLink::Result::kOk);
  EXPECT_FALSE(in);
  clock_.Advance(4'000'000);  // 100 kPa at 50 kPa/s, 2 % past it, then settling
  ASSERT_EQ(link_->InLimits(in, error), ReferenceLink::Result::kOk);
  EXPECT_TRUE(in);
  double value = 0;
  ASSERT_EQ(link_->Read(0, 3, value, error), ReferenceLink::Result::kOk);
  EXPECT_NEAR(value, 2.0, 0.0001);
  EXPECT_FALSE(input_->vented());
  ASSERT_EQ(link_->Output(false, error), ReferenceLink::Result::kOk);
  EXPECT_EQ(device_->commands().back(), ":OUTP:STAT OFF");
  EXPECT_TRUE(input_->vented());
}

TEST_F(ReferenceLinkTest, AGaugeHasNoSetPoint) {
  Make(SimReferenceStyle::kHandheld, Handheld());
  std::string error;
  EXPECT_EQ(link_->SetPoint(100.0, 0, 1, error), ReferenceLink::Result::kFailed);
  EXPECT_EQ(error, "Еталон (COM5): це не контролер: команду задання не налаштовано");
  EXPECT_TRUE(device_->commands().empty());
}

TEST_F(ReferenceLinkTest, ALostPortStopsAtOnceAndOpensAgainWhenBack) {
  Make(SimReferenceStyle::kHandheld, Handheld());
  line_->set_gone_at(clock_.Counter());
  double value = 0;
  std::string error;
  const uint64_t before = clock_.Counter();
  EXPECT_EQ(link_->Read(0, 1, value, error), ReferenceLink::Result::kLinkLost);
  EXPECT_LT(clock_.Counter() - before, 100'000u);
  EXPECT_TRUE(link_->lost());
  EXPECT_FALSE(link_->is_open());
  EXPECT_EQ(error, "Еталон (COM5): зв'язок з еталоном втрачено: порт зник (адаптер від'єднано?)");
  EXPECT_EQ(tap_.stats(TapProtocol::kReference).other_errors, 1u);
  ASSERT_TRUE(link_->Open(error));
  EXPECT_EQ(link_->Read(0, 1, value, error), ReferenceLink::Result::kOk);
}

}  // namespace
