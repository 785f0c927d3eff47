// The verification's plan, decision rule, reference register and run, without a device.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "core/calibration.h"
#include "core/verification_certificate.h"
#include "core/verification_run.h"
#include "tests/support/temp_folder.h"

namespace {

VerificationPoint Measured(double nominal, bool falling, double applied, double mean) {
  VerificationPoint p;
  p.nominal = nominal;
  p.falling = falling;
  p.applied = applied;
  p.mean = mean;
  p.readings = 10;
  return p;
}

}  // namespace

TEST(DecisionRule, SimpleAcceptanceAndTheGuardBandAtTheirEdges) {
  // Simple: equal to the tolerance passes, a hair beyond fails; a difference of decimals that
  // lands a bit above the tolerance still counts as equal to it.
  EXPECT_EQ(Decide(0.5, 0.5, DecisionRule::kSimple, 0.2), Verdict::kPass);
  EXPECT_EQ(Decide(-0.5, 0.5, DecisionRule::kSimple, 0.2), Verdict::kPass);
  EXPECT_EQ(Decide(100.0 - 99.7, 0.3, DecisionRule::kSimple, 0.0), Verdict::kPass);
  EXPECT_EQ(Decide(0.5001, 0.5, DecisionRule::kSimple, 0.0), Verdict::kFail);
  // Guard band U = 0.1 around a tolerance of 0.5.
  const auto guarded = [](double e) { return Decide(e, 0.5, DecisionRule::kGuardBanded, 0.1); };
  EXPECT_EQ(guarded(0.4), Verdict::kPass);              // |e| + U equals the tolerance
  EXPECT_EQ(guarded(0.41), Verdict::kConditionalPass);  // inside the band, within tolerance
  EXPECT_EQ(guarded(-0.5), Verdict::kConditionalPass);  // equal to the tolerance
  EXPECT_EQ(guarded(0.55), Verdict::kConditionalFail);  // inside the band, beyond tolerance
  EXPECT_EQ(guarded(0.6), Verdict::kConditionalFail);   // |e| - U equals the tolerance
  EXPECT_EQ(guarded(0.61), Verdict::kFail);
  EXPECT_EQ(Decide(NAN, 0.5, DecisionRule::kSimple, 0.0), Verdict::kFail);
  EXPECT_EQ(Worst({Verdict::kPass, Verdict::kConditionalFail, Verdict::kConditionalPass}),
            Verdict::kConditionalFail);
  EXPECT_STREQ(VerdictText(Verdict::kConditionalPass), "умовно відповідає");
}

TEST(TestPlanModel, DefaultPointsSequenceBothWaysAndTheToleranceKinds) {
  TestPlan plan = DefaultTestPlan(0);
  plan.range_low = 100.0;
  plan.range_high = 500.0;
  plan.direction = PlanDirection::kRisingThenFalling;
  std::vector<double> nominal;
  std::vector<bool> falling;
  for (const PlanPoint& p : PlanSequence(plan)) {
    nominal.push_back(p.nominal);
    falling.push_back(p.falling);
  }
  EXPECT_EQ(nominal, (std::vector<double>{100, 200, 300, 400, 500, 400, 300, 200, 100}));
  EXPECT_EQ(falling, (std::vector<bool>{0, 0, 0, 0, 0, 1, 1, 1, 1}));

  plan.points = {300, 100, 300};  // typed, out of order, once repeated
  plan.direction = PlanDirection::kRising;
  EXPECT_EQ(PlanSequence(plan).size(), 2u);

  // In bar (0.01 of a kPa): ±0.5 kPa is ±0.005 bar; 1 % of the 400 kPa span is 0.04 bar.
  plan.tolerance_kind = ToleranceKind::kUnit;
  plan.tolerance = 0.5;
  EXPECT_DOUBLE_EQ(ToleranceAt(plan, 3.0, 0.01), 0.005);
  plan.tolerance_kind = ToleranceKind::kPercentOfSpan;
  plan.tolerance = 1.0;
  EXPECT_DOUBLE_EQ(ToleranceAt(plan, 3.0, 0.01), 0.04);
  plan.tolerance_kind = ToleranceKind::kPercentOfReading;
  plan.tolerance = 0.5;
  EXPECT_DOUBLE_EQ(ToleranceAt(plan, -40.0, 1.0), 0.2);

  EXPECT_EQ(ParsePlanPoints("0; 25 50,75"), (std::vector<double>{0, 25, 50, 75}));
  EXPECT_FALSE(ParsePlanPoints("0; 2x5"));
}

