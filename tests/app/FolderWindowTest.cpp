// The main window's tracked folders ("增加目录", a dropped folder, the pass that tracks their new
// files) and the "自动监测" switch, over real files and a real catalog.
#include "app/AutoMonitor.h"
#include "app/FolderTrackDialog.h"
#include "app/TrackedFolders.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

struct FolderWindow : MainWindow {
  // The pass as the timer runs it.
  void Pass() {
    w->tmr1->SetEnabled(true);
    loop.Advance(5000);
  }
  std::vector<std::string> TrackedPaths() {
    std::vector<std::string> out;
    for (auto& r : Rows(u8"文件索引表")) out.push_back(r["源文件名称"]);
    return out;
  }
  // Note prompts are counted and answered; a folder question is answered by answer.
  int prompts = 0;
  std::function<int(TFolderTrackDialog&)> answer;
  std::vector<QString> questions;
  void Answer() {
    onDialog = [this](QDialog& d) {
      if (auto* note = dynamic_cast<TFormVerSm*>(&d)) {
        ++prompts;
        note->Edit1->setPlainText(Q(u8"存了"));
        note->Button1->click();
        return 0;
      }
      if (auto* folder = dynamic_cast<TFolderTrackDialog*>(&d)) {
        questions.push_back(folder->Label1->text());
        return answer ? answer(*folder) : 0;
      }
      if (auto* pick = dynamic_cast<QFileDialog*>(&d)) {
        EXPECT_EQ(pick->objectName(), "dlgFolder");
        EXPECT_EQ(pick->fileMode(), QFileDialog::Directory);
        pick->setDirectory(QString::fromStdString(dir.File("watched")));
        return static_cast<int>(QDialog::Accepted);
      }
      ADD_FAILURE() << "unexpected dialog " << d.objectName().toStdString();
      return 0;
    };
  }
};

TEST_F(FolderWindow, AutoMonitoringOffThenOnCapturesASaveMadeMeanwhile) {
  roots = {dir.File("watched")};
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/doc.txt", "first");
  SetStamp(doc, 0);
  File(a, doc, VersionStamp(doc));
  fs::create_directories(doc + "-bak");
  Make();
  Answer();
  ASSERT_TRUE(w->GlowButton11->isCheckable());
  EXPECT_TRUE(w->GlowButton11->isChecked());
  EXPECT_EQ(w->TrayIcon1->Hint(), AppTitle());

  w->GlowButton11->click();
  EXPECT_FALSE(w->AutoMonitor());
  EXPECT_EQ(w->TrayIcon1->Hint(), AppTitle() + A(u8"（自动监测已关闭）"));
  EXPECT_FALSE(LoadAutoMonitor(dir.File("exe")));
  ASSERT_EQ(w->DriveWatchers.size(), 1u);
  EXPECT_TRUE(w->DriveWatchers[0]->Muted());

  dir.Write("watched/doc.txt", "saved while off");
  SetStamp(doc, 3600);
  // A change report arms nothing, and even an armed timer makes no pass.
  w->FileSystemWatcher1Change(w->DriveWatchers[0], foModified, "doc.txt", "");
  EXPECT_FALSE(w->tmr1->Enabled());
  Pass();
  EXPECT_EQ(prompts, 0);
  EXPECT_TRUE(Rows(u8"文件版本表").empty());

  // On again: one pass at once captures the save.
  w->GlowButton11->click();
  EXPECT_TRUE(w->AutoMonitor());
  EXPECT_EQ(prompts, 1);
  auto versions = Rows(u8"文件版本表");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]["说明"], A(u8"存了"));
  EXPECT_EQ(test::TempDir::Read(versions[0]["文件名称"]), "saved while off");
  EXPECT_EQ(w->TrayIcon1->Hint(), AppTitle());
  EXPECT_TRUE(LoadAutoMonitor(dir.File("exe")));
  EXPECT_FALSE(w->DriveWatchers[0]->Muted());
  EXPECT_TRUE(messages.empty());
}

