// The main window over a real catalog in a temporary folder, on the virtual clock, with a recording
// shell, the fake panel, recorded messages and dialogs driven by the test.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <set>

#include "app/Ribbon.h"
#include "app/UCreatArea.h"
#include "app/Uversm.h"
#include "app/entry.h"
#include "app/uver.h"
#include "platform/AutoStart.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/Timer.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"
#include "tray/FakeTrayPort.h"
#include "tray/TrayIcon.h"

namespace lanqi {

inline QString Q(const char8_t* s) {
  return QString::fromUtf8(reinterpret_cast<const char*>(s));
}

// Sets a file's last-write time to a fixed moment (1 June 2020) plus seconds.
inline void SetStamp(const std::string& path, int secs) {
  using namespace std::chrono;
  auto t = file_clock::from_sys(sys_days{year{2020} / 6 / 1} + std::chrono::seconds(secs));
  std::filesystem::last_write_time(path, t);
}

// The tree's nodes as the model offers them to the view.
inline QModelIndex Child(const QModelIndex& parent, int row) {
  return parent.model()->index(row, 0, parent);
}
inline int ChildCount(const QModelIndex& node) {
  return node.model()->rowCount(node);
}
inline std::vector<std::string> Texts(const QModelIndex& parent) {
  std::vector<std::string> out;
  for (int i = 0; i < ChildCount(parent); ++i) out.push_back(Tmainw::NodeText(Child(parent, i)));
  return out;
}
// Every node of a model, each before its children.
inline void EachNode(const QAbstractItemModel& model, const std::function<void(const QModelIndex&)>& visit,
                     const QModelIndex& parent = QModelIndex()) {
  for (int i = 0; i < model.rowCount(parent); ++i) {
    QModelIndex n = model.index(i, 0, parent);
    visit(n);
    EachNode(model, visit, n);
  }
}

struct MainWindow : testing::Test {
  void SetUp() override {
    SetMainLoop(&loop);
    oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.File("config")));
    catalog = dir.File("catalog.dat");
    test::MakeCatalog(catalog);
    std::filesystem::create_directories(dir.File("area"));
    std::filesystem::create_directories(dir.File("watched"));
  }
  void TearDown() override {
    w.reset();
    SetMainLoop(nullptr);
    qputenv("XDG_CONFIG_HOME", oldConfig);
  }

  Tmainw& Make() {
    TMainwSetup s;
    s.CatalogPath = catalog;
    s.SettingsFolder = dir.File("exe");
    s.ExePath = dir.File("exe/lanqi");
    s.DriveRoots = roots;
    auto shellRec = std::make_unique<TRecordingShell>();
    shell = shellRec.get();
    s.Shell = std::move(shellRec);
    auto port = std::make_unique<TFakeTrayPort>();
    tray = port.get();
    s.TrayPort = std::move(port);
    s.ExecDialog = [this](QDialog& d) {
      ++dialogs;
      return onDialog ? onDialog(d) : 0;
    };
    s.ShowMessage = [this](const QString& m) { messages.push_back(m); };
    s.Polled = [this](const std::string& path) { return polled.count(path) > 0; };
    std::filesystem::create_directories(dir.File("exe"));
    w = std::make_unique<Tmainw>(std::move(s));
    return *w;
  }

  // Rows put in before the window opens.
  int32_t Area(const std::string& name, const std::string& folder) {
    test::CatalogTable t(catalog, u8"数据存储区");
    return t.Append({{u8"名称", name}, {u8"目录", folder}}, u8"存储区序号");
  }
  int32_t File(int32_t area, const std::string& path, const std::string& stamp = "") {
    test::CatalogTable t(catalog, u8"文件索引表");
    return t.Append({{u8"存储区序号", std::to_string(area)},
                     {u8"源文件名称", path},
                     {u8"备份文件目录", path + "-bak"},
                     {u8"大小", stamp}},
                    u8"文件序号");
  }
  void Version(int32_t file, const std::string& version, const std::string& size,
               const std::string& note = "", const std::string& copy = "") {
    test::CatalogTable t(catalog, u8"文件版本表");
    t.Append({{u8"文件序号", std::to_string(file)},
              {u8"版本", version},
              {u8"大小", size},
              {u8"说明", note},
              {u8"文件名称", copy}});
  }
  std::vector<test::TRow> Rows(std::u8string_view table) { return test::CatalogTable(catalog, table).Rows(); }

  QModelIndex Top(int i) { return w->TreeModel->index(i, 0); }
  void Select(const QModelIndex& node) { w->TreeView1->setCurrentIndex(node); }
  void Drop(const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    QWidget* target = w->TreeView1->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
  }
  std::vector<std::vector<QString>> ListRows() {
    std::vector<std::vector<QString>> rows;
    for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i) {
      QTreeWidgetItem* r = w->ListView1->topLevelItem(i);
      rows.push_back({r->text(0), r->text(1), r->text(2)});
    }
    return rows;
  }

  ManualEventLoop loop;
  test::TempDir dir;
  QByteArray oldConfig;
  std::string catalog;
  std::vector<std::string> roots;  // no drive watchers unless a test asks
  std::set<std::string> polled;    // tracked files checked at the poll interval
  TRecordingShell* shell = nullptr;
  TFakeTrayPort* tray = nullptr;
  std::vector<QString> messages;
  std::function<int(QDialog&)> onDialog;
  int dialogs = 0;
  std::unique_ptr<Tmainw> w;
};

}  // namespace lanqi
