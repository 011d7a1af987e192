#include "app/Ribbon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace lanqi {
namespace {

// A frameless window with the ribbon on top, as the main window carries it.
struct RibbonWindow : testing::Test {
  RibbonWindow() {
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("文件版本控制"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    ribbon = new TRibbon(&window);
    layout->addWidget(ribbon);
    layout->addStretch(1);
    window.resize(744, 393);
  }
  void Mouse(QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(ribbon->mapToGlobal(local)), Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(ribbon, &e);
  }
  QWidget window;
  TRibbon* ribbon;
};

TEST_F(RibbonWindow, PagesButtonsAndCaptions) {
  int first = ribbon->AddPage(QStringLiteral("文件管理"));
  int settings = ribbon->AddPage(QStringLiteral("设置"));
  QToolButton* add = ribbon->AddButton(first, "GlowButton13", QStringLiteral("增加存储区"));
  ribbon->AddButton(first, "GlowButton8", QStringLiteral("增加文件"));
  auto* check = new QCheckBox(QStringLiteral("开机启动"));
  check->setObjectName("StartCheck");
  ribbon->AddWidget(settings, check);
  ribbon->AttachWindow(&window);

  EXPECT_EQ(ribbon->height(), 145);
  EXPECT_EQ(ribbon->Caption(), QStringLiteral("文件版本控制"));
  EXPECT_EQ(ribbon->findChild<QLabel*>("CaptionLabel")->text(), QStringLiteral("文件版本控制"));
  window.setWindowTitle(QStringLiteral("新标题"));
  EXPECT_EQ(ribbon->Caption(), QStringLiteral("新标题"));

  QTabWidget* pages = ribbon->Pages();
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->tabText(0), QStringLiteral("文件管理"));
  EXPECT_EQ(pages->tabText(1), QStringLiteral("设置"));
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_EQ(window.findChild<QToolButton*>("GlowButton13"), add);
  EXPECT_EQ(add->text(), QStringLiteral("增加存储区"));
  EXPECT_EQ(window.findChild<QCheckBox*>("StartCheck")->parentWidget(), pages->widget(1));
  // Left to right in the order added.
  window.show();
  QApplication::processEvents();
  EXPECT_LT(add->x(), window.findChild<QToolButton*>("GlowButton8")->x());
  EXPECT_EQ(ribbon->AddButton(5, "Nowhere", "x"), nullptr);
}

TEST_F(RibbonWindow, CaptionButtonsSignalAndActOnTheWindow) {
  int mins = 0, maxs = 0, closes = 0;
  QObject::connect(ribbon, &TRibbon::minimizeClicked, [&] { ++mins; });
  QObject::connect(ribbon, &TRibbon::maximizeClicked, [&] { ++maxs; });
  QObject::connect(ribbon, &TRibbon::closeClicked, [&] { ++closes; });
  ribbon->MinimizeButton()->click();
  ribbon->MaximizeButton()->click();
  ribbon->CloseButton()->click();
  EXPECT_EQ(std::make_tuple(mins, maxs, closes), std::make_tuple(1, 1, 1));

  ribbon->AttachWindow(&window);
  window.show();
  ribbon->MaximizeButton()->click();
  EXPECT_TRUE(window.isMaximized());
  ribbon->MaximizeButton()->click();
  EXPECT_FALSE(window.isMaximized());
  ribbon->MinimizeButton()->click();
  EXPECT_TRUE(window.isMinimized());
  window.showNormal();
  ribbon->CloseButton()->click();
  EXPECT_FALSE(window.isVisible());
}

TEST_F(RibbonWindow, AppButtonOpensItsMenuAndReportsTheItem) {
  ribbon->AppMenu()->addAction(QStringLiteral("后台运行"));
  ribbon->AppMenu()->addAction(QStringLiteral("退出软软件"));
  std::vector<int> chosen;
  QObject::connect(ribbon, &TRibbon::appMenuItemClicked, [&](int i) { chosen.push_back(i); });
  window.show();
  ribbon->AppButton()->click();
  EXPECT_TRUE(ribbon->AppMenu()->isVisible());
  ribbon->AppMenu()->actions()[1]->trigger();
  ribbon->AppMenu()->actions()[0]->trigger();
  EXPECT_EQ(chosen, (std::vector<int>{1, 0}));
  ribbon->AppMenu()->hide();
}

TEST_F(RibbonWindow, DraggingTheCaptionMovesTheWindowAndDoubleClickMaximizes) {
  window.move(100, 100);
  window.show();
  QApplication::processEvents();
  QPoint start = window.pos();
  Mouse(QEvent::MouseButtonPress, QPoint(300, 10), Qt::LeftButton);
  Mouse(QEvent::MouseMove, QPoint(330, 30), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, QPoint(330, 30), Qt::NoButton);
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));

  // Below the caption bar nothing moves.
  Mouse(QEvent::MouseButtonPress, QPoint(300, 100), Qt::LeftButton);
  Mouse(QEvent::MouseMove, QPoint(350, 120), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, QPoint(350, 120), Qt::NoButton);
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));

  ribbon->AttachWindow(&window);
  Mouse(QEvent::MouseButtonDblClick, QPoint(300, 10), Qt::LeftButton);
  EXPECT_TRUE(window.isMaximized());
}

