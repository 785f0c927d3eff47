#include "core/ini_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

#include <csignal>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include "comm/win32_api.h"
#endif

namespace fs = std::filesystem;

namespace {
std::optional<std::string> Get(const std::string& bytes, std::string_view section,
                               std::string_view key) {
  return IniDocument(bytes).Get(section, key);
}
std::string Set(std::string bytes, std::string_view section, std::string_view key,
                std::string_view value) {
  IniDocument document(std::move(bytes));
  EXPECT_TRUE(document.Set(section, key, value));
  return document.Bytes();
}
}  // namespace

TEST(IniDocumentRead, NamesIgnoreCaseAndBlanksAroundThem) {
  const std::string file =
      "; settings\r\n"
      "[curr_connect_par]\r\n"
      "  Rate \t=  9600 \t\r\n"
      "PORT=3\r\n"
      "[ SHOW_TASK ]\r\n"
      "interval=250\r\n";
  EXPECT_EQ(Get(file, "CURR_CONNECT_PAR", "rate"), "9600");
  EXPECT_EQ(Get(file, "CURR_CONNECT_PAR", "port"), "3");
  EXPECT_EQ(Get(file, "show_task", "INTERVAL"), "250");
  EXPECT_EQ(Get(file, "CURR_CONNECT_PAR", "interval"), std::nullopt);  // other section
  EXPECT_EQ(Get(file, "SENS_CONNECT_PAR", "port"), std::nullopt);
  EXPECT_EQ(Get(file, "CURR", "rate"), std::nullopt);  // no prefix matching
}

TEST(IniDocumentRead, FirstSectionAndFirstKeyWin) {
  const std::string file =
      "rate=1\n"  // before any section: belongs to none
      "[A]\n"
      "rate=2\n"
      "rate=3\n"
      "[A]\n"
      "rate=4\n"
      "port=5\n";
  EXPECT_EQ(Get(file, "A", "rate"), "2");
  EXPECT_EQ(Get(file, "A", "port"), std::nullopt);  // only in the second [A]
}

TEST(IniDocumentRead, EmptyValuesCommentsQuotesAndOddLines) {
  const std::string file =
      "[A]\n"
      "empty=\n"
      "bare\n"
      ";rate=5\n"
      "  ; port=6\n"
      "q1=\"19200\"\n"
      "q2='7'\n"
      "q3=\"8'\n"
      "q4=\"\n"
      "eq=a=b\n"
      "[B\n"
      "x=1\n";
  EXPECT_EQ(Get(file, "A", "empty"), "");
  EXPECT_EQ(Get(file, "A", "bare"), "");
  EXPECT_EQ(Get(file, "A", "rate"), std::nullopt);
  EXPECT_EQ(Get(file, "A", "port"), std::nullopt);
  EXPECT_EQ(Get(file, "A", "q1"), "19200");
  EXPECT_EQ(Get(file, "A", "q2"), "7");
  EXPECT_EQ(Get(file, "A", "q3"), "\"8'");
  EXPECT_EQ(Get(file, "A", "q4"), "\"");
  EXPECT_EQ(Get(file, "A", "eq"), "a=b");
  EXPECT_EQ(Get(file, "B", "x"), "1");  // a header without its ']' still opens the section
}

TEST(IniDocumentRead, ByteOrderMarkLineEndsAndGarbage) {
  EXPECT_EQ(Get("\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k"), "1");
  EXPECT_EQ(Get("[A]\nk=1", "A", "k"), "1");      // no final line end
  EXPECT_EQ(Get("[A]\r\nk=1\r", "A", "k"), "1");  // cut inside the last line end
  EXPECT_EQ(Get("[A]\n\n\n\r\n  \nk=2\n", "A", "k"), "2");

  std::string garbage;
  for (int i = 0; i < 100000; ++i) {
    garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
  }
  garbage += std::string("\n[A]\nk=3\n", 9);
  garbage.insert(0, std::string(10, '\0'));
  EXPECT_EQ(Get(garbage, "A", "k"), "3");
  EXPECT_EQ(Get(std::string(1 << 20, 'x'), "A", "k"), std::nullopt);  // one long line
  const std::string with_nul("[A]\nk=4\0tail\n", 13);
  EXPECT_EQ(Get(with_nul, "A", "k"), std::string("4\0tail", 6));
}

TEST(IniDocumentWrite, ReplacesAValueInPlaceKeepingEverythingElse) {
  const std::string before =
      "; header comment\r\n"
      "[CURR_CONNECT_PAR]\r\n"
      "conn_type=1\r\n"
      "  rate = 9600   \r\n"
      "\r\n"
      "[OTHER]\r\n"
      "rate=5\r\n";
  EXPECT_EQ(Set(before, "curr_connect_par", "RATE", "19200"),
            "; header comment\r\n"
            "[CURR_CONNECT_PAR]\r\n"
            "conn_type=1\r\n"
            "  rate = 19200\r\n"
            "\r\n"
            "[OTHER]\r\n"
            "rate=5\r\n");
  EXPECT_EQ(Set("[A]\nbare\nz=1\n", "A", "bare", "7"), "[A]\nbare=7\nz=1\n");
  EXPECT_EQ(Set("[A]\nk=1", "A", "k", "22"), "[A]\nk=22");
}

