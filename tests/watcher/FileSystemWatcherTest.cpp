// The watcher component on real folders with real inotify, its hand-overs driven by the manual loop.
#include "watcher/FileSystemWatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;

struct Ev {
  TFileOperation op;
  std::string a, b;
  bool operator==(const Ev&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Ev& e) {
  return os << e.op << "(" << e.a << "," << e.b << ")";
}

void Touch(const std::string& path, const std::string& bytes = "x") {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

class WatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSystemCodePage(936);
    SetMainLoop(&loop);
  }
  void TearDown() override {
    // Every worker winds down by itself once its watcher stopped or went.
    EXPECT_TRUE(loop.RunUntil([] { return TShellChangeThread::LiveCount() == 0; }, 5000));
    SetMainLoop(nullptr);
  }

  // A watcher on dir recording every event, active with its handler (which starts it).
  std::unique_ptr<TFileSystemWatcher> Watch(const std::string& path, bool subTree = true,
                                            TNotifyFilters filters = TNotifyFilters::All()) {
    auto w = std::make_unique<TFileSystemWatcher>();
    w->SetWatchedDir(path);
    w->SetWatchSubTree(subTree);
    w->SetNotifyFilters(filters);
    w->SetActive(true);
    w->SetOnChange(Recorder());
    // The subtree's watches go on from the worker: changes below a folder count once it is watched.
    EXPECT_TRUE(Walked(*w));
    return w;
  }
  bool Walked(const TFileSystemWatcher& w) {
    return loop.RunUntil([&] { return !w.Worker() || w.Worker()->TreeWalked(); });
  }
  TFileDealMethod Recorder() {
    return [this](TObject* sender, TFileOperation op, const std::string& a, const std::string& b) {
      senders.push_back(sender);
      events.push_back({op, a, b});
    };
  }
  bool Seen(const Ev& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
  bool WaitFor(const Ev& e, int ms = 5000) {
    return loop.RunUntil([&] { return Seen(e); }, ms);
  }
  // Runs hand-overs for a while, for checks that something did NOT arrive where no worker step
  // marks the moment it would have.
  void Settle(int ms = 300) {
    loop.RunUntil([] { return false; }, ms);
  }
  // Runs hand-overs until every worker has ended: after that nothing more can arrive.
  bool WorkersGone() {
    return loop.RunUntil([] { return TShellChangeThread::LiveCount() == 0; });
  }

  ManualEventLoop loop;
  test::TempDir dir;
  std::vector<Ev> events;
  std::vector<TObject*> senders;
};

TEST_F(WatcherTest, DeliversAddWriteRemoveAndOneRenameWithBothNames) {
  fs::create_directory(dir.File("sub"));
  auto w = Watch(dir.Path());
  Touch(dir.File("sub/a.txt"));
  ASSERT_TRUE(WaitFor({foAdded, "sub/a.txt", ""}));
  Touch(dir.File("sub/a.txt"), "more");
  ASSERT_TRUE(WaitFor({foModified, "sub/a.txt", ""}));
  fs::rename(dir.File("sub/a.txt"), dir.File("sub/b.txt"));
  ASSERT_TRUE(WaitFor({foRenamed, "sub/a.txt", "sub/b.txt"}));
  fs::remove(dir.File("sub/b.txt"));
  ASSERT_TRUE(WaitFor({foRemoved, "sub/b.txt", ""}));
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const Ev& e) { return e.op == foRenamed; }), 1);
  for (TObject* s : senders) EXPECT_EQ(s, w.get());
}

TEST_F(WatcherTest, DeepChangesArriveRelativeWithSubTreeAndNotAtAllWithout) {
  for (bool subTree : {true, false}) {
    SCOPED_TRACE(subTree);
    events.clear();
    test::TempDir tree;
    fs::create_directories(tree.File("a/b/c"));
    auto w = Watch(tree.Path(), subTree);
    Touch(tree.File("a/b/c/deep.txt"));
    Touch(tree.File("marker"));  // comes after the deep change, if that comes at all
    ASSERT_TRUE(WaitFor({foAdded, "marker", ""}));
    EXPECT_EQ(Seen({foAdded, "a/b/c/deep.txt", ""}), subTree);
  }
}

TEST_F(WatcherTest, FolderMadeAfterTheStartIsWatched) {
  auto w = Watch(dir.Path());
  fs::create_directory(dir.File("later"));
  ASSERT_TRUE(WaitFor({foAdded, "later", ""}));
  Touch(dir.File("later/x.txt"));
  EXPECT_TRUE(WaitFor({foAdded, "later/x.txt", ""}));
}

