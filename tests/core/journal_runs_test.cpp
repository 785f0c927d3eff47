// A run in the journal: the write's record first, what followed it as further records with the
// same identifier, shown as one entry.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "core/calibration_journal.h"
#include "tests/support/temp_folder.h"

namespace {

JournalRecord Written(const std::string& run) {
  JournalRecord r;
  r.time = "2026-12-08T11:02:03.456+02:00";
  r.run = run;
  r.sensor_address = 101;
  r.unit = "кПа";
  r.as_found = SensorCalibration{-2.0f, 1.25f};
  r.written = SensorCalibration{0.5f, 0.98f};
  r.read_back = r.written;
  r.read_back_matches = true;
  r.outcome = JournalOutcome::kWritten;
  return r;
}

JournalRecord Step(const std::string& run, const char* step) {
  JournalRecord r;
  r.time = "2026-12-08T11:04:00.000+02:00";
  r.run = run;
  r.step = step;
  return r;
}

}  // namespace

TEST(JournalRuns, StepsJoinTheirWriteAsOneEntryAndTheCheckGivesTheErrorAfter) {
  TempFolder folder;
  const std::string path = JournalPath(folder.path().string());
  std::string error;
  JournalRecord verification = Step("a", kStepVerification);
  verification.outcome = JournalOutcome::kVerified;
  verification.detail = R"({"stage":"as_found","points":[]})";
  JournalRecord check = Step("a", kStepCheck);
  check.check = JournalCheck{2, 100.0, 100.012, 0.003, 10, 0.012};
  JournalRecord other = Written("b");
  JournalRecord old_style = Written("");
  // The as-found run comes before the write it led to; another run comes between.
  for (const JournalRecord& r :
       {verification, Written("a"), other, check, Step("a", kStepCertificate), old_style})
    ASSERT_TRUE(AppendJournalRecord(path, r, error)) << error;

  EXPECT_EQ(ReadJournalLines(path).size(), 6u);
  const std::vector<JournalRecord> runs = ReadJournal(path);
  ASSERT_EQ(runs.size(), 3u);
  // The entry is the write's record, in the place where its run began.
  EXPECT_EQ(runs[0].run, "a");
  EXPECT_TRUE(runs[0].step.empty());
  EXPECT_EQ(runs[0].outcome, JournalOutcome::kWritten);
  ASSERT_EQ(runs[0].steps.size(), 3u);
  EXPECT_EQ(runs[0].steps[0].step, kStepVerification);
  EXPECT_EQ(runs[0].steps[0].detail, R"({"points":[],"stage":"as_found"})");
  EXPECT_EQ(runs[0].steps[1].check->readings, 10);
  EXPECT_DOUBLE_EQ(runs[0].steps[1].check->deviation, 0.003);
  EXPECT_DOUBLE_EQ(runs[0].as_left_error.value_or(0.0), 0.012);
  EXPECT_EQ(runs[1].run, "b");
  EXPECT_TRUE(runs[1].steps.empty());
  EXPECT_TRUE(runs[2].run.empty());  // a record written before runs existed stands alone

  // The CSV has one row a run, the check's error in it.
  const std::string csv = JournalCsv(runs);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
  EXPECT_NE(csv.find(";0.012;"), std::string::npos);
}

TEST(JournalRuns, AVerificationWithoutAWriteIsAnEntryOfItsOwnAndStepRecordsNeedNoOutcome) {
  JournalRecord run = Step("c", kStepVerification);
  run.outcome = JournalOutcome::kCancelled;
  const std::vector<JournalRecord> runs =
      GatherRuns({*ParseJournalLine(JournalLine(run)),
                  *ParseJournalLine(JournalLine(Step("c", kStepCertificate)))});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].step, kStepVerification);
  EXPECT_EQ(runs[0].outcome, JournalOutcome::kCancelled);
  EXPECT_EQ(runs[0].steps.size(), 1u);
  // A calibration's own record or a run's without its outcome is no record.
  EXPECT_FALSE(ParseJournalLine(R"({"time":"t","step":"verification"})"));
  EXPECT_FALSE(ParseJournalLine(R"({"time":"t"})"));
  EXPECT_TRUE(ParseJournalLine(R"({"time":"t","run":"c","step":"check"})"));
}

TEST(JournalRuns, RunIdentifiersAreNeverShared) {
  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i)
    ids.insert(NewRunId());
  EXPECT_EQ(ids.size(), 1000u);
}