TEST(IniDocumentWrite, AppendsANewKeyAfterTheSectionsLastEntry) {
  EXPECT_EQ(Set("[A]\nk=1\n\n; about B\n[B]\nm=2\n", "A", "n", "3"),
            "[A]\nk=1\nn=3\n\n; about B\n[B]\nm=2\n");
  EXPECT_EQ(Set("[A]\r\n[B]\r\n", "A", "n", "3"), "[A]\r\nn=3\r\n[B]\r\n");
  EXPECT_EQ(Set("[A]\nk=1", "A", "n", "3"), "[A]\nk=1\nn=3\n");
  EXPECT_EQ(Set("[A]", "A", "n", "3"), "[A]\r\nn=3\r\n");
}

TEST(IniDocumentWrite, AppendsANewSectionAtTheEndInTheFilesLineEnds) {
  EXPECT_EQ(Set("", "S", "k", "1"), "[S]\r\nk=1\r\n");
  EXPECT_EQ(Set("[A]\nx=1\n", "S", "k", "1"), "[A]\nx=1\n\n[S]\nk=1\n");
  EXPECT_EQ(Set("[A]\r\nx=1", "S", "k", "1"), "[A]\r\nx=1\r\n\r\n[S]\r\nk=1\r\n");
  EXPECT_EQ(Set("[A]\nx=1\n\n", "S", "k", "1"), "[A]\nx=1\n\n[S]\nk=1\n");
  EXPECT_EQ(Set("\xEF\xBB\xBF", "S", "k", "1"), "\xEF\xBB\xBF[S]\r\nk=1\r\n");
  // A duplicate later section is not the one written to.
  EXPECT_EQ(Set("[A]\nx=1\n[A]\nk=0\n", "A", "k", "1"), "[A]\nx=1\nk=1\n[A]\nk=0\n");
}

TEST(IniDocumentWrite, RefusesNamesAndValuesThatWouldBreakTheFile) {
  IniDocument document("[A]\nk=1\n");
  EXPECT_FALSE(document.Set("A", "k", "1\r\n[B]"));
  EXPECT_FALSE(document.Set("A]", "k", "1"));
  EXPECT_FALSE(document.Set("A", "k=", "1"));
  EXPECT_FALSE(document.Set("A", "", "1"));
  EXPECT_FALSE(document.Set("", "k", "1"));
  EXPECT_FALSE(document.Set("A", " k", "1"));
  EXPECT_FALSE(document.Set("A", ";k", "1"));
  EXPECT_FALSE(document.Set("A", "[k", "1"));
  EXPECT_EQ(document.Bytes(), "[A]\nk=1\n");
}

TEST(IniFile, MissingFileReadsEmptyAndIsNotCreated) {
  TempFolder folder;
  const std::string path = folder.File("none.ini");
  EXPECT_EQ(ReadIniString(path, "A", "k"), std::nullopt);
  EXPECT_EQ(ReadIniString(folder.File("no/such/folder.ini"), "A", "k"), std::nullopt);
  std::string bytes = "junk";
  EXPECT_EQ(ReadIniFile(path, bytes), IniFileState::kMissing);
  EXPECT_EQ(bytes, "");
  EXPECT_TRUE(folder.Entries().empty());
}

TEST(IniFile, WritesThroughAndKeepsTheRestOfTheFileByteForByte) {
  TempFolder folder;
  const std::string path = folder.File("a.ini");
  const std::string original = "; keep me\r\n[A]\r\nk=1\r\n\r\n[B]\r\nz = 9 ; note\r\n";
  WriteBytes(path, original);
  ASSERT_TRUE(WriteIniString(path, "A", "k", "2"));
  EXPECT_EQ(ReadBytes(path), "; keep me\r\n[A]\r\nk=2\r\n\r\n[B]\r\nz = 9 ; note\r\n");
  ASSERT_TRUE(WriteIniString(path, "C", "n", "3"));
  EXPECT_EQ(ReadIniString(path, "C", "n"), "3");
  EXPECT_EQ(ReadIniString(path, "B", "z"), "9 ; note");
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"a.ini"});
}

TEST(IniFile, WritingTheSameValueStillReplacesTheFile) {
  TempFolder folder;
  const std::string path = folder.File("a.ini");
  ASSERT_TRUE(WriteIniString(path, "A", "k", "1"));
#ifndef _WIN32
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(WriteIniString(path, "A", "k", "1"));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file was put in place
#endif
  EXPECT_EQ(ReadBytes(path), "[A]\r\nk=1\r\n");
}

