#include <QSpinBox>

#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

TEST_F(MainWindow, LayoutCaptionsAndNames) {
  Tmainw& m = Make();
  EXPECT_EQ(m.size(), QSize(744, 393));
  EXPECT_EQ(m.windowTitle(), Q(u8"文件版本控制"));
  EXPECT_TRUE(m.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(m.Ribbon1->height(), 145);
  EXPECT_EQ(m.Ribbon1->Caption(), Q(u8"文件版本控制"));
  QTabWidget* pages = m.Ribbon1->Pages();
  ASSERT_EQ(pages->count(), 4);
  EXPECT_EQ(pages->tabText(0), Q(u8"文件管理"));
  EXPECT_EQ(pages->tabText(1), Q(u8"网络管理"));
  EXPECT_EQ(pages->tabText(2), Q(u8"报表"));
  EXPECT_EQ(pages->tabText(3), Q(u8"设置"));
  EXPECT_EQ(pages->currentIndex(), 0);
  auto captions = [&](int page) {
    QStringList out;
    for (QToolButton* b : pages->widget(page)->findChildren<QToolButton*>()) out << b->text();
    return out;
  };
  EXPECT_EQ(captions(0), (QStringList{Q(u8"增加存储区"), Q(u8"增加文件"), Q(u8"增加目录"), Q(u8"版本合并"),
                                      Q(u8"自动监测")}));
  EXPECT_EQ(captions(1), (QStringList{Q(u8"增加监控文件"), Q(u8"立即检查")}));
  EXPECT_EQ(m.findChild<QSpinBox*>("PollIntervalEdit")->text(), Q(u8"检查间隔 60 秒"));
  EXPECT_EQ(captions(2), (QStringList{Q(u8"刷新报表"), Q(u8"导出 CSV")}));
  EXPECT_EQ(m.findChild<QCheckBox*>("StartCheck")->text(), Q(u8"开机启动"));
  EXPECT_EQ(m.findChild<QToolButton*>("GlowButton13"), m.GlowButton13);
  EXPECT_EQ(m.findChild<QToolButton*>("GlowButton8"), m.GlowButton8);

  auto texts = [](QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  };
  EXPECT_EQ(texts(m.AppMenu1), (QStringList{Q(u8"后台运行"), Q(u8"退出软软件")}));
  EXPECT_EQ(texts(m.findChild<QMenu*>("PopupMenu1")),
            (QStringList{Q(u8"填写版本版本说明"), Q(u8"定位到版本文件"), Q(u8"打开文件"), "-",
                         Q(u8"添加监控版本"), Q(u8"删除监控文件"), Q(u8"删除监控目录"), Q(u8"增加存储区"),
                         "-", Q(u8"与当前文件比较"), Q(u8"恢复此版本"), Q(u8"另存为…"),
                         Q(u8"导出为 Git 仓库…"), Q(u8"删除此版本"), Q(u8"保护此版本"), Q(u8"清理规则…")}));
  EXPECT_EQ(texts(m.ListMenu), (QStringList{Q(u8"与当前文件比较"), "-", Q(u8"恢复此版本"), Q(u8"另存为…"),
                                            Q(u8"导出为 Git 仓库…"), Q(u8"删除此版本"), Q(u8"保护此版本")}));
  QMenu* pm1 = m.findChild<QMenu*>("pm1");
  EXPECT_EQ(texts(pm1),
            (QStringList{Q(u8"显示岚栖文件管理"), Q(u8"后台运行"), "-", Q(u8"退出岚栖文件管理")}));
  EXPECT_EQ(pm1->defaultAction(), m.MenuItem1);
  EXPECT_EQ(m.TrayIcon1->PopupMenu(), pm1);

  EXPECT_EQ(m.PageControl1->tabText(0), Q(u8"文件管理树"));
  EXPECT_EQ(m.PageControl2->tabText(0), Q(u8"版本列表"));
  EXPECT_EQ(m.findChild<QTextBrowser*>("WebBrowser1")->height(), 39);
  QTreeView* tree = m.findChild<QTreeView*>("TreeView1");
  EXPECT_EQ(tree->indentation(), 19);
  EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_TRUE(tree->viewport()->acceptDrops());
  EXPECT_EQ(m.findChild<QSplitter*>("Splitter1")->handleWidth(), 7);
  QTreeWidget* list = m.findChild<QTreeWidget*>("ListView1");
  QTreeWidgetItem* header = list->headerItem();
  EXPECT_EQ(header->text(0), Q(u8"文件版本"));
  EXPECT_EQ(header->text(1), Q(u8"大小"));
  EXPECT_EQ(header->text(2), Q(u8"说明"));
  EXPECT_EQ(list->columnWidth(0), 150);
  EXPECT_EQ(list->columnWidth(1), 150);
  EXPECT_EQ(list->columnWidth(2), 300);
  QFileDialog* open = m.findChild<QFileDialog*>("dlgOpen");
  EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
  EXPECT_TRUE(open->isSizeGripEnabled());
  EXPECT_TRUE(open->nameFilters().isEmpty() || open->nameFilters() == QStringList{"All Files (*)"});
  EXPECT_EQ(m.tmr1->Interval(), 5000);
  EXPECT_FALSE(m.tmr1->Enabled());
  EXPECT_FALSE(m.ExitRequested);
  EXPECT_TRUE(m.TrayIcon1->MinimizeToTray());
  EXPECT_TRUE(tray->present);
  EXPECT_FALSE(m.FileSystemWatcher1->Active());
}

TEST_F(MainWindow, StartAtLogonFollowsTheStoredSetting) {
  std::string entry = AutoStartEntryPath(AppTitle());
  {
    // Nothing stored: the default checks the box, and the change runs the click's work.
    Tmainw& m = Make();
    EXPECT_TRUE(m.StartCheck->isChecked());
    EXPECT_TRUE(fs::exists(entry));
    EXPECT_EQ(test::TempDir::Read(dir.File("exe/setup.ini")).empty(), false);
    EXPECT_TRUE(LoadSettings(dir.File("exe")));
    EXPECT_FALSE(m.WebBrowser1->toPlainText().isEmpty());
    // The user unchecks it: the entry goes, the setting follows.
    m.StartCheck->click();
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(LoadSettings(dir.File("exe")));
    w.reset();
  }
  // Stored "0": the box stays unchecked and no entry is written.
  Tmainw& m = Make();
  EXPECT_FALSE(m.StartCheck->isChecked());
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, AutostartErrorIsShownAndTheSettingIsNotSaved) {
  // The autostart folder cannot be made below a file.
  dir.Write("config", "not a folder");
  Tmainw& m = Make();
  // One failure, one message, and the browser stays blank.
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].startsWith("Failed to create key")) << messages[0].toStdString();
  EXPECT_FALSE(fs::exists(dir.File("exe/setup.ini")));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().isEmpty());
}

