#include "platform/Timer.h"

namespace lanqi {

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  Update();
}

TTimer::~TTimer() {
  if (loop_ && id_) loop_->StopTimer(id_);
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  Update();
}

// Every change restarts the count: the next tick comes a whole interval after it.
void TTimer::Update() {
  if (loop_ && id_) loop_->StopTimer(id_);
  loop_ = nullptr;
  id_ = 0;
  if (!enabled_ || interval_ <= 0 || IsLoading()) return;
  loop_ = &MainLoop();
  id_ = loop_->StartTimer(interval_, [this] {
    // A handler may destroy this timer or reassign OnTimer; run a copy.
    TNotifyEvent handler = OnTimer;
    if (handler) handler(this);
  });
}

}  // namespace lanqi
