#include "platform/DirectoryChanges.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace lanqi {

namespace {

std::atomic<size_t> g_watchLimitForTesting{SIZE_MAX};

// Folders visited per hold of the lock by a walk left for later: short enough that Close, Discard
// and WatchCount never wait long for it.
constexpr size_t kWalkStepsPerHold = 64;

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

size_t Align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

size_t RecordSize(const std::u16string& name) {
  return Align4(kChangeRecordHeaderSize + 2 * name.size());
}

// File names on Linux are bytes, normally UTF-8; a byte that starts no valid sequence becomes
// U+FFFD so that one odd name cannot stop the delivery of the others.
std::u16string Utf8ToUtf16Lenient(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else {
      size_t need = 0;
      uint32_t min = 0;
      if ((b & 0xE0) == 0xC0) {
        need = 1, cp = b & 0x1F, min = 0x80;
      } else if ((b & 0xF0) == 0xE0) {
        need = 2, cp = b & 0x0F, min = 0x800;
      } else if ((b & 0xF8) == 0xF0) {
        need = 3, cp = b & 0x07, min = 0x10000;
      }
      bool ok = need > 0;
      for (size_t k = 1; ok && k <= need; ++k) {
        const uint8_t c = i + k < n ? static_cast<uint8_t>(s[i + k]) : 0;
        ok = (c & 0xC0) == 0x80;
        cp = (cp << 6) | (c & 0x3F);
      }
      if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
      if (ok) {
        len = need + 1;
      } else {
        cp = 0xFFFD;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string Join(const std::string& dir, const char* name) {
  return dir.empty() ? std::string(name) : dir + "/" + name;
}

}  // namespace

std::shared_ptr<DirectoryChangePort> DirectoryChangePort::Open(const std::string& directory,
                                                               bool watchSubTree, uint32_t notifyFilter,
                                                               bool walkLater, bool* refusedForRoom) {
  if (directory.empty()) return nullptr;
  std::shared_ptr<DirectoryChangePort> port(new DirectoryChangePort());
  port->root_ = directory;
  while (port->root_.size() > 1 && port->root_.back() == '/') port->root_.pop_back();
  port->subTree_ = watchSubTree;
  port->filter_ = notifyFilter;
  // Names are always followed so that the subtree's folders can be tracked; the filter decides
  // what is reported.
  uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_EXCL_UNLINK;
  if (notifyFilter & (kFileNotifyChangeSize | kFileNotifyChangeLastWrite)) mask |= IN_MODIFY;
  if (notifyFilter & (kFileNotifyChangeAttributes | kFileNotifyChangeLastWrite | kFileNotifyChangeCreation |
                      kFileNotifyChangeSecurity))
    mask |= IN_ATTRIB;
  if (notifyFilter & kFileNotifyChangeLastAccess) mask |= IN_ACCESS;
  port->mask_ = mask;
  port->inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (port->inotifyFd_ < 0) return nullptr;
  port->wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (port->wakeFd_ < 0) return nullptr;
  struct stat st;
  if (stat(port->root_.c_str(), &st) != 0) return nullptr;
  port->rootDevice_ = static_cast<uint64_t>(st.st_dev);
  if (port->AddWatch("", true) != AddResult::Added) {
    if (refusedForRoom) *refusedForRoom = port->limitReached_;
    return nullptr;
  }
  if (watchSubTree) {
    if (walkLater) {
      port->walkPending_ = true;
      port->walk_.push_back("");
    } else {
      port->WatchTree("", false, true);
    }
  }
  return port;
}

DirectoryChangePort::~DirectoryChangePort() {
  if (inotifyFd_ >= 0) close(inotifyFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

std::string DirectoryChangePort::FullPath(const std::string& rel) const {
  if (rel.empty()) return root_;
  return root_ == "/" ? "/" + rel : root_ + "/" + rel;
}

DirectoryChangePort::AddResult DirectoryChangePort::AddWatch(const std::string& rel, bool isRoot) {
  if (limitReached_) return AddResult::Failed;
  if (paths_.size() >= g_watchLimitForTesting.load()) {
    limitReached_ = true;
    return AddResult::Failed;
  }
  uint32_t flags = mask_ | IN_ONLYDIR;
  if (!isRoot) flags |= IN_DONT_FOLLOW;
  const int wd = inotify_add_watch(inotifyFd_, FullPath(rel).c_str(), flags);
  if (wd < 0) {
    if (errno == ENOSPC || errno == ENOMEM) limitReached_ = true;
    return AddResult::Failed;
  }
  // The kernel hands out one watch per folder: a folder reached again under another path (a bind
  // mount of a folder above it) is watched already and must not be walked again.
  if (auto it = paths_.find(wd); it != paths_.end() && it->second != rel) return AddResult::Duplicate;
  paths_[wd] = rel;
  watches_[rel] = wd;
  return AddResult::Added;
}

void DirectoryChangePort::WatchTree(const std::string& rel, bool reportContents, bool drainKernel) {
  std::vector<std::string> pending{rel};
  WatchSteps(pending, reportContents, drainKernel, SIZE_MAX);
}

void DirectoryChangePort::WatchSteps(std::vector<std::string>& pending, bool reportContents, bool drainKernel,
                                     size_t budget) {
  for (size_t done = 0; !pending.empty() && done < budget; ++done) {
    // Reading a folder is itself an access that the watches above it see; over a large tree those
    // events alone could overflow the kernel's queue, so take them out of it as the walk goes.
    if (drainKernel && ++walkSteps_ % 256 == 0) ReadKernel();
    std::string dir = std::move(pending.back());
    pending.pop_back();
    const int fd =
        open(FullPath(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (dir.empty() ? 0 : O_NOFOLLOW));
    if (!dir.empty()) {
      // Another mounted file system (a network share, a removable disk, a large data volume) is
      // not this folder's to watch: neither watched nor entered.
      struct stat st;
      if (fd >= 0 && (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_dev) != rootDevice_)) {
        close(fd);
        continue;
      }
      // The watch goes on before the folder is read, so an entry made meanwhile is seen either way.
      const AddResult added = AddWatch(dir, false);
      if (added == AddResult::Duplicate || (added == AddResult::Failed && !reportContents)) {
        if (fd >= 0) close(fd);
        continue;
      }
    }
    if (fd < 0) continue;  // unreadable: skipped
    DIR* d = fdopendir(fd);
    if (!d) {
      close(fd);
      continue;
    }
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st;
        isDir = fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
      }
      std::string child = Join(dir, e->d_name);
      if (reportContents && WantNames(isDir)) Queue(kFileActionAdded, child);
      if (isDir && (reportContents || !limitReached_)) pending.push_back(std::move(child));
    }
    closedir(d);
  }
}

bool DirectoryChangePort::WalkTree() {
  for (;;) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    if (walk_.empty()) {
      walkPending_ = false;
      std::vector<std::string>().swap(walk_);
      return true;
    }
    WatchSteps(walk_, false, true, kWalkStepsPerHold);
  }
}

// The folders below rel are contiguous in the map from rel + "/" on; rel itself may lie apart
// from them ("a" < "a.txt" < "a/b").
void DirectoryChangePort::ForgetTree(const std::string& rel) {
  auto forget = [this](std::map<std::string, int>::iterator it) {
    inotify_rm_watch(inotifyFd_, it->second);
    paths_.erase(it->second);
    return watches_.erase(it);
  };
  if (auto it = watches_.find(rel); it != watches_.end()) forget(it);
  const std::string prefix = rel + "/";
  for (auto it = watches_.lower_bound(prefix);
       it != watches_.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
    it = forget(it);
}

void DirectoryChangePort::MoveTree(const std::string& from, const std::string& to) {
  std::vector<std::pair<std::string, int>> moved;
  if (auto it = watches_.find(from); it != watches_.end()) {
    moved.emplace_back(to, it->second);
    watches_.erase(it);
  }
  const std::string prefix = from + "/";
  for (auto it = watches_.lower_bound(prefix);
       it != watches_.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    it = watches_.erase(it);
  }
  for (auto& [path, wd] : moved) {
    paths_[wd] = path;
    watches_[path] = wd;
  }
}

bool DirectoryChangePort::WantNames(bool isDir) const {
  return (filter_ & (isDir ? kFileNotifyChangeDirName : kFileNotifyChangeFileName)) != 0;
}

void DirectoryChangePort::Queue(uint32_t action, const std::string& rel) {
  if (quiet_) return;
  queue_.push_back(Change{action, Utf8ToUtf16Lenient(rel)});
}

bool DirectoryChangePort::ReadKernel() {
  alignas(inotify_event) uint8_t chunk[65536];
  bool any = false;
  // Bounded, so that a folder that never stops changing cannot keep the wait here.
  for (int round = 0; round < 64; ++round) {
    const ssize_t n = read(inotifyFd_, chunk, sizeof chunk);
    if (n <= 0) break;
    raw_.insert(raw_.end(), chunk, chunk + n);
    any = true;
  }
  return any;
}

bool DirectoryChangePort::Drain() {
  if (!ReadKernel() && raw_.empty()) return false;
  // The two halves of a rename are queued one after the other by the renaming thread; when the
  // old name came last, give its partner a moment to arrive before calling it a move out.
  size_t pos = 0, last = SIZE_MAX;
  while (pos + sizeof(inotify_event) <= raw_.size()) {
    uint32_t len;
    std::memcpy(&len, raw_.data() + pos + offsetof(inotify_event, len), sizeof len);
    last = pos;
    pos += sizeof(inotify_event) + len;
  }
  if (last != SIZE_MAX) {
    uint32_t m;
    std::memcpy(&m, raw_.data() + last + offsetof(inotify_event, mask), sizeof m);
    if (m & IN_MOVED_FROM) {
      pollfd p{inotifyFd_, POLLIN, 0};
      if (poll(&p, 1, 2) > 0) ReadKernel();
    }
  }
  std::vector<uint8_t> events;
  events.swap(raw_);
  const size_t quiet = quietBytes_;
  quietBytes_ = 0;
  Translate(events, quiet);
  return true;
}

void DirectoryChangePort::Translate(const std::vector<uint8_t>& events, size_t quietBytes) {
  struct Event {
    size_t pos;
    int wd;
    uint32_t mask, cookie;
    std::string name;
  };
  std::vector<Event> list;
  size_t pos = 0;
  while (pos + sizeof(inotify_event) <= events.size()) {
    Event e;
    e.pos = pos;
    uint32_t len;
    const uint8_t* p = events.data() + pos;
    std::memcpy(&e.wd, p + offsetof(inotify_event, wd), sizeof e.wd);
    std::memcpy(&e.mask, p + offsetof(inotify_event, mask), sizeof e.mask);
    std::memcpy(&e.cookie, p + offsetof(inotify_event, cookie), sizeof e.cookie);
    std::memcpy(&len, p + offsetof(inotify_event, len), sizeof len);
    if (pos + sizeof(inotify_event) + len > events.size()) {
      // An event cut off at the end: keep it for the next drain.
      raw_.assign(events.begin() + static_cast<ptrdiff_t>(pos), events.end());
      quietBytes_ = quietBytes > pos ? quietBytes - pos : 0;
      break;
    }
    const char* name = reinterpret_cast<const char*>(p + sizeof(inotify_event));
    e.name.assign(name, strnlen(name, len));
    list.push_back(std::move(e));
    pos += sizeof(inotify_event) + len;
  }

  for (size_t i = 0; i < list.size(); ++i) {
    const Event& e = list[i];
    quiet_ = e.pos < quietBytes;
    if (e.mask & IN_Q_OVERFLOW) {
      if (!quiet_) overflow_ = true;
      continue;
    }
    auto dirIt = paths_.find(e.wd);
    if (dirIt == paths_.end()) continue;  // a watch already forgotten
    if (e.mask & IN_IGNORED) {
      auto w = watches_.find(dirIt->second);
      if (w != watches_.end() && w->second == e.wd) watches_.erase(w);
      paths_.erase(dirIt);
      continue;
    }
    if (e.name.empty()) continue;  // events on the watched folder itself
    const std::string rel = Join(dirIt->second, e.name.c_str());
    const bool isDir = (e.mask & IN_ISDIR) != 0;
    // A folder being listed (by this port's own walks, too) is no change to it.
    if ((e.mask & IN_ACCESS) && isDir) continue;
    if (e.mask & IN_CREATE) {
      if (WantNames(isDir)) Queue(kFileActionAdded, rel);
      // A new folder may already hold entries made before its watch was in place. Whether they
      // came before a Discard or after it cannot be told, so they are reported either way.
      if (isDir && subTree_) {
        const bool quiet = quiet_;
        quiet_ = false;
        WatchTree(rel, true);
        quiet_ = quiet;
      }
    } else if (e.mask & IN_DELETE) {
      if (WantNames(isDir)) Queue(kFileActionRemoved, rel);
    } else if (e.mask & IN_MOVED_FROM) {
      const bool paired =
          i + 1 < list.size() && (list[i + 1].mask & IN_MOVED_TO) && list[i + 1].cookie == e.cookie;
      auto toIt = paired ? paths_.find(list[i + 1].wd) : paths_.end();
      if (toIt != paths_.end()) {
        const std::string to = Join(toIt->second, list[i + 1].name.c_str());
        if (WantNames(isDir)) {
          Queue(kFileActionRenamedOldName, rel);
          Queue(kFileActionRenamedNewName, to);
        }
        if (isDir) MoveTree(rel, to);
        ++i;
      } else {
        // Moved out of the watched tree: gone as far as this watch can tell.
        if (WantNames(isDir)) Queue(kFileActionRemoved, rel);
        if (isDir) ForgetTree(rel);
        if (paired) ++i;
      }
    } else if (e.mask & IN_MOVED_TO) {
      // Moved in from outside the watched tree.
      if (WantNames(isDir)) Queue(kFileActionAdded, rel);
      if (isDir && subTree_) WatchTree(rel, false);
    } else if (e.mask & IN_MODIFY) {
      Queue(kFileActionModified, rel);
    } else if (e.mask & IN_ATTRIB) {
      Queue(kFileActionModified, rel);
    } else if (e.mask & IN_ACCESS) {
      Queue(kFileActionModified, rel);
    }
  }
  quiet_ = false;
}

uint32_t DirectoryChangePort::Complete() {
  uint8_t* buf = buffer_;
  const size_t size = size_;
  buffer_ = nullptr;
  size_ = 0;
  std::memset(buf, 0, size);
  if (overflow_) {
    overflow_ = false;
    queue_.clear();
    return 0;
  }
  size_t offset = 0, prev = SIZE_MAX, end = 0;
  while (!queue_.empty()) {
    // The two names of a rename travel in one buffer.
    const size_t n = queue_.size() > 1 && queue_[0].action == kFileActionRenamedOldName &&
                             queue_[1].action == kFileActionRenamedNewName
                         ? 2
                         : 1;
    size_t need = 0;
    for (size_t k = 0; k < n; ++k) need += RecordSize(queue_[k].name);
    if (offset + need > size) {
      if (offset == 0) {
        // Larger than any buffer: report the loss as an overflow.
        for (size_t k = 0; k < n; ++k) queue_.pop_front();
        return 0;
      }
      break;
    }
    for (size_t k = 0; k < n; ++k) {
      const Change& c = queue_.front();
      uint8_t* r = buf + offset;
      if (prev != SIZE_MAX) PutLE32(buf + prev, static_cast<uint32_t>(offset - prev));
      PutLE32(r + 4, c.action);
      PutLE32(r + 8, static_cast<uint32_t>(2 * c.name.size()));
      for (size_t j = 0; j < c.name.size(); ++j) {
        r[kChangeRecordHeaderSize + 2 * j] = static_cast<uint8_t>(c.name[j]);
        r[kChangeRecordHeaderSize + 2 * j + 1] = static_cast<uint8_t>(c.name[j] >> 8);
      }
      prev = offset;
      end = offset + kChangeRecordHeaderSize + 2 * c.name.size();
      offset += RecordSize(c.name);
      queue_.pop_front();
    }
  }
  return static_cast<uint32_t>(end);
}

bool DirectoryChangePort::Read(uint8_t* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || buffer_ || !buffer || size == 0) return false;
  buffer_ = buffer;
  size_ = size;
  return true;
}

bool DirectoryChangePort::ReadPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffer_ != nullptr;
}

DirectoryChangePort::WaitResult DirectoryChangePort::Wait(uint32_t& bytes, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  bool walk;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    walk = walkPending_;
  }
  if (walk && !WalkTree()) return WaitResult::Woken;
  for (;;) {
    bool pending;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return WaitResult::Woken;
      if (buffer_ && (overflow_ || !queue_.empty())) {
        bytes = Complete();
        return WaitResult::Completed;
      }
      pending = buffer_ != nullptr;
    }
    // Without a pending read the kernel keeps the changes queued for the next one.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, static_cast<short>(pending ? POLLIN : 0), 0}};
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WaitResult::TimedOut;
      wait = static_cast<int>(left);
    }
    const int r = poll(fds, 2, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return WaitResult::Woken;
    }
    if (r == 0) continue;  // the deadline check above ends it
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] const ssize_t n = read(wakeFd_, &v, sizeof v);
      return WaitResult::Woken;
    }
    if (fds[1].revents & POLLIN) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return WaitResult::Woken;
      Drain();
    }
  }
}

void DirectoryChangePort::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void DirectoryChangePort::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    closed_ = true;
    buffer_ = nullptr;
    size_ = 0;
    queue_.clear();
  }
  Wake();
}

void DirectoryChangePort::Discard() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  ReadKernel();
  queue_.clear();
  overflow_ = false;
  quietBytes_ = raw_.size();
}

bool DirectoryChangePort::TreeWalked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !walkPending_;
}

void DirectoryChangePort::SetWatchLimitForTesting(size_t limit) {
  g_watchLimitForTesting.store(limit);
}

size_t DirectoryChangePort::WatchCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paths_.size();
}

bool DirectoryChangePort::WatchLimitReached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return limitReached_;
}

}  // namespace lanqi
