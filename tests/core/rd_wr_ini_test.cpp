#include "core/rd_wr_ini.h"

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "tests/support/temp_folder.h"

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// What a fresh settings file holds after a first save of the defaults, key order included.
const char* const kDefaultsFile =
    "[CURR_CONNECT_PAR]\r\n"
    "conn_type=1\r\n"
    "port=1\r\n"
    "rate=19200\r\n"
    "repeat=1\r\n"
    "wait_time=1000\r\n"
    "time_out=300\r\n"
    "\r\n"
    "[LUTAR_CONNECT_PAR]\r\n"
    "adr=1\r\n"
    "pream=3\r\n"
    "line_num=1\r\n"
    "\r\n"
    "[SENS_CONNECT_PAR]\r\n"
    "adr_P=101\r\n"
    "adr_T=102\r\n"
    "pream=3\r\n"
    "\r\n"
    "[SHOW_TASK]\r\n"
    "P_unit=1\r\n"
    "P_format=2\r\n"
    "T_format=2\r\n"
    "interval=1000\r\n";

TConnectSettings Loaded(const std::string& path) {
  TConnectSettings settings;
  settings.rate = 0;
  settings.write_password.fill('x');
  LoadSettings(path, settings);
  return settings;
}

TConnectSettings LoadedFrom(const TempFolder& folder, const std::string& content) {
  const std::string path = folder.File("vorlix.ini");
  WriteBytes(path, content);
  return Loaded(path);
}

// Identity of the file on disk: a rewrite puts a new file in place.
struct FileStamp {
  std::string bytes;
  fs::file_time_type modified;
  uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  FileStamp stamp{ReadBytes(path), fs::last_write_time(path), 0};
#ifndef _WIN32
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    stamp.inode = info.st_ino;
  }
#endif
  return stamp;
}

}  // namespace

TEST(ParseIniInteger, DecimalDollarAndZeroXForms) {
  EXPECT_EQ(ParseIniInteger("19200"), 19200);
  EXPECT_EQ(ParseIniInteger("-1"), -1);
  EXPECT_EQ(ParseIniInteger("+7"), 7);
  EXPECT_EQ(ParseIniInteger("0x4B00"), 19200);
  EXPECT_EQ(ParseIniInteger("0X4b00"), 19200);
  EXPECT_EQ(ParseIniInteger("$4B00"), 19200);
  EXPECT_EQ(ParseIniInteger("-$10"), -16);
  EXPECT_EQ(ParseIniInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseIniInteger("0x80000000"), INT32_MIN);
  EXPECT_EQ(ParseIniInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseIniInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseIniInteger("00"), 0);
  EXPECT_EQ(ParseIniInteger("0x"), std::nullopt);  // too short for the 0x form, not decimal
  for (const char* bad : {"", "abc", "0x", "$", "2147483648", "-2147483649", "$100000000",
                          "0x1FFFFFFFF", "12abc", "1 2", "0x-5", "-0x10", "1.5", "--1", "+"}) {
    EXPECT_EQ(ParseIniInteger(bad), std::nullopt) << '"' << bad << '"';
  }
}

TEST(LoadSettings, NoFileGivesTheDefaultsAndCreatesNothing) {
  TempFolder folder;
  EXPECT_EQ(Loaded(folder.File("vorlix.ini")), TConnectSettings());
  EXPECT_EQ(Loaded(folder.File("missing/vorlix.ini")), TConnectSettings());
  EXPECT_TRUE(folder.Entries().empty());
}

