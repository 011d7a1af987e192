// TTimer: a component firing OnTimer every Interval milliseconds on the main loop while Enabled.
// The timer runs on the loop that is MainLoop() when it (re)starts; destroy timers before a loop
// they run on.
#pragma once

#include "platform/EventLoop.h"
#include "rtl/Component.h"

namespace lanqi {

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner = nullptr);
  ~TTimer() override;

  int Interval() const { return interval_; }
  void SetInterval(int ms);  // default 1000; 0 stops the timer until set again
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);  // default true
  TNotifyEvent OnTimer;           // called with this timer as sender at every tick

 protected:
  // A timer created in the loading state starts when loading ends.
  void Loaded() override;

 private:
  void Update();
  int interval_ = 1000;
  bool enabled_ = true;
  EventLoop* loop_ = nullptr;
  EventLoop::TimerId id_ = 0;
};

}  // namespace lanqi
