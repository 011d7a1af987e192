// The notification-area services the tray icon needs, behind a small port so tests can replace the
// panel: add, change and remove the icon, read the cursor, open a menu, and report the icon's mouse
// messages and the panel's restart back to the component.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

class QMenu;

namespace lanqi {

// The mouse messages the icon reports, named after the buttons and gestures.
enum class TTrayMessage {
  tmMouseMove,
  tmLButtonDown,
  tmLButtonUp,
  tmLButtonDblClk,
  tmRButtonDown,
  tmRButtonUp,
  tmMButtonDown,
  tmMButtonUp,
};

class TTrayPort {
 public:
  virtual ~TTrayPort() = default;
  // Adding an icon that is present, or changing or deleting one that is not, has no effect.
  virtual void AddIcon(const QIcon& icon, const QString& tip) = 0;
  virtual void ModifyIcon(const QIcon& icon, const QString& tip) = 0;
  virtual void DeleteIcon() = 0;
  // False when the cursor position cannot be read.
  virtual bool CursorPos(QPoint& pos) = 0;
  // Opens menu at pos (global coordinates).
  virtual void PopupMenu(QMenu* menu, const QPoint& pos) = 0;
  // False while the desktop has no notification area to show the icon in.
  virtual bool Available() { return true; }

  // Set by the component: the icon's mouse messages, and the panel coming back after a restart
  // (it has forgotten every icon).
  std::function<void(TTrayMessage)> OnMessage;
  std::function<void()> OnPanelRestarted;
};

// The port a tray icon gets when its creator passes none: the Qt panel. Tests pass their own port.
std::unique_ptr<TTrayPort> CreateTrayPort();

}  // namespace lanqi
