// Saving the settings against a writer killed at random moments: the file is always the old
// settings or the new ones, whole, and the next start leaves no temporary file behind.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "core/rd_wr_ini.h"
#include "sim/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

// Two settings that differ in every group, so each save rewrites every section.
TConnectSettings Variant(bool second) {
  TConnectSettings s;
  s.port = second ? 9 : 3;
  s.rate = second ? 115200 : 9600;
  s.echo = second ? 2 : 1;
  s.adr = second ? 40 : 20;
  s.line_num = second ? 3 : 2;
  s.adr_P = second ? 120 : 110;
  s.sens_pream = second ? 7 : 5;
  s.interval = second ? 4000 : 250;
  return s;
}

}  // namespace

TEST(SettingsKill, ThreeHundredKillsDuringSavesLeaveTheOldFileOrTheNewOne) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  const TConnectSettings variants[2] = {Variant(false), Variant(true)};
  std::string bytes[2];
  for (int i : {0, 1, 0}) {
    TConnectSettings saved = variants[1 - i];
    std::string error;
    ASSERT_TRUE(SaveSettings(path, variants[i], saved, error)) << error;
    bytes[i] = ReadBytes(path);
  }
  ASSERT_NE(bytes[0], bytes[1]);

  std::mt19937 random(20261208);
  int seen[2] = {0, 0};
  int mixed = 0;
  int torn = 0;
  int temporaries_left_by_kills = 0;
  int temporaries_after_start = 0;
  constexpr int kKills = 300;
  for (int kill = 0; kill < kKills; ++kill) {
    ChildProcess writer;
    ASSERT_TRUE(writer.Fork([&] {
      std::string error;
      for (int n = 0;; ++n) {
        TConnectSettings saved = variants[n % 2];
        if (!SaveSettings(path, variants[1 - n % 2], saved, error))
          return 1;
      }
    }));
    std::this_thread::sleep_for(std::chrono::microseconds(300 + random() % 4000));
    writer.Signal(SIGKILL);
    ASSERT_TRUE(writer.WaitExit(std::chrono::seconds(5)));

    const std::string now = ReadBytes(path);
    TConnectSettings loaded;
    const SettingsLoadReport report = LoadSettings(path, loaded);
    if (now == bytes[0] || now == bytes[1]) {
      ++seen[now == bytes[1] ? 1 : 0];
    } else if (loaded == variants[0] || loaded == variants[1]) {
      ++torn;  // the same settings in other bytes: some write was cut short
    } else {
      ++mixed;
    }
    EXPECT_TRUE(report.fallbacks.empty());
    temporaries_left_by_kills += static_cast<int>(folder.Entries().size()) - 1;
    // What the next start does before it reads the file.
    RemoveStaleTemporaries(path);
    temporaries_after_start += static_cast<int>(folder.Entries().size()) - 1;
  }
  std::printf(
      "%d kills: old or new file %d + %d, mixed %d, torn %d; temporary files left by "
      "kills %d, after the next start %d\n",
      kKills, seen[0], seen[1], mixed, torn, temporaries_left_by_kills, temporaries_after_start);
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(temporaries_after_start, 0);
  EXPECT_EQ(seen[0] + seen[1], kKills);
}
