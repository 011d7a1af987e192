#include "tray/TrayIcon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>

#include "platform/CodePage.h"
#include "platform/EventLoop.h"
#include "tray/FakeTrayPort.h"

namespace lanqi {
namespace {

// A main window with the tray icon the way the program sets it up: the tray menu's first item is
// the default and restores the window.
struct TrayFixture : testing::Test {
  void SetUp() override {
    SetMainLoop(&loop);
    auto p = std::make_unique<TFakeTrayPort>();
    port = p.get();
    menu = std::make_unique<QMenu>();
    show = menu->addAction(QStringLiteral("显示岚栖文件管理"));
    menu->addAction(QStringLiteral("后台运行"));
    menu->setDefaultAction(show);
    tray = owner.Create<TTrayIcon>(&window, std::move(p));
    QObject::connect(show, &QAction::triggered, [this] { tray->RestoreFromTray(); });
  }
  void TearDown() override { SetMainLoop(nullptr); }
  void Load(const std::function<void()>& design = {}) {
    tray->BeginLoading();
    tray->SetPopupMenu(menu.get());
    if (design) design();
    tray->EndLoading();
  }

  // Destroyed in reverse: the owner takes the icon down while the window and the loop still exist.
  ManualEventLoop loop;
  QWidget window;
  TComponent owner;
  std::unique_ptr<QMenu> menu;
  QAction* show = nullptr;
  TFakeTrayPort* port = nullptr;
  TTrayIcon* tray = nullptr;
};

TEST_F(TrayFixture, DefaultsAndIconAddedWhenDesignLoaded) {
  EXPECT_TRUE(tray->Enabled());
  EXPECT_TRUE(tray->ShowHint());
  EXPECT_TRUE(tray->IconVisible());
  EXPECT_EQ(tray->Hint(), "");
  EXPECT_EQ(tray->IconIndex(), 0);
  EXPECT_FALSE(tray->CycleIcons());
  EXPECT_EQ(tray->CycleInterval(), 0u);
  EXPECT_FALSE(tray->LeftPopup());
  EXPECT_FALSE(tray->StartMinimized());
  EXPECT_FALSE(tray->MinimizeToTray());
  EXPECT_FALSE(tray->DesignPreview());
  EXPECT_EQ(tray->PopupMenu(), nullptr);
  EXPECT_FALSE(port->present);  // not before the design is in place

  Load();
  EXPECT_TRUE(port->present);
  EXPECT_EQ(port->adds, 1);
  EXPECT_EQ(port->tip, QString());  // the system's tooltip is empty

  tray->SetIconVisible(false);
  EXPECT_FALSE(port->present);
  tray->SetIconVisible(true);
  EXPECT_TRUE(port->present);
}

TEST_F(TrayFixture, TipFollowsHintAndShowHintAndIsCutTo127Bytes) {
  Load();
  tray->SetHint("ready");
  EXPECT_EQ(port->tip, "ready");
  tray->SetShowHint(false);
  EXPECT_EQ(port->tip, "");
  tray->SetShowHint(true);
  tray->SetHint(std::string(200, 'a'));
  EXPECT_EQ(port->tip, QString(127, 'a'));
  // 64 two-byte characters: the cut keeps 63 whole ones rather than half of the 64th.
  std::string wide;
  for (int i = 0; i < 64; ++i) wide += Ansi(u8"文");
  tray->SetHint(wide);
  EXPECT_EQ(port->tip, QString(63, QChar(u'文')));
}

TEST_F(TrayFixture, HideAndRestore) {
  Load();
  window.show();
  tray->HideToTray();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(port->present);
  tray->RestoreFromTray();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

TEST_F(TrayFixture, MinimizingHidesOnlyWithMinimizeToTray) {
  Load();
  window.show();
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());  // MinimizeToTray is off by default

  window.showNormal();
  tray->SetMinimizeToTray(true);
  tray->SetIconVisible(false);
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(port->present);  // the minimise action makes the icon visible

  port->DoubleClick();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

// Without a notification area nothing could bring a hidden window back: it stays on the taskbar.
TEST_F(TrayFixture, WithoutANotificationAreaTheWindowIsOnlyMinimized) {
  Load();
  tray->SetMinimizeToTray(true);
  port->available = false;
  window.show();
  tray->HideToTray();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());
  QApplication::processEvents();  // the minimise it caused
  EXPECT_TRUE(window.isVisible());
  tray->RestoreFromTray();
  EXPECT_FALSE(window.isMinimized());
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
}

TEST_F(TrayFixture, DoubleClickRunsTheDefaultItem) {
  int dbl = 0, clicks = 0;
  tray->OnDblClick = [&](TObject* s) {
    EXPECT_EQ(s, tray);
    ++dbl;
  };
  tray->OnClick = [&](TObject*) { ++clicks; };
  Load();
  window.hide();
  port->DoubleClick();
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(clicks, 1);  // the first press and release; the release after the double-click is no click
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(port->menusOpened.empty());
}

TEST_F(TrayFixture, DoubleClickWithoutMenuOrWithLeftPopupRunsNothing) {
  Load([&] { tray->SetLeftPopup(true); });
  window.hide();
  port->DoubleClick();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(port->menusOpened.size(), 1u);  // the left press opened the menu instead

  tray->SetLeftPopup(false);
  tray->SetPopupMenu(nullptr);
  port->DoubleClick();
  EXPECT_FALSE(window.isVisible());
}

TEST_F(TrayFixture, RightButtonOpensTheMenuAtTheCursor) {
  std::vector<std::pair<TMouseButton, int>> downs;
  tray->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, int x, int) {
    downs.emplace_back(b, x);
    EXPECT_TRUE(s & ssRight);
  };
  Load();
  port->RightClick();
  ASSERT_EQ(port->menusOpened.size(), 1u);
  EXPECT_EQ(port->menusOpened[0].first, menu.get());
  EXPECT_EQ(port->menusOpened[0].second, QPoint(100, 200));
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].first, TMouseButton::mbRight);
  EXPECT_EQ(downs[0].second, 100);

  port->cursorReadable = false;  // no position, no menu
  port->RightClick();
  EXPECT_EQ(port->menusOpened.size(), 1u);
}

