#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QTreeView>
#include <chrono>

#include "app/UCreatArea.h"
#include "app/Uversm.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

// The note dialog's auto-close runs on the virtual clock.
struct NoteDialog : testing::Test {
  void SetUp() override { SetMainLoop(&loop); }
  void TearDown() override {
    dlg.reset();
    SetMainLoop(nullptr);
  }
  TFormVerSm& Make() {
    dlg = std::make_unique<TFormVerSm>();
    dlg->show();
    return *dlg;
  }
  ManualEventLoop loop;
  std::unique_ptr<TFormVerSm> dlg;
};

TEST_F(NoteDialog, LayoutAndTexts) {
  TFormVerSm& d = Make();
  EXPECT_EQ(d.windowTitle(), QStringLiteral("版本说明"));
  EXPECT_EQ(d.size(), QSize(383, 288));
  EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_EQ(d.findChild<QLabel*>("Label1")->text(), QString());
  EXPECT_EQ(d.findChild<QLabel*>("Label1")->font().family(), QStringLiteral("宋体"));
  EXPECT_EQ(d.findChild<QLabel*>("Label1")->font().pixelSize(), 13);
  EXPECT_EQ(d.findChild<QLabel*>("Label2")->text(), QStringLiteral("版本说明："));
  EXPECT_EQ(d.findChild<QPlainTextEdit*>("Edit1")->size(), QSize(257, 73));
  EXPECT_EQ(d.findChild<QPlainTextEdit*>("Edit1")->toPlainText(), QString());
  EXPECT_EQ(d.findChild<QPushButton*>("Button1")->text(), QStringLiteral("提交"));
  EXPECT_EQ(d.findChild<QPushButton*>("Button2")->text(), QStringLiteral("放弃"));
  EXPECT_EQ(d.tmr1->Interval(), 10000);
  EXPECT_TRUE(d.tmr1->Enabled());
  EXPECT_EQ(d.ResultCode, 1);
}

TEST_F(NoteDialog, ResultCodeByWayOfClosing) {
  struct Case {
    const char* name;
    std::function<void(TFormVerSm&, ManualEventLoop&)> act;
    int expected;
  };
  const Case cases[] = {
      {"submit", [](TFormVerSm& d, ManualEventLoop&) { d.Button1->click(); }, 1},
      {"abandon", [](TFormVerSm& d, ManualEventLoop&) { d.Button2->click(); }, 2},
      {"timer", [](TFormVerSm&, ManualEventLoop& l) { l.Advance(10000); }, 2},
      {"window system", [](TFormVerSm& d, ManualEventLoop&) { d.close(); }, 1},
      {"typed then timer time passes, then submit",
       [](TFormVerSm& d, ManualEventLoop& l) {
         d.Edit1->insertPlainText("x");
         l.Advance(60000);
         EXPECT_TRUE(d.isVisible());
         d.Button1->click();
       },
       1},
      {"typed then abandon",
       [](TFormVerSm& d, ManualEventLoop&) {
         d.Edit1->insertPlainText("x");
         d.Button2->click();
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFormVerSm& d = Make();
    c.act(d, loop);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.ResultCode, c.expected);
  }
}

TEST_F(NoteDialog, AutoCloseAfterTenSecondsUnlessTyped) {
  TFormVerSm& d = Make();
  loop.Advance(9999);
  EXPECT_TRUE(d.isVisible());
  loop.Advance(1);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.ResultCode, 2);

  // One character, even just before the deadline, keeps it open for good; the text is kept when
  // the window system closes it.
  TFormVerSm& typed = Make();
  loop.Advance(9000);
  typed.Edit1->insertPlainText(QStringLiteral("改"));
  loop.Advance(100000);
  EXPECT_TRUE(typed.isVisible());
  typed.close();
  EXPECT_EQ(typed.ResultCode, 1);
  EXPECT_EQ(typed.Edit1->toPlainText(), QStringLiteral("改"));

  // Switched off by the caller (writing a note by hand): never closes by itself.
  TFormVerSm& manual = Make();
  manual.tmr1->SetEnabled(false);
  loop.Advance(100000);
  EXPECT_TRUE(manual.isVisible());
}