TEST_F(MainWindow, MissingCatalogLeavesTheRestUndone) {
  fs::remove(catalog);
  Tmainw& m = Make();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(m.TreeModel->rowCount(), 0);
  EXPECT_FALSE(m.StartCheck->isChecked());
  EXPECT_FALSE(fs::exists(AutoStartEntryPath(AppTitle())));
  EXPECT_FALSE(fs::exists(dir.File("exe/setup.ini")));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().isEmpty());
  // Changes on the drives bring no pass and no further message.
  m.FileSystemWatcher1Change(nullptr, foModified, "x", "");
  loop.Advance(5000);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_FALSE(m.tmr1->Enabled());
}

TEST_F(MainWindow, LoadCatalogOrder) {
  int32_t a = Area("A", dir.File("area"));
  int32_t b = Area("B", dir.File("area"));
  int32_t f1 = File(a, "/x/one.txt");
  int32_t f2 = File(a, "/x/two.txt");
  int32_t f3 = File(b, "/x/three.txt");
  Version(f1, "2008-01-01-00-00-00", "1");
  Version(f1, "2008-01-01-00-00-02", "2");
  Version(f3, "2009-01-01-00-00-00", "3");
  Version(f2, "2010-01-01-00-00-00", "4");
  Make();
  ASSERT_EQ(w->TreeModel->rowCount(), 2);
  EXPECT_EQ(Tmainw::NodeText(Top(0)), "A");
  EXPECT_EQ(Tmainw::NodeText(Top(1)), "B");
  EXPECT_EQ(Texts(Top(0)), (std::vector<std::string>{"/x/two.txt", "/x/one.txt"}));
  EXPECT_EQ(Texts(Child(Top(0), 1)),
            (std::vector<std::string>{"2008-01-01-00-00-02", "2008-01-01-00-00-00"}));
  EXPECT_EQ(Texts(Child(Top(0), 0)), (std::vector<std::string>{"2010-01-01-00-00-00"}));
  EXPECT_EQ(Texts(Top(1)), (std::vector<std::string>{"/x/three.txt"}));
  EXPECT_EQ(Tmainw::NodeFileNo(Child(Top(0), 1)), f1);
  EachNode(*w->TreeModel, [&](const QModelIndex& n) {
    if (ChildCount(n)) {
      EXPECT_TRUE(w->TreeView1->isExpanded(n)) << Tmainw::NodeText(n);
    }
  });
}

