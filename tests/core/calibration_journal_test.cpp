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
  // Points are floats' values: the same float comes back.
  EXPECT_EQ(static_cast<float>(out->points[1].received), 100.49f);
  EXPECT_EQ(out->outcome, JournalOutcome::kFailed);
  EXPECT_EQ(out->note, in.note);

  JournalRecord direct;
  direct.time = "t";
  const std::optional<JournalRecord> bare = ParseJournalLine(JournalLine(direct));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->line || bare->as_found || bare->read_back_matches);
}

TEST(CalibrationJournal, NumbersAreWrittenAsTypedAndOldLinesStillRead) {
  JournalRecord r = FullRecord();
  r.points = {{101.325f, 101.33f, 10, 0.0021f}, {0.0009f, 0.00009f, 0, 0.0f}};
  r.as_found = SensorCalibration{0.0009f, 1.0001f};
  r.read_back.reset();
  r.as_left_error = 0.00009;
  const std::string line = JournalLine(r);
  EXPECT_NE(line.find(R"("applied":101.325,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("deviation":0.0021,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("received":0.00009})"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("as_found":{"offset":0.0009,"slope":1.0001,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("as_left_error":0.00009,)"), std::string::npos) << line;
  EXPECT_EQ(line.find("e-"), std::string::npos) << line;

  const std::optional<JournalRecord> back = ParseJournalLine(line);
  ASSERT_TRUE(back && back->points.size() == 2);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back->points[i].applied, r.points[i].applied);
    EXPECT_EQ(back->points[i].received, r.points[i].received);
    EXPECT_EQ(back->points[i].deviation, r.points[i].deviation);
  }

  const std::string csv = JournalCsv({r}, ',');
  EXPECT_NE(csv.find(";0,0009;1,0001;101,325;101,33;0,0009;0,00009;"), std::string::npos) << csv;
  EXPECT_NE(csv.find(";0,00009;"), std::string::npos) << csv;

  // A line written with a double's digits, as before, gives the same floats.
  const std::string old_line =
      R"({"as_found":{"offset":0.0003,"slope":1.0,"words":[18350,14749,0,16256]},)"
      R"("outcome":"written","points":[{"applied":101.32499694824219,"deviation":0.0,)"
      R"("readings":0,"received":9.000000136438757e-05}],"time":"t","unit":"kPa"})";
  const std::optional<JournalRecord> old = ParseJournalLine(old_line);
  ASSERT_TRUE(old && old->points.size() == 1 && old->as_found);
  EXPECT_EQ(old->points[0].applied, static_cast<double>(101.325f));
  EXPECT_EQ(old->points[0].received, static_cast<double>(0.00009f));
  EXPECT_EQ(old->as_found->Words(), (std::array<uint16_t, 4>{18350, 14749, 0, 16256}));
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
