// Tmainw: the main window of the version tracker. It shows the catalog as a tree of areas, tracked
// files and versions with a list of version details, carries every command, keeps the catalog
// (uver_catalog.cpp) and turns saves of tracked files into versions (uver_detect.cpp).
#pragma once

#include <QIcon>
#include <QModelIndex>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/CatalogTreeModel.h"
#include "app/PolledFiles.h"
#include "app/Shell.h"
#include "app/SystemImages.h"
#include "app/VersionCatalog.h"
#include "rtl/Component.h"
#include "rtl/StringList.h"
#include "tray/TrayPort.h"
#include "watcher/FileSystemWatcher.h"

class QAction;
class QCheckBox;
class QDialog;
class QFileDialog;
class QFileSystemWatcher;
class QLineEdit;
class QMenu;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTextBrowser;
class QToolButton;
class QTreeView;
class QTreeWidget;

namespace lanqi {

class TNetworkPage;
class TRadeTable;
class TReportPage;
class TRibbon;
class TTimer;
class TTrayIcon;
class TCaptureJob;
class TFormCapture;

// The size column: the stored byte count in the largest unit that keeps it at or above 1, with one
// decimal where it adds something ("512 B", "1.5 KB", "3.2 MB"); a text that is no whole number of
// bytes is shown as it stands.
std::string SizeText(const std::string& bytes);
std::string ByteSizeText(int64_t bytes);

// Code-page text (a path, a note, a stamp) for the screen.
QString ScreenText(std::string_view ansi);

// The application-wide handler: runs deliver (one event's delivery); what it raises and nobody
// caught is shown by show with its text (a silent abort shows nothing), and the program goes on.
bool DeliverGuarded(const std::function<bool()>& deliver, const std::function<void(const QString&)>& show);

// The main window's surroundings. Left empty, each one is the real desktop's; tests put their own.
struct TMainwSetup {
  std::string CatalogPath;                             // empty: CatalogPath() beside the executable
  std::string SettingsFolder;                          // empty: the executable's folder (setup.ini)
  std::string ExePath;                                 // empty: the running executable
  std::optional<std::vector<std::string>> DriveRoots;  // none: FixedDriveRoots()
  std::unique_ptr<TShell> Shell;                       // null: the desktop
  std::unique_ptr<TTrayPort> TrayPort;                 // null: the panel
  // Shows a dialog modally and returns its result; null: QDialog::exec.
  std::function<int(QDialog&)> ExecDialog;
  // A plain message box with an OK button; null: QMessageBox.
  std::function<void(const QString&)> ShowMessage;
  // Whether a tracked file's stamp is checked at the poll interval; null: the files that no drive
  // watcher's change reports cover (TMountView).
  std::function<bool(const std::string&)> Polled;
};

class Tmainw : public QWidget {
  Q_OBJECT
 public:
  explicit Tmainw(TMainwSetup setup = {}, QWidget* parent = nullptr);
  ~Tmainw() override;

  // ---- controls (objectName = the name)
  TRibbon* Ribbon1;
  QToolButton* GlowButton13;      // "增加存储区"
  QToolButton* GlowButton8;       // "增加文件"
  QToolButton* GlowButton9;       // "增加目录"
  QToolButton* GlowButton11;      // "自动监测": checked while saves are detected
  QToolButton* GlowButton10;      // "版本合并"
  QCheckBox* StartCheck;          // "开机启动"
  QCheckBox* SkipUnchangedCheck;  // "忽略内容未变的保存"
  QMenu* AppMenu1;                // "后台运行", "退出软软件"
  QTabWidget* PageControl1;       // "文件管理树"
  QTextBrowser* WebBrowser1;
  QLineEdit* SearchEdit;         // narrows the tree to the paths and notes holding its text
  QTreeView* TreeView1;          // over TreeModel
  TCatalogTreeModel* TreeModel;  // the catalog's areas, files and versions as the tree shows them
  QSplitter* Splitter1;
  QTabWidget* PageControl2;  // "版本列表"
  QTreeWidget* ListView1;
  QMenu* PopupMenu1;
  QAction* N5;               // "填写版本版本说明"
  QAction* N6;               // "定位到版本文件"
  QAction* N3;               // "打开文件"
  QAction* N1;               // "添加监控版本"
  QAction* N2;               // "删除监控文件"
  QAction* N4;               // "增加存储区"
  QAction* N11;              // "删除监控目录", on a folder node
  QAction* CompareItem;      // "与当前文件比较"
  QMenu* ListMenu;           // the version list's menu
  QAction* ListCompareItem;  // "与当前文件比较", "比较所选的两个版本" with two rows selected
  QAction* N7;               // "恢复此版本"
  QAction* N8;               // "另存为…"
  QAction* N9;               // "导出为 Git 仓库…"
  QAction* N10;              // "删除此版本"
  QAction* ProtectItem;      // "保护此版本", checked while the version is protected
  QAction* CleanupItem;      // "清理规则…", on an area node
  QMenu* pm1;
  QAction* MenuItem1;  // "显示岚栖文件管理" (default)
  QAction* MenuItem2;  // "后台运行"
  QAction* MenuItem4;  // "退出岚栖文件管理"
  QFileDialog* dlgOpen;