TEST_F(MainWindow, NewAreaDialog) {
  Make();
  struct Case {
    const char* name;
    std::function<void(TCreatDataAreaW&)> act;
    QStringList messages;
    bool added;
  };
  std::string folder = dir.File("area");
  std::string deep = dir.File(std::string(250, 'd') + "/" + std::string(250, 'e') + "/" +
                              std::string(250, 'f') + "/" + std::string(250, 'g'));
  fs::create_directories(deep);
  const Case cases[] = {
      {"abandoned",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(QString::fromStdString(folder));
         d.Edit2->setText("x");
         d.Button2->click();
       },
       {},
       false},
      {"closed", [&](TCreatDataAreaW& d) { d.close(); }, {}, false},
      {"no folder, no name",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(Q(u8"计算机"));
         d.Button1->click();
       },
       {Q(u8"目录不存在"), Q(u8"输入存储区名称有错")},
       false},
      {"no name",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(QString::fromStdString(folder));
         d.Button1->click();
       },
       {Q(u8"输入存储区名称有错")},
       false},
      {"name longer than its field",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(QString::fromStdString(folder));
         d.Edit2->setText(QString(128, QChar(u'区')));
         d.Button1->click();
       },
       {Q(u8"存储区名称过长（最多255字节）")},
       false},
      {"folder longer than its field",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(QString::fromStdString(deep));
         d.Edit2->setText("x");
         d.Button1->click();
       },
       {Q(u8"目录路径过长（最多200字节）：") + QString::fromStdString(deep)},
       false},
      {"confirmed",
       [&](TCreatDataAreaW& d) {
         d.Edit1->setText(QString::fromStdString(folder));
         d.Edit2->setText(Q(u8"文档 区"));
         d.Button1->click();
       },
       {},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    int before = w->TreeModel->rowCount();
    onDialog = [&](QDialog& d) {
      auto* area = dynamic_cast<TCreatDataAreaW*>(&d);
      EXPECT_NE(area, nullptr);
      if (area) c.act(*area);
      return 0;
    };
    w->GlowButton13->click();
    EXPECT_EQ(QStringList(messages.begin(), messages.end()), c.messages);
    EXPECT_EQ(w->TreeModel->rowCount(), before + (c.added ? 1 : 0));
  }
  auto rows = Rows(u8"数据存储区");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["名称"], A(u8"文档 区"));
  EXPECT_EQ(rows[0]["目录"], folder);
  EXPECT_EQ(Tmainw::NodeText(Top(0)), A(u8"文档 区"));
}

