#include "platform/EventLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// One synchronous call from a worker. It carries its own lock so that the waiting worker never
// touches the loop again after queueing (the loop may be gone when the call is abandoned).
struct SyncCall {
  std::function<void()> fn;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr error;

  void Run() {
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    Finish();
  }
  // The loop went away before running the call: the worker unwinds silently.
  void Abandon() {
    error = std::make_exception_ptr(EAbort());
    Finish();
  }
  void Finish() {
    std::lock_guard<std::mutex> lock(m);
    done = true;
    cv.notify_all();
  }
  // Blocks the worker until the loop ran (or abandoned) the call; the call's failure is raised
  // again here, on the thread that asked for it.
  void Wait() {
    std::exception_ptr e;
    {
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [this] { return done; });
      e = std::move(error);  // the worker alone owns the failure from here on
    }
    if (e) std::rethrow_exception(e);
  }
};

struct TimerEntry {
  int interval = 1;
  int64_t due = 0;
  std::shared_ptr<std::function<void()>> onTick;
};

// The state both loops share: one FIFO queue of posted and synchronous calls, the timers and the
// thread the loop belongs to. The clock is the caller's business.
class LoopCore {
 public:
  LoopCore() : thread_(std::this_thread::get_id()) {}

  ~LoopCore() {
    // Release workers still waiting on calls that will never run now.
    std::deque<Entry> rest;
    {
      std::lock_guard<std::mutex> lock(m_);
      rest.swap(queue_);
    }
    for (auto& e : rest)
      if (e.sync) e.sync->Abandon();
  }

  bool IsLoopThread() const { return thread_.load() == std::this_thread::get_id(); }

