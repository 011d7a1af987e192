#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace lanqi {

namespace {

// The ranges this process holds, by file identity: an OFD lock does not stop a second thread
// using the same open, so this table does. An entry is added only together with its system lock
// and removed together with it, both under g_mutex.
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

bool SetOfdLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = length;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// An entry whose open was closed without unlocking lost its system lock with the open; the
// descriptor number may even be in use again for the same file. Such an entry is recognised by a
// fresh open of the file seeing no lock at all on the entry's range.
bool IsStale(const Held& h) {
  int probe = open(("/proc/self/fd/" + std::to_string(h.fd)).c_str(), O_RDONLY | O_CLOEXEC);
  if (probe < 0) {
    struct stat st;
    return fstat(h.fd, &st) != 0 || st.st_dev != h.dev || st.st_ino != h.ino;
  }
  struct stat st;
  bool stale = fstat(probe, &st) != 0 || st.st_dev != h.dev || st.st_ino != h.ino;
  if (!stale) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = h.start;
    fl.l_len = h.end == std::numeric_limits<int64_t>::max() ? 0 : h.end - h.start;
    stale = fcntl(probe, F_OFD_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
  }
  close(probe);
  return stale;
}

}  // namespace

bool DescribeLockFile(int fd, TLockFile& file) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  const int fl = fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  file.fd = fd;
  file.dev = st.st_dev;
  file.ino = st.st_ino;
  file.readOnly = (fl & O_ACCMODE) == O_RDONLY;
  return true;
}

bool TryLockFileRange(const TLockFile& file, int64_t offset, int64_t length) {
  if (offset < 0 || file.fd < 0) return false;
  const int64_t end = RangeEnd(offset, length);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_held.begin(); it != g_held.end();) {
    if (it->dev == file.dev && it->ino == file.ino && it->start < end && offset < it->end) {
      if (!IsStale(*it)) return false;
      it = g_held.erase(it);
    } else {
      ++it;
    }
  }
  // A write lock needs a writable open. A read-only open takes a read lock instead: it still keeps
  // out every writer, and read-only users have nothing to keep from each other.
  if (!SetOfdLock(file.fd, file.readOnly ? F_RDLCK : F_WRLCK, offset, length)) return false;
  g_held.push_back(Held{static_cast<dev_t>(file.dev), static_cast<ino_t>(file.ino), offset, end, file.fd});
  return true;
}

void UnlockFileRange(const TLockFile& file, int64_t offset, int64_t length) {
  if (file.fd < 0) return;
  const int64_t end = RangeEnd(offset, length);
  std::lock_guard<std::mutex> lock(g_mutex);
  SetOfdLock(file.fd, F_UNLCK, offset, length);
  for (auto it = g_held.begin(); it != g_held.end(); ++it) {
    if (it->fd == file.fd && it->dev == file.dev && it->ino == file.ino && it->start == offset &&
        it->end == end) {
      g_held.erase(it);
      return;
    }
  }
}

bool TryLockFileRange(int fd, int64_t offset, int64_t length) {
  TLockFile file;
  if (offset < 0 || !DescribeLockFile(fd, file)) return false;
  return TryLockFileRange(file, offset, length);
}

void UnlockFileRange(int fd, int64_t offset, int64_t length) {
  TLockFile file;
  if (!DescribeLockFile(fd, file)) return;
  UnlockFileRange(file, offset, length);
}

}  // namespace lanqi