TEST(TestPlanModel, KeptInItsOwnSectionBesideTheSettingsUntouched) {
  TempFolder folder;
  const std::string ini = folder.path().string() + "/vorlix.ini";
  const std::string before = "[Connect]\r\nPort=7\r\n; the engineer's note\r\n";
  std::ofstream(ini, std::ios::binary) << before;
  EXPECT_EQ(LoadTestPlan(ini, 1).tolerance_kind, ToleranceKind::kUnit);  // the defaults

  TestPlan plan = DefaultTestPlan(0);
  plan.range_low = 80;
  plan.range_high = 600;
  plan.points = {80, 300, 600};
  plan.direction = PlanDirection::kRisingThenFalling;
  plan.tolerance_kind = ToleranceKind::kPercentOfSpan;
  plan.tolerance = 0.25;
  plan.rule = DecisionRule::kGuardBanded;
  plan.reference = "ДМ 1";
  std::string reason;
  ASSERT_TRUE(SaveTestPlan(ini, 0, plan, &reason)) << reason;
  std::ifstream in(ini, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_NE(after.find("[VerificationP]"), std::string::npos);

  const TestPlan back = LoadTestPlan(ini, 0);
  EXPECT_EQ(back.points, plan.points);
  EXPECT_EQ(back.range_high, 600);
  EXPECT_EQ(back.direction, PlanDirection::kRisingThenFalling);
  EXPECT_EQ(back.tolerance_kind, ToleranceKind::kPercentOfSpan);
  EXPECT_EQ(back.tolerance, 0.25);
  EXPECT_EQ(back.rule, DecisionRule::kGuardBanded);
  EXPECT_EQ(back.reference, "ДМ 1");
  EXPECT_EQ(LoadTestPlan(ini, 1).range_low, -20);  // the other channel keeps its defaults
}

TEST(ReferenceRegister, ComesBackWholeAndTellsAStandardPastDue) {
  TempFolder folder;
  const std::string path = ReferenceRegisterPath(folder.path().string());
  EXPECT_TRUE(LoadReferenceStandards(path).empty());
  ReferenceStandard s{"ДМ 1", "Калібратор тиску", "12345", "UA-17/0042", "2027-03-31", 0.05, 2.0,
                      "кПа"};
  ReferenceStandard t{"Термометр", "ТЕ-2", "7", "T-9", "2025-01-01", 0.03, 2.0, "°С"};
  std::string reason;
  ASSERT_TRUE(SaveReferenceStandards(path, {s, t}, &reason)) << reason;
  const std::vector<ReferenceStandard> back = LoadReferenceStandards(path);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].certificate, "UA-17/0042");
  EXPECT_EQ(back[0].uncertainty, 0.05);
  EXPECT_EQ(back[1].unit, "°С");
  EXPECT_FALSE(PastDue(back[0], "2027-03-31"));
  EXPECT_TRUE(PastDue(back[0], "2027-04-01"));
  ReferenceStandard undated = s;
  undated.due_date = "31.03.2027";
  EXPECT_TRUE(PastDue(undated, "2000-01-01"));
  s.name = "two\nlines";
  EXPECT_FALSE(SaveReferenceStandards(path, {s}, &reason));
  EXPECT_EQ(LoadReferenceStandards(path).size(), 2u);  // untouched by the refused save

  // U of 0.05 kPa is 0.0005 bar; a thermometer's U does not convert to pressure.
  EXPECT_DOUBLE_EQ(*UncertaintyIn(back[0], 0, PressureUnits[3].name), 0.0005);
  EXPECT_FALSE(UncertaintyIn(back[1], 0, "кПа"));
}

TEST(VerificationRunModel, ErrorsHysteresisVerdictsAndTheJournalRecordRoundTrip) {
  TestPlan plan = DefaultTestPlan(0);
  plan.range_low = 0;
  plan.range_high = 400;
  plan.direction = PlanDirection::kRisingThenFalling;
  plan.tolerance_kind = ToleranceKind::kPercentOfSpan;
  plan.tolerance = 0.5;  // ±2 kPa
  plan.rule = DecisionRule::kGuardBanded;
  const ReferenceStandard reference{"ДМ 1", "", "", "", "2099-01-01", 0.5, 2.0, "кПа"};
  VerificationRun run = NewVerificationRun(plan, 0, "кПа", 1.0, 2, reference);
  EXPECT_EQ(run.uncertainty, 0.5);
  EXPECT_EQ(RunSequence(run).size(), 9u);

  RecordPoint(run, Measured(0, false, 0.0, 0.2));
  RecordPoint(run, Measured(100, false, 100.0, 101.6));  // conditional pass
  RecordPoint(run, Measured(100, true, 100.0, 102.0));   // equal: conditional pass
  RecordPoint(run, Measured(200, false, 200.0, 197.6));  // conditional fail
  EXPECT_EQ(NextPointIndex(run), 3u);
  ASSERT_EQ(run.points.size(), 4u);
  EXPECT_FALSE(run.points[0].error_of_reading.has_value());
  EXPECT_NEAR(run.points[1].error, 1.6, 1e-9);
  EXPECT_NEAR(*run.points[1].error_of_reading, 1.6, 1e-9);
  EXPECT_NEAR(run.points[1].error_of_span, 0.4, 1e-9);
  EXPECT_EQ(run.points[1].verdict, Verdict::kConditionalPass);
  EXPECT_EQ(run.points[2].verdict, Verdict::kConditionalPass);
  EXPECT_EQ(run.points[3].verdict, Verdict::kConditionalFail);
  EXPECT_EQ(RunVerdict(run), Verdict::kConditionalFail);
  const std::vector<Hysteresis> h = HysteresisOf(run);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_NEAR(h[0].value, 0.4, 1e-9);
  EXPECT_NEAR(h[0].of_span, 0.1, 1e-9);

  // A repeated point replaces the one before it.
  RecordPoint(run, Measured(200, false, 200.0, 199.0));
  EXPECT_EQ(run.points.size(), 4u);
  EXPECT_EQ(run.points[3].verdict, Verdict::kPass);

  run.cancelled = true;
  run.run = "r1";
  run.points[1].source = AppliedSource::kInstrument;
  run.points[1].source_id = "DPI 620 #4411";
  run.instrument = "DPI 620 #4411";
  JournalRecord link;
  link.sensor_address = 101;
  const JournalRecord record = VerificationJournalRecord(run, link);
  EXPECT_EQ(record.outcome, JournalOutcome::kCancelled);
  const std::optional<JournalRecord> line = ParseJournalLine(JournalLine(record));
  ASSERT_TRUE(line.has_value());
  const std::optional<VerificationRun> back = VerificationFromRecord(*line);
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->cancelled);
  EXPECT_EQ(back->run, "r1");
  EXPECT_EQ(back->plan.rule, DecisionRule::kGuardBanded);
  EXPECT_EQ(back->reference->name, "ДМ 1");
  ASSERT_EQ(back->points.size(), 4u);
  EXPECT_EQ(back->points[1].source_id, "DPI 620 #4411");
  EXPECT_EQ(back->instrument, "DPI 620 #4411");
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(back->points[i].verdict, run.points[i].verdict);

  // A record written before the instrument was kept reads back without one.
  run.instrument.clear();
  const JournalRecord typed = VerificationJournalRecord(run, link);
  EXPECT_EQ(typed.detail.find("\"instrument\":"), std::string::npos);
  EXPECT_TRUE(VerificationFromRecord(typed)->instrument.empty());
}

