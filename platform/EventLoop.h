// The user-interface thread's loop: posted calls, synchronous calls from workers, periodic timers.
// Three implementations: the Qt loop (app), PlainEventLoop (command-line tool) and ManualEventLoop
// (tests, virtual clock: advancing it fires due timers, so no test waits real seconds).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace lanqi {

class EventLoop {
 public:
  using TimerId = int;
  virtual ~EventLoop() = default;

  // Queues fn to run on the loop's thread. Safe from any thread.
  virtual void Post(std::function<void()> fn) = 0;
  // From a worker: runs fn on the loop's thread and waits until it has run. On the loop's thread:
  // runs fn at once. A thread that waits for a worker must keep calling ProcessMessages, or the
  // worker's pending Synchronize never runs. What fn raises is raised again in the worker; a call
  // still waiting when the loop is destroyed is dropped and the worker gets the silent EAbort.
  virtual void Synchronize(std::function<void()> fn) = 0;
  // Starts a periodic timer; onTick runs on the loop's thread every intervalMs (>= 1).
  virtual TimerId StartTimer(int intervalMs, std::function<void()> onTick) = 0;
  virtual void StopTimer(TimerId id) = 0;
  // Runs the posted and synchronous calls waiting now (in the order they came) and the timers that
  // are due, each once: a timer that fell several intervals behind ticks once and then keeps its
  // rhythm from now. A call or tick that raises leaves the rest for the next round.
  virtual void ProcessMessages() = 0;
  // Sleeps on the calling thread (virtual time on the manual loop).
  virtual void Sleep(int ms) = 0;
  // Milliseconds of the loop's clock (monotonic; virtual on the manual loop).
  virtual int64_t NowMs() const = 0;
  virtual bool IsLoopThread() const = 0;
};

// The loop of the user-interface thread. Until one is installed, a PlainEventLoop bound to the
// first thread that asks.
EventLoop& MainLoop();
// Installs loop (not owned) as the main loop; nullptr restores the default plain loop.
void SetMainLoop(EventLoop* loop);

class PlainEventLoop : public EventLoop {
 public:
  PlainEventLoop();
  ~PlainEventLoop() override;
  void Post(std::function<void()> fn) override;
  void Synchronize(std::function<void()> fn) override;
  TimerId StartTimer(int intervalMs, std::function<void()> onTick) override;
  void StopTimer(TimerId id) override;
  void ProcessMessages() override;
  void Sleep(int ms) override;
  int64_t NowMs() const override;
  bool IsLoopThread() const override;
  // Runs until Quit(), waiting for work and timers in between.
  void Run();
  void Quit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class ManualEventLoop : public EventLoop {
 public:
  ManualEventLoop();
  ~ManualEventLoop() override;
  void Post(std::function<void()> fn) override;
  void Synchronize(std::function<void()> fn) override;
  TimerId StartTimer(int intervalMs, std::function<void()> onTick) override;
  void StopTimer(TimerId id) override;
  void ProcessMessages() override;
  // Advances the virtual clock by ms; Sleep on a worker thread sleeps for real.
  void Sleep(int ms) override;
  int64_t NowMs() const override;
  bool IsLoopThread() const override;
  // Moves the virtual clock forward by ms, firing every timer that falls due on the way, in time
  // order, and running posted calls between ticks.
  void Advance(int64_t ms);
  // Processes messages until pred() holds or realMs of real time passed (for worker hand-overs).
  bool RunUntil(const std::function<bool()>& pred, int realMs = 5000);
  // Waits, running nothing, until a worker's synchronous call is queued (false after realMs of
  // real time): that worker is then held in its hand-over until this thread processes messages.
  bool WaitForSynchronize(int realMs = 5000);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lanqi
