// The change port on real folders with real inotify.
#include "platform/DirectoryChanges.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;

struct Rec {
  uint32_t action;
  std::string name;  // ASCII names only in these tests
  bool operator==(const Rec&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rec& r) {
  return os << r.action << ":" << r.name;
}

uint32_t LE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Decodes a completed read, checking the layout on the way.
std::vector<Rec> Decode(const uint8_t* buf, size_t size, uint32_t bytes) {
  std::vector<Rec> out;
  if (bytes == 0) return out;
  EXPECT_LE(bytes, size);
  size_t off = 0;
  for (;;) {
    EXPECT_EQ(off % 4, 0u);
    const uint32_t next = LE32(buf + off), action = LE32(buf + off + 4), len = LE32(buf + off + 8);
    EXPECT_LE(off + 12 + len, bytes);
    std::string name;
    for (uint32_t i = 0; i < len / 2; ++i) {
      const uint16_t u = static_cast<uint16_t>(buf[off + 12 + 2 * i] | buf[off + 13 + 2 * i] << 8);
      name.push_back(u < 0x80 ? static_cast<char>(u) : '#');
    }
    out.push_back({action, name});
    if (next == 0) break;
    off += next;
    if (off >= bytes) {
      ADD_FAILURE() << "record chain runs past the completed bytes";
      break;
    }
  }
  return out;
}

void Touch(const std::string& path, const std::string& bytes = "x") {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

class PortReader {
 public:
  explicit PortReader(std::shared_ptr<DirectoryChangePort> port) : port_(std::move(port)) {}
  // Reads completed batches until a record equal to `want` arrived or timeoutMs passed.
  bool Until(const Rec& want, int timeoutMs = 5000) {
    return UntilPred([&](const Rec& r) { return r == want; }, timeoutMs);
  }
  template <class Pred>
  bool UntilPred(Pred pred, int timeoutMs = 5000) {
    for (size_t i = seen_; i < all.size(); ++i)
      if (pred(all[i])) return seen_ = i + 1, true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      if (!ReadOnce(50)) continue;
      for (size_t i = seen_; i < all.size(); ++i)
        if (pred(all[i])) return seen_ = i + 1, true;
    }
    return false;
  }
  // One read; false when nothing completed within ms.
  bool ReadOnce(int ms) {
    std::memset(buf, 0xAB, sizeof buf);
    port_->Read(buf, sizeof buf);
    uint32_t bytes = 0xFFFFFFFF;
    if (port_->Wait(bytes, ms) != DirectoryChangePort::WaitResult::Completed) return false;
    lastBytes = bytes;
    ++reads;
    if (bytes == 0) {
      ++overflows;
      overflowZeroed = overflowZeroed && std::all_of(buf, buf + sizeof buf, [](uint8_t x) { return x == 0; });
    }
    for (auto& r : Decode(buf, sizeof buf, bytes)) all.push_back(r);
    return true;
  }
  bool Has(const Rec& r) const { return std::find(all.begin(), all.end(), r) != all.end(); }

  uint8_t buf[4096];
  std::vector<Rec> all;
  uint32_t lastBytes = 0;
  int reads = 0, overflows = 0;
  bool overflowZeroed = true;

 private:
  std::shared_ptr<DirectoryChangePort> port_;
  size_t seen_ = 0;
};

constexpr uint32_t kNames = kFileNotifyChangeFileName | kFileNotifyChangeDirName;
constexpr uint32_t kAll = 0x17F;

// Child exit codes of InNamespaces beside the body's own.
constexpr int kNoNamespaces = 100;  // the kernel refused new namespaces
constexpr int kNotAllowed = 101;    // inside them, the body could not set up what it needs

bool WriteText(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// Runs body in a child process inside a new user namespace (this user mapped to its root) plus
// the namespaces of `flags`, where a test may mount or lower a limit without touching the
// machine. The child's exit code: 0 when every check of body held, else the failed check's number.
int InNamespaces(int flags, const std::function<int()>& body) {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  const pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWUSER | flags) != 0 || !WriteText("/proc/self/setgroups", "deny") ||
        !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      _exit(kNoNamespaces);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(DirectoryChangePort, ReportsAddWriteRemoveAndRenameRelativeToTheRoot) {
  test::TempDir dir;
  fs::create_directories(dir.File("sub"));
  auto port = DirectoryChangePort::Open(dir.Path(), true, kAll);
  ASSERT_TRUE(port);
  PortReader r(port);

  Touch(dir.File("sub/a.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "sub/a.txt"}));
  Touch(dir.File("sub/a.txt"), "more");
  EXPECT_TRUE(r.Until({kFileActionModified, "sub/a.txt"}));
  fs::rename(dir.File("sub/a.txt"), dir.File("sub/b.txt"));
  EXPECT_TRUE(r.Until({kFileActionRenamedOldName, "sub/a.txt"}));
  // The new name follows its old name directly, in the same batch.
  EXPECT_TRUE(r.Until({kFileActionRenamedNewName, "sub/b.txt"}, 0));
  fs::remove(dir.File("sub/b.txt"));
  EXPECT_TRUE(r.Until({kFileActionRemoved, "sub/b.txt"}));
}

TEST(DirectoryChangePort, SubtreeFlagDecidesWhetherDeepChangesArrive) {
  for (bool subTree : {true, false}) {
    SCOPED_TRACE(subTree);
    test::TempDir dir;
    fs::create_directories(dir.File("a/b/c"));
    auto port = DirectoryChangePort::Open(dir.Path(), subTree, kNames);
    ASSERT_TRUE(port);
    PortReader r(port);
    Touch(dir.File("a/b/c/deep.txt"));
    Touch(dir.File("marker"));  // arrives after the deep change, if that arrives at all
    ASSERT_TRUE(r.Until({kFileActionAdded, "marker"}));
    EXPECT_EQ(r.Has({kFileActionAdded, "a/b/c/deep.txt"}), subTree);
    EXPECT_EQ(port->WatchCount(), subTree ? 4u : 1u);
  }
}

TEST(DirectoryChangePort, FoldersMadeMovedInRenamedOrMovedOutKeepTheirWatchesRight) {
  test::TempDir dir, outside;
  fs::create_directories(outside.File("t/deep"));
  // Siblings whose names sort between a folder and its subfolders.
  fs::create_directory(dir.File("new.x"));
  fs::create_directory(dir.File("renamed x"));
  auto port = DirectoryChangePort::Open(dir.Path(), true, kNames);
  ASSERT_TRUE(port);
  PortReader r(port);

  // Made after the start, filled at once: entries made before its watch was in place still count.
  fs::create_directories(dir.File("new/inner"));
  Touch(dir.File("new/inner/early.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "new/inner/early.txt"}));
  Touch(dir.File("new/inner/late.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "new/inner/late.txt"}));

  // Renamed: changes below it carry the new name.
  fs::rename(dir.File("new"), dir.File("renamed"));
  EXPECT_TRUE(r.Until({kFileActionRenamedNewName, "renamed"}));
  Touch(dir.File("renamed/inner/x.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "renamed/inner/x.txt"}));

  // Moved in from outside: its whole tree is watched.
  fs::rename(outside.File("t"), dir.File("t"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "t"}));
  Touch(dir.File("t/deep/y.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "t/deep/y.txt"}));

  // Moved out: reported as removed, and nothing of it arrives afterwards.
  fs::rename(dir.File("renamed"), outside.File("gone"));
  EXPECT_TRUE(r.Until({kFileActionRemoved, "renamed"}));
  Touch(outside.File("gone/inner/z.txt"));
  Touch(dir.File("marker"));
  ASSERT_TRUE(r.Until({kFileActionAdded, "marker"}));
  for (auto& rec : r.all) EXPECT_EQ(rec.name.find("z.txt"), std::string::npos) << rec;
  EXPECT_EQ(port->WatchCount(), 5u);  // root, the siblings, t, t/deep: nothing of the moved-out tree
}

TEST(DirectoryChangePort, ListingFoldersIsNoChangeEvenWithTheAccessFilter) {
  // The port's own walk reads every folder; before that was ignored, a large tree flooded the
  // kernel's queue and the first real change was lost.
  test::TempDir dir;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 20; ++j)
      fs::create_directories(dir.File("d" + std::to_string(i) + "/e" + std::to_string(j)));
  auto port = DirectoryChangePort::Open(dir.Path(), true, kAll);
  ASSERT_TRUE(port);
  for (auto& e : fs::recursive_directory_iterator(dir.Path())) (void)e;  // someone else lists them too
  Touch(dir.File("d1/e7/f"));
  PortReader r(port);
  ASSERT_TRUE(r.Until({kFileActionModified, "d1/e7/f"}));
  EXPECT_EQ(r.all, (std::vector<Rec>{{kFileActionAdded, "d1/e7/f"}, {kFileActionModified, "d1/e7/f"}}));
}

TEST(DirectoryChangePort, FilterBitsSelectTheKindsReported) {
  struct Case {
    uint32_t filter;
    bool file, dir, write;
  } cases[] = {
      {kFileNotifyChangeFileName, true, false, false},
      {kFileNotifyChangeDirName, false, true, false},
      {kFileNotifyChangeLastWrite, false, false, true},
      {kFileNotifyChangeSize, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    test::TempDir dir;
    Touch(dir.File("old.txt"));
    auto port = DirectoryChangePort::Open(dir.Path(), true, c.filter);
    ASSERT_TRUE(port);
    PortReader r(port);
    fs::create_directory(dir.File("d"));
    Touch(dir.File("f.txt"));
    Touch(dir.File("old.txt"), "grown");
    // Markers that every filter above reports, after everything else.
    fs::create_directory(dir.File("zz.dir"));
    Touch(dir.File("zz"));
    ASSERT_TRUE(r.UntilPred([](const Rec& x) { return x.name.rfind("zz", 0) == 0; }));
    EXPECT_EQ(r.Has({kFileActionAdded, "f.txt"}), c.file);
    EXPECT_EQ(r.Has({kFileActionAdded, "d"}), c.dir);
    EXPECT_EQ(r.Has({kFileActionModified, "old.txt"}), c.write);
  }
}

TEST(DirectoryChangePort, OneReadAtATimeAndCloseReleasesTheBuffer) {
  test::TempDir dir;
  auto port = DirectoryChangePort::Open(dir.Path(), false, kNames);
  ASSERT_TRUE(port);
  uint8_t a[4096], b[4096];
  std::memset(b, 0xCD, sizeof b);
  EXPECT_TRUE(port->Read(a, sizeof a));
  EXPECT_FALSE(port->Read(b, sizeof b));  // a second read on the same handle is refused
  EXPECT_TRUE(port->ReadPending());

  // A change completes the read: the kernel queue holds it until the wait.
  Touch(dir.File("one"));
  uint32_t bytes = 0;
  ASSERT_EQ(port->Wait(bytes, 5000), DirectoryChangePort::WaitResult::Completed);
  EXPECT_EQ(Decode(a, sizeof a, bytes), (std::vector<Rec>{{kFileActionAdded, "one"}}));
  EXPECT_FALSE(port->ReadPending());

  // Without a pending read, changes wait in the kernel; only a wake-up ends the wait.
  Touch(dir.File("two"));
  EXPECT_EQ(port->Wait(bytes, 100), DirectoryChangePort::WaitResult::TimedOut);
  port->Wake();
  EXPECT_EQ(port->Wait(bytes, 5000), DirectoryChangePort::WaitResult::Woken);

  // Closing cancels the pending read: its buffer is never written afterwards.
  std::memset(a, 0xAB, sizeof a);
  ASSERT_TRUE(port->Read(a, sizeof a));
  port->Close();
  Touch(dir.File("three"));
  EXPECT_EQ(port->Wait(bytes, 5000), DirectoryChangePort::WaitResult::Woken);
  EXPECT_FALSE(port->ReadPending());
  EXPECT_FALSE(port->Read(a, sizeof a));
  for (uint8_t x : a) ASSERT_EQ(x, 0xAB);
  for (uint8_t x : b) ASSERT_EQ(x, 0xCD);
}

TEST(DirectoryChangePort, AWalkLeftForLaterIsDoneByTheWaiterAndEndsWithClose) {
  test::TempDir dir;
  fs::create_directories(dir.File("a/b/c"));
  auto port = DirectoryChangePort::Open(dir.Path(), true, kNames, true);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->WatchCount(), 1u);
  EXPECT_FALSE(port->TreeWalked());
  PortReader r(port);
  EXPECT_FALSE(r.ReadOnce(0));  // nothing changed, but the wait walked the tree first
  EXPECT_TRUE(port->TreeWalked());
  EXPECT_EQ(port->WatchCount(), 4u);
  Touch(dir.File("a/b/c/deep.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "a/b/c/deep.txt"}));

  auto closed = DirectoryChangePort::Open(dir.Path(), true, kNames, true);
  ASSERT_TRUE(closed);
  closed->Close();
  EXPECT_FALSE(closed->WalkTree());
  EXPECT_EQ(closed->WatchCount(), 1u);
}

TEST(DirectoryChangePort, DiscardDropsWhatCameBeforeAndKeepsFollowingNewFolders) {
  test::TempDir dir;
  fs::create_directory(dir.File("old"));
  auto port = DirectoryChangePort::Open(dir.Path(), true, kNames);
  ASSERT_TRUE(port);
  PortReader r(port);
  Touch(dir.File("queued.txt"));
  ASSERT_TRUE(r.Until({kFileActionAdded, "queued.txt"}));
  Touch(dir.File("old/before.txt"));
  fs::create_directories(dir.File("made/inner"));
  port->Discard();
  const size_t kept = r.all.size();
  Touch(dir.File("made/inner/after.txt"));
  Touch(dir.File("old/after.txt"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "old/after.txt"}));
  // Made in a folder whose watch came after the discard: found by the walk that put it on.
  EXPECT_TRUE(r.Has({kFileActionAdded, "made/inner/after.txt"}) ||
              r.Until({kFileActionAdded, "made/inner/after.txt"}));
  EXPECT_EQ(port->WatchCount(), 4u);
  for (size_t i = kept; i < r.all.size(); ++i) {
    EXPECT_NE(r.all[i].name, "old/before.txt");
    EXPECT_NE(r.all[i].name, "made");
  }
}

TEST(DirectoryChangePort, OtherMountedFileSystemsAreNeitherWatchedNorEntered) {
  test::TempDir dir;
  fs::create_directories(dir.File("a/b"));
  fs::create_directories(dir.File("mnt"));
  const int code = InNamespaces(CLONE_NEWNS, [&]() -> int {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("none", dir.File("mnt").c_str(), "tmpfs", 0, nullptr) != 0)
      return kNotAllowed;
    fs::create_directories(dir.File("mnt/x/y"));
    for (bool later : {false, true}) {
      auto port = DirectoryChangePort::Open(dir.Path(), true, kNames, later);
      if (!port) return 1;
      if (later && !port->WalkTree()) return 2;
      if (port->WatchCount() != 3) return 3;  // the root, a, a/b
    }
    auto port = DirectoryChangePort::Open(dir.Path(), true, kNames);
    PortReader r(port);
    Touch(dir.File("mnt/x/inside.txt"));
    Touch(dir.File("a/b/outside.txt"));
    if (!r.Until({kFileActionAdded, "a/b/outside.txt"})) return 4;
    for (const Rec& rec : r.all)
      if (rec.name.find("inside") != std::string::npos) return 5;
    return 0;
  });
  if (code == kNoNamespaces || code == kNotAllowed)
    GTEST_SKIP() << "no mount namespace of its own for this test (refused by the kernel, or the process "
                    "already runs threads, as under the thread sanitizer)";
  EXPECT_EQ(code, 0);
}

TEST(DirectoryChangePort, TheKernelsWatchLimitLeavesAWorkingPortThatSaysSo) {
  test::TempDir dir;
  for (const char* d : {"a", "b", "c", "d"}) fs::create_directories(dir.File(d));
  const int code = InNamespaces(0, [&]() -> int {
    // The limit of this namespace only: the machine's stays as it is.
    if (!WriteText("/proc/sys/user/max_inotify_watches", "3")) return kNotAllowed;
    auto port = DirectoryChangePort::Open(dir.Path(), true, kNames);
    if (!port) return 1;
    if (!port->WatchLimitReached()) return 2;
    if (port->WatchCount() != 3) return 3;
    PortReader r(port);
    Touch(dir.File("top.txt"));
    if (!r.Until({kFileActionAdded, "top.txt"})) return 4;
    bool refused = false;
    auto second =
        DirectoryChangePort::Open(dir.Path(), false, kNames, false, &refused);  // no room for its folder
    if (second || !refused) return 5;
    refused = false;
    if (DirectoryChangePort::Open(dir.File("missing"), false, kNames, false, &refused) || refused) return 6;
    return 0;
  });
  if (code == kNoNamespaces || code == kNotAllowed)
    GTEST_SKIP() << "no user namespace of its own for this test to lower the watch limit in (refused by the "
                    "kernel, or the process already runs threads, as under the thread sanitizer)";
  EXPECT_EQ(code, 0);
}

TEST(DirectoryChangePort, FoldersThatCannotBeWatchedGiveNoPort) {
  test::TempDir dir;
  Touch(dir.File("plain.txt"));
  EXPECT_EQ(DirectoryChangePort::Open(dir.File("missing"), true, kNames), nullptr);
  EXPECT_EQ(DirectoryChangePort::Open(dir.File("plain.txt"), true, kNames), nullptr);
  EXPECT_EQ(DirectoryChangePort::Open("", true, kNames), nullptr);
}

TEST(DirectoryChangePort, ManyChangesArriveOverSeveralFullReadsWithoutLoss) {
  test::TempDir dir;
  auto port = DirectoryChangePort::Open(dir.Path(), false, kNames);
  ASSERT_TRUE(port);
  PortReader r(port);
  const std::string pad(100, 'n');
  constexpr int kFiles = 200;  // about 200 bytes a record: ten buffers' worth
  for (int i = 0; i < kFiles; ++i) Touch(dir.File(pad + std::to_string(i)));
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(r.Until({kFileActionAdded, pad + std::to_string(i)})) << i;
  EXPECT_GE(r.reads, 10);
  EXPECT_EQ(r.overflows, 0);
}

TEST(DirectoryChangePort, LostChangesCompleteWithZeroBytesAndZeroedBuffer) {
  // A path too long for any 4096-byte buffer: eleven levels of 200 characters (2210 UTF-16 units).
  test::TempDir dir;
  auto port = DirectoryChangePort::Open(dir.Path(), true, kNames);
  ASSERT_TRUE(port);
  std::string rel;
  for (int i = 0; i < 11; ++i) rel += (rel.empty() ? "" : "/") + std::string(200, static_cast<char>('a' + i));
  fs::create_directories(dir.File(rel));
  PortReader r(port);
  ASSERT_TRUE(r.UntilPred([&](const Rec&) { return r.overflows > 0; }) || r.overflows > 0);
  EXPECT_TRUE(r.overflowZeroed);
  // The ten shorter levels fit and were delivered; changes after the lost one arrive as usual.
  EXPECT_TRUE(r.UntilPred([](const Rec& x) { return x.name.size() == 2009; }));
  Touch(dir.File("after"));
  EXPECT_TRUE(r.Until({kFileActionAdded, "after"}));

  // The kernel's queue overflowing while no read was pending: writes that alternate between two
  // files, so the kernel cannot merge them.
  test::TempDir flood;
  Touch(flood.File("a"));
  Touch(flood.File("b"));
  auto port2 = DirectoryChangePort::Open(flood.Path(), false, kAll);
  ASSERT_TRUE(port2);
  int limit = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
  if (limit > 1000000) GTEST_SKIP() << "kernel queue too large to flood quickly";
  const int fa = open(flood.File("a").c_str(), O_WRONLY), fb = open(flood.File("b").c_str(), O_WRONLY);
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  for (int i = 0; i <= limit / 2 + 10; ++i) {
    ASSERT_EQ(write(fa, "x", 1), 1);
    ASSERT_EQ(write(fb, "x", 1), 1);
  }
  close(fa);
  close(fb);
  PortReader r2(port2);
  ASSERT_TRUE(r2.ReadOnce(5000));
  // What was queued before the overflow goes with it: the loss is reported once, as 0 bytes.
  EXPECT_EQ(r2.lastBytes, 0u);
  EXPECT_TRUE(r2.overflowZeroed);
  Touch(flood.File("after"));
  EXPECT_TRUE(r2.Until({kFileActionAdded, "after"}));
}

}  // namespace
}  // namespace lanqi
