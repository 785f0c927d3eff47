#include "core/ini_file_platform.h"

#include "core/ini_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> temporary_counter{0};

std::string ErrnoText(int error) {
  return SystemReasonText(error);
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t done = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (done < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    written += static_cast<size_t>(done);
  }
  return true;
}

// Makes the rename itself durable; a file system that cannot sync a folder is no failure.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

bool ReplaceTargetAtomically(const fs::path& target, std::string_view bytes, std::string& why) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) {
      why = "на місці файлу стоїть тека";
      return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
      why = "файл лише для читання: " + ErrnoText(errno);
      return false;
    }
  }

  int fd = -1;
  std::string temporary;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target.native() + ".tmp-" + std::to_string(::getpid()) + "-" +
                std::to_string(temporary_counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      break;
    }
  }
  if (fd < 0) {
    why = ErrnoText(errno);
    return false;
  }

  bool ok = WriteAll(fd, bytes);
  if (ok && exists) {
    // Best effort: a file we may write but do not own keeps our default mode instead.
    (void)::fchmod(fd, existing.st_mode & 07777);
  }
  ok = ok && ::fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    error = errno;
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    why = ErrnoText(error);
    return false;
  }
  SyncFolder(folder);
  return true;
}

bool ProcessIsRunning(unsigned long id) {
  if (id == 0 || id > static_cast<unsigned long>(INT32_MAX)) {
    return false;
  }
  // EPERM: it runs, under another user.
  return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

std::string SystemReasonText(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "немає дозволу на запис";
    case EROFS:
      return "файлова система лише для читання";
    case ENOSPC:
      return "на диску немає місця";
#ifdef EDQUOT
    case EDQUOT:
      return "вичерпано дискову квоту";
#endif
    case EISDIR:
      return "на місці файлу стоїть тека";
    case ENOTDIR:
      return "на шляху до файлу стоїть файл, а не тека";
    case ENOENT:
      return "теки для файлу немає";
    case ELOOP:
      return "символьні посилання утворюють петлю";
    case ENAMETOOLONG:
      return "шлях задовгий";
    case EIO:
      return "помилка введення-виведення";
    case EFBIG:
      return "файл завеликий";
    case EBUSY:
    case ETXTBSY:
      return "файл зайнятий";
    case EMFILE:
    case ENFILE:
      return "забагато відкритих файлів";
    case EXDEV:
      return "тимчасовий файл і файл налаштувань на різних дисках";
    default:
      return "системна помилка " + std::to_string(error) + " (" +
             std::generic_category().message(error) + ")";
  }
}
