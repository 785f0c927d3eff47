#include "comm/win32_api.h"

#include "core/ini_file.h"
#include "core/settings_location.h"

#include <filesystem>
#include <vector>

std::string ExecutablePath() try {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return {};
    }
    if (length < buffer.size()) {
      return Utf8FromPath(std::filesystem::path(std::wstring(buffer.data(), length)));
    }
    if (buffer.size() >= 32768) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
} catch (const std::exception&) {
  return {};
}
