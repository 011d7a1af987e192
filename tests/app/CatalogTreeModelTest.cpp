// The catalog's tree model on its own: rows in the window's order, a search that narrows them, the
// window's edits under a search and around nodes the view holds on to, and a view that asks only for
// the rows it shows.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QPersistentModelIndex>
#include <QStyle>
#include <QTreeView>
#include <functional>

#include "app/CatalogTreeModel.h"
#include "app/SystemImages.h"

namespace lanqi {
namespace {

using TKind = TCatalogTreeModel::TKind;
using TPlace = TCatalogTreeModel::TPlace;

TCatalogFile FileOf(int32_t no, const std::string& path, std::vector<std::string> versions) {
  TCatalogFile f;
  f.FileNo = no;
  f.Path = path;
  f.Versions = std::move(versions);
  return f;
}

// Two areas: "docs" with a.txt (2 versions), b.txt (1), c.txt (3) and a folder; "pics" with p.png.
std::vector<TCatalogArea> Sample() {
  TCatalogArea docs;
  docs.Name = "docs";
  docs.Files = {FileOf(1, "/d/a.txt", {"a1", "a2"}), FileOf(2, "/d/b.txt", {"b1"}),
                FileOf(3, "/d/c.txt", {"c1", "c2", "c3"})};
  docs.Files[2].Protected = {false, true, false};
  docs.Folders.resize(1);
  docs.Folders[0].FolderNo = 7;
  docs.Folders[0].Path = "/d/notes";
  TCatalogArea pics;
  pics.Name = "pics";
  pics.Files = {FileOf(4, "/p/p.png", {"p1"})};
  return {docs, pics};
}

// Every row the model offers, indented by level, as "text" or "*text" for a match.
std::vector<std::string> Listing(const QAbstractItemModel& m, const QModelIndex& parent = {}, int level = 0) {
  std::vector<std::string> out;
  for (int i = 0; i < m.rowCount(parent); ++i) {
    QModelIndex n = m.index(i, 0, parent);
    EXPECT_EQ(n.parent(), parent);
    out.push_back(std::string(level * 2, ' ') + (n.data(TCatalogTreeModel::kMatchRole).toBool() ? "*" : "") +
                  n.data(TCatalogTreeModel::kTextRole).toByteArray().toStdString());
    for (const std::string& s : Listing(m, n, level + 1)) out.push_back(s);
  }
  return out;
}

// QAbstractItemModelTester reports what it finds wrong as warnings: each one fails the test.
struct ModelCheck {
  ModelCheck() {
    failures().clear();
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type != QtDebugMsg && type != QtInfoMsg) failures().push_back(text.toStdString());
    });
  }
  ~ModelCheck() { qInstallMessageHandler(previous); }
  static std::vector<std::string>& failures() {
    static std::vector<std::string> all;
    return all;
  }
  QtMessageHandler previous;
};

TEST(CatalogTreeModel, ShowsTheNewestFirstWithFoldersAfterTheFiles) {
  ModelCheck check;
  TCatalogTreeModel m;
  QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
  m.SetTree(Sample());
  EXPECT_EQ(Listing(m), (std::vector<std::string>{"docs", "  /d/c.txt", "    c3", "    c2", "    c1",
                                                  "  /d/b.txt", "    b1", "  /d/a.txt", "    a2", "    a1",
                                                  "  /d/notes", "pics", "  /p/p.png", "    p1"}));
  const QModelIndex docs = m.index(0, 0);
  const QModelIndex c = m.index(0, 0, docs);
  EXPECT_EQ(TCatalogTreeModel::Kind(c), TKind::File);
  EXPECT_EQ(c.data(TCatalogTreeModel::kFileNoRole).toInt(), 3);
  EXPECT_EQ(TCatalogTreeModel::Kind(m.index(1, 0, c)), TKind::Version);
  EXPECT_FALSE(m.index(1, 0, c).data(TCatalogTreeModel::kFileNoRole).isValid());
  EXPECT_EQ(m.FileOf(m.index(1, 0, c))->FileNo, 3);
  EXPECT_EQ(TCatalogTreeModel::Kind(m.index(3, 0, docs)), TKind::Folder);
  EXPECT_EQ(m.rowCount(m.index(3, 0, docs)), 0);
  EXPECT_EQ(m.PlaceOf(m.index(1, 0, c)), (TPlace{TKind::Version, 0, 2, 1}));
  EXPECT_EQ(m.IndexOf(TPlace{TKind::Version, 0, 2, 1}), m.index(1, 0, c));
  EXPECT_EQ(m.FindFile("/d/b.txt"), (TPlace{TKind::File, 0, 1, -1}));
  EXPECT_EQ(m.FindFileNo(4), (TPlace{TKind::File, 1, 0, -1}));
  EXPECT_TRUE(m.Shows(Sample()));
  std::vector<TCatalogArea> other = Sample();
  other[0].Files[2].Protected[1] = false;
  EXPECT_FALSE(m.Shows(other));
  other = Sample();
  other[0].Folders.clear();
  EXPECT_FALSE(m.Shows(other));
  EXPECT_TRUE(ModelCheck::failures().empty()) << ModelCheck::failures().front();
}

