// The compare window opened from the main window's menus on a real catalog: the change marked, the
// merge of one block saved over the file, two versions side by side, and files that are not text.
#include <sys/stat.h>

#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>

#include "app/CompareWindow.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

struct CompareWindowTest : MainWindow {
  // A tracked file with two versions (their copies hold the bytes given), the current file last.
  void Track(const std::string& older, const std::string& newer, const std::string& current) {
    path = dir.Write("watched/doc.txt", current);
    int32_t area = Area("A", dir.File("area"));
    fileNo = File(area, path);
    Version(fileNo, "2020-01-01-00-00-00", "1", "", dir.Write("watched/doc{2020-01-01-00-00-00}.txt", older));
    Version(fileNo, "2020-01-02-00-00-00", "1", "", dir.Write("watched/doc{2020-01-02-00-00-00}.txt", newer));
    Make();
  }
  QModelIndex FileNode() { return Child(Top(0), 0); }
  TCompareWindow* Opened() {
    auto all = w->findChildren<TCompareWindow*>();
    return all.size() == 1 ? all.front() : nullptr;
  }
  // The rows with a line mark, and the marked characters of each row ("|" after each run).
  static std::vector<int> Marked(TDiffPane* pane) {
    std::vector<int> rows;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
      if (b.blockFormat().background().style() != Qt::NoBrush) rows.push_back(b.blockNumber());
    return rows;
  }
  static QString MarkedText(TDiffPane* pane) {
    QString out;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
      for (auto it = b.begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().background().style() != Qt::NoBrush) out += it.fragment().text() + "|";
    return out;
  }
  std::string path;
  int32_t fileNo = 0;
};

TEST_F(CompareWindowTest, ShowsTheNewestVersionBesideTheFileWithTheChangeMarked) {
  Track("old\n", "a\nkeep\nb\n", "a\nkeep\nB!\nnew line\n");
  Select(FileNode());
  w->CompareItem->trigger();
  TCompareWindow* c = Opened();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->LeftTitle->text(), Q(u8"版本 2020-01-02-00-00-00"));
  EXPECT_EQ(c->RightTitle->text(), Q(u8"当前文件 ") + QString::fromStdString(path));
  EXPECT_EQ(c->LeftPane->toPlainText(), "a\nkeep\nb\n");
  EXPECT_EQ(c->RightPane->toPlainText(), "a\nkeep\nB!\nnew line");
  // The version's side is one line short in the block: a row without a number keeps them level.
  EXPECT_EQ(c->LeftPane->Numbers(), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(c->RightPane->Numbers(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(Marked(c->RightPane), (std::vector<int>{2, 3}));
  // The version's side: its changed line and the filler row.
  EXPECT_EQ(Marked(c->LeftPane), (std::vector<int>{2, 3}));
  EXPECT_EQ(MarkedText(c->LeftPane), "b|");
  EXPECT_EQ(MarkedText(c->RightPane), "B!|");
  EXPECT_TRUE(c->StatusLabel->text().startsWith(Q(u8"第 1/1 处不同")));
  EXPECT_FALSE(c->SaveButton->isEnabled());
  EXPECT_FALSE(c->UndoButton->isEnabled());
}

TEST_F(CompareWindowTest, TakesABlockUndoesItAndSavesKeepingThePermissions) {
  Track("x\n", "one\ntwo\nthree\nfour\n", "one\nTWO\nthree\nFOUR\n");
  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  Select(Child(FileNode(), 0));
  w->CompareItem->trigger();
  TCompareWindow* c = Opened();
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->BlockRows(), (std::vector<int>{1, 3}));
  c->NextButton->click();
  EXPECT_EQ(c->CurrentBlock(), 1);
  EXPECT_EQ(c->RightPane->textCursor().blockNumber(), 3);
  c->TakeButton->click();
  EXPECT_EQ(c->RightPane->toPlainText(), "one\nTWO\nthree\nfour");
  EXPECT_TRUE(c->UndoButton->isEnabled());
  c->PrevButton->click();
  c->TakeButton->click();
  c->UndoButton->click();
  EXPECT_EQ(c->RightPane->toPlainText(), "one\nTWO\nthree\nfour");
  // Nothing is written until the save.
  EXPECT_EQ(test::TempDir::Read(path), "one\nTWO\nthree\nFOUR\n");
  ASSERT_TRUE(c->SaveButton->isEnabled());
  c->SaveButton->click();
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
  EXPECT_EQ(test::TempDir::Read(path), "one\nTWO\nthree\nfour\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  // The window now compares against what was saved.
  EXPECT_EQ(c->BlockRows(), (std::vector<int>{1}));
  EXPECT_FALSE(c->SaveButton->isEnabled());
}

TEST_F(CompareWindowTest, RefusesToSaveOverAFileChangedSinceTheComparison) {
  Track("x\n", "a\n", "b\n");
  Select(FileNode());
  w->GlowButton10->click();
  TCompareWindow* c = Opened();
  ASSERT_NE(c, nullptr);
  c->TakeButton->click();
  dir.Write("watched/doc.txt", "typed meanwhile\n");
  EXPECT_FALSE(c->Save());
  EXPECT_EQ(test::TempDir::Read(path), "typed meanwhile\n");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].startsWith(Q(u8"文件在比较后已被修改")));
}