TEST_F(TrayFixture, NothingHandledWhileDisabled) {
  Load();
  tray->SetEnabled(false);
  window.hide();
  port->DoubleClick();
  port->RightClick();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(port->menusOpened.empty());
}

TEST_F(TrayFixture, PanelRestartAddsTheIconAgain) {
  Load();
  port->RestartPanel();
  EXPECT_TRUE(port->present);
  EXPECT_EQ(port->adds, 2);

  tray->SetIconVisible(false);
  port->RestartPanel();
  EXPECT_FALSE(port->present);
}

TEST_F(TrayFixture, StartMinimizedKeepsTheWindowHidden) {
  Load([&] { tray->SetStartMinimized(true); });
  window.show();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(port->present);
  window.show();  // only the start is affected
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
}

TEST_F(TrayFixture, IconIndexAndCyclingWalkTheList) {
  TIconList icons(3);
  for (int i = 0; i < 3; ++i) {
    QPixmap px(16, 16);
    px.fill(QColor(i * 100, 0, 0));
    icons[static_cast<size_t>(i)] = QIcon(px);
  }
  Load();
  tray->SetIconList(&icons);
  tray->SetIconIndex(7);  // kept at the last index
  EXPECT_EQ(tray->IconIndex(), 2);
  EXPECT_EQ(port->icon.cacheKey(), icons[2].cacheKey());
  tray->SetIconIndex(-1);
  EXPECT_EQ(tray->IconIndex(), 0);

  std::vector<int> nexts;
  tray->OnCycle = [&](TObject*, int next) { nexts.push_back(next); };
  tray->SetCycleInterval(50);
  tray->SetCycleIcons(true);
  loop.Advance(200);
  EXPECT_EQ(nexts, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(tray->IconIndex(), 1);
  EXPECT_EQ(port->icon.cacheKey(), icons[0].cacheKey());
  tray->SetCycleIcons(false);
  loop.Advance(200);
  EXPECT_EQ(nexts.size(), 4u);
}

TEST_F(TrayFixture, DestroyingTheComponentRemovesTheIcon) {
  Load();
  auto p = std::make_unique<TFakeTrayPort>();
  TFakeTrayPort* other = p.get();
  {
    TTrayIcon second(nullptr, nullptr, std::move(p));
    second.SetIconVisible(true);
    EXPECT_TRUE(other->present);
    second.RestoreFromTray();  // no window: nothing to do
  }
  // The port went with the component; the first icon is untouched.
  EXPECT_TRUE(port->present);
}

}  // namespace
}  // namespace lanqi