TEST_F(MainWindow, AddingFilesByDropAndByDialog) {
  // An earlier area whose name begins with the chosen one must not catch the files.
  Area("AB", dir.File("other"));
  Area("A", dir.File("area"));
  Make();
  QModelIndex areaA = Top(1);
  std::string p1 = dir.Write("one.txt", "1"), p2 = dir.Write("two", "22"), p3 = dir.Write("a.b.c", "333");
  Select(areaA);
  Drop({QString::fromStdString(p1), QString::fromStdString(p2), QString::fromStdString(p3)});
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Texts(areaA), (std::vector<std::string>{p3, p2, p1}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ChildCount(Child(areaA, i)), 1);

  auto files = Rows(u8"文件索引表");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0]["存储区序号"], "2");
  EXPECT_EQ(files[0]["备份文件目录"], dir.File("area/one.txt-bak"));
  EXPECT_EQ(files[0]["大小"], VersionStamp(p1));
  auto versions = Rows(u8"文件版本表");
  ASSERT_EQ(versions.size(), 3u);
  std::string s3 = VersionStamp(p3);
  EXPECT_EQ(versions[2]["文件名称"], dir.File("area/a.b.c-bak/a.b{" + s3 + "}.c"));
  EXPECT_EQ(versions[2]["文件扩展名"], ".c");
  EXPECT_EQ(versions[2]["大小"], "3");
  EXPECT_EQ(versions[2]["说明"], "");
  EXPECT_EQ(versions[1]["文件名称"], dir.File("area/two-bak/two{" + VersionStamp(p2) + "}"));
  EXPECT_EQ(versions[1]["文件扩展名"], "");
  EXPECT_EQ(test::TempDir::Read(versions[2]["文件名称"]), "333");
  EXPECT_EQ(Tmainw::NodeText(Child(Child(areaA, 0), 0)), s3);
  // The new nodes know their file numbers, so the list finds their versions.
  EXPECT_EQ(Tmainw::NodeFileNo(Child(areaA, 0)), 3);
  EXPECT_EQ(Tmainw::NodeFileNo(Child(areaA, 2)), 1);
  Select(Child(areaA, 0));
  EXPECT_EQ(ListRows(), (std::vector<std::vector<QString>>{{QString::fromStdString(s3), "3 B", ""}}));

  // Dropped on a version node: nothing is added.
  Select(Child(Child(areaA, 0), 0));
  Drop({QString::fromStdString(p1)});
  EXPECT_EQ(Rows(u8"文件索引表").size(), 3u);

  // By dialog, to the area selected.
  std::string p4 = dir.Write("four.txt", "4444");
  Select(areaA);
  onDialog = [&](QDialog& d) {
    auto* open = dynamic_cast<QFileDialog*>(&d);
    EXPECT_NE(open, nullptr);
    if (!open) return 0;
    open->selectFile(QString::fromStdString(p4));
    return static_cast<int>(QDialog::Accepted);
  };
  w->N1->trigger();
  EXPECT_EQ(Tmainw::NodeText(Child(areaA, 0)), p4);
  EXPECT_EQ(ChildCount(Child(areaA, 0)), 1);
  // Cancelled: nothing.
  onDialog = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
  w->GlowButton8->click();
  EXPECT_EQ(Rows(u8"文件索引表").size(), 4u);
  EXPECT_EQ(ChildCount(Top(0)), 0);

  // A path the code page cannot hold is refused with its text; nothing is stored.
  std::string odd = dir.Write("\xF0\x9F\x98\x80.txt", "x");
  Select(areaA);
  Drop({QString::fromUtf8(odd.c_str())});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], Q(u8"文件路径含有无法保存的字符：") + QString::fromUtf8(odd.c_str()));
  EXPECT_EQ(Rows(u8"文件索引表").size(), 4u);
}