TEST(VerificationCertificate, NumbersCountOnAndTheTextNamesWhatAMetrologistChecks) {
  // Numbers count on from the highest of the year, whatever order and runs they came in.
  JournalRecord entry;
  entry.run = "r";
  entry.unit = "кПа";
  entry.sensor_address = 101;
  entry.through_corrector = true;
  entry.plate = 26;
  entry.software_version = 37;
  entry.line = 2;
  std::vector<JournalRecord> lines;
  EXPECT_EQ(NextCertificateNumber(lines, "2026"), "В-2026-0001");
  CertificateDetails details{"В-2026-0007", "2026-12-08", "Петренко", "ГРС", "21", "101", "45"};
  lines.push_back(CertificateJournalRecord(entry, details));
  details.number = "В-2025-0042";
  lines.push_back(CertificateJournalRecord(entry, details));
  EXPECT_EQ(NextCertificateNumber(lines, "2026"), "В-2026-0008");
  EXPECT_EQ(NextCertificateNumber(lines, "2027"), "В-2027-0001");

  // An as-found run with an overdue reference, the write, an as-left run.
  TestPlan plan = DefaultTestPlan(0);
  plan.range_high = 400;
  plan.rule = DecisionRule::kGuardBanded;
  const ReferenceStandard reference{"КТ-1",       "Калібратор", "17", "UA/42",
                                    "2026-01-01", 0.2,          2.0,  "кПа"};
  VerificationRun found = NewVerificationRun(plan, 0, "кПа", 1.0, 2, reference);
  found.started = "2026-12-08T10:00:00.000+02:00";
  found.stage = VerificationStage::kAsFound;
  RecordPoint(found, Measured(200, false, 200.0, 203.0));
  VerificationRun left = found;
  left.stage = VerificationStage::kAsLeft;
  left.points.clear();
  RecordPoint(left, Measured(200, false, 200.0, 200.1));
  entry.written = SensorCalibration{0.5f, 0.99f};
  entry.read_back = entry.written;
  entry.read_back_matches = true;
  entry.as_found = SensorCalibration{0.0f, 1.0f};
  entry.steps = {VerificationJournalRecord(found, entry), VerificationJournalRecord(left, entry)};
  EXPECT_TRUE(HasVerification(entry));
  entry.steps.push_back(CertificateJournalRecord(entry, details));
  EXPECT_EQ(CertificateOf(entry)->number, "В-2025-0042");

  const std::string html = VerificationCertificateHtml(entry, *CertificateOf(entry));
  for (const char* text :
       {"Сертифікат калібровки № В-2025-0042", "UA/42", "ПРОСТРОЧЕНО", "Plate 26", "версія ПО 37",
        "нитка 2", "±0.5 % від показу", "захисною смугою", "Результати «як знайдено»",
        "Результати «як залишено»", "не відповідає", "0.9900000", "біт у біт", "k = 2", "Петренко",
        "ГРС"})
    EXPECT_NE(html.find(text), std::string::npos) << text;
  EXPECT_LT(html.find("як знайдено"), html.find("Налаштування"));
  EXPECT_LT(html.find("Налаштування"), html.find("як залишено»"));
}