// The limit counts code-page bytes (two for each Chinese character); what is typed or pasted
// past it is dropped, never the text already there.
TEST_F(NoteDialog, TheNoteKeepsWithinItsLimit) {
  TFormVerSm& d = Make();
  d.NoteLimit = 10;
  auto typeAt = [&](int at, const QString& text) {
    QTextCursor c = d.Edit1->textCursor();
    c.setPosition(at);
    d.Edit1->setTextCursor(c);
    d.Edit1->insertPlainText(text);
  };
  d.Edit1->setPlainText(QStringLiteral("说明说明说明"));
  EXPECT_EQ(d.Edit1->toPlainText(), QStringLiteral("说明说明说"));
  typeAt(1, QStringLiteral("ab"));
  EXPECT_EQ(d.Edit1->toPlainText(), QStringLiteral("说明说明说"));
  d.Edit1->moveCursor(QTextCursor::End);
  d.Edit1->textCursor().deletePreviousChar();
  typeAt(0, QStringLiteral("abc"));  // two bytes free: "c" does not fit
  EXPECT_EQ(d.Edit1->toPlainText(), QStringLiteral("ab说明说明"));
  d.NoteLimit = 5;
  d.Edit1->setPlainText(QStringLiteral("a说b"));
  typeAt(3, QStringLiteral("说"));  // four bytes taken
  typeAt(3, QStringLiteral("\ncd"));
  EXPECT_EQ(d.Edit1->toPlainText(), QStringLiteral("a说b\n"));
  EXPECT_FALSE(d.tmr1->Enabled());

  TFormVerSm& unlimited = Make();
  unlimited.Edit1->setPlainText(QString(300, QChar(u'说')));
  EXPECT_EQ(unlimited.Edit1->toPlainText().size(), 300);
}

TEST_F(NoteDialog, ModalRunEndsByTheTimer) {
  dlg = std::make_unique<TFormVerSm>();
  QTimer::singleShot(0, [this] { loop.Advance(10000); });
  dlg->exec();
  EXPECT_EQ(dlg->ResultCode, 2);
}

TEST(NewAreaDialog, LayoutAndResultCodes) {
  struct Case {
    const char* name;
    std::function<void(TCreatDataAreaW&)> act;
    int expected;
  };
  const Case cases[] = {
      {"ok", [](TCreatDataAreaW& d) { d.Button1->click(); }, 1},
      {"abandon", [](TCreatDataAreaW& d) { d.Button2->click(); }, 2},
      {"window system", [](TCreatDataAreaW& d) { d.close(); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCreatDataAreaW d;
    EXPECT_EQ(d.ResultCode, 0);
    d.show();
    c.act(d);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.ResultCode, c.expected);
  }

  TCreatDataAreaW d;
  EXPECT_EQ(d.windowTitle(), QStringLiteral("建立新的储存区"));
  EXPECT_EQ(d.size(), QSize(505, 370));
  EXPECT_EQ(d.findChild<QLabel*>("Label1")->text(), QStringLiteral("选择目录作为文件历史版本保存区域"));
  EXPECT_EQ(d.findChild<QLabel*>("Label2")->text(), QStringLiteral("文件保存目录为："));
  EXPECT_EQ(d.findChild<QLabel*>("Label3")->text(), QStringLiteral("存储区名称："));
  EXPECT_EQ(d.findChild<QTreeView*>("ShellTreeView1")->size(), QSize(409, 169));
  EXPECT_EQ(d.findChild<QPushButton*>("Button1")->text(), QStringLiteral("确定"));
  EXPECT_EQ(d.findChild<QPushButton*>("Button2")->text(), QStringLiteral("放弃"));
  EXPECT_TRUE(d.findChild<QLineEdit*>("Edit1")->isReadOnly());
  EXPECT_FALSE(d.findChild<QLineEdit*>("Edit2")->isReadOnly());
}

TEST(NewAreaDialog, Edit1ShowsTheSelectedFolder) {
  test::TempDir tmp;
  QDir(QString::fromStdString(tmp.Path())).mkpath("area one/inner");
  TCreatDataAreaW d;
  QTreeView* tree = d.ShellTreeView1;
  auto* model = qobject_cast<QFileSystemModel*>(tree->model());
  ASSERT_NE(model, nullptr);

  // At start the home folder is selected, opened, and named in the edit.
  QModelIndex home = model->index(QDir::homePath());
  EXPECT_EQ(tree->currentIndex(), home);
  EXPECT_TRUE(tree->isExpanded(home));
  EXPECT_EQ(d.Edit1->text(), QDir::homePath());

  QString folder = QString::fromStdString(tmp.File("area one/inner"));
  tree->setCurrentIndex(model->index(folder));
  EXPECT_EQ(d.Edit1->text(), folder);
  // Only folders are offered.
  EXPECT_EQ(model->filter() & QDir::Files, 0);

  // A right-click picks the folder under the pointer too.
  QString parent = QString::fromStdString(tmp.Path());
  bool loaded = false;
  QObject::connect(model, &QFileSystemModel::directoryLoaded,
                   [&](const QString& dir) { loaded |= dir == parent; });
  d.show();
  tree->setRootIndex(model->index(parent));
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(loaded && model->rowCount(model->index(parent)) == 1) && std::chrono::steady_clock::now() < end)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  QApplication::processEvents();
  QModelIndex area = model->index(parent + "/area one");
  QPoint at = tree->visualRect(area).center();
  ASSERT_FALSE(tree->visualRect(area).isEmpty());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(tree->viewport()->mapToGlobal(at)),
                    Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &press);
  EXPECT_EQ(d.Edit1->text(), parent + "/area one");
}

}  // namespace
}  // namespace lanqi