TEST_F(MainWindow, AddingRefusesWhatTheCatalogCannotHold) {
  // Below a deep area folder a copy's full name outgrows its field before the backup folder does.
  std::string deepArea =
      dir.File(std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'f'));
  fs::create_directories(deepArea);
  Area("A", dir.File("area"));
  Area("D", deepArea);
  std::string tracked = dir.Write("tracked.txt", "t");
  std::string longDirs = dir.File(std::string(250, 'a') + "/" + std::string(250, 'b') + "/" +
                                  std::string(250, 'c') + "/" + std::string(250, 'd'));
  fs::create_directories(longDirs);
  std::string longPath = dir.Write(longDirs.substr(dir.Path().size() + 1) + "/x.txt", "l");
  std::string longExt = dir.Write("x." + std::string(70, 'e'), "e");
  std::string longName = dir.Write(std::string(196, 'n') + ".txt", "n");
  std::string blocked = dir.Write("blocked.txt", "b");
  dir.Write("area/blocked.txt-bak", "a file where the backup folder should be");
  Make();
  Select(Top(0));
  Drop({QString::fromStdString(tracked)});
  ASSERT_TRUE(messages.empty());
  ASSERT_EQ(Rows(u8"文件索引表").size(), 1u);

  struct Case {
    const char* name;
    int area;
    std::string path;
    QString message;  // the start of the one message shown
  };
  const Case cases[] = {
      {"tracked already", 0, tracked, Q(u8"文件已在监控中：") + QString::fromStdString(tracked)},
      {"tracked already, in another area", 1, tracked,
       Q(u8"文件已在监控中：") + QString::fromStdString(tracked)},
      {"path longer than its field", 0, longPath,
       Q(u8"文件路径过长（最多512字节）：") + QString::fromStdString(longPath)},
      {"extension longer than its field", 0, longExt,
       Q(u8"文件扩展名过长（最多16字节）：") + QString::fromStdString(longExt)},
      {"copy name longer than its field", 1, longName,
       Q(u8"备份文件路径过长（最多255字节）：") + QString::fromStdString(longName)},
      {"backup folder cannot be made", 0, blocked,
       Q(u8"无法建立备份目录：") + QString::fromStdString(dir.File("area/blocked.txt-bak"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    Select(Top(c.area));
    int nodes = ChildCount(Top(c.area));
    Drop({QString::fromStdString(c.path)});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(c.message)) << messages[0].toStdString();
    EXPECT_EQ(Rows(u8"文件索引表").size(), 1u);
    EXPECT_EQ(ChildCount(Top(c.area)), nodes);
  }
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);
}

TEST_F(MainWindow, NotesFitTheirFieldAndABrokenTailIsNotShown) {
  int32_t a = Area("A", dir.File("area"));
  int32_t f = File(a, "/x/one.txt");
  // Another program cut this note inside a character: 63 whole ones and a lead byte.
  std::string cut;
  for (int i = 0; i < 63; ++i) cut += A(u8"文");
  Version(f, "2008-01-01-00-00-00", "1", cut + A(u8"文").substr(0, 1));
  Version(f, "2008-01-01-00-00-02", "1");
  Make();
  Select(Child(Top(0), 0));
  auto rows = ListRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][2], QString(63, QChar(u'文')));

  // 65 characters typed into the note box: it keeps the 64 that the field's 128 bytes hold.
  onDialog = [&](QDialog& d) {
    auto& note = dynamic_cast<TFormVerSm&>(d);
    note.Edit1->setPlainText(QString(65, QChar(u'说')));
    EXPECT_EQ(note.Edit1->toPlainText(), QString(64, QChar(u'说')));
    note.Button1->click();
    return 0;
  };
  Select(Child(Child(Top(0), 0), 0));
  w->N5->trigger();
  std::string kept;
  for (int i = 0; i < 64; ++i) kept += A(u8"说");
  EXPECT_EQ(Rows(u8"文件版本表")[1]["说明"], kept);
  EXPECT_EQ(ListRows()[0][2], QString(64, QChar(u'说')));
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, RemovingAndOpeningGoByTheFileNumber) {
  // An older catalog may hold one path in two rows; each node stands for its own row.
  int32_t a = Area("A", dir.File("area"));
  int32_t b = Area("B", dir.File("area"));
  int32_t f1 = File(a, "/x/same.txt");
  int32_t f2 = File(b, "/x/same.txt");
  Version(f1, "2008-01-01-00-00-00", "1");
  Version(f2, "2008-01-01-00-00-02", "1");
  Make();
  Select(Child(Top(1), 0));
  w->N3->trigger();
  w->N2->trigger();
  auto files = Rows(u8"文件索引表");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["文件序号"], std::to_string(f1));
  EXPECT_EQ(ChildCount(Top(1)), 0);
  EXPECT_EQ(ChildCount(Top(0)), 1);
  using C = TRecordingShell::TCall;
  EXPECT_EQ(shell->calls, (std::vector<std::pair<C, std::string>>{{C::Open, "/x/same.txt"}}));
}

