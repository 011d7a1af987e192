#include "watcher/FileSystemWatcher.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstring>
#include <exception>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

std::atomic<int> g_liveWorkers{0};

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Bytes 0..32 off both ends.
std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<uint8_t>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<uint8_t>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The code-page characters of s, each one or two bytes, with ASCII letters in upper case; the
// second byte of a two-byte character is never folded.
std::vector<uint16_t> UpperChars(const std::string& s) {
  std::vector<uint16_t> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    if (IsLeadByte(b) && i + 1 < s.size()) {
      out.push_back(static_cast<uint16_t>(b << 8 | static_cast<uint8_t>(s[i + 1])));
      ++i;
    } else {
      out.push_back(b >= 'a' && b <= 'z' ? b - 32 : b);
    }
  }
  return out;
}

bool Wildcard(const std::vector<uint16_t>& name, const std::vector<uint16_t>& mask) {
  // Greedy with one backtrack point: linear in practice, never exponential.
  size_t n = 0, m = 0, starM = SIZE_MAX, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
      ++n, ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != SIZE_MAX) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// Letter case ignored by simple case folding, nothing else: two paths that collate alike but are
// spelt differently are different folders.
bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::u16string ua, ub;
  try {
    ua = AnsiToUtf16(a);
    ub = AnsiToUtf16(b);
  } catch (const EConvertError&) {
    return false;
  }
  int32_t i = 0, j = 0;
  const int32_t na = static_cast<int32_t>(ua.size()), nb = static_cast<int32_t>(ub.size());
  while (i < na && j < nb) {
    UChar32 ca, cb;
    U16_NEXT(ua.data(), i, na, ca);
    U16_NEXT(ub.data(), j, nb, cb);
    if (u_foldCase(ca, U_FOLD_CASE_DEFAULT) != u_foldCase(cb, U_FOLD_CASE_DEFAULT)) return false;
  }
  return i == na && j == nb;
}

// A record's name in the code page. Characters the code page cannot spell become '?' here, so one
// odd name does not stop the batch.
std::string ChangeName(const uint8_t* p, uint32_t lengthBytes) {
  std::u16string u(lengthBytes / 2, u'\0');
  bool blank = true;
  for (size_t i = 0; i < u.size(); ++i) {
    u[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (u[i] > u' ') blank = false;
  }
  if (blank) return {};
  try {
    return Utf16ToAnsi(u);
  } catch (const EConvertError&) {
  }
  std::string out;
  for (size_t i = 0; i < u.size();) {
    size_t len = 1;
    if (U16_IS_LEAD(u[i]) && i + 1 < u.size() && U16_IS_TRAIL(u[i + 1])) len = 2;
    try {
      out += Utf16ToAnsi(std::u16string_view(u).substr(i, len));
    } catch (const EConvertError&) {
      out += '?';
    }
    i += len;
  }
  return out;
}

// The entry of folder `parent` spelt like `written` apart from letter case, as stored.
std::string StoredName(const std::string& partial, const std::string& parent, const std::string& written) {
  try {
    if (EntryExists(partial)) return written;
    std::string found = written;
    ForEachFolderEntry(parent.empty() ? std::string(1, PathDelim) : parent, [&](const std::string& name) {
      if (!SamePathIgnoringCase(name, written)) return false;
      found = name;
      return true;
    });
    return found;
  } catch (const EConvertError&) {
    return written;
  }
}

}  // namespace

uint32_t NotifyFilterBits(TNotifyFilters filters) {
  static constexpr uint32_t kBits[] = {
      kFileNotifyChangeFileName, kFileNotifyChangeDirName,   kFileNotifyChangeAttributes,
      kFileNotifyChangeSize,     kFileNotifyChangeLastWrite, kFileNotifyChangeLastAccess,
      kFileNotifyChangeCreation, kFileNotifyChangeSecurity,
  };
  uint32_t bits = 0;
  for (int f = nfFileNameChange; f <= nfSecurityChange; ++f)
    if (filters.Contains(static_cast<TNotifyFilter>(f))) bits |= kBits[f];
  return bits;
}

