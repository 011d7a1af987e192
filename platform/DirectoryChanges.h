// The directory change port: a watch on one folder (optionally with its whole subtree) whose
// changes are read, one read at a time, into the caller's buffer as change records.
//
// Record layout (little-endian, each record starting on a 4-byte boundary):
//   0  uint32 NextEntryOffset  bytes to the next record, 0 in the last one
//   4  uint32 Action           kFileActionAdded .. kFileActionRenamedNewName
//   8  uint32 FileNameLength   in bytes
//   12 FileName                UTF-16LE, no terminator, relative to the watched folder ('/' between levels)
// A completed read of 0 bytes means changes were lost (the kernel queue overflowed, or one change
// does not fit the buffer); the buffer is then all zeros.
//
// On Linux this is inotify with one watch per folder of the subtree: folders created or moved in
// are watched as they appear, unreadable ones are skipped, folders of other mounted file systems
// (another device than the watched folder's) are neither watched nor entered, and the kernel's
// watch limit ends the adding of watches without failing the port. An eventfd carries wake-ups.
//
// Kinds: names (created, deleted, renamed within the tree, moved in or out) under the file-name
// and folder-name bits; writes under size and last-write; attribute, time, owner and permission
// changes under attributes, last-write, creation and security; reads of files under last-access
// (folders being listed never count). A rename within the tree gives the old and the new name as
// two adjacent records of one read; a move out of the tree is a removal, a move in an addition.
// Changes that arrive while no read is pending wait in the kernel's queue for the next read, and
// what does not fit one buffer comes with the next reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace lanqi {

// Change filter bits.
constexpr uint32_t kFileNotifyChangeFileName = 0x001;
constexpr uint32_t kFileNotifyChangeDirName = 0x002;
constexpr uint32_t kFileNotifyChangeAttributes = 0x004;
constexpr uint32_t kFileNotifyChangeSize = 0x008;
constexpr uint32_t kFileNotifyChangeLastWrite = 0x010;
constexpr uint32_t kFileNotifyChangeLastAccess = 0x020;
constexpr uint32_t kFileNotifyChangeCreation = 0x040;
constexpr uint32_t kFileNotifyChangeSecurity = 0x100;

// Record actions.
constexpr uint32_t kFileActionAdded = 1;
constexpr uint32_t kFileActionRemoved = 2;
constexpr uint32_t kFileActionModified = 3;
constexpr uint32_t kFileActionRenamedOldName = 4;
constexpr uint32_t kFileActionRenamedNewName = 5;

constexpr size_t kChangeRecordHeaderSize = 12;

class DirectoryChangePort {
 public:
  enum class WaitResult { Completed, Woken, TimedOut };

  // Opens a watch on directory (the operating system's UTF-8 path). Returns nullptr when the
  // folder cannot be watched (missing, not a folder, no access, or no room left for its watch
  // under the kernel's watch limit: then *refusedForRoom is set). With walkLater the subtree's
  // watches are added by the first Wait, on the waiting thread, so Open returns once the folder
  // itself is watched; a change below a folder is seen from the moment that folder's watch is on
  // (TreeWalked tells when all are).
  static std::shared_ptr<DirectoryChangePort> Open(const std::string& directory, bool watchSubTree,
                                                   uint32_t notifyFilter, bool walkLater = false,
                                                   bool* refusedForRoom = nullptr);
  ~DirectoryChangePort();
  DirectoryChangePort(const DirectoryChangePort&) = delete;
  DirectoryChangePort& operator=(const DirectoryChangePort&) = delete;

  // Issues the read: the next completion writes into buffer[0..size). At most one read is pending;
  // false (and nothing changes) while one is, after Close, or for a null buffer. The buffer must
  // stay valid until the read completes or Close returns.
  bool Read(uint8_t* buffer, size_t size);
  bool ReadPending() const;

