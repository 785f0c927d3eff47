#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The part of the settings file layer that differs per platform, one implementation each.

// Does what ReplaceFileAtomically promises for `target`, a path with any symbolic link already
// followed. On failure `why` tells the reason.
bool ReplaceTargetAtomically(const std::filesystem::path& target, std::string_view bytes,
                             std::string& why);

// True while the process `id` runs (the caller's own included).
bool ProcessIsRunning(unsigned long id);