bool MatchesMasks(const std::string& name, const std::vector<std::string>& masks) {
  const size_t slash = name.rfind(PathDelim);
  const std::vector<uint16_t> file = UpperChars(slash == std::string::npos ? name : name.substr(slash + 1));
  for (const std::string& mask : masks) {
    const std::vector<uint16_t> m = UpperChars(mask);
    if (m == std::vector<uint16_t>{'*', '.', '*'}) return true;
    if (Wildcard(file, m)) return true;
  }
  return false;
}

std::string ExpandLongPath(const std::string& path) {
  std::string s = TrimBlanks(path);
  if (s.size() > 1 && s.back() == PathDelim) s.pop_back();
  if (s.size() <= 1 || s[0] != PathDelim) return s;
  std::vector<std::string> levels;
  for (size_t i = 1; i <= s.size();) {
    size_t j = s.find(PathDelim, i);
    if (j == std::string::npos) j = s.size();
    if (j > i) levels.push_back(s.substr(i, j - i));
    i = j + 1;
  }
  // Each level is looked up in its parent as already spelt on disk: names are case-sensitive
  // here, so a parent in the wrong case would find nothing below it.
  std::string result;
  for (const std::string& level : levels) {
    const std::string parent = result;
    result += PathDelim + StoredName(parent + PathDelim + level, parent, level);
  }
  return result.empty() ? std::string(1, PathDelim) : result;
}

// ---- TShellChangeThread

std::shared_ptr<TShellChangeThread> TShellChangeThread::Create(TFileSystemWatcher* watcher,
                                                               TFileDealMethod handler, EventLoop& loop) {
  return std::make_shared<TShellChangeThread>(watcher, std::move(handler), loop);
}

TShellChangeThread::TShellChangeThread(TFileSystemWatcher* watcher, TFileDealMethod handler, EventLoop& loop)
    : watcher_(watcher), handler_(std::move(handler)), loop_(loop) {}

TShellChangeThread::~TShellChangeThread() {
  // Cancels a read still pending on the buffer before the buffer goes.
  if (port_) port_->Close();
}

int TShellChangeThread::LiveCount() {
  return g_liveWorkers.load();
}

void TShellChangeThread::Reconfigure(const std::string& directory, bool active, uint32_t filterBits,
                                     bool subTree) {
  std::lock_guard<std::mutex> lock(lock_);
  directory_ = IncludeTrailingPathDelimiter(directory);
  active_ = active;
  filterBits_ = filterBits;
  subTree_ = subTree;
  OpenWatch();
  idle_.notify_all();
}

void TShellChangeThread::OpenWatch() {
  if (port_) {
    // Wakes a worker waiting on the old watch, whose pending read ends with it.
    port_->Close();
    port_.reset();
  }
  // An inactive or stopped worker would only be woken by the watch to deliver nothing.
  if (!active_ || terminated_.load()) return;
  std::shared_ptr<DirectoryChangePort> port;
  bool refused = false;
  try {
    port = DirectoryChangePort::Open(ToOsPath(ExcludeTrailingPathDelimiter(directory_)), subTree_,
                                     filterBits_, true, &refused);
  } catch (const EConvertError&) {
  }
  // Missing or unreadable: no watch, no error. No room for the folder's own watch: the worker
  // tells the watcher's OnWatchLimit.
  if (!port) {
    if (refused) openRefused_ = true;
    return;
  }
  port_ = std::move(port);
  std::memset(buffer_, 0, sizeof buffer_);
  port_->Read(buffer_, sizeof buffer_);
}

void TShellChangeThread::SetMasks(const std::vector<std::string>& masks) {
  std::lock_guard<std::mutex> lock(lock_);
  masks_ = masks;
}

void TShellChangeThread::SetIncludePath(bool includePath) {
  std::lock_guard<std::mutex> lock(lock_);
  includePath_ = includePath;
}

void TShellChangeThread::SetMuted(bool muted) {
  std::lock_guard<std::mutex> lock(lock_);
  if (muted == muted_) return;
  muted_ = muted;
  if (muted || !port_) return;
  port_->Discard();
  // A batch completed but not yet handed over came before: it goes too.
  if (!port_->ReadPending()) std::memset(buffer_, 0, sizeof buffer_);
}

size_t TShellChangeThread::WatchCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return port_ ? port_->WatchCount() : 0;
}

bool TShellChangeThread::TreeWalked() const {
  std::lock_guard<std::mutex> lock(lock_);
  return !port_ || port_->TreeWalked();
}

