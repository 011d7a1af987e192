#include "app/QtEventLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace lanqi {

QtEventLoop::QtEventLoop() : context_(std::make_unique<QObject>()) {}

QtEventLoop::~QtEventLoop() {
  for (auto& [id, t] : timers_) t->stop();
}

void QtEventLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

void QtEventLoop::Synchronize(std::function<void()> fn) {
  if (IsLoopThread()) {
    fn();
    return;
  }
  // An exception must not unwind through Qt's event delivery; carry it back to the caller.
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      context_.get(),
      [&] {
        try {
          fn();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

EventLoop::TimerId QtEventLoop::StartTimer(int intervalMs, std::function<void()> onTick) {
  if (!IsLoopThread()) {
    TimerId id = 0;
    Synchronize([&] { id = StartTimer(intervalMs, std::move(onTick)); });
    return id;
  }
  TimerId id = nextId_++;
  auto timer = std::make_unique<QTimer>();
  timer->setTimerType(Qt::PreciseTimer);
  timer->setInterval(std::max(intervalMs, 1));
  QObject::connect(timer.get(), &QTimer::timeout, context_.get(), std::move(onTick));
  timer->start();
  timers_.emplace(id, std::move(timer));
  return id;
}

void QtEventLoop::StopTimer(TimerId id) {
  if (!IsLoopThread()) {
    Synchronize([&] { StopTimer(id); });
    return;
  }
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  // The tick that stops its own timer is still running inside the timer's signal; the context
  // takes the timer down at the latest.
  QTimer* t = it->second.release();
  t->setParent(context_.get());
  t->deleteLater();
  timers_.erase(it);
}

void QtEventLoop::ProcessMessages() {
  QCoreApplication::processEvents();
}

void QtEventLoop::Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t QtEventLoop::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool QtEventLoop::IsLoopThread() const {
  return QThread::currentThread() == context_->thread();
}

}  // namespace lanqi
