#include <sys/resource.h>
#include <QCursor>
#include <QMessageBox>
#include <QTimer>
#include <csignal>

#include "app/LoginForm.h"
#include "engine/RadeSession.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

// Detection passes with real files; the tracked files' stamps are set by hand so that they differ
// from the stored ones exactly when a test wants them to.
struct Detection : MainWindow {
  int32_t Track(int32_t area, const std::string& path, bool current) {
    return File(area, path, current ? VersionStamp(path) : "2000-01-01-00-00-00");
  }
  // The pass as the timer runs it.
  void Pass() {
    w->tmr1->SetEnabled(true);
    loop.Advance(5000);
  }
  std::vector<std::string> Column(std::u8string_view table, const std::string& field) {
    std::vector<std::string> out;
    for (auto& r : Rows(table)) out.push_back(r[field]);
    return out;
  }
};

TEST_F(Detection, ASaveOnAWatchedFolderBecomesAVersion) {
  roots = {dir.File("watched")};
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/doc.txt", "first");
  SetStamp(doc, 0);
  int32_t fileNo = Track(a, doc, true);
  fs::create_directories(doc + "-bak");
  Make();
  w->show();
  ASSERT_EQ(w->DriveWatchers.size(), 1u);
  EXPECT_TRUE(w->DriveWatchers[0]->Active());
  onDialog = [&](QDialog& d) {
    auto& note = dynamic_cast<TFormVerSm&>(d);
    // The first version: the prompt names the file and its size, with nothing to compare.
    EXPECT_EQ(note.Label1->text(), Q(u8"文件：doc.txt"));
    EXPECT_EQ(note.LabelFolder->text(), Q(u8"目录：") + QString::fromStdString(dir.File("watched")));
    EXPECT_EQ(note.LabelChange->text(), Q(u8"变化：11 B（首个版本）"));
    EXPECT_TRUE(note.tmr1->Enabled());
    note.Edit1->setPlainText(Q(u8"改了"));
    note.Button1->click();
    return 0;
  };

  dir.Write("watched/doc.txt", "second save");
  SetStamp(doc, 3600);
  // The change report arms the timer and silences the watchers.
  ASSERT_TRUE(loop.RunUntil([&] { return w->tmr1->Enabled(); }));
  EXPECT_TRUE(w->DriveWatchers[0]->Muted());
  loop.Advance(4999);
  EXPECT_EQ(dialogs, 0);
  loop.Advance(1);
  EXPECT_EQ(dialogs, 1);
  EXPECT_FALSE(w->tmr1->Enabled());
  EXPECT_TRUE(w->DriveWatchers[0]->Active());
  EXPECT_FALSE(w->DriveWatchers[0]->Muted());
  EXPECT_EQ(w->PendingFiles->Count(), 0);
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(messages.empty());

  std::string stamp = VersionStamp(doc);
  auto versions = Rows(u8"文件版本表");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]["文件序号"], std::to_string(fileNo));
  EXPECT_EQ(versions[0]["版本"], stamp);
  EXPECT_EQ(versions[0]["说明"], A(u8"改了"));
  EXPECT_EQ(versions[0]["大小"], "11");
  EXPECT_EQ(test::TempDir::Read(versions[0]["文件名称"]), "second save");
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], stamp);
  EXPECT_EQ(Texts(Child(Top(0), 0)), std::vector<std::string>{stamp});

  // Another change anywhere, with the tracked file as it was: a pass that finds nothing.
  dir.Write("watched/other.txt", "x");
  ASSERT_TRUE(loop.RunUntil([&] { return w->tmr1->Enabled(); }));
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);
}

