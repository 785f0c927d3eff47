#pragma once

#include <functional>
#include <optional>
#include <string>

// Where the settings file lives. Paths are UTF-8 text.

// Full path of the running executable, or "" when the platform does not tell.
std::string ExecutablePath();

// Folder of the running executable, without a trailing separator; "" when unknown.
std::string ExecutableFolder();

// Looks up an environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The process environment.
std::optional<std::string> ProcessEnvironment(const std::string& name);

// The settings folder, created if it is missing: "INI" beside the executable (one level only,
// the executable's folder must exist). An installed executable usually sits in a folder the
// user may not write; then the folder is "vorlix/INI" under $XDG_CONFIG_HOME (taken only when
// absolute), else under $HOME/.config, else under %APPDATA%, created with its parents. If no
// candidate can be written, the folder beside the executable is answered anyway, so that the
// first save reports the path the user would look for. A copy installed by the Windows
// installer (a file "vorlix.installed" beside it) goes straight to the user's folders.
// Tells whether a folder can be written; IsWritableFolder unless a test says otherwise.
using FolderProbe = std::function<bool(const std::string& folder)>;
bool IsWritableFolder(const std::string& folder);

std::string ChooseSettingsFolder(const std::string& exe_folder,
                                 const EnvironmentLookup& environment = ProcessEnvironment,
                                 const FolderProbe& writable = IsWritableFolder);

// Where the settings are read from at start and where they are saved.
struct SettingsLocation {
  std::string folder;     // the settings folder (the saved file, the journal, port links)
  std::string save_path;  // the settings file in `folder`
  // The file read at start. It differs from save_path only while a readable file stands in the
  // folder beside the executable, that folder cannot be written, and the user's folder holds no
  // copy yet: the first save then starts the user's copy from it, and later starts read that.
  std::string read_path;
};

// ChooseSettingsFolder, and the file to read, as SettingsLocation tells.
SettingsLocation LocateSettings(const std::string& exe_folder,
                                const EnvironmentLookup& environment = ProcessEnvironment,
                                const FolderProbe& writable = IsWritableFolder);

// The settings file inside `settings_folder`.
std::string MakeIniPath(const std::string& settings_folder);

// True when a file can be created in `folder` (checked by creating and removing one).
bool IsWritableFolder(const std::string& folder);