TEST_F(RibbonWindow, TheWindowsEdgesResizeIt) {
  ribbon->AttachWindow(&window);
  window.move(50, 50);
  window.show();
  QApplication::processEvents();
  QWindow* frame = window.windowHandle();
  ASSERT_NE(frame, nullptr);
  auto send = [&](QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(p), QPointF(window.mapToGlobal(p)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(frame, &e);
  };
  QPoint corner(743, 392);
  send(QEvent::MouseMove, corner, Qt::NoButton);
  EXPECT_EQ(window.cursor().shape(), Qt::SizeFDiagCursor);
  send(QEvent::MouseMove, QPoint(300, 300), Qt::NoButton);
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);

  send(QEvent::MouseButtonPress, corner, Qt::LeftButton);
  send(QEvent::MouseMove, corner + QPoint(20, 10), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, corner + QPoint(20, 10), Qt::NoButton);
  EXPECT_EQ(window.size(), QSize(764, 403));

  // The left edge moves the window's left side; it never shrinks below the ribbon.
  QRect before = window.geometry();
  send(QEvent::MouseButtonPress, QPoint(1, 200), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(31, 200), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, QPoint(31, 200), Qt::NoButton);
  EXPECT_EQ(window.geometry(), before.adjusted(30, 0, 0, 0));
  send(QEvent::MouseButtonPress, QPoint(400, 402), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(400, 0), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, QPoint(400, 0), Qt::NoButton);
  EXPECT_GE(window.height(), TRibbon::kHeight);

  // Away from the edges, and on a maximised window, the pointer is the controls'.
  QSize size = window.size();
  send(QEvent::MouseButtonPress, QPoint(300, 80), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(320, 100), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, QPoint(320, 100), Qt::NoButton);
  EXPECT_EQ(window.size(), size);
  window.showMaximized();
  QApplication::processEvents();
  size = window.size();
  send(QEvent::MouseButtonPress, QPoint(size.width() - 1, 200), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(size.width() - 50, 200), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, QPoint(size.width() - 50, 200), Qt::NoButton);
  EXPECT_EQ(window.size(), size);
}

TEST_F(RibbonWindow, AttachingAnotherWindowLeavesTheFirstAlone) {
  QWidget other;
  ribbon->AttachWindow(&other);
  ribbon->AttachWindow(&window);
  other.show();
  window.show();
  ribbon->CloseButton()->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(other.isVisible());
  other.setWindowTitle("x");
  EXPECT_EQ(ribbon->Caption(), QStringLiteral("文件版本控制"));
}

}  // namespace
}  // namespace lanqi
