#include "core/ini_file_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> temporary_counter{0};

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
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
      why = "a folder stands where the file should be";
      return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
      why = "the file is read-only: " + ErrnoText(errno);
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