  // Waits (timeoutMs < 0: without limit) for the pending read to complete or for a wake-up. A
  // completed read sets bytes. Without a pending read only a wake-up ends the wait. A closed port
  // reports Woken at once. One thread waits at a time.
  WaitResult Wait(uint32_t& bytes, int timeoutMs = -1);
  // Ends one current or next wait with Woken (the stand-in for an empty completion packet).
  void Wake();
  // Cancels the pending read (its buffer is not touched once Close returns) and wakes the waiter;
  // further waits report Woken at once. The watches go with the last reference to the port.
  void Close();

  // Adds the subtree's watches that Open left for later, on the calling thread (the first Wait
  // does it otherwise); false when Close ended the walk. Returns at once when nothing is left.
  bool WalkTree();

  // Drops every change made until now, delivered or not: what the kernel holds is taken in (so
  // folders made meanwhile still get their watches) but not reported. A pending read stays
  // pending. Costs one read of the kernel's queue, never a walk.
  void Discard();

  // Folders watched now, whether the subtree's walk has ended, and whether the kernel refused a
  // watch for want of room.
  size_t WatchCount() const;
  bool TreeWalked() const;
  bool WatchLimitReached() const;

  // Tests stand in for the kernel's watch limit: from now on a port adds at most `limit` watches
  // (SIZE_MAX: only the kernel's limit), the next one failing as the kernel's refusal does.
  static void SetWatchLimitForTesting(size_t limit);

 private:
  struct Change {
    uint32_t action;
    std::u16string name;
  };

  DirectoryChangePort() = default;
  // Adds watches to the folder at relative path rel and, with the subtree flag, below it. With
  // reportContents every entry found below it is queued as added; with drainKernel the kernel's
  // queue is emptied into raw_ now and then on the way.
  void WatchTree(const std::string& rel, bool reportContents, bool drainKernel = false);
  // The walk's steps: up to `budget` folders taken from `pending`, newer ones pushed onto it.
  void WatchSteps(std::vector<std::string>& pending, bool reportContents, bool drainKernel, size_t budget);
  enum class AddResult { Added, Failed, Duplicate };
  AddResult AddWatch(const std::string& rel, bool isRoot);
  void ForgetTree(const std::string& rel);
  void MoveTree(const std::string& from, const std::string& to);
  std::string FullPath(const std::string& rel) const;
  // Moves what the kernel has queued into raw_; false when nothing was there.
  bool ReadKernel();
  // Reads and translates what the kernel has queued; false when nothing was there.
  bool Drain();
  // Events before byte `quietBytes` only keep the watches right; they report nothing.
  void Translate(const std::vector<uint8_t>& events, size_t quietBytes);
  void Queue(uint32_t action, const std::string& rel);
  bool WantNames(bool isDir) const;
  // Writes queued changes into the pending read's buffer and completes it.
  uint32_t Complete();

  std::string root_;  // UTF-8, no trailing '/' (except for "/")
  bool subTree_ = false;
  uint64_t rootDevice_ = 0;
  uint32_t filter_ = 0;
  uint32_t mask_ = 0;
  int inotifyFd_ = -1;
  int wakeFd_ = -1;

  mutable std::mutex mutex_;
  bool closed_ = false;
  bool limitReached_ = false;
  bool overflow_ = false;
  bool quiet_ = false;             // translating discarded events
  size_t quietBytes_ = 0;          // raw_ bytes read before the last Discard
  bool walkPending_ = false;       // Open left the subtree's walk for the first Wait
  std::vector<std::string> walk_;  // folders that walk has still to visit
  size_t walkSteps_ = 0;
  uint8_t* buffer_ = nullptr;
  size_t size_ = 0;
  std::unordered_map<int, std::string> paths_;  // watch -> folder relative to the root ("" the root)
  std::map<std::string, int> watches_;          // the same, by folder
  std::deque<Change> queue_;                    // translated, not yet delivered
  std::vector<uint8_t> raw_;                    // kernel events not yet translated
};

}  // namespace lanqi
