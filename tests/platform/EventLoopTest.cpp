#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lanqi {
namespace {

TEST(ManualEventLoop, AdvanceFiresTimersInVirtualTimeOrder) {
  ManualEventLoop loop;
  std::vector<std::string> log;
  auto a = loop.StartTimer(300, [&] { log.push_back("a" + std::to_string(loop.NowMs())); });
  loop.StartTimer(500, [&] { log.push_back("b" + std::to_string(loop.NowMs())); });
  loop.Advance(299);
  EXPECT_TRUE(log.empty());
  // a is due three times in this span and fires three times, interleaved with b by due time.
  loop.Advance(701);
  EXPECT_EQ(log, (std::vector<std::string>{"a300", "b500", "a600", "a900", "b1000"}));
  EXPECT_EQ(loop.NowMs(), 1000);
  loop.StopTimer(a);
  log.clear();
  loop.Advance(500);
  EXPECT_EQ(log, (std::vector<std::string>{"b1500"}));
}

TEST(ManualEventLoop, TicksMayStopAndStartTimersAndPostedCallsRunBetweenTicks) {
  ManualEventLoop loop;
  std::vector<std::string> log;
  EventLoop::TimerId self = 0;
  self = loop.StartTimer(100, [&] {
    log.push_back("tick" + std::to_string(loop.NowMs()));
    loop.StopTimer(self);
    loop.Post([&] { log.push_back("posted" + std::to_string(loop.NowMs())); });
    loop.StartTimer(50, [&] { log.push_back("second" + std::to_string(loop.NowMs())); });
  });
  loop.Advance(200);
  EXPECT_EQ(log, (std::vector<std::string>{"tick100", "posted100", "second150", "second200"}));
}

TEST(ManualEventLoop, ProcessMessagesRunsQueuedCallsInOrderAndLeavesNewOnesForLater) {
  ManualEventLoop loop;
  std::vector<int> log;
  loop.Post([&] {
    log.push_back(1);
    loop.Post([&] { log.push_back(3); });
  });
  loop.Post([&] { log.push_back(2); });
  loop.ProcessMessages();
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  loop.ProcessMessages();
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
}

TEST(ManualEventLoop, SleepOnLoopThreadMovesClockWithoutTicksAndLateTimerFiresOnce) {
  ManualEventLoop loop;
  int ticks = 0;
  loop.StartTimer(100, [&] { ++ticks; });
  loop.Sleep(350);
  EXPECT_EQ(loop.NowMs(), 350);
  EXPECT_EQ(ticks, 0);
  loop.ProcessMessages();
  EXPECT_EQ(ticks, 1);  // late ticks coalesce
  loop.ProcessMessages();
  EXPECT_EQ(ticks, 1);
  loop.Advance(100);  // rescheduled one interval after the late tick
  EXPECT_EQ(ticks, 2);
}

TEST(ManualEventLoop, SynchronizeFromWorkerRunsOnLoopThreadWhileItPumps) {
  ManualEventLoop loop;
  const auto loopThread = std::this_thread::get_id();
  std::atomic<bool> ranOnLoop{false}, returned{false}, sawError{false};
  std::thread worker([&] {
    EXPECT_FALSE(loop.IsLoopThread());
    loop.Synchronize([&] { ranOnLoop = std::this_thread::get_id() == loopThread; });
    returned = true;
    try {
      loop.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      sawError = std::string(e.what()) == "boom";
    }
  });
  EXPECT_TRUE(loop.RunUntil([&] { return sawError.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnLoop);
  EXPECT_TRUE(returned);
}

TEST(ManualEventLoop, SynchronizeOnLoopThreadRunsAtOnce) {
  ManualEventLoop loop;
  bool ran = false;
  EXPECT_TRUE(loop.IsLoopThread());
  loop.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(ManualEventLoop, RunUntilGivesUpAfterRealTime) {
  ManualEventLoop loop;
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 20));
}

TEST(PlainEventLoop, RunUntilQuitWithTimerAndWorkerPosts) {
  PlainEventLoop loop;
  int ticks = 0;
  // Read before the timer starts: read after, the timer's own start lies up to a millisecond
  // earlier and three ticks can end 14 whole milliseconds after it.
  const int64_t start = loop.NowMs();
  EventLoop::TimerId id = loop.StartTimer(5, [&] {
    if (++ticks == 3) loop.Quit();
  });
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(loop.NowMs() - start, 15);
  loop.StopTimer(id);

  // A worker's Post wakes the waiting loop; a worker's Synchronize waits for it; Quit from a worker.
  std::vector<int> log;
  std::thread worker([&] {
    loop.Post([&] { log.push_back(1); });
    loop.Synchronize([&] { log.push_back(2); });
    loop.Quit();
  });
  loop.Run();
  worker.join();
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST(PlainEventLoop, QuitBeforeRunEndsTheNextRun) {
  PlainEventLoop loop;
  loop.Quit();
  loop.Run();  // returns at once
  bool ran = false;
  loop.Post([&] {
    ran = true;
    loop.Quit();
  });
  loop.Run();
  EXPECT_TRUE(ran);
}

TEST(MainLoop, InstalledLoopReplacesTheDefaultUntilReset) {
  EventLoop& def = MainLoop();
  EXPECT_EQ(&def, &MainLoop());
  EXPECT_NE(dynamic_cast<PlainEventLoop*>(&def), nullptr);
  ManualEventLoop manual;
  SetMainLoop(&manual);
  EXPECT_EQ(&MainLoop(), &manual);
  SetMainLoop(nullptr);
  EXPECT_EQ(&MainLoop(), &def);
}

}  // namespace
}  // namespace lanqi
