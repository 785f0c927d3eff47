// The readings log against a logging program killed at random moments: every complete line is
// a whole row, the only damage is a row cut short where a kill struck, and the next session
// goes on on a line of its own.

#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "core/reading_log.h"
#include "sim/child_process.h"
#include "tests/support/temp_folder.h"

TEST(ReadingLogKill, FiftyKillsLeaveEveryCompleteLineWhole) {
  TempFolder folder;
  const std::string path = folder.File("покази.csv");
  LogReading reading;
  reading.when = std::chrono::system_clock::now();
  reading.seconds = 12.5;
  reading.reported = 101.325;
  reading.factory = 101.3;
  reading.unit = "мм рт.ст.";
  reading.channel = "Тиск";
  reading.error = std::string(300, 'x');  // long enough that a torn write would show
  const std::string row = ReadingLogRow(reading, ',');

  std::mt19937 random(20261208);
  constexpr int kKills = 50;
  for (int kill = 0; kill < kKills; ++kill) {
    ChildProcess writer;
    ASSERT_TRUE(writer.Fork([&] {
      ReadingLog log;
      std::string error;
      if (!log.Open(path, ',', error))
        return 1;
      for (size_t queued = 1;; ++queued) {
        log.Append(reading);
        // As fast as the disk takes them, without piling up in memory.
        while (log.rows_written() + 64 < queued)
          std::this_thread::yield();
      }
    }));
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 4000));
    writer.Signal(SIGKILL);
    ASSERT_TRUE(writer.WaitExit(std::chrono::seconds(5)));
  }

  std::ifstream in(path, std::ios::binary);
  const std::string all(std::istreambuf_iterator<char>(in), {});
  const std::string head = std::string(kUtf8ByteOrderMark) + ReadingLogHeader();
  ASSERT_EQ(all.rfind(head, 0), 0u);
  std::istringstream lines(all.substr(head.size()));
  std::string line;
  int whole = 0;
  int torn = 0;
  while (std::getline(lines, line)) {
    if (lines.eof())
      break;  // the last line has no break: the last kill may have cut it
    line += '\n';
    if (line == row) {
      ++whole;
    } else {
      // A row cut short, closed by the next session's line break.
      EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
      EXPECT_EQ(row.rfind(line.substr(0, line.size() - 2), 0), 0u) << line;
      ++torn;
    }
  }
  EXPECT_GT(whole, kKills);
  EXPECT_LT(torn, kKills);
}