TEST_F(Detection, APassKeepsTheDrivesWatchAndAFolderMadeDuringItIsFollowed) {
  roots = {dir.File("watched")};
  fs::create_directories(dir.File("watched/deep/er"));
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/doc.txt", "first");
  Track(a, doc, false);
  fs::create_directories(doc + "-bak");
  Make();
  TFileSystemWatcher* watcher = w->DriveWatchers[0];
  ASSERT_TRUE(loop.RunUntil([&] { return watcher->Worker()->TreeWalked(); }));
  // Held, so that a worker put in its place could not take its address.
  std::shared_ptr<TShellChangeThread> worker = watcher->Worker()->shared_from_this();
  onDialog = [&](QDialog&) {
    fs::create_directories(dir.File("watched/deep/er/made"));
    return 0;
  };
  dir.Write("watched/deep/er/x.txt", "x");
  ASSERT_TRUE(loop.RunUntil([&] { return w->tmr1->Enabled(); }));
  EXPECT_TRUE(watcher->Muted());
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 1);
  EXPECT_FALSE(watcher->Muted());
  EXPECT_FALSE(w->tmr1->Enabled());
  // The same worker on the same watch: nothing was closed, so nothing is walked again.
  EXPECT_EQ(watcher->Worker(), worker.get());
  EXPECT_FALSE(worker->Terminated());
  EXPECT_TRUE(worker->TreeWalked());
  dir.Write("watched/deep/er/made/y.txt", "y");
  EXPECT_TRUE(loop.RunUntil([&] { return w->tmr1->Enabled(); }));
}

TEST_F(Detection, TheWatchLimitIsToldOnceAndThenTrackedFilesArePolled) {
  struct Limit {
    Limit() { DirectoryChangePort::SetWatchLimitForTesting(1); }  // the drive's folder, none below it
    ~Limit() { DirectoryChangePort::SetWatchLimitForTesting(SIZE_MAX); }
  } limit;
  roots = {dir.File("watched")};
  fs::create_directories(dir.File("watched/sub"));
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/sub/doc.txt", "first");
  SetStamp(doc, 0);
  Track(a, doc, true);
  fs::create_directories(doc + "-bak");
  Make();
  ASSERT_TRUE(loop.RunUntil([&] { return !messages.empty(); }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains(QStringLiteral("fs.inotify.max_user_watches")))
      << messages[0].toStdString();
  EXPECT_TRUE(w->tmr1->Enabled());
  // Saved where no watch reaches: found by the clock's passes, each arming the next.
  for (int save = 1; save <= 2; ++save) {
    dir.Write("watched/sub/doc.txt", "save " + std::to_string(save));
    SetStamp(doc, 3600 * save);
    loop.Advance(5000);
    EXPECT_EQ(dialogs, save);
    EXPECT_EQ(Rows(u8"文件版本表").size(), static_cast<size_t>(save));
    EXPECT_TRUE(w->tmr1->Enabled());
  }
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(messages.size(), 1u);
}

// A save that brings back the newest version's bytes asks nothing and keeps nothing but its stamp;
// the next save with new bytes is prompted for as before.
TEST_F(Detection, AnUnchangedSavePromptsNothing) {
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("doc.txt", "same bytes");
  Track(a, doc, false);
  fs::create_directories(doc + "-bak");
  Make();
  SetStamp(doc, 10);
  Pass();
  ASSERT_EQ(dialogs, 1);
  ASSERT_EQ(Rows(u8"文件版本表").size(), 1u);

  dir.Write("doc.txt", "same bytes");
  SetStamp(doc, 20);
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], VersionStamp(doc));
  EXPECT_EQ(ChildCount(Child(Top(0), 0)), 1);

  dir.Write("doc.txt", "new bytes!");
  SetStamp(doc, 30);
  Pass();
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(Rows(u8"文件版本表").size(), 2u);
}

TEST_F(Detection, TheNoteByWayOfClosingThePrompt) {
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("doc.txt", "x");
  Track(a, doc, false);
  fs::create_directories(doc + "-bak");
  Make();
  struct Case {
    const char* name;
    std::function<void(TFormVerSm&)> act;
    std::string note;
  };
  const Case cases[] = {
      {"submitted",
       [](TFormVerSm& d) {
         d.Edit1->setPlainText("typed");
         d.Button1->click();
       },
       "typed"},
      {"abandoned",
       [](TFormVerSm& d) {
         d.Edit1->setPlainText("typed");
         d.Button2->click();
       },
       ""},
      {"longer than its field",
       [](TFormVerSm& d) {
         d.Edit1->setPlainText(QString(65, QChar(u'说')));
         d.Button1->click();
       },
       [] {
         std::string kept;  // the 128 bytes of the field
         for (int i = 0; i < 64; ++i) kept += A(u8"说");
         return kept;
       }()},
      {"left alone for 10 seconds", [this](TFormVerSm&) { loop.Advance(10000); }, ""},
      {"typed, then closed by the window system",
       [this](TFormVerSm& d) {
         d.Edit1->setPlainText("kept");
         loop.Advance(60000);
         EXPECT_EQ(d.ResultCode, 1);
         d.close();
       },
       "kept"},
  };
  int seconds = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Each save brings new content: a save of the same bytes would make no version.
    dir.Write("doc.txt", c.name);
    SetStamp(doc, seconds += 10);
    onDialog = [&](QDialog& d) {
      c.act(dynamic_cast<TFormVerSm&>(d));
      return 0;
    };
    Pass();
    EXPECT_EQ(Rows(u8"文件版本表").back()["说明"], c.note);
    EXPECT_EQ(Rows(u8"文件版本表").back()["版本"], VersionStamp(doc));
  }
  EXPECT_EQ(Rows(u8"文件版本表").size(), 5u);
  EXPECT_EQ(ChildCount(Child(Top(0), 0)), 5);
}