TEST(LoadSettings, ReadsEveryKeyFromItsSection) {
  TempFolder folder;
  const TConnectSettings s = LoadedFrom(folder,
                                        "[SHOW_TASK]\n"
                                        "interval=500\nT_format=4\nP_format=3\nP_unit=5\n"
                                        "[SENS_CONNECT_PAR]\n"
                                        "pream=7\nadr_T=12\nadr_P=11\n"
                                        "[LUTAR_CONNECT_PAR]\n"
                                        "line_num=3\npream=9\nadr=42\n"
                                        "[CURR_CONNECT_PAR]\n"
                                        "time_out=55\nwait_time=300\nrepeat=5\nrate=57600\n"
                                        "port=12\nconn_type=0\n");
  EXPECT_EQ(s.conn_type, 0);
  EXPECT_EQ(s.port, 12);
  EXPECT_EQ(s.rate, 57600);
  EXPECT_EQ(s.wait_time, 300);
  EXPECT_EQ(s.time_out, 55);
  EXPECT_EQ(s.repeat, 5);
  EXPECT_EQ(s.adr, 42);
  EXPECT_EQ(s.corr_pream, 9);  // "pream" of the corrector section ...
  EXPECT_EQ(s.line_num, 3);
  EXPECT_EQ(s.adr_P, 11);
  EXPECT_EQ(s.adr_T, 12);
  EXPECT_EQ(s.sens_pream, 7);  // ... and of the sensor section are different fields
  EXPECT_EQ(s.P_unit, 5);
  EXPECT_EQ(s.P_format, 3);
  EXPECT_EQ(s.T_format, 4);
  EXPECT_EQ(s.interval, 500);
  EXPECT_EQ(std::string(s.write_password.data(), 12), std::string(12, ' '));
}

TEST(LoadSettings, ValuesAreCutToTheFieldWidthWithoutRangeChecks) {
  TempFolder folder;
  const TConnectSettings s = LoadedFrom(folder,
                                        "[CURR_CONNECT_PAR]\r\nport=257\r\nrate=14400\r\n"
                                        "wait_time=-5\r\n"
                                        "[LUTAR_CONNECT_PAR]\r\nadr=-1\r\n"
                                        "[SHOW_TASK]\r\ninterval=70000\r\nP_unit=300\r\n");
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.rate, 14400);  // not a selectable rate, kept as it is
  EXPECT_EQ(s.wait_time, -5);
  EXPECT_EQ(s.adr, 255);
  EXPECT_EQ(s.interval, 4464);
  EXPECT_EQ(s.P_unit, 44);
}

TEST(LoadSettings, HexadecimalAndUnreadableValues) {
  TempFolder folder;
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=0x4B00\n").rate, 19200);
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=$4B00\n").rate, 19200);
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=9600\n").rate, 9600);
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=fast\n").rate, 19200);
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=\n").rate, 19200);
  EXPECT_EQ(LoadedFrom(folder, "[CURR_CONNECT_PAR]\nrate=99999999999\n").rate, 19200);
  EXPECT_EQ(LoadedFrom(folder, "[curr_connect_par]\nRATE = \"38400\"\n").rate, 38400);
  EXPECT_EQ(LoadedFrom(folder, "\xEF\xBB\xBF[CURR_CONNECT_PAR]\nrate=4800\n").rate, 4800);
  EXPECT_EQ(LoadedFrom(folder, std::string("\0\xFF[garbage\n\n=\n[[]]\n", 18)), TConnectSettings());
}

TEST(SaveSettings, NothingIsWrittenWhileNoGroupDiffers) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  TConnectSettings current = Loaded(path);
  TConnectSettings saved = current;
  std::string error;
  EXPECT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_TRUE(folder.Entries().empty());

  current.interval = 250;  // the display group only
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadBytes(path),
            "[SHOW_TASK]\r\nP_unit=1\r\nP_format=2\r\nT_format=2\r\ninterval=250\r\n");
  EXPECT_EQ(saved, current);
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"vorlix.ini"});
}

TEST(SaveSettings, WritesGroupsInOrderWithTheirKeysInFileOrder) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  TConnectSettings saved;
  saved.conn_type = 0;
  saved.adr = 0;
  saved.adr_P = 0;
  saved.P_unit = 0;
  std::string error;
  const TConnectSettings current;
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadBytes(path), kDefaultsFile);
  EXPECT_EQ(Loaded(path), current);
}

TEST(SaveSettings, WritesNumbersInTheirFieldsSignedness) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  TConnectSettings current;
  current.adr = 255;
  current.interval = 65535;
  current.wait_time = -1;
  TConnectSettings saved;
  saved.conn_type = 0;
  std::string error;
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadIniString(path, "LUTAR_CONNECT_PAR", "adr"), "255");
  EXPECT_EQ(ReadIniString(path, "SHOW_TASK", "interval"), "65535");
  EXPECT_EQ(ReadIniString(path, "CURR_CONNECT_PAR", "wait_time"), "-1");
  EXPECT_EQ(Loaded(path), current);
}

