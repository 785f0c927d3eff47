#include "core/settings_location.h"

#include "core/ini_file.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "INI";
constexpr const char* kFileName = "vorlix.ini";
constexpr const char* kApplicationName = "vorlix";
// Left beside the executable by the Windows installer. Its folder can be written by the user
// who installed it, but settings kept there would go with the next uninstall.
constexpr const char* kInstalledMarker = "vorlix.installed";

}  // namespace

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  return path.empty() ? std::string() : Utf8FromPath(PathFromUtf8(path).parent_path());
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    return std::nullopt;
  }
  return std::string(value);
}

bool IsWritableFolder(const std::string& folder) try {
  static std::atomic<unsigned> counter{0};
  const fs::path base = PathFromUtf8(folder);
  std::error_code error;
  if (!fs::is_directory(base, error)) {
    return false;
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    const fs::path probe = base / (".write-probe-" + std::to_string(counter++));
    if (fs::exists(fs::symlink_status(probe, error))) {
      continue;
    }
    bool created = false;
    {
      std::ofstream out(probe, std::ios::binary);
      created = static_cast<bool>(out);
    }
    if (!created) {
      return false;
    }
    return fs::remove(probe, error) && !error;
  }
  return false;
} catch (const std::exception&) {
  return false;
}

namespace {

// The folder, made if missing (with its parents when `with_parents`), if it can be written.
bool Usable(const fs::path& folder, bool with_parents, const FolderProbe& writable) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    if (with_parents) {
      fs::create_directories(folder, error);
    } else {
      fs::create_directory(folder, error);
    }
  }
  return writable(Utf8FromPath(folder));
}

std::optional<fs::path> AbsoluteFromEnvironment(const EnvironmentLookup& environment,
                                                const std::string& name) {
  const std::optional<std::string> value = environment(name);
  if (!value || value->empty()) {
    return std::nullopt;
  }
  fs::path path = PathFromUtf8(*value);
  if (!path.is_absolute()) {
    return std::nullopt;
  }
  return path;
}

}  // namespace

std::string ChooseSettingsFolder(const std::string& exe_folder,
                                 const EnvironmentLookup& environment,
                                 const FolderProbe& writable) try {
  std::optional<fs::path> beside_executable;
  if (!exe_folder.empty()) {
    beside_executable = PathFromUtf8(exe_folder) / kFolderName;
    std::error_code error;
    const bool installed = fs::exists(PathFromUtf8(exe_folder) / kInstalledMarker, error);
    if (!installed && Usable(*beside_executable, false, writable)) {
      return Utf8FromPath(*beside_executable);
    }
  }

  std::vector<fs::path> candidates;
  if (auto config = AbsoluteFromEnvironment(environment, "XDG_CONFIG_HOME")) {
    candidates.push_back(*config / kApplicationName / kFolderName);
  }
  if (auto home = AbsoluteFromEnvironment(environment, "HOME")) {
    candidates.push_back(*home / ".config" / kApplicationName / kFolderName);
  }
  if (auto application_data = AbsoluteFromEnvironment(environment, "APPDATA")) {
    candidates.push_back(*application_data / kApplicationName / kFolderName);
  }
  for (const fs::path& candidate : candidates) {
    if (Usable(candidate, true, writable)) {
      return Utf8FromPath(candidate);
    }
  }
  if (beside_executable) {
    return Utf8FromPath(*beside_executable);
  }
  return candidates.empty() ? std::string(kFolderName) : Utf8FromPath(candidates.front());
} catch (const std::exception&) {
  // A path this platform cannot express: the later save reports it.
  return exe_folder + "/" + kFolderName;
}

std::string MakeIniPath(const std::string& settings_folder) try {
  return Utf8FromPath(PathFromUtf8(settings_folder) / kFileName);
} catch (const std::exception&) {
  return settings_folder + "/" + kFileName;
}

SettingsLocation LocateSettings(const std::string& exe_folder, const EnvironmentLookup& environment,
                                const FolderProbe& writable) {
  SettingsLocation location;
  location.folder = ChooseSettingsFolder(exe_folder, environment, writable);
  location.save_path = MakeIniPath(location.folder);
  location.read_path = location.save_path;
  if (exe_folder.empty()) {
    return location;
  }
  std::string beside;
  try {
    beside = MakeIniPath(Utf8FromPath(PathFromUtf8(exe_folder) / kFolderName));
  } catch (const std::exception&) {
    return location;
  }
  std::string ignored;
  if (beside != location.save_path &&
      ReadIniFile(location.save_path, ignored) == IniFileState::kMissing &&
      ReadIniFile(beside, ignored) != IniFileState::kMissing) {
    location.read_path = beside;
  }
  return location;
}
