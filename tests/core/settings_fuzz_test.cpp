// Random bytes as a settings file and random text to the parsers: defaults or a clean refusal,
// never a crash (run under the asan preset for out-of-bounds access).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "comm/code_page.h"
#include "core/ini_file.h"
#include "core/number_format.h"
#include "core/rd_wr_ini.h"
#include "core/suplfunc.h"

namespace {

std::string RandomText(std::mt19937& random, size_t max_length) {
  // Mostly characters that matter to the parsers, now and then any byte.
  static const std::string kAlphabet = "[]=;\r\n \t0123456789xX$-+.eE,abcCURR_CONNECT_PARport";
  std::uniform_int_distribution<size_t> length(0, max_length);
  std::uniform_int_distribution<int> pick(0, 99);
  std::string text(length(random), ' ');
  for (char& c : text) {
    c = pick(random) < 85 ? kAlphabet[static_cast<size_t>(pick(random)) % kAlphabet.size()]
                          : static_cast<char>(pick(random) * 2 + 50);
  }
  return text;
}

}  // namespace

TEST(SettingsFuzz, RandomFilesLoadWithoutCrashing) {
  const auto path = std::filesystem::temp_directory_path() / "vorlix-fuzz.ini";
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) {
    {
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      file << "[CURR_CONNECT_PAR]\r\n" << RandomText(random, 2000);
    }
    TConnectSettings settings;
    LoadSettings(path.string(), settings);
    // Whatever the file held, every key was read into its field's width; a rewrite of the
    // document keeps the bytes it does not own.
    IniDocument document(RandomText(random, 500));
    const std::string before = document.Bytes();
    document.Set("SHOW_TASK", "interval", "1000");
    EXPECT_EQ(document.Get("show_task", "INTERVAL").value_or(""), "1000") << before;
  }
  std::filesystem::remove(path);
}

TEST(SettingsFuzz, ParsersRefuseRandomTextCleanly) {
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    const std::string text = RandomText(random, 40);
    (void)ParseIniInteger(text);
    (void)ParseInt32(text);
    const auto value = ParseFloat(text);
    if (value) {
      EXPECT_FALSE(FormatFixed(*value, i % 7).empty());
    }
    std::u16string wide(text.begin(), text.end());
    (void)FloatKeyFilter(wide, i % 50 - 5, static_cast<char16_t>(text.empty() ? '1' : text[0]));
    (void)Utf8ToCp1251(text);
  }
}