TEST(SaveSettings, AcceptingUnchangedValuesLeavesTheFileUntouched) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  const std::string hand_made = "; by hand\n[SHOW_TASK]\ninterval = 0x1F4\n[MINE]\nx=1\n";
  WriteBytes(path, hand_made);
  TConnectSettings current = Loaded(path);
  TConnectSettings saved = current;
  const FileStamp before = StampOf(path);
  std::string error;
  EXPECT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(StampOf(path), before);
  EXPECT_EQ(ReadBytes(path), hand_made);
}

TEST(SaveSettings, APasswordOnlyChangeRewritesTheCorrectorKeysButNeverThePassword) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  WriteBytes(path, kDefaultsFile);
  TConnectSettings current = Loaded(path);
  TConnectSettings saved = current;
  current.write_password = {'s', 'e', 'c', 'r', 'e', 't', ' ', ' ', ' ', ' ', ' ', ' '};
  current.user_code = {'4', '3', '2', '1'};
  std::string error;
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(saved, current);
  EXPECT_EQ(ReadBytes(path), kDefaultsFile);  // same values written again
  const std::string text = ReadBytes(path);
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("4321"), std::string::npos);

  // The corrector section really was written: a hand edit of it is overwritten, one of the
  // link section is not.
  WriteBytes(path, "[CURR_CONNECT_PAR]\r\nport=9\r\n[LUTAR_CONNECT_PAR]\r\nadr=77\r\n");
  current.user_code = {'1', ' ', ' ', ' '};
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadBytes(path),
            "[CURR_CONNECT_PAR]\r\nport=9\r\n[LUTAR_CONNECT_PAR]\r\nadr=1\r\npream=3\r\n"
            "line_num=1\r\n");
}

TEST(SaveSettings, KeepsCommentsOtherSectionsAndLineEnds) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  WriteBytes(path,
             "; site notes\n"
             "[CURR_CONNECT_PAR]\n"
             "; office PC\n"
             "port = 4\n"
             "rate=9600\n"
             "[TOOLS]\n"
             "editor=vi\n");
  TConnectSettings current = Loaded(path);
  TConnectSettings saved = current;
  current.rate = 38400;
  std::string error;
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadBytes(path),
            "; site notes\n"
            "[CURR_CONNECT_PAR]\n"
            "; office PC\n"
            "port = 4\n"
            "rate=38400\n"
            "conn_type=1\n"
            "repeat=1\n"
            "wait_time=1000\n"
            "time_out=300\n"
            "[TOOLS]\n"
            "editor=vi\n");
  EXPECT_EQ(Loaded(path), current);
}

TEST(SaveSettings, AFailedWriteReportsThePathAndKeepsLaterGroupsUnsaved) {
  TempFolder folder;
  const std::string blocker = folder.File("INI");
  WriteBytes(blocker, "a file where the settings folder should be");
  const std::string path = blocker + "/vorlix.ini";

  TConnectSettings current;
  TConnectSettings saved;
  current.port = 3;      // link
  current.interval = 5;  // display
  const TConnectSettings saved_before = saved;
  std::string error;
  EXPECT_FALSE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(error, "Unable to write to " + path);
  EXPECT_EQ(saved, saved_before);

  // Once the file can be written, the next acceptance saves both groups.
  fs::remove(blocker);
  fs::create_directory(blocker);
  error.clear();
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(saved, current);
  EXPECT_EQ(Loaded(path), current);
}

TEST(SaveSettings, AFailureInALaterGroupKeepsTheEarlierGroupsSaved) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  TConnectSettings current;
  TConnectSettings saved;
  current.port = 3;
  current.adr_P = 7;
  // The link group is written; then the file is swapped for a folder before the sensor group.
  std::string error;
  TConnectSettings link_only = saved;
  link_only.port = 3;
  ASSERT_TRUE(SaveSettings(path, link_only, saved, error));
  fs::remove(path);
  fs::create_directory(path);
  EXPECT_FALSE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(saved.port, 3);     // already saved before, unchanged by the failure
  EXPECT_EQ(saved.adr_P, 101);  // not saved
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"vorlix.ini"});
}