TEST_F(MainWindow, ListFillSizesAndLookUps) {
  int32_t a = Area("A", dir.File("area"));
  int32_t f1 = File(a, "/x/one.txt");
  int32_t f2 = File(a, "/x/two.txt");
  // Both files share a version text; each keeps its own size and note.
  Version(f1, "1999-01-01-00-00-00", "7");
  Version(f1, "2008-01-01-00-00-00", "2048", A(u8"第一"));
  Version(f1, "2008-01-01-00-00-02", "1536");
  Version(f2, "2008-01-01-00-00-02", "12345", "two");
  Version(f2, "2008-01-01-00-00-04", "n/a");
  Make();
  QModelIndex one = Child(Top(0), 1);
  QModelIndex two = Child(Top(0), 0);
  // A version node the catalog no longer knows: its row goes after the tree was read.
  TRadeTable* versions = w->Catalog().Tbfilever;
  versions->SetFiltered(false);
  versions->First();
  ASSERT_EQ(versions->FieldByName(A(u8"版本"))->AsString(), "1999-01-01-00-00-00");
  versions->Delete();
  ASSERT_EQ(Texts(one).back(), "1999-01-01-00-00-00");
  Select(one);
  EXPECT_EQ(ListRows(), (std::vector<std::vector<QString>>{{"2008-01-01-00-00-02", "1.5 KB", ""},
                                                           {"2008-01-01-00-00-00", "2 KB", Q(u8"第一")},
                                                           {"1999-01-01-00-00-00", "", ""}}));
  Select(two);
  EXPECT_EQ(ListRows(), (std::vector<std::vector<QString>>{{"2008-01-01-00-00-04", "n/a", ""},
                                                           {"2008-01-01-00-00-02", "12.1 KB", "two"}}));
  Select(Child(two, 1));
  EXPECT_EQ(ListRows(), (std::vector<std::vector<QString>>{{"2008-01-01-00-00-02", "12.1 KB", "two"}}));
  Select(Top(0));
  EXPECT_TRUE(ListRows().empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, OpenAndShowInFileManager) {
  int32_t a = Area("A", dir.File("area"));
  int32_t f1 = File(a, "/x/one.txt");
  int32_t f2 = File(a, "/x/two.txt");
  Version(f1, "2008-01-01-00-00-00", "1", "", "/bak/one{2008-01-01-00-00-00}.txt");
  Version(f2, "2008-01-01-00-00-00", "1", "", "/bak/two{2008-01-01-00-00-00}.txt");
  Make();
  using C = TRecordingShell::TCall;
  Select(Child(Child(Top(0), 0), 0));  // the version of two.txt
  emit w->TreeView1->doubleClicked(w->TreeView1->currentIndex());
  w->N6->trigger();
  Select(Child(Top(0), 1));
  w->N3->trigger();
  w->N6->trigger();
  Select(Top(0));
  w->N3->trigger();
  w->N6->trigger();
  EXPECT_EQ(shell->calls,
            (std::vector<std::pair<C, std::string>>{{C::Open, "/bak/two{2008-01-01-00-00-00}.txt"},
                                                    {C::Show, "/bak/two{2008-01-01-00-00-00}.txt"},
                                                    {C::Open, "/x/one.txt"},
                                                    {C::Show, "/x/one.txt"}}));
}

TEST_F(MainWindow, WritingANote) {
  int32_t a = Area("A", dir.File("area"));
  int32_t f1 = File(a, "/x/one.txt");
  int32_t f2 = File(a, "/x/two.txt");
  Version(f1, "2008-01-01-00-00-00", "1", "old");
  Version(f2, "2008-01-01-00-00-00", "1", "other");
  Make();
  QString heading;
  bool timerOn = true;
  onDialog = [&](QDialog& d) {
    auto& note = dynamic_cast<TFormVerSm&>(d);
    heading = note.Label1->text();
    timerOn = note.tmr1->Enabled();
    EXPECT_TRUE(note.Edit1->toPlainText().isEmpty());
    note.Edit1->setPlainText(Q(u8"新说明"));
    note.Button1->click();
    return 0;
  };
  QModelIndex version = Child(Child(Top(0), 1), 0);  // one.txt's
  Select(version);
  w->N5->trigger();
  EXPECT_EQ(heading, "2008-01-01-00-00-00");
  EXPECT_FALSE(timerOn);
  EXPECT_EQ(ListRows()[0][2], Q(u8"新说明"));
  auto rows = Rows(u8"文件版本表");
  EXPECT_EQ(rows[0]["说明"], A(u8"新说明"));
  EXPECT_EQ(rows[1]["说明"], "other");
  // On a file node the dialog opens, and nothing changes.
  Select(Child(Top(0), 0));
  w->N5->trigger();
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(Rows(u8"文件版本表")[1]["说明"], "other");
}

TEST_F(MainWindow, RightClickSelectsBeforeRemoving) {
  int32_t a = Area("A", dir.File("area"));
  int32_t f1 = File(a, "/x/one.txt");
  File(a, "/x/one.txt.old");
  Version(f1, "2008-01-01-00-00-00", "1");
  Make();
  w->show();
  QModelIndex one = Child(Top(0), 1);
  Select(Child(Top(0), 0));
  QPoint at = w->TreeView1->visualRect(one).center();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(w->TreeView1->viewport()->mapToGlobal(at)),
                    Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(w->TreeView1->viewport(), &press);
  EXPECT_EQ(w->TreeView1->currentIndex(), one);
  w->N2->trigger();
  EXPECT_EQ(Texts(Top(0)), (std::vector<std::string>{"/x/one.txt.old"}));
  auto files = Rows(u8"文件索引表");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["源文件名称"], "/x/one.txt.old");
  EXPECT_EQ(Rows(u8"文件版本表").size(), 1u);  // its versions stay
  // Other levels: nothing.
  Select(Top(0));
  w->N2->trigger();
  EXPECT_EQ(ChildCount(Top(0)), 1);
}

