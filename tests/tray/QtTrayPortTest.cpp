#include "tray/QtTrayPort.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>

#include "tray/TrayIcon.h"

namespace lanqi {
namespace {

// The Qt panel's whole gestures reach the component as the presses it dispatches on.
TEST(QtTrayPort, GesturesDriveTheComponent) {
  QWidget window;
  QMenu menu;
  QAction* show = menu.addAction(QStringLiteral("显示岚栖文件管理"));
  menu.setDefaultAction(show);
  auto p = std::make_unique<TQtTrayPort>();
  QSystemTrayIcon* icon = p->SystemTrayIcon();
  TTrayIcon tray(nullptr, &window, std::move(p));
  tray.BeginLoading();
  tray.SetPopupMenu(&menu);
  tray.EndLoading();
  QObject::connect(show, &QAction::triggered, [&] { tray.RestoreFromTray(); });
  std::vector<TMouseButton> downs;
  int clicks = 0, dbl = 0;
  tray.OnMouseDown = [&](TObject*, TMouseButton b, TShiftState, int, int) { downs.push_back(b); };
  tray.OnClick = [&](TObject*) { ++clicks; };
  tray.OnDblClick = [&](TObject*) { ++dbl; };

  emit icon->activated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(clicks, 1);
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(window.isVisible());  // the default item ran
  emit icon->activated(QSystemTrayIcon::MiddleClick);
  emit icon->activated(QSystemTrayIcon::Context);
  EXPECT_EQ(downs,
            (std::vector<TMouseButton>{TMouseButton::mbLeft, TMouseButton::mbMiddle, TMouseButton::mbRight}));
  EXPECT_TRUE(menu.isVisible());
  menu.hide();
}

}  // namespace
}  // namespace lanqi
