#include "platform/Timer.h"

#include <gtest/gtest.h>

#include <memory>

namespace lanqi {
namespace {

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainLoop(&loop); }
  void TearDown() override { SetMainLoop(nullptr); }
  ManualEventLoop loop;
};

TEST_F(TimerTest, DefaultTimerTicksEverySecondWithItselfAsSender) {
  TTimer timer;
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_TRUE(timer.Enabled());
  int ticks = 0;
  timer.OnTimer = [&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  };
  loop.Advance(999);
  EXPECT_EQ(ticks, 0);
  loop.Advance(1);
  EXPECT_EQ(ticks, 1);
  loop.Advance(2000);
  EXPECT_EQ(ticks, 3);
}

TEST_F(TimerTest, EnabledAndIntervalChangesRestartTheCount) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&](TObject*) { ++ticks; };
  timer.SetInterval(5000);
  loop.Advance(4000);
  timer.SetEnabled(false);
  loop.Advance(10000);
  EXPECT_EQ(ticks, 0);

  timer.SetEnabled(true);  // a whole interval from now
  loop.Advance(4999);
  EXPECT_EQ(ticks, 0);
  loop.Advance(1);
  EXPECT_EQ(ticks, 1);

  loop.Advance(3000);
  timer.SetInterval(100);  // the new interval counts from the change
  loop.Advance(99);
  EXPECT_EQ(ticks, 1);
  loop.Advance(1);
  EXPECT_EQ(ticks, 2);

  timer.SetInterval(0);  // stops while enabled
  loop.Advance(10000);
  EXPECT_EQ(ticks, 2);
  EXPECT_TRUE(timer.Enabled());
}

TEST_F(TimerTest, HandlerMayDisableOrDestroyItsTimer) {
  auto timer = std::make_unique<TTimer>();
  timer->SetInterval(10);
  int ticks = 0;
  timer->OnTimer = [&](TObject*) {
    ++ticks;
    timer.reset();
  };
  loop.Advance(100);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer, nullptr);

  TTimer once;
  once.SetInterval(10);
  once.OnTimer = [&](TObject*) {
    ++ticks;
    once.SetEnabled(false);
  };
  loop.Advance(100);
  EXPECT_EQ(ticks, 2);
}

TEST_F(TimerTest, OwnedTimerStopsWithItsOwnerAndWaitsWhileLoading) {
  int ticks = 0;
  {
    TComponent owner;
    TTimer* t = owner.Create<TTimer>();
    t->BeginLoading();
    t->SetInterval(10);
    t->OnTimer = [&](TObject*) { ++ticks; };
    loop.Advance(100);
    EXPECT_EQ(ticks, 0);
    t->EndLoading();
    loop.Advance(10);
    EXPECT_EQ(ticks, 1);
  }
  loop.Advance(100);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace lanqi