TEST(CatalogTreeModel, EditsUnderASearchAndAroundHeldNodesStayConsistent) {
  ModelCheck check;
  TCatalogTreeModel m;
  QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
  m.SetTree(Sample());
  auto holds = [](const std::string& needle) {
    return [needle](const QString& text) { return text.contains(QString::fromStdString(needle)); };
  };
  auto noNotes = [](int32_t, const std::string&) { return false; };
  // A note search: only b1's note holds it.
  m.Search(holds("zzz"), [](int32_t no, const std::string& v) { return no == 2 && v == "b1"; });
  EXPECT_EQ(Listing(m), (std::vector<std::string>{"docs", "  /d/b.txt", "    *b1"}));
  m.Search(holds("2"), noNotes);
  EXPECT_EQ(Listing(m), (std::vector<std::string>{"docs", "  /d/c.txt", "    *c2", "  /d/a.txt", "    *a2"}));
  // A version the view holds, under a file whose position moves when an earlier file goes.
  QPersistentModelIndex c2 = m.IndexOf(TPlace{TKind::Version, 0, 2, 1});
  ASSERT_TRUE(c2.isValid());
  m.AddVersion(m.FindFileNo(3), "c4");      // shown, unmarked, at the top
  m.AddVersion(m.FindFileNo(2), "b2");      // under a file the search hides: stays hidden
  m.AddFile(0, FileOf(5, "/d/e.txt", {}));  // shown at the top of its area
  m.Remove(m.FindFileNo(1));                // a.txt, before c.txt in the vector
  EXPECT_EQ(Listing(m), (std::vector<std::string>{"docs", "  /d/e.txt", "  /d/c.txt", "    c4", "    *c2"}));
  ASSERT_TRUE(c2.isValid());
  EXPECT_EQ(c2.data(TCatalogTreeModel::kTextRole).toByteArray(), "c2");
  EXPECT_EQ(c2.parent().data(TCatalogTreeModel::kTextRole).toByteArray(), "/d/c.txt");
  m.Remove(m.PlaceOf(m.index(0, 0, m.index(1, 0, m.index(0, 0)))));  // c4
  EXPECT_EQ(c2.data(TCatalogTreeModel::kTextRole).toByteArray(), "c2");
  m.ClearSearch();
  EXPECT_EQ(Listing(m), (std::vector<std::string>{"docs", "  /d/e.txt", "  /d/c.txt", "    c3", "    c2",
                                                  "    c1", "  /d/b.txt", "    b2", "    b1", "  /d/notes",
                                                  "pics", "  /p/p.png", "    p1"}));
  // The marks moved with the versions: c2 is still the protected one.
  const TCatalogFile* c = m.FileOf(m.IndexOf(m.FindFileNo(3)));
  EXPECT_EQ(c->Versions, (std::vector<std::string>{"c1", "c2", "c3"}));
  EXPECT_EQ(c->Protected, (std::vector<bool>{false, true, false}));
  // Without a search too: a held version keeps its node when a file before its own goes.
  QPersistentModelIndex p1 = m.IndexOf(TPlace{TKind::Version, 1, 0, 0});
  m.AddFile(1, FileOf(6, "/p/q.png", {"q1"}));
  m.Remove(m.FindFileNo(4));
  EXPECT_FALSE(p1.isValid());
  QPersistentModelIndex c1 = m.IndexOf(TPlace{TKind::Version, 0, 1, 0});
  ASSERT_EQ(c1.data(TCatalogTreeModel::kTextRole).toByteArray(), "c1");
  m.Remove(m.FindFileNo(2));  // b.txt, before c.txt
  EXPECT_EQ(c1.data(TCatalogTreeModel::kTextRole).toByteArray(), "c1");
  EXPECT_EQ(c1.parent().data(TCatalogTreeModel::kTextRole).toByteArray(), "/d/c.txt");
  m.AddArea(TCatalogArea{0, "new", "/n", {}, {}});
  EXPECT_EQ(Listing(m).back(), "new");
  EXPECT_TRUE(ModelCheck::failures().empty()) << ModelCheck::failures().front();
}

