#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/durable_append.h"

std::string FileErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return "теки для файлу не існує";
    case EACCES:
    case EPERM:
      return "немає дозволу на запис";
    case EROFS:
      return "файлова система лише для читання";
    case ENOSPC:
    case EDQUOT:
      return "на диску немає місця";
    case EISDIR:
      return "це тека, а не файл";
    case ELOOP:
      return "символьні посилання утворюють петлю";
    case EIO:
      return "помилка введення-виведення на диску";
    case ENAMETOOLONG:
      return "задовгий шлях до файлу";
    default:
      return "системна помилка " + std::to_string(err);
  }
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