TEST_F(Detection, APassGoesOnPastMissingFilesAndFailedCopies) {
  roots = {dir.File("watched")};
  int32_t a = Area("A", dir.File("area"));
  std::string one = dir.Write("one.txt", "1"), gone = dir.File("gone.txt"),
              blocked = dir.Write("blocked.txt", "b"), four = dir.Write("four.txt", "4"),
              same = dir.Write("same.txt", "s");
  int32_t n1 = Track(a, one, false);
  Track(a, gone, false);
  int32_t nb = Track(a, blocked, false);
  int32_t n4 = Track(a, four, false);
  Track(a, same, true);
  for (const std::string& p : {one, four, same}) fs::create_directories(p + "-bak");
  // The backup folder is a plain file, so the copy cannot be made (even for the superuser).
  dir.Write("blocked.txt-bak", "in the way");
  Make();
  onDialog = [&](QDialog& d) {
    dynamic_cast<TFormVerSm&>(d).Button2->click();
    return 0;
  };
  Pass();
  EXPECT_EQ(dialogs, 3);  // one, blocked, four; the missing one is skipped silently
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].startsWith(Q(u8"备份文件失败：") + QString::fromStdString(blocked)))
      << messages[0].toStdString();
  EXPECT_EQ(Column(u8"文件版本表", "文件序号"),
            (std::vector<std::string>{std::to_string(n1), std::to_string(n4)}));
  // The failed file keeps its old stamp, so the next pass tries it again.
  EXPECT_EQ(Rows(u8"文件索引表")[2]["大小"], "2000-01-01-00-00-00");
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], VersionStamp(one));
  EXPECT_EQ(w->PendingFiles->Count(), 0);
  EXPECT_TRUE(w->DriveWatchers[0]->Active());
  EXPECT_TRUE(w->TreeView1->updatesEnabled());
  EXPECT_EQ(Texts(Child(Top(0), 2)), std::vector<std::string>{});  // blocked.txt: no version node
  EXPECT_EQ(Texts(Child(Top(0), 1)).size(), 1u);                   // four.txt

  fs::remove(blocked + "-bak");
  fs::create_directories(blocked + "-bak");
  messages.clear();
  Pass();
  EXPECT_EQ(dialogs, 4);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Column(u8"文件版本表", "文件序号").back(), std::to_string(nb));
}

TEST_F(Detection, APathInTwoRowsIsCapturedOnceAndEveryRowFollows) {
  // Catalogs written before a path could be refused may hold it twice.
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("doc.txt", "x");
  int32_t first = Track(a, doc, false);
  Track(a, doc, false);
  fs::create_directories(doc + "-bak");
  Make();
  onDialog = [](QDialog&) { return 0; };
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Column(u8"文件版本表", "文件序号"), std::vector<std::string>{std::to_string(first)});
  EXPECT_EQ(Column(u8"文件索引表", "大小"), (std::vector<std::string>{VersionStamp(doc), VersionStamp(doc)}));
  // The version shows under the node of the row it is filed under (shown below the later row).
  EXPECT_EQ(Texts(Child(Top(0), 1)), std::vector<std::string>{VersionStamp(doc)});
  EXPECT_TRUE(Texts(Child(Top(0), 0)).empty());
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);
  EXPECT_TRUE(messages.empty());
}