TEST_F(WatcherTest, MasksFilterAndIncludePathGivesFullPathsAsStored) {
  fs::create_directory(dir.File("Sub"));
  auto w = Watch(dir.Path());
  w->SetFileMasks({"*.txt", "*.DOC"});
  Touch(dir.File("Sub/skip.bin"));
  Touch(dir.File("Sub/take.doc"));
  Touch(dir.File("zz.txt"));
  ASSERT_TRUE(WaitFor({foAdded, "zz.txt", ""}));
  EXPECT_TRUE(Seen({foAdded, "Sub/take.doc", ""}));
  for (const Ev& e : events) EXPECT_EQ(e.a.find("skip"), std::string::npos) << e;

  w->SetIncludePath(true);
  fs::rename(dir.File("zz.txt"), dir.File("Sub/yy.txt"));
  EXPECT_TRUE(WaitFor({foRenamed, dir.File("zz.txt"), dir.File("Sub/yy.txt")}));
}

TEST_F(WatcherTest, ActiveWithoutHandlerStartsNothingUntilTheHandlerIsAssigned) {
  TFileSystemWatcher w;
  w.SetWatchedDir(dir.Path());
  w.SetActive(true);
  EXPECT_EQ(w.Worker(), nullptr);
  EXPECT_EQ(TShellChangeThread::LiveCount(), 0);
  w.SetOnChange(Recorder());
  ASSERT_NE(w.Worker(), nullptr);
  Touch(dir.File("a"));
  EXPECT_TRUE(WaitFor({foAdded, "a", ""}));

  // A second handler replaces the worker: the first handler hears nothing more.
  std::vector<Ev> second;
  w.SetOnChange([&](TObject*, TFileOperation op, const std::string& a, const std::string& b) {
    second.push_back({op, a, b});
  });
  events.clear();
  Touch(dir.File("b"));
  EXPECT_TRUE(loop.RunUntil([&] { return !second.empty(); }));
  // Once the replaced worker has ended it can deliver nothing more.
  EXPECT_TRUE(loop.RunUntil([] { return TShellChangeThread::LiveCount() == 1; }));
  EXPECT_TRUE(events.empty());

  w.SetActive(false);
  EXPECT_EQ(w.Worker(), nullptr);
}

TEST_F(WatcherTest, HandlerStoppingOnTheFirstEventOfABatchHearsNoMoreOfIt) {
  // The first change is read alone and the worker is held in its hand-over while the next twenty
  // changes pile up in the kernel: the next read takes them at once.
  std::unique_ptr<TFileSystemWatcher> w = Watch(dir.Path(), true, {nfFileNameChange});
  w->SetOnChange([&](TObject*, TFileOperation op, const std::string& a, const std::string& b) {
    events.push_back({op, a, b});
    if (a[0] == 'c') w->SetActive(false);
  });
  Touch(dir.File("first"));
  ASSERT_TRUE(loop.WaitForSynchronize());
  for (int i = 0; i < 20; ++i) Touch(dir.File("c" + std::to_string(i)));
  ASSERT_TRUE(WaitFor({foAdded, "first", ""}));
  EXPECT_EQ(events.size(), 1u);  // the first read held "first" alone
  ASSERT_TRUE(WaitFor({foAdded, "c0", ""}));
  ASSERT_TRUE(WorkersGone());
  EXPECT_EQ(events, (std::vector<Ev>{{foAdded, "first", ""}, {foAdded, "c0", ""}}));
  EXPECT_FALSE(w->Active());
  EXPECT_EQ(w->Worker(), nullptr);
}

TEST_F(WatcherTest, WatchedDirInOtherLetterCaseChangesNothing) {
  fs::create_directory(dir.File("Watched"));
  fs::create_directory(dir.File("Other"));
  auto w = Watch(dir.File("Watched"));
  TShellChangeThread* worker = w->Worker();
  // On this system the other spelling would name no folder: a reopen would end the watch.
  w->SetWatchedDir(dir.File("WATCHED"));
  EXPECT_EQ(w->WatchedDir(), dir.File("Watched"));
  EXPECT_EQ(w->Worker(), worker);
  Touch(dir.File("Watched/a"));
  EXPECT_TRUE(WaitFor({foAdded, "a", ""}));

  // Another folder does move the watch, on the same worker.
  w->SetWatchedDir(dir.File("Other"));
  EXPECT_EQ(w->Worker(), worker);
  Touch(dir.File("Watched/gone"));
  Touch(dir.File("Other/b"));
  EXPECT_TRUE(WaitFor({foAdded, "b", ""}));
  EXPECT_FALSE(Seen({foAdded, "gone", ""}));
}