  // ---- components, owned by the window
  TTrayIcon* TrayIcon1;
  TTimer* tmr1;                            // 5000 ms between the first change report and the pass
  TFileSystemWatcher* FileSystemWatcher1;  // placed once, never activated
  QFileSystemWatcher* CatalogWatcher;      // the catalog file, written by other programs too
  TTimer* ReloadTimer;                     // 500 ms after the catalog changed on disk: ReloadCatalog
  TFormCapture* FormCapture = nullptr;     // the progress of a pass's large copy, while it runs
  TRadeTable* Tbarea = nullptr;            // the catalog's tables, set by the first LoadCatalog
  TRadeTable* Tbfileid = nullptr;
  TRadeTable* Tbfilever = nullptr;
  std::unique_ptr<TSystemImages> ImgSys;

  // ---- state
  bool ExitRequested = false;
  std::unique_ptr<TStringList> PendingFiles;
  std::vector<TFileSystemWatcher*> DriveWatchers;

  // ---- window creation and life
  void FormCreate();
  // True when the close may go on; otherwise the window went to the tray.
  bool FormCloseQuery();
  void FormClose();
  // The end of the desktop session (or SIGTERM): ExitRequested, close; true when closed.
  bool QueryEndSession();

  // ---- commands
  void GlowButton13Click();
  void GlowButton8Click();
  void N1Click() { GlowButton8Click(); }
  void N2Click();
  void N4Click() { GlowButton13Click(); }
  // The version commands, for the version node selected in the tree or the row selected in the list.
  void RestoreVersionClick(int32_t fileNo, const std::string& version);
  void SaveVersionAsClick(int32_t fileNo, const std::string& version);
  void ExportGitClick(int32_t fileNo);
  void DeleteVersionClick(int32_t fileNo, const std::string& version);
  // The file number and version text the version commands act on: the list's selected row when the
  // list asks, else the tree's version node (version empty for a file node).
  bool SelectedVersion(bool fromList, int32_t& fileNo, std::string& version);
  void N5Click();
  void N6Click();
  void TreeView1DblClick();
  void TreeView1MouseDown(Qt::MouseButton button, const QPoint& pos);
  void TreeView1Change();
  void MenuItem1Click();
  void MenuItem2Click();
  void MenuItem4Click();
  void AppMenu1MenuItemClick(int index);
  void StartCheckClick();
  // The compare window for the selection: two versions selected in the list side by side, else the
  // selected version (a file node: its newest) beside the current file.
  void CompareSelected();
  // The search box: shows the areas, files and versions whose path, version text or note holds the
  // text (letter case aside) with the matches marked, and everything again once it is empty.
  void ApplySearch();
  // The tree's file drops (text/uri-list), seen by the application-wide hook.
  bool HandleAppMessage(QObject* watched, QEvent* event);
  // One path (as the user's text) with the selected node as its area.
  void AddPathToSelectedArea(const QString& path);

  // ---- cleanup (uver_cleanup.cpp): protected versions and each area's cleanup rules
  void ProtectVersionClick(int32_t fileNo, const std::string& version, bool on);
  // The cleanup dialog of the area selected in the tree (a file's or version's area too).
  void CleanupRulesClick();
  bool IsProtectedVersion(int32_t fileNo, const std::string& version);
  QIcon ProtectedIcon() const;

