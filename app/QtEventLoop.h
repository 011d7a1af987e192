// The event loop of the desktop program: the Qt application's own loop on the GUI thread behind the
// platform's EventLoop interface, so timers, posted calls and the watchers' hand-over run there.
// Create it on the GUI thread after the QApplication, then SetMainLoop(&loop).
#pragma once

#include <QObject>
#include <map>
#include <memory>

#include "platform/EventLoop.h"

class QTimer;

namespace lanqi {

class QtEventLoop : public EventLoop {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  void Post(std::function<void()> fn) override;
  // Exceptions raised by fn reach the worker that asked, as if fn had run there.
  void Synchronize(std::function<void()> fn) override;
  TimerId StartTimer(int intervalMs, std::function<void()> onTick) override;
  void StopTimer(TimerId id) override;
  void ProcessMessages() override;
  void Sleep(int ms) override;
  int64_t NowMs() const override;
  bool IsLoopThread() const override;

 private:
  // Lives on the GUI thread; queued calls are delivered to it.
  std::unique_ptr<QObject> context_;
  std::map<TimerId, std::unique_ptr<QTimer>> timers_;
  TimerId nextId_ = 1;
};

}  // namespace lanqi