TEST(IniFile, FailedWritesLeaveTheFileAndNoTemporaryFiles) {
  TempFolder folder;
  // A regular file where a folder should be.
  const std::string blocker = folder.File("blocker");
  WriteBytes(blocker, "x");
  std::string reason;
  EXPECT_FALSE(WriteIniString(blocker + "/a.ini", "A", "k", "1", &reason));
  EXPECT_FALSE(reason.empty());
  // A folder where the file should be.
  fs::create_directory(folder.path() / "dir.ini");
  EXPECT_FALSE(WriteIniString(folder.File("dir.ini"), "A", "k", "1", &reason));
  EXPECT_TRUE(fs::is_directory(folder.path() / "dir.ini"));
  // A file too big to be a settings file is neither read nor replaced.
  const std::string big = folder.File("big.ini");
  WriteBytes(big, std::string(kMaxIniFileBytes + 1, ';'));
  EXPECT_EQ(ReadIniString(big, "A", "k"), std::nullopt);
  EXPECT_FALSE(WriteIniString(big, "A", "k", "1", &reason));
  EXPECT_EQ(fs::file_size(big), kMaxIniFileBytes + 1);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"big.ini", "blocker", "dir.ini"}));
}

#ifndef _WIN32
TEST(IniFile, AWriteThatFailsHalfWayLeavesTheOldFile) {
  TempFolder folder;
  const std::string path = folder.File("a.ini");
  const std::string original = "[A]\nk=1\n" + std::string(3000, ';') + "\n";
  WriteBytes(path, original);

  // Let no file grow past 1 KiB, so writing the new copy fails part-way (as on a full disk).
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string reason;
  const bool written = WriteIniString(path, "A", "k", "2", &reason);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous_handler);

  EXPECT_FALSE(written);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"a.ini"});
}

TEST(IniFile, KeepsPermissionsAndWritesThroughASymbolicLink) {
  TempFolder folder;
  const std::string target = folder.File("real.ini");
  WriteBytes(target, "[A]\nk=1\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string link = folder.File("link.ini");
  fs::create_symlink("real.ini", link);
  ASSERT_TRUE(WriteIniString(link, "A", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "[A]\nk=2\n");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(IniFile, ReadOnlyFileOrFolderRefusesTheWrite) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind root";
  }
  TempFolder folder;
  const std::string path = folder.File("a.ini");
  WriteBytes(path, "[A]\nk=1\n");
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_FALSE(WriteIniString(path, "A", "k", "2"));
  EXPECT_EQ(ReadBytes(path), "[A]\nk=1\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WriteIniString(path, "A", "k", "2"));
  fs::permissions(folder.path(), fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(path), "[A]\nk=1\n");
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"a.ini"});
}
#endif

TEST(IniFile, OnlyOurOwnTemporariesOfDeadProcessesAreRemoved) {
  TempFolder folder;
  const std::string path = folder.File("vorlix.ini");
  WriteBytes(path, "[A]\nk=1\n");
#ifdef _WIN32
  const std::string own = std::to_string(GetCurrentProcessId());
#else
  const std::string own = std::to_string(::getpid());
#endif
  // 2^31 - 2 is no process here; our own may still rename its file.
  for (const char* name : {"vorlix.ini.tmp-2147483646-3", "vorlix.ini.tmp-2147483646-12"})
    WriteBytes(folder.File(name), "[A]\nk=");
  WriteBytes(folder.File("vorlix.ini.tmp-" + own + "-4"), "x");
  for (const char* name : {"vorlix.ini.tmp-x-1", "other.ini.tmp-2147483646-1", "vorlix.ini.bak"})
    WriteBytes(folder.File(name), "x");
  EXPECT_EQ(RemoveStaleTemporaries(path), 2);
  EXPECT_EQ(
      folder.Entries(),
      (std::set<std::string>{"vorlix.ini", "vorlix.ini.tmp-" + own + "-4", "vorlix.ini.tmp-x-1",
                             "other.ini.tmp-2147483646-1", "vorlix.ini.bak"}));
  EXPECT_EQ(RemoveStaleTemporaries(folder.File("missing/vorlix.ini")), 0);
}

TEST(IniValues, OnePassAnswersAsTheDocumentDoes) {
  const IniDocument document("k=0\n[a]\nK = 1\nk=2\n[B]\nx='q'\n[A]\nk=3\ny=4\n[b]\n;x=5\nz\n");
  const IniValues values(document);
  for (const auto& [section, key] : std::vector<std::pair<std::string, std::string>>{
           {"A", "k"}, {"a", "y"}, {"b", "X"}, {"B", "z"}, {"C", "k"}, {"", "k"}}) {
    EXPECT_EQ(values.Get(section, key), document.Get(section, key)) << section << "/" << key;
  }
}
