#include "cli/typed_numbers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cli/journal_text.h"

TEST(TypedNumbers, ADecimalCommaIsAFullStopAndNothingElseChanges) {
  EXPECT_EQ(ParseTypedNumber("0,5"), 0.5);
  EXPECT_EQ(ParseTypedNumber("-101,325"), -101.325);
  EXPECT_EQ(ParseTypedNumber(",5"), 0.5);
  EXPECT_EQ(ParseTypedNumber("1,5e-3"), 1.5e-3);
  EXPECT_EQ(ParseTypedNumber("101.325"), 101.325);
  for (const char* bad : {"1,5,0", "1,5.0", "1.5,", ",", "1 ,5", "0x1,5", "1,5x", ""})
    EXPECT_FALSE(ParseTypedNumber(bad)) << bad;

  EXPECT_EQ(CalibrationNumber("0,0009"), 0.0009f);
  EXPECT_TRUE(std::isinf(*CalibrationNumber("-INF")));
  EXPECT_TRUE(std::isnan(*CalibrationNumber("NaN")));
  EXPECT_FALSE(CalibrationNumber("1.0l1"));
}

TEST(TypedNumbers, UnitNamesInAnyCase) {
  EXPECT_EQ(PressureUnitIndex("kpa"), 1);
  EXPECT_EQ(PressureUnitIndex("mpa"), 2);
  EXPECT_EQ(PressureUnitIndex("MBAR"), 4);
  EXPECT_EQ(PressureUnitIndex("KGF/M2"), 6);
  EXPECT_EQ(PressureUnitIndex("кПа"), 1);
  EXPECT_EQ(PressureUnitIndex("3"), 3);
  EXPECT_FALSE(PressureUnitIndex("psi"));
  EXPECT_FALSE(PressureUnitIndex("7"));
}

TEST(JournalText, ARecordReadsAsFoundPointsWrittenReadBackAndOutcome) {
  JournalRecord r;
  r.time = "2026-12-08T11:02:03.456+02:00";
  r.through_corrector = true;
  r.port = 3;
  r.corrector_address = 1;
  r.plate = 26;
  r.line = 2;
  r.sensor_address = 101;
  r.unit = "кПа";
  r.as_found = SensorCalibration{-0.125f, 1.0f};
  r.points = {{101.325f, 101.33f, 10, 0.0021f}, {200.0f, 200.5f, 0, 0.0f}};
  r.computed = SensorCalibration{0.0009f, 0.99885f};
  r.written = r.computed;
  r.read_back = r.computed;
  r.read_back_matches = true;
  r.as_left_error = 0.004f;
  r.outcome = JournalOutcome::kWritten;
  const std::string text = JournalRecordText(r, 4);
  for (const char* line :
       {"record 4: 08.12.2026 11:02:03\n", "outcome: written (записано)\n",
        "connection: COM3, through the corrector 1, plate 26, line 2; sensor 101, pressure\n",
        "as found: offset -0.1250000, slope 1.0000000 (registers 0000 BE00 0000 3F80)\n",
        "point 1: applied 101.325, received 101.33 кПа (mean of 10 readings, deviation 0.0021)\n",
        "point 2: applied 200, received 200.5 кПа (typed)\n",
        "written: offset 0.0009000, slope 0.9988500", "read back: offset 0.0009000",
        " - matches bit for bit\n", "error at the applied point after the write: 0.004 кПа\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }

  JournalRecord refused;
  refused.time = "t";
  refused.outcome = JournalOutcome::kRefused;
  const std::string bare = JournalRecordText(refused, 1);
  EXPECT_NE(bare.find("as found: not read\n"), std::string::npos) << bare;
  EXPECT_NE(bare.find("written: nothing\n"), std::string::npos) << bare;
  EXPECT_EQ(bare.find("read back"), std::string::npos) << bare;

  EXPECT_EQ(CalibrationColumn(r.as_found), "-0.125 1");
  EXPECT_EQ(CalibrationColumn(std::nullopt), "-");
  EXPECT_EQ(CalibrationColumnJson(r.written).dump(), R"({"offset":0.0009,"slope":0.99885})");
}
