// TFileSystemWatcher: watches one folder (optionally with its subtree) on a worker thread and
// hands each batch of changes to the user-interface thread, where OnChange fires per change.
//
// Threads: every public member runs on the user-interface thread (the main loop's). The worker
// walks the subtree to put its watches on (so starting costs the user-interface thread one watch,
// whatever the tree's size), waits for changes and hands them over through
// EventLoop::Synchronize, so the handler always runs on the user-interface thread while the
// worker waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DirectoryChanges.h"
#include "platform/EventLoop.h"
#include "rtl/Component.h"

namespace lanqi {

enum TNotifyFilter {
  nfFileNameChange,
  nfDirNameChange,
  nfAttributeChange,
  nfSizeChange,
  nfWriteChange,
  nfAccessChange,
  nfCreationDateChange,
  nfSecurityChange,
};

class TNotifyFilters {
 public:
  constexpr TNotifyFilters() = default;
  constexpr TNotifyFilters(std::initializer_list<TNotifyFilter> flags) {
    for (TNotifyFilter f : flags) bits_ |= Bit(f);
  }
  constexpr bool Contains(TNotifyFilter f) const { return (bits_ & Bit(f)) != 0; }
  constexpr TNotifyFilters& Include(TNotifyFilter f) { return bits_ |= Bit(f), *this; }
  constexpr TNotifyFilters& Exclude(TNotifyFilter f) { return bits_ &= ~Bit(f), *this; }
  constexpr bool operator==(const TNotifyFilters&) const = default;
  static constexpr TNotifyFilters All() {
    return {nfFileNameChange, nfDirNameChange, nfAttributeChange,    nfSizeChange,
            nfWriteChange,    nfAccessChange,  nfCreationDateChange, nfSecurityChange};
  }

 private:
  static constexpr uint32_t Bit(TNotifyFilter f) { return 1u << static_cast<int>(f); }
  uint32_t bits_ = 0;
};

// The change filter bits the flags stand for (all eight give 0x17F).
uint32_t NotifyFilterBits(TNotifyFilters filters);

enum TFileOperation { foAdded, foRemoved, foModified, foRenamed };

// Sender is the watcher. FileName1 is the changed name (the old one for foRenamed), FileName2 the
// new name for foRenamed and empty otherwise; both relative to WatchedDir unless IncludePath.
using TFileDealMethod = std::function<void(TObject* Sender, TFileOperation FileOperation,
                                           const std::string& FileName1, const std::string& FileName2)>;

// The file-name part of name (after its last delimiter) against DOS-style masks ("*" any run of
// characters, "?" one character, letter case ignored), first match wins; "*.*" matches every name.
bool MatchesMasks(const std::string& name, const std::vector<std::string>& masks);
// The path trimmed, one trailing delimiter dropped, and for an absolute path every level spelt as
// stored on disk (the written spelling where nothing is found).
std::string ExpandLongPath(const std::string& path);

class TFileSystemWatcher;

class TShellChangeThread : public TObject, public std::enable_shared_from_this<TShellChangeThread> {
 public:
  static constexpr size_t kBufferSize = 4096;
  // Called with each change a buffer carries, in order.
  using TChangeSink =
      std::function<void(TFileOperation op, const std::string& name1, const std::string& name2)>;

  // Created suspended; Resume starts it. The worker holds itself while it runs and is freed when
  // Execute has returned and no one else holds it.
  static std::shared_ptr<TShellChangeThread> Create(TFileSystemWatcher* watcher, TFileDealMethod handler,
                                                    EventLoop& loop);
  TShellChangeThread(TFileSystemWatcher* watcher, TFileDealMethod handler, EventLoop& loop);
  ~TShellChangeThread() override;

  // User-interface thread.
  void Reconfigure(const std::string& directory, bool active, uint32_t filterBits, bool subTree);
  void SetMasks(const std::vector<std::string>& masks);
  void SetIncludePath(bool includePath);
  // Muted, the watch stays open and keeps following new folders, but nothing is handed over;
  // unmuting drops what came meanwhile.
  void SetMuted(bool muted);
  void Resume();
  // Marks the worker terminated and wakes it; it never calls the handler again and ends by itself.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Folders watched now (0 without an open watch), and whether the walk that puts the subtree's
  // watches on has ended (true without an open watch).
  size_t WatchCount() const;
  bool TreeWalked() const;

