// A tray port for tests: records what the component asked of the panel and lets the test send the
// icon's mouse messages and restart the panel.
#pragma once

#include <vector>

#include "tray/TrayPort.h"

namespace lanqi {

class TFakeTrayPort : public TTrayPort {
 public:
  void AddIcon(const QIcon& icon, const QString& tip) override;
  void ModifyIcon(const QIcon& icon, const QString& tip) override;
  void DeleteIcon() override;
  bool CursorPos(QPoint& pos) override;
  void PopupMenu(QMenu* menu, const QPoint& pos) override;
  bool Available() override { return available; }

  // What a user or the desktop does.
  void Send(TTrayMessage m);
  void DoubleClick();  // press, release, double-click, release, as a panel reports it
  void RightClick();
  // The panel goes away and comes back without the icon.
  void RestartPanel();

  bool available = true;  // false: a desktop without a notification area
  bool present = false;
  int adds = 0;  // calls that put the icon on the panel (not those that found it there)
  QIcon icon;
  QString tip;
  QPoint cursor{100, 200};
  bool cursorReadable = true;
  std::vector<std::pair<QMenu*, QPoint>> menusOpened;
};

}  // namespace lanqi
