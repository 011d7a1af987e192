// The tray port on the desktop's notification area through QSystemTrayIcon.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

#include "tray/TrayPort.h"

class QDBusServiceWatcher;

namespace lanqi {

class TQtTrayPort : public QObject, public TTrayPort {
  Q_OBJECT
 public:
  TQtTrayPort();
  ~TQtTrayPort() override;
  void AddIcon(const QIcon& icon, const QString& tip) override;
  void ModifyIcon(const QIcon& icon, const QString& tip) override;
  void DeleteIcon() override;
  bool CursorPos(QPoint& pos) override;
  void PopupMenu(QMenu* menu, const QPoint& pos) override;
  bool Available() override;
  // The Qt icon itself; its activated() gestures become the port's messages.
  QSystemTrayIcon* SystemTrayIcon() const { return icon_.get(); }

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason);
  void Send(TTrayMessage m);
  void PanelRegistered();

  std::unique_ptr<QSystemTrayIcon> icon_;
  std::unique_ptr<QDBusServiceWatcher> panelWatcher_;
  // The panel restarted since the icon was last shown: showing it again must re-register it.
  bool stale_ = false;
};

}  // namespace lanqi
