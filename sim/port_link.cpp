#include "sim/port_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

bool ReadLink(const std::string& path, std::string& target) {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n < 0 || static_cast<size_t>(n) >= buffer.size())
    return false;
  target.assign(buffer.data(), static_cast<size_t>(n));
  return true;
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      return true;
    error = path + " exists and is not a folder";
    return false;
  }
  error = "cannot create " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool CreatePortLink(const std::string& settings_dir, int com, const std::string& target,
                    std::string& link_path, std::string& error) {
  const std::string ports = settings_dir + "/ports";
  if (!MakeFolder(settings_dir, error) || !MakeFolder(ports, error))
    return false;
  link_path = ports + "/COM" + std::to_string(com);

  struct stat st {};
  if (lstat(link_path.c_str(), &st) == 0) {
    std::string existing;
    struct stat dest {};
    const bool dangling = S_ISLNK(st.st_mode) && ReadLink(link_path, existing) &&
                          stat(link_path.c_str(), &dest) != 0 && errno == ENOENT;
    if (!dangling) {
      error = link_path + " already exists" + (existing.empty() ? "" : " (-> " + existing + ")") +
              "; remove it or choose another --com";
      return false;
    }
    if (unlink(link_path.c_str()) != 0 && errno != ENOENT) {
      error = "cannot replace " + link_path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (symlink(target.c_str(), link_path.c_str()) != 0) {
    error = "cannot create " + link_path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemovePortLink(const std::string& link_path, const std::string& target) {
  std::string existing;
  if (ReadLink(link_path, existing) && existing == target)
    unlink(link_path.c_str());
}
