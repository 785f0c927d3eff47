#include "core/settings_location.h"

#include "core/ini_file.h"

#include <filesystem>
#include <system_error>

#if defined(__APPLE__)
#include <mach-o/dyld.h>

#include <cstdint>
#include <vector>
#endif

namespace fs = std::filesystem;

std::string ExecutablePath() try {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1);
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
    return {};
  }
  std::error_code error;
  const fs::path resolved = fs::canonical(fs::path(buffer.data()), error);
  return error ? std::string(buffer.data()) : Utf8FromPath(resolved);
#else
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : Utf8FromPath(path);
#endif
} catch (const std::exception&) {
  return {};
}