TEST_F(CompareWindowTest, TwoVersionsSelectedInTheListAreComparedReadOnly) {
  Track("1\nsame\n", "2\nsame\n", "current\n");
  Select(FileNode());
  ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
  w->ListView1->topLevelItem(0)->setSelected(true);
  w->ListView1->topLevelItem(1)->setSelected(true);
  emit w->ListMenu->aboutToShow();
  EXPECT_EQ(w->ListCompareItem->text(), Q(u8"比较所选的两个版本"));
  w->ListCompareItem->trigger();
  TCompareWindow* c = Opened();
  ASSERT_NE(c, nullptr);
  // The older one on the left.
  EXPECT_EQ(c->LeftTitle->text(), Q(u8"版本 2020-01-01-00-00-00"));
  EXPECT_EQ(c->RightTitle->text(), Q(u8"版本 2020-01-02-00-00-00"));
  EXPECT_EQ(MarkedText(c->RightPane), "2|");
  EXPECT_FALSE(c->TakeButton->isVisibleTo(c));
  EXPECT_FALSE(c->SaveButton->isVisibleTo(c));
}

TEST_F(CompareWindowTest, BinaryFilesShowSizesHashesAndOffsetInsteadOfText) {
  Track("x", std::string("\x01\x02\x00\x03", 4), std::string("\x01\x02\x00\x04\x05", 5));
  Select(FileNode());
  w->CompareItem->trigger();
  TCompareWindow* c = Opened();
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->BinaryInfo->isVisibleTo(c));
  EXPECT_FALSE(c->LeftPane->isVisibleTo(c));
  QString info = c->BinaryInfo->toPlainText();
  EXPECT_TRUE(info.contains(Q(u8"大小：4 字节"))) << info.toStdString();
  EXPECT_TRUE(info.contains(Q(u8"大小：5 字节")));
  EXPECT_TRUE(info.contains(Q(u8"第一处不同位于第 3 字节")));
  EXPECT_FALSE(c->NextButton->isEnabled());
  EXPECT_FALSE(c->TakeButton->isEnabled());
}

TEST_F(CompareWindowTest, AMissingCopyOrNoSelectionSaysSo) {
  Track("x\n", "y\n", "z\n");
  std::filesystem::remove(dir.File("watched/doc{2020-01-02-00-00-00}.txt"));
  Select(FileNode());
  w->CompareItem->trigger();
  EXPECT_EQ(Opened(), nullptr);
  Select(Top(0));
  w->CompareItem->trigger();
  EXPECT_EQ(Opened(), nullptr);
  EXPECT_EQ(messages,
            (std::vector<QString>{Q(u8"版本文件不存在：2020-01-02-00-00-00"), Q(u8"请先选择要比较的版本")}));
}

}  // namespace
}  // namespace lanqi