TEST_F(FolderWindow, TheStoredSettingIsTheStartState) {
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/doc.txt", "first");
  File(a, doc, "2000-01-01-00-00-00");  // differs: a pass would prompt
  fs::create_directories(dir.File("exe"));
  dir.Write("exe/setup.ini", A(u8"[监测设置]\n自动监测=0\n"));
  Make();
  Answer();
  EXPECT_FALSE(w->GlowButton11->isChecked());
  EXPECT_FALSE(w->AutoMonitor());
  EXPECT_EQ(w->TrayIcon1->Hint(), AppTitle() + A(u8"（自动监测已关闭）"));
  Pass();
  EXPECT_EQ(prompts, 0);
  EXPECT_FALSE(LoadAutoMonitor(dir.File("exe")));
}

TEST_F(FolderWindow, AFolderAddedFromTheRibbonTracksItsFilesAndThePassItsNewOnes) {
  Area("A", dir.File("area"));
  std::string a = dir.Write("watched/a.txt", "a");
  dir.Write("watched/b.log", "b");
  Make();
  Answer();
  answer = [](TFolderTrackDialog& d) {
    d.IncludeEdit->setText(QStringLiteral("*.txt"));
    d.Button1->click();
    return 0;
  };
  Select(Top(0));
  w->GlowButton9->click();
  EXPECT_EQ(questions, std::vector<QString>{Q(u8"是否监控目录：") +
                                            QString::fromStdString(dir.File("watched")) + Q(u8"？")});
  EXPECT_EQ(TrackedPaths(), std::vector<std::string>{a});
  ASSERT_EQ(TrackedFolders(w->Catalog()).size(), 1u);
  EXPECT_EQ(TrackedFolders(w->Catalog())[0].Include, "*.txt");
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);

  // Saved for the first time: tracked at the next pass with its first version, without a prompt;
  // a lock file and a name the masks leave out are not.
  std::string c = dir.Write("watched/c.txt", "c");
  dir.Write("watched/.~lock.c.txt#", "lock");
  dir.Write("watched/c.log", "log");
  Pass();
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(TrackedPaths(), (std::vector<std::string>{a, c}));
  auto versions = Rows(u8"文件版本表");
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(test::TempDir::Read(versions[1]["文件名称"]), "c");

  // The tree takes the new file once the pass is over; the folder shows under its area after its
  // files, and "删除监控目录" on it stops tracking new files while its files stay.
  loop.Advance(500);
  EXPECT_EQ(Texts(Top(0)), (std::vector<std::string>{c, a, dir.File("watched")}));
  QModelIndex folder = Child(Top(0), 2);
  ASSERT_EQ(Tmainw::NodeKind(folder), TCatalogTreeModel::TKind::Folder);
  Select(folder);
  emit w->PopupMenu1->aboutToShow();
  EXPECT_TRUE(w->N11->isVisible());
  w->N11->trigger();
  EXPECT_TRUE(TrackedFolders(w->Catalog()).empty());
  EXPECT_EQ(Texts(Top(0)), (std::vector<std::string>{c, a}));
  Select(Top(0));
  emit w->PopupMenu1->aboutToShow();
  EXPECT_FALSE(w->N11->isVisible());
  dir.Write("watched/d.txt", "d");
  Pass();
  EXPECT_EQ(TrackedPaths(), (std::vector<std::string>{a, c}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(FolderWindow, ADroppedFolderIsTrackedWhenTheQuestionIsAnsweredYes) {
  Area("A", dir.File("area"));
  std::string top = dir.Write("watched/top.txt", "t");
  fs::create_directories(dir.File("watched/sub"));
  std::string below = dir.Write("watched/sub/below.txt", "b");
  Make();
  Answer();
  Select(Top(0));
  answer = [](TFolderTrackDialog& d) {
    d.Button2->click();
    return 0;
  };
  Drop({QString::fromStdString(dir.File("watched"))});
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_TRUE(TrackedPaths().empty());
  EXPECT_TRUE(TrackedFolders(w->Catalog()).empty());

  answer = [](TFolderTrackDialog& d) {
    d.SubFolders->setChecked(true);
    d.Button1->click();
    return 0;
  };
  Drop({QString::fromStdString(dir.File("watched"))});
  EXPECT_EQ(TrackedPaths(), (std::vector<std::string>{top, below}));
  ASSERT_EQ(TrackedFolders(w->Catalog()).size(), 1u);
  EXPECT_TRUE(TrackedFolders(w->Catalog())[0].Recursive);
  EXPECT_TRUE(messages.empty()) << messages[0].toStdString();
}

}  // namespace
}  // namespace lanqi
