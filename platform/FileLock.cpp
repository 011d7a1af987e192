#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>
#include <mutex>
#include <vector>

namespace lanqi {

namespace {

// The ranges this process holds, by file identity: an OFD lock does not stop a second thread
// using the same open, so this table does.
struct Held {
  dev_t dev;
  ino_t ino;
  int64_t start;
  int64_t end;  // exclusive
  int fd;
};

std::mutex g_mutex;
std::vector<Held> g_held;

int64_t RangeEnd(int64_t offset, int64_t length) {
  // Length 0 reaches to the end of any file, as for the system's locks.
  if (length <= 0 || offset > std::numeric_limits<int64_t>::max() - length)
    return std::numeric_limits<int64_t>::max();
  return offset + length;
}

bool StillOpen(const Held& h) {
  struct stat st;
  return fstat(h.fd, &st) == 0 && st.st_dev == h.dev && st.st_ino == h.ino;
}

bool SetOfdLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = length;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

}  // namespace

bool TryLockFileRange(int fd, int64_t offset, int64_t length) {
  struct stat st;
  if (offset < 0 || fstat(fd, &st) != 0) return false;
  int fl = fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  const int64_t end = RangeEnd(offset, length);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_held.begin(); it != g_held.end();) {
      if (it->dev == st.st_dev && it->ino == st.st_ino && it->start < end && offset < it->end) {
        if (StillOpen(*it)) return false;
        it = g_held.erase(it);  // its descriptor was closed while holding: the lock went with it
      } else {
        ++it;
      }
    }
    g_held.push_back(Held{st.st_dev, st.st_ino, offset, end, fd});
  }
  // A write lock needs a writable open. A read-only open takes a read lock instead: it still keeps
  // out every writer, and read-only users have nothing to keep from each other.
  const short type = (fl & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK;
  if (SetOfdLock(fd, type, offset, length)) return true;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_held.begin(); it != g_held.end(); ++it) {
    if (it->fd == fd && it->dev == st.st_dev && it->ino == st.st_ino && it->start == offset &&
        it->end == end) {
      g_held.erase(it);
      break;
    }
  }
  return false;
}

void UnlockFileRange(int fd, int64_t offset, int64_t length) {
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  SetOfdLock(fd, F_UNLCK, offset, length);
  const int64_t end = RangeEnd(offset, length);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_held.begin(); it != g_held.end(); ++it) {
    if (it->fd == fd && it->dev == st.st_dev && it->ino == st.st_ino && it->start == offset &&
        it->end == end) {
      g_held.erase(it);
      return;
    }
  }
}

}  // namespace lanqi
