#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/durable_append.h"
#include "core/ini_file.h"

std::string FileErrorText(int err) {
  return SystemReasonText(err);
}

bool AppendDurably(const std::string& path, const std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = FileErrorText(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      error = FileErrorText(errno);
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  if (!synced)
    error = FileErrorText(errno);
  return ::close(fd) == 0 && synced;
}
