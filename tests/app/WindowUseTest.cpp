// The main window at work: its default layout, the size texts, the note prompt's account of a
// change, the search box over the tree, and the reload when another program writes the catalog.
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLineEdit>

#include "app/Uversm.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

TEST(SizeText, ReadsInHumanUnitsAndLeavesOtherTextAlone) {
  const std::pair<const char*, const char*> cases[] = {
      {"0", "0 B"},
      {"512", "512 B"},
      {"1023", "1023 B"},
      {"1024", "1 KB"},
      {"1536", "1.5 KB"},
      {"12345", "12.1 KB"},
      {"1048575", "1 MB"},  // 1023.999 KB rounds up into the next unit, never "1024 KB"
      {"3355443", "3.2 MB"},
      {"1073741824", "1 GB"},
      {"1099511627776", "1 TB"},
      {"", ""},
      {"n/a", "n/a"},
      {"-5", "-5"},
      {"1.5", "1.5"},
      {"99999999999999999999999", "99999999999999999999999"},
  };
  for (auto [stored, shown] : cases) EXPECT_EQ(SizeText(stored), shown) << stored;
}

struct WindowUse : MainWindow {
  // An area with two files; the first has three versions with notes, the second one version.
  void Fill() {
    int32_t a = Area("Docs", dir.File("area"));
    int32_t b = Area(A(u8"资料"), dir.File("area"));
    f1 = File(a, "/home/u/ReadMe.md");
    Version(f1, "2008-01-01-00-00-00", "100", A(u8"初稿"));
    Version(f1, "2008-01-02-00-00-00", "200", A(u8"修改标题 Draft"));
    Version(f1, "2008-01-03-00-00-00", "300");
    f2 = File(a, "/home/u/plan.txt");
    Version(f2, "2009-05-05-00-00-00", "50");
    f3 = File(b, A(u8"/home/u/报告.doc"));
    Version(f3, "2010-01-01-00-00-00", "70", "final");
  }
  // Every node the tree shows, as "text" or "*text" when it is marked as a match.
  std::vector<QString> Shown() {
    std::vector<QString> out;
    // The model offers the view only the nodes the search lets through.
    EachNode(*w->TreeModel, [&](const QModelIndex& n) {
      out.push_back((n.data(Qt::FontRole).value<QFont>().bold() ? "*" : "") + n.data().toString());
    });
    return out;
  }
  int32_t f1 = 0, f2 = 0, f3 = 0;
};

TEST_F(WindowUse, AtTheDefaultSizeTheTreeAndTheListBothShow) {
  Fill();
  Tmainw& m = Make();
  m.show();
  ASSERT_EQ(m.size(), QSize(744, 393));
  QApplication::processEvents();
  Select(Child(Top(0), 1));  // ReadMe.md: three rows
  const int row = m.TreeView1->visualRect(Top(0)).height();
  ASSERT_GT(row, 0);
  // Below the ribbon, the list's pane takes at least a third of what the tree and the list share and
  // shows its rows; the tree still shows several nodes.
  EXPECT_GE(m.PageControl2->height() * 3, m.Splitter1->height());
  EXPECT_GE(m.ListView1->viewport()->height(), 2 * row);
  EXPECT_GE(m.TreeView1->viewport()->height(), 3 * row);
  // The handle is wide enough to grab and lies inside the window's resize band on every side.
  QSplitterHandle* handle = m.Splitter1->handle(1);
  EXPECT_GE(handle->height(), 5);
  QRect inWindow(handle->mapTo(&m, QPoint(0, 0)), handle->size());
  EXPECT_GE(inWindow.left(), TRibbon::kBorder);
  EXPECT_LE(inWindow.right(), m.width() - 1 - TRibbon::kBorder);
  EXPECT_LE(inWindow.bottom(), m.height() - 1 - TRibbon::kBorder);
  // The search box shows whole, clear of the resize band.
  QRect search(m.SearchEdit->mapTo(&m, QPoint(0, 0)), m.SearchEdit->size());
  EXPECT_GE(search.width(), 200);
  EXPECT_LE(search.right(), m.width() - 1 - TRibbon::kBorder);
  EXPECT_GE(search.top(), m.Ribbon1->height());
  // Both panes grow with the window.
  const int list = m.PageControl2->height(), tree = m.TreeView1->height();
  m.resize(744, 593);
  QApplication::processEvents();
  EXPECT_GT(m.PageControl2->height(), list);
  EXPECT_GT(m.TreeView1->height(), tree);
}

