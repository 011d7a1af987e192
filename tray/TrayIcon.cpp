#include "tray/TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaObject>
#include <QWidget>
#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Timer.h"

namespace lanqi {

// Watches the main window: minimising it while MinimizeToTray is set hides it to the tray, and a
// window that is to start minimised is hidden again when it is first shown.
class TTrayIcon::WindowFilter : public QObject {
 public:
  explicit WindowFilter(TTrayIcon* tray) : tray_(tray) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != tray_->window_) return false;
    if (event->type() == QEvent::WindowStateChange) {
      // After the state change has run its course: showMinimized() shows the window once more
      // after announcing the new state.
      if (tray_->minimizeToTray_ && (tray_->window_->windowState() & Qt::WindowMinimized))
        QMetaObject::invokeMethod(
            this,
            [tray = tray_] {
              if (tray->window_ && tray->minimizeToTray_ &&
                  (tray->window_->windowState() & Qt::WindowMinimized))
                tray->MinimizeAction();
            },
            Qt::QueuedConnection);
    } else if (event->type() == QEvent::Show && tray_->hideOnFirstShow_) {
      tray_->hideOnFirstShow_ = false;
      // Not from inside the show itself.
      QMetaObject::invokeMethod(
          this, [tray = tray_] { tray->HideToTray(); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  TTrayIcon* tray_;
};

TTrayIcon::TTrayIcon(TComponent* owner, QWidget* window, std::unique_ptr<TTrayPort> port)
    : TComponent(owner), window_(window), port_(port ? std::move(port) : CreateTrayPort()) {
  port_->OnMessage = [this](TTrayMessage m) { HandleMessage(m); };
  port_->OnPanelRestarted = [this] {
    if (iconVisible_) port_->AddIcon(icon_, TipText());
  };
  cycleTimer_ = Create<TTimer>();
  cycleTimer_->SetEnabled(false);
  cycleTimer_->SetInterval(0);
  cycleTimer_->OnTimer = [this](TObject*) { CycleTick(); };
  filter_ = std::make_unique<WindowFilter>(this);
  if (window_) window_->installEventFilter(filter_.get());
}

TTrayIcon::~TTrayIcon() {
  port_->OnMessage = nullptr;
  port_->OnPanelRestarted = nullptr;
  port_->DeleteIcon();
  if (window_) window_->removeEventFilter(filter_.get());
}

void TTrayIcon::Loaded() {
  if (window_ && startMinimized_) {
    if (window_->isVisible())
      HideToTray();
    else
      hideOnFirstShow_ = true;
  }
  UpdateIcon();
  if (iconVisible_) port_->AddIcon(icon_, TipText());
}

QString TTrayIcon::TipText() const {
  if (hint_.empty() || !showHint_) return QString();
  // 127 bytes as the panel's record holds, never ending on half a two-byte character.
  size_t n = 0;
  while (n < hint_.size()) {
    size_t len = IsLeadByte(static_cast<uint8_t>(hint_[n])) && n + 1 < hint_.size() ? 2 : 1;
    if (n + len > 127) break;
    n += len;
  }
  return QString::fromStdString(AnsiToUtf8(std::string_view(hint_).substr(0, n)));
}

void TTrayIcon::UpdateIcon() {
  if (IsLoading()) return;
  port_->ModifyIcon(icon_, TipText());
}

void TTrayIcon::SetHint(const std::string& v) {
  hint_ = v;
  UpdateIcon();
}

void TTrayIcon::SetShowHint(bool v) {
  showHint_ = v;
  UpdateIcon();
}

void TTrayIcon::SetIcon(const QIcon& v) {
  icon_ = v;
  UpdateIcon();
}

void TTrayIcon::SetIconVisible(bool v) {
  iconVisible_ = v;
  if (IsLoading()) return;
  if (v)
    port_->AddIcon(icon_, TipText());
  else
    port_->DeleteIcon();
}

void TTrayIcon::SetIconIndex(int v) {
  if (v < 0) v = 0;
  if (iconList_ && !iconList_->empty()) {
    v = std::min(v, static_cast<int>(iconList_->size()) - 1);
    icon_ = (*iconList_)[static_cast<size_t>(v)];
  }
  iconIndex_ = v;
  UpdateIcon();
}

void TTrayIcon::SetCycleIcons(bool v) {
  cycleIcons_ = v;
  cycleTimer_->SetInterval(static_cast<int>(cycleInterval_));
  cycleTimer_->SetEnabled(v);
}

void TTrayIcon::SetCycleInterval(unsigned ms) {
  cycleInterval_ = ms;
  cycleTimer_->SetInterval(static_cast<int>(ms));
}

void TTrayIcon::CycleTick() {
  if (!cycleIcons_) return;
  int count = iconList_ ? static_cast<int>(iconList_->size()) : 0;
  if (iconIndex_ < count) icon_ = (*iconList_)[static_cast<size_t>(iconIndex_)];
  int next = iconIndex_ + 1 < count ? iconIndex_ + 1 : 0;
  if (OnCycle) OnCycle(this, next);
  UpdateIcon();
  iconIndex_ = next;
}

void TTrayIcon::RestoreFromTray() {
  if (!window_) return;
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void TTrayIcon::HideToTray() {
  if (!window_) return;
  if (!port_->Available()) {
    window_->showMinimized();
    return;
  }
  window_->hide();
}

void TTrayIcon::MinimizeAction() {
  if (!port_->Available()) return;  // stays minimised on the taskbar
  HideToTray();
  SetIconVisible(true);
}

TShiftState TTrayIcon::Shift(TShiftState button) const {
  TShiftState s = button;
  Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

void TTrayIcon::MouseDown(TMouseButton b, TShiftState s) {
  if (!OnMouseDown) return;
  QPoint p;
  port_->CursorPos(p);
  OnMouseDown(this, b, Shift(s), p.x(), p.y());
}

void TTrayIcon::MouseUp(TMouseButton b, TShiftState s) {
  if (!OnMouseUp) return;
  QPoint p;
  port_->CursorPos(p);
  OnMouseUp(this, b, Shift(s), p.x(), p.y());
}

void TTrayIcon::HandleMessage(TTrayMessage msg) {
  if (!enabled_) return;
  switch (msg) {
    case TTrayMessage::tmMouseMove:
      if (OnMouseMove) {
        QPoint p;
        port_->CursorPos(p);
        OnMouseMove(this, Shift(0), p.x(), p.y());
      }
      break;
    case TTrayMessage::tmLButtonDown:
      MouseDown(TMouseButton::mbLeft, ssLeft);
      leftPressed_ = true;
      if (leftPopup_) OpenMenu();
      break;
    case TTrayMessage::tmLButtonUp:
      if (leftPressed_) {
        leftPressed_ = false;
        if (OnClick) OnClick(this);
      }
      MouseUp(TMouseButton::mbLeft, ssLeft);
      break;
    case TTrayMessage::tmLButtonDblClk:
      if (OnDblClick) OnDblClick(this);
      if (popupMenu_ && !leftPopup_) {
        if (QAction* item = popupMenu_->defaultAction()) item->trigger();
      }
      break;
    case TTrayMessage::tmRButtonDown:
      MouseDown(TMouseButton::mbRight, ssRight);
      OpenMenu();
      break;
    case TTrayMessage::tmRButtonUp:
      MouseUp(TMouseButton::mbRight, ssRight);
      break;
    case TTrayMessage::tmMButtonDown:
      MouseDown(TMouseButton::mbMiddle, ssMiddle);
      break;
    case TTrayMessage::tmMButtonUp:
      MouseUp(TMouseButton::mbMiddle, ssMiddle);
      break;
  }
}

void TTrayIcon::OpenMenu() {
  if (!popupMenu_) return;
  QPoint p;
  if (!port_->CursorPos(p)) return;
  port_->PopupMenu(popupMenu_, p);
}

}  // namespace lanqi
