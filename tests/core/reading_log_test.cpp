#include "core/reading_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace {

std::string Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

LogReading Good(double seconds, double reported, double factory) {
  LogReading r;
  r.when = std::chrono::system_clock::now();
  r.seconds = seconds;
  r.reported = reported;
  r.factory = factory;
  r.unit = "мм рт.ст.";
  r.channel = "Тиск";
  return r;
}

// Everything after the date and time of a row.
std::string Fields(const std::string& row) {
  return row.substr(row.find(';'));
}

}  // namespace

TEST(ReadingLog, RowsCarryEveryDigitWithTheChosenDecimalMarkAndQuoteWhatNeedsIt) {
  const LogReading good = Good(1.25, 750.061462, -0.5);
  EXPECT_EQ(Fields(ReadingLogRow(good, '.')), ";1.250;750.06146;-0.5;мм рт.ст.;Тиск;\r\n");
  EXPECT_EQ(Fields(ReadingLogRow(good, ',')), ";1,250;750,06146;-0,5;мм рт.ст.;Тиск;\r\n");
  // Date and time to the millisecond.
  const std::string row = ReadingLogRow(good, '.');
  ASSERT_GE(row.find(';'), 23u);
  EXPECT_EQ(row[4], '-');
  EXPECT_EQ(row[19], '.');

  // A float's own digits, in plain decimal for ordinary magnitudes.
  EXPECT_EQ(Fields(ReadingLogRow(Good(3.0, 101.325f, 0.0009f), ',')),
            ";3,000;101,325;0,0009;мм рт.ст.;Тиск;\r\n");
  EXPECT_EQ(Fields(ReadingLogRow(Good(4.0, -3.4e38f, 1e-45f), '.')),
            ";4.000;-3.4e+38;1e-45;мм рт.ст.;Тиск;\r\n");

  LogReading failed = Good(2.0, 0, 0);
  failed.reported.reset();
  failed.factory.reset();
  failed.error = "Команда 3. Пристрій не відповідає;\r\"так\"";
  EXPECT_EQ(Fields(ReadingLogRow(failed, ',')),
            ";2,000;;;мм рт.ст.;Тиск;\"Команда 3. Пристрій не відповідає; \"\"так\"\"\"\r\n");
}

TEST(ReadingLog, NewFileGetsMarkAndHeaderOnceAndATornRowEndsItsOwnLine) {
  TempFolder folder;
  const std::filesystem::path path = folder.path() / "покази.csv";
  std::string error;
  {
    ReadingLog log;
    ASSERT_TRUE(log.Open(path.string(), '.', error)) << error;
    log.Append(Good(0.0, 1.0, 1.0));
    log.Append(Good(0.05, 2.0, 2.0));
    log.Close();
    EXPECT_EQ(log.rows_written(), 2u);
    EXPECT_TRUE(log.error().empty());
  }
  const std::string first = Contents(path);
  EXPECT_EQ(first.rfind(std::string(kUtf8ByteOrderMark) + ReadingLogHeader(), 0), 0u);

  // A row cut short, as a killed writer leaves it, then a second session.
  { std::ofstream(path, std::ios::binary | std::ios::app) << "2026-12-08 10:00"; }
  ReadingLog log;
  ASSERT_TRUE(log.Open(path.string(), '.', error)) << error;
  log.Append(Good(0.0, 3.0, 3.0));
  log.Close();
  const std::string all = Contents(path);
  EXPECT_EQ(all.find(ReadingLogHeader()), all.rfind(ReadingLogHeader()));
  std::istringstream lines(all);
  std::string line;
  int count = 0;
  while (std::getline(lines, line))
    ++count;
  EXPECT_EQ(count, 5);  // header, two rows, the torn one, the new row
  EXPECT_NE(all.find("2026-12-08 10:00\r\n"), std::string::npos);

  ReadingLog nowhere;
  EXPECT_FALSE(nowhere.Open((folder.path() / "немає" / "x.csv").string(), '.', error));
  EXPECT_FALSE(error.empty());
}

TEST(ReadingLog, OfferedNameSaysWhatWasLoggedAndAnExtensionIsAddedOnlyWhereMissing) {
  const auto when = std::chrono::system_clock::now();
  const std::string stamp = LogTimeText(when).substr(0, 10);  // the date, as the name has it
  const std::string through = ReadingLogFileName(0, 2, 101, when);
  EXPECT_EQ(through.rfind("Тиск_нитка2_давач101_" + stamp + "_", 0), 0u) << through;
  EXPECT_EQ(through.size(), std::string("Тиск_нитка2_давач101_").size() + 19 + 4);
  EXPECT_EQ(through.find(':'), std::string::npos);
  EXPECT_EQ(through.substr(through.size() - 4), ".csv");
  EXPECT_EQ(ReadingLogFileName(1, 0, 102, when).rfind("Температура_давач102_", 0), 0u);

  EXPECT_EQ(WithCsvExtension("/home/u/покази"), "/home/u/покази.csv");
  EXPECT_EQ(WithCsvExtension("/home/u/покази.csv"), "/home/u/покази.csv");
  EXPECT_EQ(WithCsvExtension("/home/u/покази.txt"), "/home/u/покази.txt");
  EXPECT_EQ(WithCsvExtension("/home/u/покази."), "/home/u/покази.csv");
  EXPECT_EQ(WithCsvExtension("/home/u.d/покази"), "/home/u.d/покази.csv");
  EXPECT_EQ(WithCsvExtension("C:\\Дані\\v1.2\\покази"), "C:\\Дані\\v1.2\\покази.csv");
  EXPECT_EQ(WithCsvExtension("/home/u/.покази"), "/home/u/.покази.csv");
}