TEST_F(WindowUse, SearchNarrowsMarksAndClearingRestoresTheSelection) {
  Fill();
  Tmainw& m = Make();
  QModelIndex plan = Child(Top(0), 0);
  Select(plan);
  const std::vector<QString> all = Shown();
  ASSERT_EQ(all.size(), 10u);

  struct Case {
    const char8_t* text;
    std::vector<QString> shown;
  };
  const Case cases[] = {
      // A path, letter case aside: the file with all its versions, only the file marked.
      {u8"readme",
       {"Docs", "*/home/u/ReadMe.md", "2008-01-03-00-00-00", "2008-01-02-00-00-00", "2008-01-01-00-00-00"}},
      // A Chinese note and a Latin one in another case: the versions under their file and area.
      {u8"标题", {"Docs", "/home/u/ReadMe.md", "*2008-01-02-00-00-00"}},
      {u8"FINAL", {Q(u8"资料"), Q(u8"/home/u/报告.doc"), "*2010-01-01-00-00-00"}},
      // A version text.
      {u8"2009-05", {"Docs", "/home/u/plan.txt", "*2009-05-05-00-00-00"}},
      // An area name: everything in it.
      {u8"资料", {Q(u8"*资料"), Q(u8"/home/u/报告.doc"), "2010-01-01-00-00-00"}},
      // A Chinese path.
      {u8"报告", {Q(u8"资料"), Q(u8"*/home/u/报告.doc"), "2010-01-01-00-00-00"}},
      {u8"nothing like it", {}},
  };
  for (const Case& c : cases) {
    m.SearchEdit->setText(Q(c.text));
    EXPECT_EQ(Shown(), c.shown) << QString(Q(c.text)).toStdString();
  }
  // The clear button empties the box: every node again, nothing marked, the same node selected.
  m.SearchEdit->setText(Q(u8"标题"));
  m.SearchEdit->clear();
  EXPECT_EQ(Shown(), all);
  EXPECT_EQ(m.TreeView1->currentIndex(), plan);
  EXPECT_EQ(ListRows().size(), 1u);
}

TEST_F(WindowUse, SearchSeesANoteWrittenWhileTheWindowIsOpen) {
  Fill();
  Tmainw& m = Make();
  m.SearchEdit->setText("x");  // the notes are read once here
  m.SetVersionNote(f2, "2009-05-05-00-00-00", A(u8"预算表"));
  m.SearchEdit->setText(Q(u8"预算"));
  EXPECT_EQ(Shown(), (std::vector<QString>{"Docs", "/home/u/plan.txt", "*2009-05-05-00-00-00"}));
}

TEST_F(WindowUse, AnOutsideWriteReloadsTheTreeKeepingTheSelection) {
  Fill();
  Tmainw& m = Make();
  QModelIndex readme = Child(Top(0), 1);
  Select(readme);
  m.ListView1->topLevelItem(1)->setSelected(true);  // 2008-01-02
  ASSERT_TRUE(m.CatalogWatcher->files().contains(QString::fromStdString(catalog)));

  // Another program adds a version and a file.
  Version(f1, "2008-01-04-00-00-00", "400", "outside");
  File(1, "/home/u/new.txt");
  // The watcher's report arms the reload; the reload waits for the writes to settle.
  QElapsedTimer waited;
  waited.start();
  while (!m.ReloadTimer->Enabled() && waited.elapsed() < 10000) QApplication::processEvents();
  ASSERT_TRUE(m.ReloadTimer->Enabled());
  EXPECT_EQ(ChildCount(Top(0)), 2);
  loop.Advance(500);
  EXPECT_FALSE(m.ReloadTimer->Enabled());
  ASSERT_EQ(ChildCount(Top(0)), 3);
  EXPECT_EQ(Tmainw::NodeText(Child(Top(0), 0)), "/home/u/new.txt");
  QModelIndex current = m.TreeView1->currentIndex();
  ASSERT_TRUE(current.isValid());
  EXPECT_EQ(Tmainw::NodeText(current), "/home/u/ReadMe.md");
  EXPECT_EQ(Tmainw::NodeFileNo(current), f1);
  EXPECT_EQ(Texts(current)[0], "2008-01-04-00-00-00");
  ASSERT_EQ(ListRows().size(), 4u);
  EXPECT_EQ(ListRows()[0][2], "outside");
  ASSERT_EQ(m.ListView1->selectedItems().size(), 1);
  EXPECT_EQ(m.ListView1->selectedItems()[0]->text(0), "2008-01-02-00-00-00");
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowUse, TheWindowsOwnWritesRebuildNothingAndTheReloadWritesNothing) {
  Fill();
  Tmainw& m = Make();
  QModelIndex readme = Child(Top(0), 1);
  Select(readme);
  int rebuilt = 0;
  QObject::connect(m.TreeModel, &QAbstractItemModel::modelReset, [&] { ++rebuilt; });
  // The window's own write is in its tree already: the reload keeps every node as it is.
  m.SetVersionNote(f1, "2008-01-03-00-00-00", A(u8"自己写的"));
  const auto before = fs::last_write_time(catalog);
  const auto size = fs::file_size(catalog);
  m.CatalogFileChanged();
  loop.Advance(500);
  EXPECT_EQ(rebuilt, 0);
  EXPECT_EQ(Child(Top(0), 1), readme);
  EXPECT_EQ(m.TreeView1->currentIndex(), readme);
  EXPECT_EQ(ListRows()[0][2], Q(u8"自己写的"));
  // Reading the catalog again leaves the file as it was, so the watcher has nothing to report and
  // no second reload follows.
  EXPECT_EQ(fs::last_write_time(catalog), before);
  EXPECT_EQ(fs::file_size(catalog), size);
  EXPECT_FALSE(m.ReloadTimer->Enabled());
}

