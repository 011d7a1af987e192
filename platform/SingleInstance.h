// One running instance per user session: an exclusive flock on a lock file, held for the life of
// the process.
#pragma once

#include <string>

namespace lanqi {

// $XDG_RUNTIME_DIR/<name>.lock when that is an absolute path, else /tmp/<name>-<uid>.lock (UTF-8).
std::string SingleInstanceLockPath(const std::string& name = "hkOneCopy");

// An exclusive, non-blocking flock on a file; released when destroyed (or when the process ends).
class TSingleInstanceLock {
 public:
  explicit TSingleInstanceLock(const std::string& path);
  ~TSingleInstanceLock();
  TSingleInstanceLock(const TSingleInstanceLock&) = delete;
  TSingleInstanceLock& operator=(const TSingleInstanceLock&) = delete;
  // True when this object holds the lock; false when another open of the file holds it.
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Takes the process's lock on SingleInstanceLockPath() once and keeps it until the process ends.
// False when another process holds it. A lock file that cannot be opened at all counts as no other
// instance: a broken runtime folder must not keep the program from starting.
bool AcquireSingleInstance();

}  // namespace lanqi