  void Post(std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> lock(m_);
      queue_.push_back(Entry{std::move(fn), nullptr});
    }
    cv_.notify_all();
  }

  void Synchronize(std::function<void()> fn) {
    if (IsLoopThread()) {
      fn();
      return;
    }
    auto call = std::make_shared<SyncCall>();
    call->fn = std::move(fn);
    {
      std::lock_guard<std::mutex> lock(m_);
      queue_.push_back(Entry{nullptr, call});
    }
    cv_.notify_all();
    call->Wait();
  }

  EventLoop::TimerId StartTimer(int intervalMs, std::function<void()> onTick, int64_t now) {
    std::lock_guard<std::mutex> lock(m_);
    EventLoop::TimerId id = nextId_++;
    TimerEntry t;
    t.interval = std::max(intervalMs, 1);
    t.due = now + t.interval;
    t.onTick = std::make_shared<std::function<void()>>(std::move(onTick));
    timers_[id] = std::move(t);
    ++gen_;
    cv_.notify_all();
    return id;
  }

  void StopTimer(EventLoop::TimerId id) {
    std::lock_guard<std::mutex> lock(m_);
    timers_.erase(id);
  }

  // Runs the calls queued before this call started, one at a time, so a call that raises leaves
  // the others queued, and calls queued by these calls wait for the next round.
  void RunQueued() {
    size_t count;
    {
      std::lock_guard<std::mutex> lock(m_);
      count = queue_.size();
    }
    for (size_t i = 0; i < count; ++i) {
      Entry e;
      {
        std::lock_guard<std::mutex> lock(m_);
        if (queue_.empty()) return;
        e = std::move(queue_.front());
        queue_.pop_front();
      }
      if (e.sync)
        e.sync->Run();
      else if (e.fn)
        e.fn();
    }
  }

  // Fires every timer due at `now` once; a timer that fell behind by several intervals is
  // rescheduled after now rather than fired in a burst (as a real loop coalesces late ticks).
  void FireDueCoalesced(int64_t now) {
    std::vector<EventLoop::TimerId> due;
    {
      std::lock_guard<std::mutex> lock(m_);
      for (auto& [id, t] : timers_)
        if (t.due <= now) due.push_back(id);
    }
    for (EventLoop::TimerId id : due) {
      std::shared_ptr<std::function<void()>> tick;
      {
        std::lock_guard<std::mutex> lock(m_);
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.due > now) continue;  // stopped or moved meanwhile
        TimerEntry& t = it->second;
        t.due += t.interval;
        if (t.due <= now) t.due = now + t.interval;
        tick = t.onTick;
      }
      (*tick)();
    }
  }

  // The earliest timer due at or before `limit` (ties in start order); false when none.
  bool NextDue(int64_t limit, EventLoop::TimerId& id, int64_t& due) {
    std::lock_guard<std::mutex> lock(m_);
    bool found = false;
    due = 0;
    for (auto& [tid, t] : timers_) {
      if (t.due <= limit && (!found || t.due < due)) {
        found = true;
        id = tid;
        due = t.due;
      }
    }
    return found;
  }

  // Fires timer id once if it is still due at `due`, moving it one interval on.
  void FireOne(EventLoop::TimerId id, int64_t due) {
    std::shared_ptr<std::function<void()>> tick;
    {
      std::lock_guard<std::mutex> lock(m_);
      auto it = timers_.find(id);
      if (it == timers_.end() || it->second.due != due) return;
      it->second.due += it->second.interval;
      tick = it->second.onTick;
    }
    (*tick)();
  }

  // Waits until work is queued, `deadline` (steady clock) passes, or stop() holds.
  template <class Pred>
  void WaitForWork(std::chrono::steady_clock::time_point deadline, Pred stop) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_until(lock, deadline, [&] { return !queue_.empty() || stop(); });
  }

  // The real loop's wait: until work is queued, the earliest timer (as of now on `nowMs`'s clock)
  // is due, the timers change, or stop() holds. Deciding under the lock loses no wake-up.
  template <class Pred>
  void WaitForWorkOrTimer(int64_t nowMs, Pred stop) {
    std::unique_lock<std::mutex> lock(m_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
    bool any = false;
    int64_t due = 0;
    for (auto& [id, t] : timers_) {
      if (!any || t.due < due) due = t.due;
      any = true;
    }
    if (any)
      deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<int64_t>(due - nowMs, 0));
    const uint64_t gen = gen_;
    cv_.wait_until(lock, deadline, [&] { return !queue_.empty() || gen_ != gen || stop(); });
  }

  // Waits until a synchronous call is queued or `deadline` (steady clock) passes.
  bool WaitForSync(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_until(lock, deadline, [&] {
      return std::any_of(queue_.begin(), queue_.end(), [](const Entry& e) { return e.sync != nullptr; });
    });
  }

  void Wake() {
    {
      std::lock_guard<std::mutex> lock(m_);
      ++gen_;
    }
    cv_.notify_all();
  }

 private:
  struct Entry {
    std::function<void()> fn;
    std::shared_ptr<SyncCall> sync;
  };

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Entry> queue_;
  std::map<EventLoop::TimerId, TimerEntry> timers_;
  EventLoop::TimerId nextId_ = 1;
  uint64_t gen_ = 0;  // bumped when the timers change or the loop is woken
  std::atomic<std::thread::id> thread_;
};

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- PlainEventLoop

struct PlainEventLoop::Impl {
  LoopCore core;
  std::atomic<bool> quit{false};
};

PlainEventLoop::PlainEventLoop() : impl_(std::make_unique<Impl>()) {}
PlainEventLoop::~PlainEventLoop() = default;

void PlainEventLoop::Post(std::function<void()> fn) {
  impl_->core.Post(std::move(fn));
}
void PlainEventLoop::Synchronize(std::function<void()> fn) {
  impl_->core.Synchronize(std::move(fn));
}

EventLoop::TimerId PlainEventLoop::StartTimer(int intervalMs, std::function<void()> onTick) {
  return impl_->core.StartTimer(intervalMs, std::move(onTick), NowMs());
}

void PlainEventLoop::StopTimer(TimerId id) {
  impl_->core.StopTimer(id);
}

void PlainEventLoop::ProcessMessages() {
  impl_->core.RunQueued();
  impl_->core.FireDueCoalesced(NowMs());
}