TEST_F(WindowUse, NotePromptNamesTheFileAndItsChange) {
  roots = {dir.File("watched")};
  int32_t a = Area("A", dir.File("area"));
  std::string doc = dir.Write("watched/doc.txt", "one\ntwo\nthree\n");
  SetStamp(doc, 0);
  int32_t fileNo = File(a, doc, "2000-01-01-00-00-00");
  fs::create_directories(doc + "-bak");
  std::string copy = dir.Write("watched/doc.txt-bak/doc{old}.txt", "one\n2\nthree\n");
  Version(fileNo, "2001-01-01-00-00-00", "12", "", copy);
  Make();
  QString folder, change, name;
  onDialog = [&](QDialog& d) {
    auto& note = dynamic_cast<TFormVerSm&>(d);
    name = note.Label1->text();
    folder = note.LabelFolder->text();
    change = note.LabelChange->text();
    EXPECT_TRUE(note.tmr1->Enabled());  // it still closes itself unless typed into
    return 0;
  };
  w->tmr1->SetEnabled(true);
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(name, Q(u8"文件：doc.txt"));
  EXPECT_EQ(folder, Q(u8"目录：") + QString::fromStdString(dir.File("watched")));
  EXPECT_EQ(change, Q(u8"变化：12 B → 14 B，增加 1 行，删除 1 行"));
}

TEST(NoteChange, CountsLinesForTextAndSizesForTheRest) {
  test::TempDir dir;
  struct Case {
    std::string before;  // "-": no version yet; "?": a copy that is gone
    std::string after;
    const char8_t* text;
  };
  const Case cases[] = {
      {"a\nb\nc\n", "a\nB\nc\nd\ne\n", u8"6 B → 10 B，增加 3 行，删除 1 行"},
      {"a\nb\n", "a\nb\n", u8"4 B → 4 B，内容未变"},
      {"line\n", "", u8"5 B → 0 B，增加 0 行，删除 1 行"},
      // GB18030 text reads as text on both sides.
      {"\xc4\xe3\xba\xc3\n", "\xc4\xe3\xba\xc3\n\xd4\xd9\xbc\xfb\n", u8"5 B → 10 B，增加 1 行，删除 0 行"},
      {std::string("\x00\x01\x02", 3), std::string("\x00\x01\x03\x04", 4), u8"3 B → 4 B"},
      {"-", "new\n", u8"4 B（首个版本）"},
      {"?", "new\n", u8"无法读取 → 4 B"},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string file = dir.Write("f" + std::to_string(i), c.after);
    std::string copy;
    if (c.before == "?")
      copy = dir.File("gone" + std::to_string(i));
    else if (c.before != "-")
      copy = dir.Write("c" + std::to_string(i), c.before);
    ++i;
    EXPECT_EQ(ChangeText(DescribeChange(file, copy)), Q(c.text)) << i;
  }
}

}  // namespace
}  // namespace lanqi