  // Workers whose thread has not ended yet, in the whole process.
  static int LiveCount();

  // The record walk of a change buffer: names converted to the code page (a name made only of
  // characters up to the space counts as empty), renames paired, malformed records ending it.
  static void WalkChanges(const uint8_t* buffer, size_t size, const TChangeSink& fire);

 protected:
  // The worker loop.
  virtual void Execute();
  // Closes the current watch (waking a waiting worker) and opens the configured one. Lock held.
  void OpenWatch();
  // The hand-over, on the user-interface thread.
  void DeliverChanges();
  // Runs call on the user-interface thread and waits for it; its failure goes to the loop.
  void HandOver(const std::function<void()>& call);
  // Once per worker, when its watch could not cover the whole tree: OnWatchLimit, on the
  // user-interface thread.
  void NoticeWatchLimit(bool reached);

 private:
  void Fire(TFileOperation op, std::string name1, std::string name2, const std::string& directory,
            bool includePath);

  TFileSystemWatcher* const watcher_;
  const TFileDealMethod handler_;
  EventLoop& loop_;

  mutable std::mutex lock_;
  std::condition_variable idle_;  // a worker without a watch waits here
  std::string directory_;         // ends with the delimiter
  bool subTree_ = true;
  uint32_t filterBits_ = 0;
  bool active_ = false;
  bool includePath_ = false;
  bool muted_ = false;
  bool openRefused_ = false;   // the last watch was refused for want of room
  bool limitNoticed_ = false;  // the worker's own
  std::vector<std::string> masks_;
  std::vector<std::string> deliveryMasks_;
  std::shared_ptr<DirectoryChangePort> port_;
  uint8_t buffer_[kBufferSize] = {};
  std::atomic<bool> terminated_{false};
  bool resumed_ = false;
};

class TFileSystemWatcher : public TComponent {
 public:
  explicit TFileSystemWatcher(TComponent* owner = nullptr);
  ~TFileSystemWatcher() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  // Default: the fixed drive's root (the home folder). A value equal apart from letter case is
  // ignored.
  const std::string& WatchedDir() const { return watchedDir_; }
  void SetWatchedDir(const std::string& dir);
  bool WatchSubTree() const { return watchSubTree_; }
  void SetWatchSubTree(bool subTree);
  TNotifyFilters NotifyFilters() const { return notifyFilters_; }
  void SetNotifyFilters(TNotifyFilters filters);
  const std::vector<std::string>& FileMasks() const { return fileMasks_; }
  void SetFileMasks(const std::vector<std::string>& masks);
  bool IncludePath() const { return includePath_; }
  void SetIncludePath(bool includePath);
  const TFileDealMethod& OnChange() const { return onChange_; }
  void SetOnChange(TFileDealMethod handler);
  // Muted: the watch stays as it is (no walk when it speaks again) but reports nothing; changes
  // made while muted are never reported. Cheap both ways, unlike Active.
  bool Muted() const { return muted_; }
  void SetMuted(bool muted);
  // Called (on this thread) when the kernel's watch limit left folders of the tree unwatched:
  // their changes are not reported.
  const TNotifyEvent& OnWatchLimit() const { return onWatchLimit_; }
  void SetOnWatchLimit(TNotifyEvent handler) { onWatchLimit_ = std::move(handler); }

  void Start();
  void Stop();
  // The current worker, or none.
  TShellChangeThread* Worker() const { return worker_.get(); }

 protected:
  void Loaded() override;

 private:
  void ReconfigureWorker();

  bool active_ = false;
  std::string watchedDir_;
  bool watchSubTree_ = true;
  TNotifyFilters notifyFilters_{nfFileNameChange, nfDirNameChange};
  std::vector<std::string> fileMasks_{"*.*"};
  bool includePath_ = false;
  bool muted_ = false;
  TFileDealMethod onChange_;
  TNotifyEvent onWatchLimit_;
  std::shared_ptr<TShellChangeThread> worker_;
};

}  // namespace lanqi