void PlainEventLoop::Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t PlainEventLoop::NowMs() const {
  return SteadyMs();
}
bool PlainEventLoop::IsLoopThread() const {
  return impl_->core.IsLoopThread();
}

void PlainEventLoop::Run() {
  // A Quit that came before Run (from a worker racing the start) still ends this run.
  while (!impl_->quit.load()) {
    ProcessMessages();
    if (impl_->quit.load()) break;
    impl_->core.WaitForWorkOrTimer(NowMs(), [this] { return impl_->quit.load(); });
  }
  impl_->quit.store(false);
}

void PlainEventLoop::Quit() {
  impl_->quit.store(true);
  impl_->core.Wake();
}

// ---- ManualEventLoop

struct ManualEventLoop::Impl {
  LoopCore core;
  std::atomic<int64_t> now{0};
};

ManualEventLoop::ManualEventLoop() : impl_(std::make_unique<Impl>()) {}
ManualEventLoop::~ManualEventLoop() = default;

void ManualEventLoop::Post(std::function<void()> fn) {
  impl_->core.Post(std::move(fn));
}
void ManualEventLoop::Synchronize(std::function<void()> fn) {
  impl_->core.Synchronize(std::move(fn));
}

EventLoop::TimerId ManualEventLoop::StartTimer(int intervalMs, std::function<void()> onTick) {
  return impl_->core.StartTimer(intervalMs, std::move(onTick), impl_->now.load());
}

void ManualEventLoop::StopTimer(TimerId id) {
  impl_->core.StopTimer(id);
}

void ManualEventLoop::ProcessMessages() {
  impl_->core.RunQueued();
  impl_->core.FireDueCoalesced(impl_->now.load());
}

void ManualEventLoop::Sleep(int ms) {
  if (IsLoopThread()) {
    // Virtual time passes without ticks, as a real sleep delivers none; the next
    // ProcessMessages sees the timers that fell due. Yield so a retry loop lets others run.
    if (ms > 0) impl_->now.fetch_add(ms);
    std::this_thread::yield();
  } else if (ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

int64_t ManualEventLoop::NowMs() const {
  return impl_->now.load();
}
bool ManualEventLoop::IsLoopThread() const {
  return impl_->core.IsLoopThread();
}

void ManualEventLoop::Advance(int64_t ms) {
  const int64_t target = impl_->now.load() + std::max<int64_t>(ms, 0);
  impl_->core.RunQueued();
  TimerId id;
  int64_t due;
  while (impl_->core.NextDue(target, id, due)) {
    // A tick may have moved the clock itself (Sleep); never move it backwards.
    if (due > impl_->now.load()) impl_->now.store(due);
    impl_->core.FireOne(id, due);
    impl_->core.RunQueued();
  }
  if (target > impl_->now.load()) impl_->now.store(target);
  impl_->core.RunQueued();
}

bool ManualEventLoop::RunUntil(const std::function<bool()>& pred, int realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(realMs, 0));
  for (;;) {
    ProcessMessages();
    if (pred()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Wake on queued work; poll now and then for conditions that change without any.
    impl_->core.WaitForWork(std::min(deadline, now + std::chrono::milliseconds(5)), [] { return false; });
  }
}

bool ManualEventLoop::WaitForSynchronize(int realMs) {
  return impl_->core.WaitForSync(std::chrono::steady_clock::now() +
                                 std::chrono::milliseconds(std::max(realMs, 0)));
}

// ---- the main loop

namespace {

std::atomic<EventLoop*> g_installed{nullptr};

EventLoop& DefaultLoop() {
  static PlainEventLoop loop;  // bound to the thread that first asks
  return loop;
}

}  // namespace

EventLoop& MainLoop() {
  EventLoop* loop = g_installed.load();
  return loop ? *loop : DefaultLoop();
}

void SetMainLoop(EventLoop* loop) {
  g_installed.store(loop);
}

}  // namespace lanqi