TEST_F(MainWindow, CloseMinimiseAndHideGoToTheTray) {
  Make();
  w->show();
  EXPECT_FALSE(w->close());
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(tray->present);
  tray->DoubleClick();
  EXPECT_TRUE(w->isVisible());
  w->MenuItem2->trigger();
  EXPECT_FALSE(w->isVisible());
  w->MenuItem1->trigger();
  EXPECT_TRUE(w->isVisible());
  w->Ribbon1->MinimizeButton()->click();
  QApplication::processEvents();
  EXPECT_FALSE(w->isVisible());
  w->MenuItem1->trigger();
  w->AppMenu1->actions()[0]->trigger();
  EXPECT_FALSE(w->isVisible());
  w->MenuItem1->trigger();
  EXPECT_TRUE(w->isVisible());
}

TEST_F(MainWindow, ExitCommandsAndSessionEndClose) {
  struct Case {
    const char* name;
    std::function<void(Tmainw&)> act;
  };
  const Case cases[] = {
      {"tray exit", [](Tmainw& m) { m.MenuItem4->trigger(); }},
      {"application menu exit", [](Tmainw& m) { m.AppMenu1->actions()[1]->trigger(); }},
      {"session end", [](Tmainw& m) { EXPECT_TRUE(m.QueryEndSession()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    roots = {dir.File("watched")};
    Make();
    bool closed = false;
    QObject::connect(w.get(), &Tmainw::closed, [&] { closed = true; });
    w->show();
    c.act(*w);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(w->ExitRequested);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->DriveWatchers.empty());
    w.reset();
  }
}

TEST(ApplicationHandler, ShowsWhatNobodyCaughtAndGoesOn) {
  std::vector<QString> shown;
  auto show = [&](const QString& t) { shown.push_back(t); };
  EXPECT_TRUE(DeliverGuarded([] { return true; }, show));
  EXPECT_FALSE(DeliverGuarded([]() -> bool { throw EDatabaseError("Tbarea: Table is busy"); }, show));
  EXPECT_FALSE(DeliverGuarded([]() -> bool { throw Exception(Ansi(u8"备份文件失败：/a")); }, show));
  EXPECT_FALSE(DeliverGuarded([]() -> bool { throw EAbort(); }, show));
  EXPECT_EQ(shown, (std::vector<QString>{"Tbarea: Table is busy", Q(u8"备份文件失败：/a")}));
}

}  // namespace
}  // namespace lanqi
