#include "core/settings_location.h"

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "tests/support/temp_folder.h"

#include <filesystem>
#include <map>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
EnvironmentLookup FakeEnvironment(std::map<std::string, std::string> values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    const auto found = values.find(name);
    if (found == values.end()) {
      return std::nullopt;
    }
    return found->second;
  };
}
}  // namespace

TEST(SettingsLocation, TheExecutableIsFound) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(fs::is_regular_file(PathFromUtf8(path)));
  EXPECT_EQ(ExecutableFolder(), Utf8FromPath(PathFromUtf8(path).parent_path()));
}

TEST(SettingsLocation, IniFolderBesideTheExecutableIsCreatedOneLevel) {
  TempFolder exe;
  const auto environment = FakeEnvironment({{"HOME", exe.File("home")}});
  const std::string folder = ChooseSettingsFolder(Utf8FromPath(exe.path()), environment);
  EXPECT_EQ(folder, exe.File("INI"));
  EXPECT_TRUE(fs::is_directory(exe.path() / "INI"));
  EXPECT_EQ(MakeIniPath(folder), Utf8FromPath(exe.path() / "INI" / "vorlix.ini"));
  EXPECT_EQ(exe.Entries(), std::set<std::string>{"INI"});  // no probe left, no home made
  EXPECT_TRUE(fs::is_empty(exe.path() / "INI"));
  // An existing folder is used as it is.
  EXPECT_EQ(ChooseSettingsFolder(Utf8FromPath(exe.path()), environment), folder);
}

TEST(SettingsLocation, FallsBackToTheUserConfigurationFolder) {
  TempFolder place;
  // The executable's "folder" is a file, so no INI folder can be made beside it.
  const std::string not_a_folder = place.File("exe-folder");
  WriteBytes(not_a_folder, "");

  const std::string config = place.File("config");
  EXPECT_EQ(ChooseSettingsFolder(not_a_folder, FakeEnvironment({{"XDG_CONFIG_HOME", config},
                                                                {"HOME", place.File("home")}})),
            Utf8FromPath(fs::path(config) / "vorlix" / "INI"));
  EXPECT_TRUE(fs::is_directory(fs::path(config) / "vorlix" / "INI"));

  // A relative XDG_CONFIG_HOME does not count; HOME/.config is next.
  EXPECT_EQ(
      ChooseSettingsFolder(not_a_folder, FakeEnvironment({{"XDG_CONFIG_HOME", "relative/config"},
                                                          {"HOME", place.File("home")}})),
      Utf8FromPath(fs::path(place.File("home")) / ".config" / "vorlix" / "INI"));
  EXPECT_FALSE(fs::exists("relative/config"));

#ifndef _WIN32
  if (::geteuid() != 0) {  // an installed executable: its folder exists but is read-only
    const fs::path installed = place.path() / "installed";
    fs::create_directory(installed);
    fs::permissions(installed, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(ChooseSettingsFolder(Utf8FromPath(installed),
                                   FakeEnvironment({{"XDG_CONFIG_HOME", config}})),
              Utf8FromPath(fs::path(config) / "vorlix" / "INI"));
    EXPECT_FALSE(fs::exists(installed / "INI"));
    fs::permissions(installed, fs::perms::owner_all);
  }
#endif
}

TEST(SettingsLocation, AnInstalledCopyKeepsItsSettingsInTheUsersFolder) {
  TempFolder place;
  const fs::path installed = place.path() / "Programs" / "vorlix";
  fs::create_directories(installed);
  WriteBytes(Utf8FromPath(installed / "vorlix.installed"), "");
  const std::string appdata = place.File("AppData");
  EXPECT_EQ(ChooseSettingsFolder(Utf8FromPath(installed), FakeEnvironment({{"APPDATA", appdata}})),
            Utf8FromPath(fs::path(appdata) / "vorlix" / "INI"));
  EXPECT_FALSE(fs::exists(installed / "INI"));
  // With no user folder to write, the folder beside it is still the answer.
  EXPECT_EQ(ChooseSettingsFolder(Utf8FromPath(installed), FakeEnvironment({})),
            Utf8FromPath(installed / "INI"));
}

TEST(SettingsLocation, WithNowhereToWriteTheFolderBesideTheExecutableIsAnswered) {
  TempFolder place;
  const std::string not_a_folder = place.File("exe-folder");
  WriteBytes(not_a_folder, "");
  const std::string blocked_home = place.File("home-file");
  WriteBytes(blocked_home, "");
  EXPECT_EQ(ChooseSettingsFolder(not_a_folder, FakeEnvironment({{"HOME", blocked_home}})),
            Utf8FromPath(fs::path(not_a_folder) / "INI"));
  EXPECT_EQ(ChooseSettingsFolder(not_a_folder, FakeEnvironment({})),
            Utf8FromPath(fs::path(not_a_folder) / "INI"));
}

TEST(SettingsLocation, WritabilityIsProbed) {
  TempFolder place;
  EXPECT_TRUE(IsWritableFolder(Utf8FromPath(place.path())));
  EXPECT_TRUE(place.Entries().empty());
  EXPECT_FALSE(IsWritableFolder(place.File("missing")));
  WriteBytes(place.File("file"), "");
  EXPECT_FALSE(IsWritableFolder(place.File("file")));
#ifndef _WIN32
  if (::geteuid() != 0) {
    fs::create_directory(place.path() / "ro");
    fs::permissions(place.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(IsWritableFolder(place.File("ro")));
    fs::permissions(place.path() / "ro", fs::perms::owner_all);
  }
#endif
}

TEST(SettingsLocation, AFileBesideAnExecutableThatCannotWriteIsReadUntilTheUsersCopyExists) {
  TempFolder place;
  const fs::path exe = place.path() / "installed";
  fs::create_directories(exe / "INI");
  WriteBytes(Utf8FromPath(exe / "INI" / "vorlix.ini"), "[CURR_CONNECT_PAR]\nport=7\n");
  const std::string config = place.File("config");
  const auto environment = FakeEnvironment({{"XDG_CONFIG_HOME", config}});
  // Only the folder beside the executable refuses writing, as an installed one does.
  const FolderProbe writable = [&](const std::string& folder) {
    return folder.find("installed") == std::string::npos && IsWritableFolder(folder);
  };
  const std::string users = Utf8FromPath(fs::path(config) / "vorlix" / "INI" / "vorlix.ini");

  SettingsLocation location = LocateSettings(Utf8FromPath(exe), environment, writable);
  EXPECT_EQ(location.save_path, users);
  EXPECT_EQ(location.read_path, Utf8FromPath(exe / "INI" / "vorlix.ini"));

  WriteBytes(users, "[CURR_CONNECT_PAR]\nport=8\n");
  location = LocateSettings(Utf8FromPath(exe), environment, writable);
  EXPECT_EQ(location.read_path, users);

  // Writable beside the executable: read and saved there.
  location = LocateSettings(Utf8FromPath(exe), environment);
  EXPECT_EQ(location.read_path, Utf8FromPath(exe / "INI" / "vorlix.ini"));
  EXPECT_EQ(location.save_path, location.read_path);
}