// The catalog refuses the version row: the copy made for it goes again and the stored stamp stays,
// so nothing names a missing copy, no copy is left without a row, and the next pass captures it.
TEST_F(Detection, AVersionRowThatCannotBeWrittenLeavesTheFileForTheNextPass) {
  struct Case {
    const char* name;
    std::function<void()> beforeOpen;
    std::function<void()> refuse;
    std::function<void()> allow;
    bool reopen;  // the catalog is opened afresh for the next pass
  };
  struct rlimit oldLimit {};
  void (*oldHandler)(int) = nullptr;
  const Case cases[] = {
      {"read-only catalog", [&] { fs::permissions(catalog, fs::perms::owner_read | fs::perms::group_read); },
       [] {}, [&] { fs::permissions(catalog, fs::perms::owner_read | fs::perms::owner_write); }, true},
      // The row is the only write that grows the file: in-place writes still succeed.
      {"file size limit reached", [] {},
       [&] {
         getrlimit(RLIMIT_FSIZE, &oldLimit);
         oldHandler = signal(SIGXFSZ, SIG_IGN);
         struct rlimit lim = oldLimit;
         lim.rlim_cur = static_cast<rlim_t>(fs::file_size(catalog));
         setrlimit(RLIMIT_FSIZE, &lim);
       },
       [&] {
         setrlimit(RLIMIT_FSIZE, &oldLimit);
         signal(SIGXFSZ, oldHandler);
       },
       false},
  };
  int seconds = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    w.reset();
    fs::remove(catalog);
    test::MakeCatalog(catalog);
    int32_t a = Area("A", dir.File("area"));
    std::string doc = dir.Write("doc.txt", "x");
    SetStamp(doc, seconds += 10);
    Track(a, doc, false);
    fs::remove_all(doc + "-bak");
    fs::create_directories(doc + "-bak");
    c.beforeOpen();
    Make();
    onDialog = [](QDialog&) { return 0; };
    messages.clear();
    c.refuse();
    Pass();
    c.allow();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(fs::is_empty(doc + "-bak"));
    EXPECT_TRUE(Rows(u8"文件版本表").empty());
    EXPECT_EQ(Column(u8"文件索引表", "大小"), std::vector<std::string>{"2000-01-01-00-00-00"});
    EXPECT_TRUE(Texts(Child(Top(0), 0)).empty());

    if (c.reopen) {
      w.reset();
      Make();
    }
    int before = dialogs;
    Pass();
    EXPECT_EQ(dialogs, before + 1);
    auto versions = Rows(u8"文件版本表");
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(test::TempDir::Read(versions[0]["文件名称"]), "x");
    EXPECT_EQ(Column(u8"文件索引表", "大小"), std::vector<std::string>{VersionStamp(doc)});
  }
}

TEST_F(Detection, TheSessionEndsWhileAPromptIsOpen) {
  int32_t a = Area("A", dir.File("area"));
  std::string one = dir.Write("one.txt", "1"), two = dir.Write("two.txt", "2");
  Track(a, one, false);
  Track(a, two, false);
  Make();
  onDialog = [&](QDialog&) {
    EXPECT_TRUE(w->QueryEndSession());
    return 0;
  };
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(Rows(u8"文件版本表").empty());
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], "2000-01-01-00-00-00");
}

TEST_F(Detection, FindFileNodeMatchesTheWholePathWithItsCase) {
  int32_t a = Area("A", dir.File("area"));
  int32_t b = Area("B", dir.File("area"));
  File(a, "/x/Doc.txt");
  File(b, "/x/doc.txt");
  File(b, "/x/doc.txt.old");
  Make();
  EXPECT_EQ(w->FindFileNode("/x/doc.txt"), Child(Top(1), 1));
  EXPECT_EQ(w->FindFileNode("/x/Doc.txt"), Child(Top(0), 0));
  EXPECT_FALSE(w->FindFileNode("/x/doc").isValid());
}

// The tree as the row-by-row walk with filters builds it, for comparison with the load.
using TTree =
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::vector<std::string>>>>>;

