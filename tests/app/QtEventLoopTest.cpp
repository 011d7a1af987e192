#include "app/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/Timer.h"

namespace lanqi {
namespace {

// Runs the GUI thread's events until pred holds (false after 5 real seconds).
bool WaitFor(const std::function<bool()>& pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

TEST(QtEventLoop, SynchronizeFromAWorkerRunsOnTheGuiThreadAndWaits) {
  QtEventLoop loop;
  QThread* gui = QThread::currentThread();
  std::atomic<bool> ranOnGui{false}, workerResumed{false}, sawError{false};
  std::atomic<int> order{0};
  std::thread worker([&] {
    EXPECT_FALSE(loop.IsLoopThread());
    loop.Synchronize([&] {
      ranOnGui = QThread::currentThread() == gui;
      order = 1;
    });
    // Only after the call has run.
    EXPECT_EQ(order.load(), 1);
    try {
      loop.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      sawError = std::string(e.what()) == "boom";
    }
    workerResumed = true;
  });
  EXPECT_TRUE(WaitFor([&] { return workerResumed.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnGui);
  EXPECT_TRUE(sawError);  // the exception reached the worker, not Qt's event delivery
}

TEST(QtEventLoop, SynchronizeOnTheGuiThreadRunsAtOncePostRunsLater) {
  QtEventLoop loop;
  EXPECT_TRUE(loop.IsLoopThread());
  bool synced = false, posted = false;
  loop.Synchronize([&] { synced = true; });
  EXPECT_TRUE(synced);
  loop.Post([&] { posted = true; });
  EXPECT_FALSE(posted);
  loop.ProcessMessages();
  EXPECT_TRUE(posted);

  std::atomic<bool> fromWorker{false};
  std::thread([&] { loop.Post([&] { fromWorker = QThread::currentThread() == qApp->thread(); }); }).join();
  EXPECT_TRUE(WaitFor([&] { return fromWorker.load(); }));
}

TEST(QtEventLoop, TimersTickUntilStoppedEvenFromTheirOwnTick) {
  QtEventLoop loop;
  int ticks = 0, other = 0;
  EventLoop::TimerId id = 0;
  id = loop.StartTimer(5, [&] {
    if (++ticks == 3) loop.StopTimer(id);
  });
  EventLoop::TimerId second = loop.StartTimer(5, [&] { ++other; });
  EXPECT_NE(id, second);
  EXPECT_TRUE(WaitFor([&] { return ticks == 3 && other >= 6; }));
  EXPECT_EQ(ticks, 3);
  loop.StopTimer(second);
  int seen = other;
  loop.Sleep(20);
  loop.ProcessMessages();
  EXPECT_EQ(other, seen);
  EXPECT_EQ(ticks, 3);
  loop.StopTimer(12345);  // unknown ids are ignored
}

TEST(QtEventLoop, TimerComponentAndClockRunOnIt) {
  QtEventLoop loop;
  SetMainLoop(&loop);
  {
    TTimer timer;
    timer.SetInterval(5);
    int ticks = 0;
    timer.OnTimer = [&](TObject* s) {
      EXPECT_EQ(s, &timer);
      ++ticks;
    };
    int64_t start = loop.NowMs();
    EXPECT_TRUE(WaitFor([&] { return ticks >= 2; }));
    EXPECT_GE(loop.NowMs() - start, 5);
    timer.SetEnabled(false);
  }
  SetMainLoop(nullptr);
}

}  // namespace
}  // namespace lanqi
