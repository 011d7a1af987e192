// The version commands from the tree's menu and the version list's menu.
#include <QMessageBox>

#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

struct VersionMenu : MainWindow {
  std::string path;
  QModelIndex file;
  void Track() {
    path = dir.Write("watched/a.txt", "first");
    SetStamp(path, 0);
    Make();
    w->AddArea("docs", dir.File("area"));
    w->LoadCatalog(catalog);
    Select(Top(0));
    w->AddPathToSelectedArea(QString::fromStdString(path));
    file = Child(Top(0), 0);
    ASSERT_EQ(ChildCount(file), 1);
  }
  // Opens the menu as a right click would, so its entries fit the selection, and triggers the action.
  void Trigger(QMenu* menu, QAction* action) {
    emit menu->aboutToShow();
    ASSERT_TRUE(action->isVisible()) << action->text().toStdString();
    action->trigger();
  }
};

TEST_F(VersionMenu, RestoreFromTheTreeAddsTheSavedAndRestoredNodes) {
  Track();
  std::string first = Tmainw::NodeText(Child(file, 0));
  dir.Write("watched/a.txt", "changed");
  SetStamp(path, 10);
  Select(Child(file, 0));
  Trigger(w->PopupMenu1, w->N7);
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
  EXPECT_EQ(test::TempDir::Read(path), "first");
  ASSERT_EQ(ChildCount(file), 3);
  EXPECT_EQ(Tmainw::NodeText(Child(file, 0)), VersionStamp(path));
  EXPECT_EQ(Tmainw::NodeText(Child(file, 2)), first);
  Select(file);
  EXPECT_EQ(ListRows()[0][2], Q(u8"恢复自 ") + QString::fromStdString(first));
  EXPECT_EQ(ListRows()[1][2], Q(u8"恢复前自动保存"));
  // On a file node the version entries are hidden; the export stays.
  emit w->PopupMenu1->aboutToShow();
  EXPECT_FALSE(w->N7->isVisible());
  EXPECT_TRUE(w->N9->isVisible());
}

TEST_F(VersionMenu, DeleteFromTheListAsksNamingTheVersionAndRemovesTheRow) {
  Track();
  dir.Write("watched/a.txt", "second");
  SetStamp(path, 10);
  verinfo second;
  ASSERT_TRUE(w->CaptureVersion(path, "", second));
  w->LoadCatalog(catalog);
  file = Child(Top(0), 0);
  Select(file);
  w->ListView1->setCurrentItem(w->ListView1->topLevelItem(1));  // the older version
  std::string older = Tmainw::NodeText(Child(file, 1));
  QString asked;
  int answer = QMessageBox::No;
  onDialog = [&](QDialog& d) {
    asked = static_cast<QMessageBox&>(d).text();
    return answer;
  };
  Trigger(w->ListMenu, w->N10);
  EXPECT_TRUE(asked.contains(QString::fromStdString(older)));
  EXPECT_EQ(ChildCount(file), 2);
  answer = QMessageBox::Yes;
  w->ListView1->setCurrentItem(w->ListView1->topLevelItem(1));
  Trigger(w->ListMenu, w->N10);
  ASSERT_EQ(ChildCount(file), 1);
  EXPECT_EQ(Tmainw::NodeText(Child(file, 0)), second.Version);
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);
}

}  // namespace
}  // namespace lanqi
