// "保护此版本" from the version menus and an area's cleanup dialog, on the window over a real catalog.
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

#include "app/CatalogCleanup.h"
#include "app/CleanupDialog.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

struct CleanupWindow : MainWindow {
  std::string path;
  int32_t fileNo = 0;
  std::vector<std::string> versions;  // oldest first
  // A tracked file with three versions.
  void Track() {
    path = dir.Write("watched/a.txt", "v0");
    SetStamp(path, 0);
    Make();
    w->AddArea("docs", dir.File("area"));
    w->LoadCatalog(catalog);
    Select(Top(0));
    w->AddPathToSelectedArea(QString::fromStdString(path));
    for (int i = 1; i < 3; ++i) {
      dir.Write("watched/a.txt", "v" + std::to_string(i));
      SetStamp(path, 10 * i);
      verinfo v;
      ASSERT_TRUE(w->CaptureVersion(path, "", v));
    }
    w->LoadCatalog(catalog);
    fileNo = w->Catalog().FileNoOf(path);
    for (const verinfo& v : w->Catalog().Versions(fileNo)) versions.push_back(v.Version);
    ASSERT_EQ(versions.size(), 3u);
  }
  void Trigger(QMenu* menu, QAction* action) {
    emit menu->aboutToShow();
    ASSERT_TRUE(action->isVisible()) << action->text().toStdString();
    action->trigger();
  }
  std::vector<bool> ListIcons() {
    std::vector<bool> icons;
    for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i)
      icons.push_back(!w->ListView1->topLevelItem(i)->icon(0).isNull());
    return icons;
  }
};

TEST_F(CleanupWindow, ProtectFromTheListMarksTheRowAndTakesItBack) {
  Track();
  Select(Child(Top(0), 0));
  w->ListView1->setCurrentItem(w->ListView1->topLevelItem(2));  // the oldest version
  Trigger(w->ListMenu, w->ProtectItem);
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
  EXPECT_TRUE(TCatalogCleanup(w->Catalog()).IsProtected(fileNo, versions[0]));
  EXPECT_EQ(ListIcons(), (std::vector<bool>{false, false, true}));
  // A version shows the file's icon unless protected: the same icon object for each, another for a mark.
  auto icon = [&](int row) {
    return qvariant_cast<QIcon>(Child(Child(Top(0), 0), row).data(Qt::DecorationRole)).cacheKey();
  };
  EXPECT_NE(icon(2), icon(1));
  EXPECT_EQ(icon(0), icon(1));
  // Read again from the catalog, the tree shows the mark too.
  w->LoadCatalog(catalog);
  EXPECT_NE(icon(2), icon(1));
  EXPECT_EQ(icon(0), icon(1));
  Select(Child(Top(0), 0));
  // The menu shows the mark; triggered again, it goes.
  w->ListView1->setCurrentItem(w->ListView1->topLevelItem(2));
  emit w->ListMenu->aboutToShow();
  EXPECT_TRUE(w->ProtectItem->isChecked());
  w->ProtectItem->trigger();
  EXPECT_FALSE(TCatalogCleanup(w->Catalog()).IsProtected(fileNo, versions[0]));
  EXPECT_EQ(ListIcons(), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(icon(2), icon(1));
  // On a file node of the tree the entry is hidden; on an area node the cleanup rules show.
  Select(Child(Top(0), 0));
  emit w->PopupMenu1->aboutToShow();
  EXPECT_FALSE(w->ProtectItem->isVisible());
  EXPECT_FALSE(w->CleanupItem->isVisible());
  Select(Top(0));
  emit w->PopupMenu1->aboutToShow();
  EXPECT_TRUE(w->CleanupItem->isVisible());
}

TEST_F(CleanupWindow, TheDialogPreviewsThenCleansWhatItShowedAndKeepsTheRules) {
  Track();
  TCatalogCleanup(w->Catalog()).SetProtected(fileNo, versions[0], true);
  Select(Top(0));
  std::vector<QString> previewed, asked;
  int confirm = QMessageBox::No;
  onDialog = [&](QDialog& d) {
    if (auto* box = qobject_cast<QMessageBox*>(&d)) {
      asked.push_back(box->text());
      return confirm;
    }
    auto* dialog = dynamic_cast<TCleanupDialog*>(&d);
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return 0;
    dialog->KeepEdit->setValue(1);
    dialog->PreviewButton->click();
    previewed.clear();
    for (int i = 0; i < dialog->PreviewList->topLevelItemCount(); ++i)
      previewed.push_back(dialog->PreviewList->topLevelItem(i)->text(1));
    dialog->CleanButton->click();
    return 0;
  };
  // Refused: nothing removed, no rules stored.
  Trigger(w->PopupMenu1, w->CleanupItem);
  EXPECT_EQ(previewed, std::vector<QString>{QString::fromStdString(versions[1])});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].contains(QStringLiteral("1")));
  EXPECT_EQ(w->Catalog().Versions(fileNo).size(), 3u);
  EXPECT_EQ(TCatalogCleanup(w->Catalog()).Rules(1), TCleanupRules{});

  confirm = QMessageBox::Yes;
  Select(Top(0));
  Trigger(w->PopupMenu1, w->CleanupItem);
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
  std::vector<std::string> left;
  for (const verinfo& v : w->Catalog().Versions(fileNo)) left.push_back(v.Version);
  EXPECT_EQ(left, (std::vector<std::string>{versions[0], versions[2]}));
  EXPECT_EQ(Texts(Child(Top(0), 0)), (std::vector<std::string>{versions[2], versions[0]}));
  EXPECT_EQ(TCatalogCleanup(w->Catalog()).Rules(1), (TCleanupRules{1, 0, 0}));
}

}  // namespace
}  // namespace lanqi
