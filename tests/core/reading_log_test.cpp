#include "core/reading_log.h"

#include <gtest/gtest.h>

TEST(ReadingLog, RowsCarryTheSeparatorTheyAreGivenAndQuoteWhatWouldSplitThem) {
  EXPECT_EQ(ReadingLogHeader().rfind("\xEF\xBB\xBF"
                                     "Дата і час;Секунди від початку;",
                                     0),
            0u);
  EXPECT_EQ(ReadingLogHeader().substr(ReadingLogHeader().size() - 2), "\r\n");

  LoggedReading r;
  r.seconds = 1.25;
  r.value = 101.325;
  r.factory_value = -0.5;
  r.unit = "кПа";
  const std::string row = ReadingLogLine(r, 2, ',');
  EXPECT_EQ(row.substr(LogTimeText(r.time).size()), ";1,250;101,33;-0,50;кПа;тиск;\r\n");
  EXPECT_EQ(LogTimeText(r.time).size(), 23u);  // yyyy-mm-dd hh:mm:ss.mmm

  LoggedReading failed;
  failed.channel = 1;
  failed.unit = "°С";
  failed.error = "Немає відповіді; \"21\"";
  EXPECT_EQ(ReadingLogLine(failed, 1, '.').substr(23),
            ";0.000;;;°С;температура;\"Немає відповіді; \"\"21\"\"\"\r\n");
}