TEST(LoadSettings, NamesTheValuesThatFellBackOnceAndRefusesAnOversizedFile) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  WriteBytes(path,
             "[CURR_CONNECT_PAR]\nrate=fast\nport=257\nwait_time=99999999999\n"
             "[SHOW_TASK]\ninterval=\n");
  TConnectSettings s;
  SettingsLoadReport report = LoadSettings(path, s);
  EXPECT_TRUE(report.file_read);
  EXPECT_EQ(report.fallbacks, (std::vector<std::string>{"CURR_CONNECT_PAR/rate=fast",
                                                        "CURR_CONNECT_PAR/wait_time=99999999999",
                                                        "SHOW_TASK/interval="}));
  EXPECT_EQ(SettingsLoadNotice(report, path),
            "У файлі налаштувань " + path +
                " непридатні значення замінено типовими: CURR_CONNECT_PAR/rate=fast, "
                "CURR_CONNECT_PAR/wait_time=99999999999, SHOW_TASK/interval=");

  // 15 MB of empty lines: refused at once, the defaults taken, the user told.
  WriteBytes(path, "[CURR_CONNECT_PAR]\nport=9\n" + std::string(15u << 20, '\n'));
  s.port = 3;
  report = LoadSettings(path, s);
  EXPECT_TRUE(report.too_large);
  EXPECT_EQ(s, TConnectSettings());
  EXPECT_NE(SettingsLoadNotice(report, path).find("завеликий"), std::string::npos);

  EXPECT_EQ(SettingsLoadNotice(LoadSettings(folder.File("none.ini"), s), "none.ini"), "");
}

TEST(SaveSettings, EveryChangedGroupGoesInOneReplaceOrNotAtAll) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  TConnectSettings saved;
  TConnectSettings current;
  current.port = 3;
  current.adr_P = 7;
  current.interval = 500;
  current.echo = 2;
  std::string error;
  ASSERT_TRUE(SaveSettings(path, current, saved, error));
  EXPECT_EQ(ReadBytes(path),
            "[CURR_CONNECT_PAR]\r\nconn_type=1\r\nport=3\r\nrate=19200\r\nrepeat=1\r\n"
            "wait_time=1000\r\ntime_out=300\r\necho=2\r\n\r\n"
            "[SENS_CONNECT_PAR]\r\nadr_P=7\r\nadr_T=102\r\npream=3\r\n\r\n"
            "[SHOW_TASK]\r\nP_unit=1\r\nP_format=2\r\nT_format=2\r\ninterval=500\r\n");
  EXPECT_EQ(Loaded(path).echo, 2);

  // A file too large to be settings is neither read nor replaced; the reason says so.
  const std::string big = std::string(kMaxIniFileBytes + 1, ';');
  WriteBytes(path, big);
  current.port = 4;
  std::string reason;
  EXPECT_FALSE(SaveSettings(path, current, saved, error, &reason));
  EXPECT_EQ(error, "Unable to write to " + path);
  EXPECT_EQ(reason, "файл завеликий для файлу налаштувань");
  EXPECT_EQ(saved.port, 3);
  EXPECT_EQ(ReadBytes(path).size(), big.size());
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"vorlix.ini"});
}

TEST(SaveSettings, AFirstSaveElsewhereStartsFromTheFileTheSettingsWereReadFrom) {
  TempFolder folder;
  const std::string base = folder.File("beside.ini");
  WriteBytes(base, "; mine\n[SHOW_TASK]\ninterval=700\n");
  const std::string path = folder.File("users.ini");
  TConnectSettings saved;
  LoadSettings(base, saved);
  TConnectSettings current = saved;
  current.port = 5;
  std::string error;
  ASSERT_TRUE(SaveSettings(path, current, saved, error, nullptr, base));
  EXPECT_EQ(Loaded(path), current);
  EXPECT_EQ(ReadBytes(path).rfind("; mine\n[SHOW_TASK]\ninterval=700\n", 0), 0u);
  EXPECT_EQ(ReadBytes(base), "; mine\n[SHOW_TASK]\ninterval=700\n");
}