TEST_F(WatcherTest, MissingFolderGivesAWorkerThatDeliversAndReportsNothing) {
  auto w = Watch(dir.File("missing"));
  ASSERT_NE(w->Worker(), nullptr);
  EXPECT_EQ(w->Worker()->WatchCount(), 0u);
  fs::create_directory(dir.File("missing"));  // appearing later does not start a watch by itself
  Touch(dir.File("missing/a"));
  Settle();
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(TShellChangeThread::LiveCount(), 1);
  w->SetActive(false);  // the idle worker ends when stopped
}

TEST_F(WatcherTest, HandlerThatReconfiguresOrDestroysTheWatcherInsideAHandOver) {
  fs::create_directory(dir.File("one"));
  fs::create_directory(dir.File("two"));
  // Reconfigured from inside the handler: the next changes come from the new folder.
  std::unique_ptr<TFileSystemWatcher> w = Watch(dir.File("one"));
  w->SetOnChange([&](TObject*, TFileOperation op, const std::string& a, const std::string& b) {
    events.push_back({op, a, b});
    if (a == "go") w->SetWatchedDir(dir.File("two"));
  });
  Touch(dir.File("one/go"));
  ASSERT_TRUE(WaitFor({foAdded, "go", ""}));
  Touch(dir.File("one/stale"));
  Touch(dir.File("two/fresh"));
  EXPECT_TRUE(WaitFor({foAdded, "fresh", ""}));
  EXPECT_FALSE(Seen({foAdded, "stale", ""}));

  // Destroyed from inside the handler, with more of the batch still to walk.
  w->SetOnChange([&](TObject*, TFileOperation op, const std::string& a, const std::string& b) {
    events.push_back({op, a, b});
    w.reset();
  });
  events.clear();
  for (int i = 0; i < 10; ++i) Touch(dir.File("two/d" + std::to_string(i)));
  ASSERT_TRUE(loop.RunUntil([&] { return !events.empty(); }));
  ASSERT_TRUE(WorkersGone());
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(w, nullptr);
}

TEST_F(WatcherTest, StoppingOrDestroyingWhileAWorkerWaitsInItsHandOver) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy);
    events.clear();
    auto w = Watch(dir.Path());
    Touch(dir.File(destroy ? "d" : "s"));
    // The worker has completed its read and waits for this thread in the hand-over.
    ASSERT_TRUE(loop.WaitForSynchronize());
    if (destroy)
      w.reset();
    else
      w->SetActive(false);
    // The worker ends only after its hand-over ran here, and that delivered nothing.
    EXPECT_TRUE(WorkersGone());
    EXPECT_TRUE(events.empty());
  }
  // Destroyed while waiting for changes, and while idle without a folder: no one waits for it.
  for (std::string path : {dir.Path(), dir.File("missing")}) {
    auto w = Watch(path);
    w.reset();
    EXPECT_TRUE(loop.RunUntil([] { return TShellChangeThread::LiveCount() == 0; }));
  }
}

TEST_F(WatcherTest, AHandlersFailureReachesTheLoopAndWatchingGoesOn) {
  auto w = Watch(dir.Path(), true, {nfFileNameChange});
  w->SetOnChange([&](TObject*, TFileOperation op, const std::string& a, const std::string& b) {
    events.push_back({op, a, b});
    if (a == "bad") throw EDatabaseError("boom");
  });
  Touch(dir.File("bad"));
  EXPECT_THROW(loop.RunUntil([] { return false; }, 2000), EDatabaseError);
  Touch(dir.File("good"));
  EXPECT_TRUE(WaitFor({foAdded, "good", ""}));
}

