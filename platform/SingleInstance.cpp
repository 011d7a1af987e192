#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace lanqi {

std::string SingleInstanceLockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string dir = runtime;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir + "/" + name + ".lock";
  }
  return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

TSingleInstanceLock::TSingleInstanceLock(const std::string& path) {
  // No O_TRUNC and no following of links: the file may sit in the shared /tmp. Close-on-exec, or
  // a program started from here would keep the lock after we end.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) return;
  int r;
  do {
    r = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  held_ = r == 0;
}

TSingleInstanceLock::~TSingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool AcquireSingleInstance() {
  static std::mutex mutex;
  static std::unique_ptr<TSingleInstanceLock> lock;  // never released before the process ends
  static bool openFailed = false;
  std::lock_guard<std::mutex> guard(mutex);
  if (lock && lock->Held()) return true;
  if (openFailed) return true;
  const std::string path = SingleInstanceLockPath();
  lock = std::make_unique<TSingleInstanceLock>(path);
  if (lock->Held()) return true;
  // Could the file be opened at all? If not, nobody can hold it.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    openFailed = true;
    return true;
  }
  ::close(fd);
  return false;
}

}  // namespace lanqi