TTree LiteralLoad(const std::string& catalog) {
  TRadeTable areas, files, versions;
  for (auto [t, name] :
       {std::pair{&areas, u8"数据存储区"}, {&files, u8"文件索引表"}, {&versions, u8"文件版本表"}}) {
    t->SetDatabaseName(catalog);
    t->SetTableName(A(name));
    t->Open();
  }
  TTree tree;
  for (areas.First(); !areas.Eof(); areas.Next()) {
    tree.push_back({areas.FieldByName(A(u8"名称"))->AsString(), {}});
    files.SetFilter(A(u8"存储区序号") + "=" + areas.FieldByName(A(u8"存储区序号"))->AsString());
    files.SetFiltered(true);
    files.First();
    for (int i = 0, n = files.RecordCount(); i < n; ++i) {
      auto& fileList = tree.back().second;
      fileList.insert(fileList.begin(), {files.FieldByName(A(u8"源文件名称"))->AsString(), {}});
      versions.SetFilter(A(u8"文件序号") + "=" + files.FieldByName(A(u8"文件序号"))->AsString());
      versions.SetFiltered(true);
      versions.First();
      for (int v = 0, m = versions.RecordCount(); v < m; ++v) {
        auto& versionList = fileList.front().second;
        versionList.insert(versionList.begin(), versions.FieldByName(A(u8"版本"))->AsString());
        versions.Next();
      }
      files.Next();
    }
  }
  return tree;
}

TEST_F(Detection, LoadBuildsTheTreeOfTheRowByRowWalk) {
  // Interleaved rows, a file whose area is gone, an area without files, a file without versions.
  int32_t a = Area("A", dir.File("area"));
  int32_t b = Area("B", dir.File("area"));
  Area("C", dir.File("area"));
  int32_t f[6];
  f[0] = File(b, "/b/1");
  f[1] = File(a, "/a/1");
  f[2] = File(99, "/nowhere");
  f[3] = File(b, "/b/2");
  f[4] = File(a, "/a/2");
  f[5] = File(a, "/a/3");
  for (int i = 0; i < 12; ++i) Version(f[(i * 7) % 6], "2008-01-01-00-00-" + std::to_string(10 + i), "1");
  Make();
  TTree shown;
  for (int i = 0; i < w->TreeModel->rowCount(); ++i) {
    QModelIndex area = Top(i);
    shown.push_back({Tmainw::NodeText(area), {}});
    for (int j = 0; j < ChildCount(area); ++j)
      shown.back().second.push_back({Tmainw::NodeText(Child(area, j)), Texts(Child(area, j))});
  }
  EXPECT_EQ(shown, LiteralLoad(catalog));
  EXPECT_EQ(shown.size(), 3u);
}

TEST(LoginForm, LayoutAndResult) {
  std::string password = "unchanged";
  QString seen;
  bool ok = LoginDialogPrompt(Ansi(u8"/data/版本控制.dat"), password, [&](QDialog& d) {
    auto& f = dynamic_cast<TRadeZILoginForm&>(d);
    EXPECT_EQ(f.windowTitle(), "Database Login");
    EXPECT_EQ(f.size(), QSize(281, 154));
    EXPECT_EQ(f.BackPanel->geometry(), QRect(8, 8, 265, 75));
    EXPECT_EQ(f.DatabaseEdit->geometry(), QRect(86, 12, 167, 21));
    EXPECT_TRUE(f.DatabaseEdit->isReadOnly());
    EXPECT_EQ(f.PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.OkButton->text(), "&OK");
    EXPECT_TRUE(f.OkButton->isDefault());
    EXPECT_EQ(f.CancelButton->text(), "&Cancel");
    seen = f.DatabaseEdit->text();
    f.PasswordEdit->setText("s3cret");
    f.OkButton->click();
    return f.result();
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(password, "s3cret");
  EXPECT_EQ(seen, Q(u8"/data/版本控制.dat"));
  ok = LoginDialogPrompt("x", password, [](QDialog& d) {
    dynamic_cast<TRadeZILoginForm&>(d).CancelButton->click();
    return d.result();
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(password, "s3cret");
}

TEST(EngineHooks, BusyCursorWhileAFilterRuns) {
  InstallEngineHooks();
  SetScreenCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetScreenCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  SetScreenCursorHook({});
  SetLoginPromptHook({});
}

TEST(EngineHooks, AnErrorNoCallerReceivesIsShown) {
  InstallEngineHooks();
  QString shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->accept();
    }
  });
  closer.start(1);
  HandleApplicationException(EDatabaseError(Ansi(u8"表无法关闭")));
  closer.stop();
  EXPECT_EQ(shown, Q(u8"表无法关闭"));
  SetApplicationExceptionHook({});
  SetScreenCursorHook({});
  SetLoginPromptHook({});
}

}  // namespace
}  // namespace lanqi
