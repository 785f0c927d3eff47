#include "core/calibration_journal.h"

#include <cmath>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

JournalRecord FullRecord() {
  JournalRecord r;
  r.time = "2026-12-08T11:02:03.456+02:00";
  r.through_corrector = true;
  r.port = 3;
  r.corrector_address = 1;
  r.plate = 26;
  r.software_version = 37;
  r.line = 2;
  r.sensor_address = 101;
  r.unit = "кПа";
  r.as_found = SensorCalibration{-0.125f, 1.0001f};
  r.points = {{0.0, 0.51, 10, 0.002}, {100.0, 100.49, 10, 0.003}};
  r.computed = SensorCalibration{-0.5f, 0.99885f};
  r.written = r.computed;
  r.read_back = SensorCalibration{std::numeric_limits<float>::quiet_NaN(), -0.0f};
  r.read_back_matches = false;
  r.as_left_error = 0.004;
  r.outcome = JournalOutcome::kFailed;
  r.note = "Команда 3; \"збій\"";
  return r;
}

}  // namespace

TEST(CalibrationJournal, RecordsComeBackBitForBitNaNAndNegativeZeroIncluded) {
  const JournalRecord in = FullRecord();
  const std::optional<JournalRecord> out = ParseJournalLine(JournalLine(in));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->line, 2);
  EXPECT_EQ(out->plate, 26);
  EXPECT_EQ(out->unit, "кПа");
  ASSERT_TRUE(out->as_found && out->read_back && out->written);
  EXPECT_TRUE(out->as_found->SameBits(*in.as_found));
  EXPECT_TRUE(out->read_back->SameBits(*in.read_back));
  EXPECT_TRUE(std::isnan(out->read_back->offset));
  EXPECT_TRUE(std::signbit(out->read_back->slope));
  EXPECT_EQ(out->points.size(), 2u);
  EXPECT_DOUBLE_EQ(out->points[1].received, 100.49);
  EXPECT_EQ(out->outcome, JournalOutcome::kFailed);
  EXPECT_EQ(out->note, in.note);

  JournalRecord direct;
  direct.time = "t";
  const std::optional<JournalRecord> bare = ParseJournalLine(JournalLine(direct));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->line || bare->as_found || bare->read_back_matches);
}

TEST(CalibrationJournal, TornLastLineIsSkippedThenCutOffBeforeTheNextRecord) {
  TempFolder folder;
  const std::string path = JournalPath(folder.path().string());
  std::string error;
  ASSERT_TRUE(AppendJournalRecord(path, FullRecord(), error)) << error;
  {
    std::ofstream torn(path, std::ios::app | std::ios::binary);
    torn << JournalLine(FullRecord()).substr(0, 40);  // a crash in the middle of a write
  }
  size_t skipped = 0;
  EXPECT_EQ(ReadJournal(path, &skipped).size(), 1u);
  EXPECT_EQ(skipped, 1u);
  JournalRecord next = FullRecord();
  next.outcome = JournalOutcome::kRestored;
  ASSERT_TRUE(AppendJournalRecord(path, next, error)) << error;

  const std::vector<JournalRecord> records = ReadJournal(path, &skipped);
  EXPECT_EQ(skipped, 0u);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].outcome, JournalOutcome::kRestored);
  EXPECT_TRUE(ReadJournal(folder.File("missing.jsonl")).empty());
  EXPECT_FALSE(AppendJournalRecord(folder.File("no/such/folder.jsonl"), next, error));
  EXPECT_FALSE(error.empty());
}

TEST(CalibrationJournal, CsvHasTheMarkQuotesTextsAndUsesTheLocalesDecimalMark) {
  const std::string csv = JournalCsv({FullRecord()}, ',');
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(csv.find(";-0,125;1,0001;0;0,51;100;100,49;-0,5;0,99885;не збігається;0,004;"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\"Команда 3; \"\"збій\"\"\"\r\n"), std::string::npos);
}
