// The calibration journal against a writer killed at random moments: every record a kill left
// behind is whole, and the journal stays readable and appendable.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "core/calibration_journal.h"
#include "sim/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

std::uintmax_t FileSize(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace

TEST(JournalKill, TwoHundredKillsLeaveEveryLineWhole) {
  TempFolder folder;
  const std::string path = JournalPath(folder.path().string());
  JournalRecord record;
  record.time = "2026-12-08T11:02:03.456+02:00";
  record.as_found = SensorCalibration{-0.125f, 1.0001f};
  record.points = {{0.0, 0.51, 10, 0.002}, {100.0, 100.49, 10, 0.003}};
  record.note = std::string(600, 'x');  // long enough that a torn write would show

  std::mt19937 random(20261208);
  for (int kill = 0; kill < 200; ++kill) {
    ChildProcess writer;
    ASSERT_TRUE(writer.Fork([&] {
      std::string error;
      for (;;) {
        if (!AppendJournalRecord(path, record, error))
          return 1;
      }
    }));
    // Kill only after this writer has appended once, so that a loaded machine, where the child
    // may not be scheduled before the kill, still sees two hundred writers at work.
    const auto size_before = FileSize(path);
    for (int wait = 0; wait < 5000 && FileSize(path) == size_before; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    writer.Signal(SIGKILL);
    ASSERT_TRUE(writer.WaitExit(std::chrono::seconds(5)));
  }

  size_t skipped = 0;
  const size_t before = ReadJournal(path, &skipped).size();
  EXPECT_GT(before, 200u);
  EXPECT_LE(skipped, 1u);  // at most the line a kill cut short, and only the last
  std::string error;
  ASSERT_TRUE(AppendJournalRecord(path, record, error)) << error;
  EXPECT_EQ(ReadJournal(path).size(), before + 1);
}