TEST(CatalogTreeModel, IconsOfTheLoadedNodesAndOfThoseAddedSince) {
  TSystemImages images;
  TCatalogTreeModel m;
  const QIcon marked = QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
  m.SetImages(&images, marked);
  m.SetTree(Sample());
  auto icon = [&](const TPlace& p) {
    return m.IndexOf(p).data(Qt::DecorationRole).value<QIcon>().cacheKey();
  };
  const qint64 folder = images.Icon(0).cacheKey();
  const qint64 text = images.Icon(images.SystemIconIndex("/d/c.txt")).cacheKey();
  ASSERT_NE(text, folder);
  const TPlace c = m.FindFileNo(3);
  EXPECT_EQ(icon(TPlace{TKind::Area, 0, -1, -1}), folder);
  EXPECT_EQ(icon(TPlace{TKind::Folder, 0, -1, 0}), folder);
  EXPECT_EQ(icon(c), text);
  EXPECT_EQ(icon(TPlace{TKind::Version, 0, 2, 0}), text);
  EXPECT_EQ(icon(TPlace{TKind::Version, 0, 2, 1}), marked.cacheKey());  // protected
  // Added since the load: the folder image until the tree is read again.
  const TPlace added = m.AddVersion(c, "c4");
  EXPECT_EQ(icon(added), folder);
  m.Remove(TPlace{TKind::Version, 0, 2, 0});  // c1 goes: c2 and c3 are still from the load
  EXPECT_EQ(icon(TPlace{TKind::Version, 0, 2, 1}), text);
  EXPECT_EQ(icon(TPlace{TKind::Version, 0, 2, 2}), folder);
  const TPlace file = m.AddFile(0, FileOf(9, "/d/n.txt", {}));
  EXPECT_EQ(icon(file), folder);
  EXPECT_EQ(icon(m.AddVersion(file, "n1")), folder);
}

TEST(CatalogTreeModel, TheViewAsksOnlyForTheRowsItShows) {
  struct TCounting : TCatalogTreeModel {
    QVariant data(const QModelIndex& index, int role) const override {
      if (role == Qt::DisplayRole) ++texts;
      return TCatalogTreeModel::data(index, role);
    }
    mutable long texts = 0;
  } m;
  std::vector<TCatalogArea> tree(1);
  tree[0].Name = "big";
  for (int f = 0; f < 20; ++f) {
    std::vector<std::string> versions;
    for (int v = 0; v < 500; ++v)
      versions.push_back("2020-01-01-00-" + std::to_string(f) + "-" + std::to_string(v));
    tree[0].Files.push_back(FileOf(f + 1, "/f" + std::to_string(f), std::move(versions)));
  }
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setModel(&m);
  view.resize(300, 200);
  m.SetTree(std::move(tree));
  view.expandAll();
  view.show();
  QApplication::processEvents();
  view.repaint();
  // 10 021 rows, a few of them on the screen.
  EXPECT_GT(m.texts, 0);
  EXPECT_LT(m.texts, 500);
}

}  // namespace
}  // namespace lanqi