  // ---- catalog (uver_catalog.cpp): the window's tree over a TVersionCatalog, whose operations these
  // pass on
  TVersionCatalog& Catalog() { return *catalog_; }
  void LoadCatalog(const std::string& catalogPath);
  // The catalog file changed on disk: the reload waits until the writes settle.
  void CatalogFileChanged();
  // Reads the catalog again; the tree is rebuilt only when it differs from what it shows (so the
  // window's own writes, already shown, change nothing), keeping the selected node and list rows.
  void ReloadCatalog();
  void AddArea(const std::string& name, const std::string& folder);
  bool AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo = nullptr);
  bool CaptureVersion(const std::string& path, const std::string& note, verinfo& info);
  bool FindFileInfo(int32_t fileNo, verinfo& info);
  bool FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info);
  void SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note);
  void RemoveTrackedFile(int32_t fileNo);
  // The code-page bytes a version's note can hold (0 while the catalog is not open).
  int32_t NoteRoom();

  // ---- tracked folders and auto-monitoring (uver_folders.cpp)
  // "增加目录": a folder picked, then tracked in the selected node's area.
  void GlowButton9Click();
  // Asks whether to track folder (code-page text) in the selected node's area, with which masks,
  // and tracks it and the files it admits.
  void TrackFolderAsked(const std::string& folder);
  // "删除监控目录": no new files of the folder are tracked; its files stay tracked.
  void RemoveFolderClick(int32_t folderNo);
  // "删除监控目录" for the selected folder node.
  void N11Click();
  // A detection pass's first step: the new files of tracked folders are tracked, each with its
  // first version.
  void TrackNewFolderFilesInPass();
  bool AutoMonitor() const { return autoMonitor_; }
  void GlowButton11Click();
  // Off: no detection pass and no prompt. On again from the user: a pass at once, which captures
  // the saves made meanwhile. The tray's hint says when it is off; fromUser stores the setting.
  void SetAutoMonitor(bool on, bool fromUser);

  // ---- detection (uver_detect.cpp)
  void CreateDriveWatchers();
  void SetWatchersActive(bool active);
  void FreeDriveWatchers();
  void FileSystemWatcher1Change(TObject* Sender, TFileOperation FileOperation, const std::string& FileName1,
                                const std::string& FileName2);
  void tmr1Timer();
  // A drive watcher met the kernel's watch limit: said once, and from then on a pass runs every
  // tmr1 interval, as the unwatched folders cannot start one.
  void DriveWatchLimitReached();
  // Stops a pass's copy that is still running and removes what it wrote (the window is closing).
  void AbandonCapture();
  void ScanTrackedFiles();
  // The first file node carrying path; with fileNo, the one of that file number if there is one.
  // Invalid when there is none or the search hides it.
  QModelIndex FindFileNode(const std::string& path, int32_t fileNo = 0);

  // ---- the "网络管理" and "报表" pages (uver_report.cpp)
  QToolButton* GlowButton4 = nullptr;    // "增加监控文件"
  QToolButton* GlowButton1 = nullptr;    // "立即检查"
  QSpinBox* PollIntervalEdit = nullptr;  // "检查间隔", seconds, kept in setup.ini
  QToolButton* GlowButton5 = nullptr;    // "刷新报表"
  QToolButton* GlowButton6 = nullptr;    // "导出 CSV"
  TNetworkPage* NetworkPage1 = nullptr;  // tab "网络文件" of PageControl1
  TReportPage* ReportPage1 = nullptr;    // tab "报表" of PageControl1
  TTimer* PollTimer = nullptr;           // checks the polled files' stamps
  std::unique_ptr<TPolledFiles> PolledFiles;
  void BuildReportPages(int netPage, int reportPage);
  void RefreshReport();
  void ExportReportClick();
  void AddPolledFileClick();
  // The polled files' list again when the catalog changed (or always when forced).
  void RefreshPolledFiles(bool force);
  // Checks the polled files; the changed ones go to the detection pass as change reports do.
  void PollTimerTimer();
  void SetPollInterval(int seconds);

  // ---- tree nodes: code-page text, level (0 area, 1 file or folder, 2 version), file number of a
  // file node
  static std::string NodeText(const QModelIndex& node);
  static int NodeLevel(const QModelIndex& node);
  static int32_t NodeFileNo(const QModelIndex& node);
  static TCatalogTreeModel::TKind NodeKind(const QModelIndex& node);

  // The window's surroundings, for the commands and the tests.
  TShell& Shell() { return *setup_.Shell; }
  int ExecDialog(QDialog& dialog);
  void ShowMessage(const QString& text);
  void ShowError(const std::exception& e);
  // Runs a command; what it raises is shown in a message box and the command ends there.
  void Guard(const std::function<void()>& command);

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void BuildMenus();
  void FillList(const QModelIndex& node);
  // The file number of a file node or of a version node's file; 0 for other nodes.
  int32_t FileNoOf(const QModelIndex& node) const;
  // Makes node the tree's current one without filling the list again.
  void SetCurrentQuietly(const QModelIndex& node);
  bool quietCurrent_ = false;
  // The node that was current when the search hid it: it is current again once shown.
  TCatalogTreeModel::TPlace searchKept_;
  void UpdateVersionActions(bool fromList);
  bool versionMenuFromList_ = false;
  void AddListRow(const std::string& version, const verinfo& info);
  // The path of a version's copy or a file, for Open and Show; empty when nothing is found.
  std::string SelectedTargetPath();
  void BeginTreeUpdate();
  void EndTreeUpdate();
  // The catalog's tree as nodes, the order the tree shows it in.
  void FillTree(std::vector<TCatalogArea> tree);
  // The notes of every version, letter case folded, by file number and version text; read at the
  // first search after the catalog changed.
  std::unordered_map<int32_t, std::unordered_map<std::string, QString>> notes_;
  bool notesRead_ = false;
  void ReadNotes();

  // The protected marks as last read, and the catalog file's state then (read again when it changed).
  std::set<std::pair<int32_t, std::string>> marks_;
  std::pair<int64_t, int64_t> marksRead_{-1, -1};
  // The area name of the tree's selected node (or of its file's area); false when none.
  bool SelectedAreaName(std::string& name);
  bool autoMonitor_ = true;
  std::vector<std::string> folderFailuresShown_;  // each file a pass cannot track is reported once

  TMainwSetup setup_;
  std::unique_ptr<TVersionCatalog> catalog_;
  TComponent components_;  // owns the tray icon, timers and watchers
  int treeUpdates_ = 0;
  bool closed_ = false;
  bool pollTracked_ = false;        // passes by the clock: the watchers do not cover every folder
  TCaptureJob* capture_ = nullptr;  // the pass's copy, while it runs
};

}  // namespace lanqi