void TShellChangeThread::Resume() {
  if (resumed_) return;
  resumed_ = true;
  g_liveWorkers.fetch_add(1);
  std::thread([self = shared_from_this()]() mutable {
    self->Execute();
    {
      std::lock_guard<std::mutex> lock(self->lock_);
      if (self->port_) self->port_->Close();
      self->port_.reset();
    }
    self.reset();  // frees the worker unless the watcher still holds it
    g_liveWorkers.fetch_sub(1);
  }).detach();
}

void TShellChangeThread::Terminate() {
  terminated_.store(true);
  std::lock_guard<std::mutex> lock(lock_);
  if (port_) {
    port_->Close();
    port_.reset();
  }
  idle_.notify_all();
}

void TShellChangeThread::Execute() {
  for (;;) {
    std::shared_ptr<DirectoryChangePort> port;
    {
      std::unique_lock<std::mutex> lock(lock_);
      // Without a watch there is nothing to wait for but the end (or a new watch), unless the
      // watch was refused for want of room, which is told once.
      idle_.wait(lock, [this] {
        return terminated_.load() || port_ != nullptr || (openRefused_ && !limitNoticed_);
      });
      if (terminated_.load()) return;
      port = port_;
    }
    if (!port) {
      NoticeWatchLimit(true);
      continue;
    }
    // The subtree's watches go on here, off the user-interface thread; a Close ends the walk.
    if (!port->WalkTree()) continue;
    NoticeWatchLimit(port->WatchLimitReached());
    uint32_t bytes = 0;
    const auto result = port->Wait(bytes);
    if (terminated_.load()) return;
    NoticeWatchLimit(port->WatchLimitReached());
    if (result != DirectoryChangePort::WaitResult::Completed) continue;
    bool muted;
    {
      std::lock_guard<std::mutex> lock(lock_);
      muted = muted_;
    }
    if (!muted) HandOver([this] { DeliverChanges(); });
    std::lock_guard<std::mutex> lock(lock_);
    if (terminated_.load()) return;
    // The handler may have opened a new watch, which then has its read pending already.
    if (port_ && !port_->ReadPending()) {
      std::memset(buffer_, 0, sizeof buffer_);
      port_->Read(buffer_, sizeof buffer_);
    }
  }
}

void TShellChangeThread::HandOver(const std::function<void()>& call) {
  try {
    loop_.Synchronize(call);
  } catch (const EAbort&) {
    // Silent by definition (also what a loop that went away leaves behind).
  } catch (...) {
    // A handler's failure belongs to the user-interface thread, whose loop reports what no one
    // handles; the rest of that batch is dropped and the worker goes on watching.
    loop_.Post([error = std::current_exception()] { std::rethrow_exception(error); });
  }
}

void TShellChangeThread::NoticeWatchLimit(bool reached) {
  if (limitNoticed_ || !reached) return;
  limitNoticed_ = true;
  HandOver([this] {
    if (terminated_.load() || !active_) return;
    if (const TNotifyEvent& handler = watcher_->OnWatchLimit()) handler(watcher_);
  });
}

void TShellChangeThread::DeliverChanges() {
  uint8_t copy[kBufferSize];
  std::string directory;
  bool includePath;
  {
    std::lock_guard<std::mutex> lock(lock_);
    std::memcpy(copy, buffer_, sizeof copy);
    deliveryMasks_ = masks_;
    std::memset(buffer_, 0, sizeof buffer_);
    directory = directory_;
    includePath = includePath_;
  }
  WalkChanges(copy, sizeof copy, [&](TFileOperation op, const std::string& n1, const std::string& n2) {
    Fire(op, n1, n2, directory, includePath);
  });
}

void TShellChangeThread::Fire(TFileOperation op, std::string name1, std::string name2,
                              const std::string& directory, bool includePath) {
  // Checked per change: a handler that stops, reconfigures or destroys the watcher ends the batch.
  if (terminated_.load() || !handler_ || !active_ || muted_) return;
  static const std::vector<std::string> kAllFiles{"*.*"};
  if (!MatchesMasks(name1, deliveryMasks_.empty() ? kAllFiles : deliveryMasks_)) return;
  if (includePath) {
    name1 = ExpandLongPath(directory + name1);
    if (op == foRenamed) name2 = ExpandLongPath(directory + name2);
  }
  handler_(watcher_, op, name1, name2);
}

