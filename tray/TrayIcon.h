// TTrayIcon: one icon in the desktop's notification area, its popup menu, and moving the main
// window between shown and hidden (minimising or a refused close hides the window and its taskbar
// entry; the menu's show item brings them back).
#pragma once

#include <QIcon>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"
#include "tray/TrayPort.h"

class QMenu;
class QWidget;

namespace lanqi {

class TTimer;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Keys and buttons held during a mouse message.
enum TShiftStateBit : uint8_t {
  ssShift = 1 << 0,
  ssAlt = 1 << 1,
  ssCtrl = 1 << 2,
  ssLeft = 1 << 3,
  ssRight = 1 << 4,
  ssMiddle = 1 << 5,
};
using TShiftState = uint8_t;

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(TObject* Sender, int NextIndex)>;
using TIconList = std::vector<QIcon>;

class TTrayIcon : public TComponent {
 public:
  // window: the main window the icon hides and restores (may be null). port: the panel; null
  // takes CreateTrayPort(). Created in code, wrap the property settings in BeginLoading() /
  // EndLoading() as a stored design is applied: the icon is put on the panel at EndLoading.
  TTrayIcon(TComponent* owner, QWidget* window, std::unique_ptr<TTrayPort> port = nullptr);
  ~TTrayIcon() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  // Code-page text.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& v);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v);
  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& v);
  bool IconVisible() const { return iconVisible_; }
  void SetIconVisible(bool v);
  const TIconList* IconList() const { return iconList_; }
  void SetIconList(const TIconList* v) { iconList_ = v; }
  int IconIndex() const { return iconIndex_; }
  void SetIconIndex(int v);
  bool CycleIcons() const { return cycleIcons_; }
  void SetCycleIcons(bool v);
  unsigned CycleInterval() const { return cycleInterval_; }
  void SetCycleInterval(unsigned ms);
  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  bool LeftPopup() const { return leftPopup_; }
  void SetLeftPopup(bool v) { leftPopup_ = v; }
  bool StartMinimized() const { return startMinimized_; }
  void SetStartMinimized(bool v) { startMinimized_ = v; }
  bool MinimizeToTray() const { return minimizeToTray_; }
  void SetMinimizeToTray(bool v) { minimizeToTray_ = v; }
  bool DesignPreview() const { return designPreview_; }
  void SetDesignPreview(bool v) { designPreview_ = v; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TCycleEvent OnCycle;

  QWidget* Window() const { return window_; }

  // Shows the main window again, un-minimised, in front.
  void RestoreFromTray();
  // Hides the main window, which also takes it off the taskbar. On a desktop without a notification
  // area the icon cannot bring it back, so the window is only minimised there.
  void HideToTray();
  // What minimising the main window does while MinimizeToTray is set.
  void MinimizeAction();
  // One mouse message of the icon (ignored while Enabled is false).
  void HandleMessage(TTrayMessage msg);

 protected:
  void Loaded() override;

 private:
  class WindowFilter;
  // The notification record's tip: Hint cut to 127 bytes, when shown at all.
  QString TipText() const;
  void UpdateIcon();
  void OpenMenu();
  void CycleTick();
  TShiftState Shift(TShiftState button) const;
  void MouseDown(TMouseButton b, TShiftState s);
  void MouseUp(TMouseButton b, TShiftState s);

  QPointer<QWidget> window_;
  std::unique_ptr<TTrayPort> port_;
  std::unique_ptr<WindowFilter> filter_;
  TTimer* cycleTimer_ = nullptr;

  bool enabled_ = true;
  std::string hint_;
  bool showHint_ = true;
  QIcon icon_;
  bool iconVisible_ = true;
  const TIconList* iconList_ = nullptr;
  int iconIndex_ = 0;
  bool cycleIcons_ = false;
  unsigned cycleInterval_ = 0;
  QMenu* popupMenu_ = nullptr;
  bool leftPopup_ = false;
  bool startMinimized_ = false;
  bool minimizeToTray_ = false;
  bool designPreview_ = false;
  bool leftPressed_ = false;
  bool hideOnFirstShow_ = false;
};

}  // namespace lanqi
