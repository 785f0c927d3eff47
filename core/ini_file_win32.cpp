#include "comm/win32_api.h"

#include "core/ini_file_platform.h"

#include "core/ini_file.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> temporary_counter{0};

std::string LastErrorText() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category()).message();
}

}  // namespace

bool ReplaceTargetAtomically(const fs::path& target, std::string_view bytes, std::string& why) {
  const std::wstring target_name = target.wstring();
  const DWORD attributes = GetFileAttributesW(target_name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      why = "на місці файлу стоїть тека";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      why = "файл лише для читання";
      return false;
    }
  }

  HANDLE handle = INVALID_HANDLE_VALUE;
  std::wstring temporary;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = target_name + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(temporary_counter++);
    handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      break;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) {
    why = LastErrorText();
    return false;
  }

  bool ok = true;
  size_t written = 0;
  while (ok && written < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 20));
    DWORD done = 0;
    ok = WriteFile(handle, bytes.data() + written, chunk, &done, nullptr) != 0 && done > 0;
    written += done;
  }
  ok = ok && FlushFileBuffers(handle) != 0;
  if (!ok) {
    why = LastErrorText();
  }
  if (CloseHandle(handle) == 0 && ok) {
    why = LastErrorText();
    ok = false;
  }
  if (ok && MoveFileExW(temporary.c_str(), target_name.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    why = LastErrorText();
    ok = false;
  }
  if (!ok) {
    DeleteFileW(temporary.c_str());
  }
  return ok;
}

bool ProcessIsRunning(unsigned long id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) {
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string SystemReasonText(int error) {
  // Windows words its own reasons in the language of the installation.
  return std::generic_category().message(error);
}