void TShellChangeThread::WalkChanges(const uint8_t* buffer, size_t size, const TChangeSink& fire) {
  bool renamePending = false;  // an old name waits for its new name
  std::string first;
  size_t offset = 0;
  while (size - offset >= kChangeRecordHeaderSize) {
    const uint8_t* r = buffer + offset;
    const uint32_t next = GetLE32(r), action = GetLE32(r + 4), length = GetLE32(r + 8);
    if (length > size - offset - kChangeRecordHeaderSize) break;  // a name past the end: malformed
    const uint8_t* name = r + kChangeRecordHeaderSize;
    if (action >= kFileActionAdded && action <= kFileActionRenamedOldName) {
      first = ChangeName(name, length);
      renamePending = action == kFileActionRenamedOldName;
      if (!renamePending) fire(static_cast<TFileOperation>(action - 1), first, std::string());
    } else if (action == kFileActionRenamedNewName && renamePending) {
      fire(foRenamed, first, ChangeName(name, length));
      renamePending = false;  // one new name per old name
    }
    if (next == 0 || next > size - offset) break;
    offset += next;
  }
}

// ---- TFileSystemWatcher

TFileSystemWatcher::TFileSystemWatcher(TComponent* owner) : TComponent(owner) {
  const std::vector<std::string> roots = FixedDriveRoots();
  watchedDir_ = roots.empty() ? std::string(1, PathDelim) : roots.front();
}

TFileSystemWatcher::~TFileSystemWatcher() {
  // No join: the worker may be waiting for this very thread inside a hand-over. Marked, it wakes,
  // delivers nothing more and ends by itself.
  if (worker_) worker_->Terminate();
  worker_.reset();
}

void TFileSystemWatcher::ReconfigureWorker() {
  if (worker_) worker_->Reconfigure(watchedDir_, active_, NotifyFilterBits(notifyFilters_), watchSubTree_);
}

void TFileSystemWatcher::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (worker_ && !active) ReconfigureWorker();  // a new worker is configured by Start
  if (active)
    Start();
  else
    Stop();
}

void TFileSystemWatcher::SetMuted(bool muted) {
  muted_ = muted;
  if (worker_) worker_->SetMuted(muted);
}

void TFileSystemWatcher::SetWatchedDir(const std::string& dir) {
  if (SamePathIgnoringCase(dir, watchedDir_)) return;
  watchedDir_ = dir;
  ReconfigureWorker();
}

void TFileSystemWatcher::SetWatchSubTree(bool subTree) {
  if (subTree == watchSubTree_) return;
  watchSubTree_ = subTree;
  ReconfigureWorker();
}

void TFileSystemWatcher::SetNotifyFilters(TNotifyFilters filters) {
  if (filters == notifyFilters_) return;
  notifyFilters_ = filters;
  ReconfigureWorker();
}

void TFileSystemWatcher::SetFileMasks(const std::vector<std::string>& masks) {
  fileMasks_ = masks;
  if (worker_) worker_->SetMasks(fileMasks_);
}

void TFileSystemWatcher::SetIncludePath(bool includePath) {
  includePath_ = includePath;
  if (worker_) worker_->SetIncludePath(includePath_);
}

void TFileSystemWatcher::SetOnChange(TFileDealMethod handler) {
  onChange_ = std::move(handler);
  // The worker captured the former handler; a new one needs a new worker, which Start configures.
  if (onChange_ && active_)
    Start();
  else
    Stop();
}

void TFileSystemWatcher::Start() {
  // While a stored description is applied the values only settle; Loaded starts.
  if (IsLoading() || !onChange_) return;
  Stop();  // never two workers for one watcher
  worker_ = TShellChangeThread::Create(this, onChange_, MainLoop());
  worker_->Reconfigure(watchedDir_, active_, NotifyFilterBits(notifyFilters_), watchSubTree_);
  worker_->SetMasks(fileMasks_);
  worker_->SetIncludePath(includePath_);
  worker_->SetMuted(muted_);
  worker_->Resume();
}

void TFileSystemWatcher::Stop() {
  if (worker_) {
    worker_->Terminate();
    worker_.reset();
  }
}

void TFileSystemWatcher::Loaded() {
  if (active_ && onChange_) Start();
}

}  // namespace lanqi