TEST_F(WatcherTest, MutedTheWatchStaysFollowsNewFoldersAndReportsOnlyLaterChanges) {
  fs::create_directory(dir.File("old"));
  auto w = Watch(dir.Path());
  TShellChangeThread* worker = w->Worker();
  const size_t watches = worker->WatchCount();
  w->SetMuted(true);
  Touch(dir.File("old/while-muted.txt"));
  fs::create_directories(dir.File("made/inner"));
  // Muted, the worker goes on reading: the new folders get their watches.
  ASSERT_TRUE(loop.RunUntil([&] { return worker->WatchCount() == watches + 2; }));
  EXPECT_TRUE(events.empty());
  // Made while muted but not read by the worker yet when the watcher speaks again (the worker is
  // held in the hand-over of an earlier change): dropped too.
  w->SetMuted(false);
  Touch(dir.File("first"));
  ASSERT_TRUE(loop.WaitForSynchronize());
  w->SetMuted(true);
  Touch(dir.File("old/just-before.txt"));
  w->SetMuted(false);
  EXPECT_EQ(w->Worker(), worker);
  EXPECT_TRUE(worker->TreeWalked());
  Touch(dir.File("made/inner/after.txt"));
  ASSERT_TRUE(WaitFor({foAdded, "made/inner/after.txt", ""}));
  Touch(dir.File("marker"));
  ASSERT_TRUE(WaitFor({foAdded, "marker", ""}));
  for (const char* name : {"old/while-muted.txt", "old/just-before.txt", "made", "made/inner"})
    EXPECT_FALSE(Seen({foAdded, name, ""})) << name;
}

TEST_F(WatcherTest, TheWatchLimitIsNoticedOnceOnThisThreadAndWatchingGoesOn) {
  struct Limit {
    Limit() { DirectoryChangePort::SetWatchLimitForTesting(2); }
    ~Limit() { DirectoryChangePort::SetWatchLimitForTesting(SIZE_MAX); }
  } limit;
  fs::create_directories(dir.File("a/b"));
  fs::create_directories(dir.File("c"));
  const std::thread::id self = std::this_thread::get_id();
  int notices = 0;
  auto w = std::make_unique<TFileSystemWatcher>();
  w->SetOnWatchLimit([&](TObject* sender) {
    ++notices;
    EXPECT_EQ(sender, w.get());
    EXPECT_EQ(std::this_thread::get_id(), self);
  });
  w->SetWatchedDir(dir.Path());
  w->SetActive(true);
  w->SetOnChange(Recorder());
  ASSERT_TRUE(loop.RunUntil([&] { return notices == 1; }));
  EXPECT_EQ(w->Worker()->WatchCount(), 2u);
  fs::create_directory(dir.File("later"));  // refused as well
  Touch(dir.File("top.txt"));
  ASSERT_TRUE(WaitFor({foAdded, "top.txt", ""}));
  EXPECT_TRUE(Seen({foAdded, "later", ""}));
  EXPECT_EQ(notices, 1);

  // No room even for the folder's own watch: told all the same, by a worker with nothing to watch.
  DirectoryChangePort::SetWatchLimitForTesting(0);
  int refusals = 0;
  TFileSystemWatcher none;
  none.SetOnWatchLimit([&](TObject* sender) {
    ++refusals;
    EXPECT_EQ(sender, &none);
  });
  none.SetWatchedDir(dir.Path());
  none.SetActive(true);
  none.SetOnChange(Recorder());
  ASSERT_TRUE(loop.RunUntil([&] { return refusals == 1; }));
  EXPECT_EQ(none.Worker()->WatchCount(), 0u);
}

TEST_F(WatcherTest, DefaultsAndSetterRules) {
  TFileSystemWatcher w;
  EXPECT_FALSE(w.Active());
  EXPECT_EQ(w.WatchedDir(), FixedDriveRoots().front());
  EXPECT_TRUE(w.WatchSubTree());
  EXPECT_EQ(w.NotifyFilters(), (TNotifyFilters{nfFileNameChange, nfDirNameChange}));
  EXPECT_EQ(w.FileMasks(), std::vector<std::string>{"*.*"});
  EXPECT_FALSE(w.IncludePath());
  EXPECT_FALSE(w.OnChange());

  // While loading, the values only settle; the end of loading starts the worker.
  TFileSystemWatcher loaded;
  loaded.BeginLoading();
  loaded.SetWatchedDir(dir.Path());
  loaded.SetActive(true);
  loaded.SetOnChange(Recorder());
  EXPECT_EQ(loaded.Worker(), nullptr);
  loaded.EndLoading();
  EXPECT_NE(loaded.Worker(), nullptr);

  // Owned by a component: destroyed with it, worker and all.
  TComponent owner;
  auto* owned = owner.Create<TFileSystemWatcher>();
  owned->SetWatchedDir(dir.Path());
  owned->SetActive(true);
  owned->SetOnChange(Recorder());
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(TShellChangeThread::LiveCount(), 2);
}

}  // namespace
}  // namespace lanqi
