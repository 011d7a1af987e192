#include "app/uver.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QBrush>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/AutoMonitor.h"
#include "app/CaptureSettings.h"
#include "app/CompareWindow.h"
#include "app/Ribbon.h"
#include "app/UCreatArea.h"
#include "app/Uversm.h"
#include "app/entry.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Timer.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "rtl/NumText.h"
#include "tray/TrayIcon.h"

namespace lanqi {

namespace {

constexpr int kTextRole = Qt::UserRole;  // a list row's version text (code-page bytes)
using TKind = TCatalogTreeModel::TKind;
using TPlace = TCatalogTreeModel::TPlace;

}  // namespace

QString ScreenText(std::string_view ansi) {
  // Plain ASCII reads the same in every code page; most paths and every stamp are.
  if (std::all_of(ansi.begin(), ansi.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return QString::fromLatin1(ansi.data(), static_cast<qsizetype>(ansi.size()));
  // A text cut by a slot (another program may write one) can end inside a character: the broken
  // tail is left out.
  size_t whole = 0;
  while (whole < ansi.size()) {
    size_t next = whole + (IsLeadByte(static_cast<uint8_t>(ansi[whole])) ? 2 : 1);
    if (next > ansi.size()) break;
    whole = next;
  }
  ansi = ansi.substr(0, whole);
  try {
    return QString::fromStdString(AnsiToUtf8(ansi));
  } catch (const std::exception&) {
  }
  // Bytes the code page cannot read show as the replacement character, the rest as it reads.
  QString shown;
  for (size_t i = 0; i < ansi.size();) {
    size_t n = IsLeadByte(static_cast<uint8_t>(ansi[i])) ? 2 : 1;
    try {
      shown += QString::fromStdString(AnsiToUtf8(ansi.substr(i, n)));
    } catch (const std::exception&) {
      shown += QChar(QChar::ReplacementCharacter);
    }
    i += n;
  }
  return shown;
}

namespace {

QString U(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

const char kStartPage[] =
    "<html><body style=\"margin:2px\"><b>文件版本控制</b> — 保存受监控的文件时自动留存历史版本。"
    "</body></html>";

}  // namespace

std::string ByteSizeText(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  // Tenths of the unit, rounded; a value that rounds up to 1024 reads in the next unit.
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (unit + 1 < std::size(units) && std::llround(value * 10) >= 10240) {
    value /= 1024;
    ++unit;
  }
  int64_t tenths = std::llround(value * 10);
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text + " " + units[unit];
}

std::string SizeText(const std::string& bytes) {
  // The catalog stores the byte count as decimal digits; anything else (another program's text, a
  // cut slot) is shown unchanged rather than guessed at.
  if (bytes.empty() || bytes.size() > 18 ||
      !std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return bytes;
  return ByteSizeText(std::stoll(bytes));
}

bool DeliverGuarded(const std::function<bool()>& deliver, const std::function<void(const QString&)>& show) {
  try {
    return deliver();
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    show(ScreenText(e.what()));
  } catch (...) {
    show(QStringLiteral("Unknown error"));
  }
  return false;
}

Tmainw::Tmainw(TMainwSetup setup, QWidget* parent)
    : QWidget(parent), setup_(std::move(setup)), catalog_(std::make_unique<TVersionCatalog>()) {
  if (setup_.CatalogPath.empty()) setup_.CatalogPath = CatalogPath();
  if (setup_.SettingsFolder.empty()) setup_.SettingsFolder = ExeDirectory();
  if (setup_.ExePath.empty()) setup_.ExePath = ExeFileName();
  if (!setup_.Shell) setup_.Shell = std::make_unique<TDesktopShell>();

  setObjectName(QStringLiteral("mainw"));
  setWindowTitle(ScreenText(AppTitle()));
  // The ribbon draws the caption and its buttons.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinMaxButtonsHint);
  resize(744, 393);

  BuildLayout();
  BuildMenus();

  tmr1 = components_.Create<TTimer>();
  tmr1->SetName("tmr1");
  tmr1->SetEnabled(false);
  tmr1->SetInterval(5000);
  tmr1->OnTimer = [this](TObject*) { Guard([this] { tmr1Timer(); }); };

  ReloadTimer = components_.Create<TTimer>();
  ReloadTimer->SetName("ReloadTimer");
  ReloadTimer->SetEnabled(false);
  ReloadTimer->SetInterval(500);
  ReloadTimer->OnTimer = [this](TObject*) { Guard([this] { ReloadCatalog(); }); };
  CatalogWatcher = new QFileSystemWatcher(this);
  CatalogWatcher->setObjectName(QStringLiteral("CatalogWatcher"));
  connect(CatalogWatcher, &QFileSystemWatcher::fileChanged, this, [this] { CatalogFileChanged(); });

  FileSystemWatcher1 = components_.Create<TFileSystemWatcher>();
  FileSystemWatcher1->SetName("FileSystemWatcher1");
  FileSystemWatcher1->SetNotifyFilters({nfFileNameChange, nfDirNameChange, nfSizeChange, nfWriteChange});

  // The icon is on the panel before the window's creation steps run.
  TrayIcon1 = components_.Create<TTrayIcon>(this, std::move(setup_.TrayPort));
  TrayIcon1->SetName("TrayIcon1");
  TrayIcon1->BeginLoading();
  TrayIcon1->SetIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
  TrayIcon1->SetHint(AppTitle());
  TrayIcon1->SetPopupMenu(pm1);
  TrayIcon1->EndLoading();

  FormCreate();
}

Tmainw::~Tmainw() {
  if (qApp) qApp->removeEventFilter(this);
  if (!closed_) FreeDriveWatchers();
}

void Tmainw::BuildLayout() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Ribbon1 = new TRibbon(this);
  Ribbon1->setObjectName(QStringLiteral("Ribbon1"));
  Ribbon1->AttachWindow(this);
  column->addWidget(Ribbon1);

  int files = Ribbon1->AddPage(U(u8"文件管理"), QStringLiteral("RibbonPage1"));
  GlowButton13 = Ribbon1->AddButton(files, QStringLiteral("GlowButton13"), U(u8"增加存储区"),
                                    style()->standardIcon(QStyle::SP_DirIcon));
  GlowButton8 = Ribbon1->AddButton(files, QStringLiteral("GlowButton8"), U(u8"增加文件"),
                                   style()->standardIcon(QStyle::SP_FileIcon));
  GlowButton9 = Ribbon1->AddButton(files, QStringLiteral("GlowButton9"), U(u8"增加目录"),
                                   style()->standardIcon(QStyle::SP_DirOpenIcon));
  GlowButton10 = Ribbon1->AddButton(files, QStringLiteral("GlowButton10"), U(u8"版本合并"));
  GlowButton11 = Ribbon1->AddButton(files, QStringLiteral("GlowButton11"), U(u8"自动监测"));
  GlowButton11->setCheckable(true);
  GlowButton11->setChecked(true);
  // Buttons of the pages that have no action yet.
  int net = Ribbon1->AddPage(U(u8"网络管理"), QStringLiteral("RibbonPage2"));
  int report = Ribbon1->AddPage(U(u8"报表"), QStringLiteral("RibbonPage3"));
  int settings = Ribbon1->AddPage(U(u8"设置"), QStringLiteral("RibbonPage4"));
  StartCheck = new QCheckBox(U(u8"开机启动"));
  StartCheck->setObjectName(QStringLiteral("StartCheck"));
  Ribbon1->AddWidget(settings, StartCheck);
  SkipUnchangedCheck = new QCheckBox(U(u8"忽略内容未变的保存"));
  SkipUnchangedCheck->setObjectName(QStringLiteral("SkipUnchangedCheck"));
  SkipUnchangedCheck->setChecked(LoadSkipUnchanged(setup_.SettingsFolder));
  catalog_->SetSkipUnchanged(SkipUnchangedCheck->isChecked());
  Ribbon1->AddWidget(settings, SkipUnchangedCheck);
  Ribbon1->Pages()->setCurrentIndex(files);

  AppMenu1 = Ribbon1->AppMenu();
  AppMenu1->setObjectName(QStringLiteral("AppMenu1"));
  AppMenu1->addAction(U(u8"后台运行"))->setObjectName(QStringLiteral("AppMenuItem1"));
  AppMenu1->addAction(U(u8"退出软软件"))->setObjectName(QStringLiteral("AppMenuItem2"));

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  auto* sheet = new QWidget;
  sheet->setObjectName(QStringLiteral("TabSheet1"));
  PageControl1->addTab(sheet, U(u8"文件管理树"));
  column->addWidget(PageControl1, 1);
  auto* sheetColumn = new QVBoxLayout(sheet);
  // The frameless window resizes from a band along its edges: the panes keep clear of it, so the
  // splitter's handle is never under the resize pointer.
  sheetColumn->setContentsMargins(TRibbon::kBorder, 0, TRibbon::kBorder, TRibbon::kBorder);
  sheetColumn->setSpacing(0);

  WebBrowser1 = new QTextBrowser(sheet);
  WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
  WebBrowser1->setFixedHeight(39);
  WebBrowser1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sheetColumn->addWidget(WebBrowser1);

  Splitter1 = new QSplitter(Qt::Vertical, sheet);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  // Wide enough to grab without hunting for it.
  Splitter1->setHandleWidth(7);
  Splitter1->setChildrenCollapsible(false);
  sheetColumn->addWidget(Splitter1, 1);

  // The search box sits in the tab row above the tree, where it costs the tree no height.
  // The tab row places its corner by the corner's size hint: a holder with a layout makes that the
  // box's width, and keeps the box clear of the window's resize band.
  auto* searchHolder = new QWidget(PageControl1);
  auto* searchRow = new QHBoxLayout(searchHolder);
  searchRow->setContentsMargins(0, 1, TRibbon::kBorder + 2, 1);
  SearchEdit = new QLineEdit(searchHolder);
  SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit->setPlaceholderText(U(u8"搜索文件路径、版本或说明"));
  SearchEdit->setClearButtonEnabled(true);
  SearchEdit->setFixedWidth(240);
  searchRow->addWidget(SearchEdit);
  PageControl1->setCornerWidget(searchHolder, Qt::TopRightCorner);

  TreeView1 = new QTreeView(Splitter1);
  TreeView1->setObjectName(QStringLiteral("TreeView1"));
  TreeModel = new TCatalogTreeModel(TreeView1);
  TreeModel->setObjectName(QStringLiteral("TreeModel"));
  TreeView1->setModel(TreeModel);
  // Every node is one line of the same font: the view needs no row measured to lay out the tree.
  TreeView1->setUniformRowHeights(true);
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(19);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setExpandsOnDoubleClick(false);
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);

  PageControl2 = new QTabWidget(Splitter1);
  PageControl2->setObjectName(QStringLiteral("PageControl2"));
  ListView1 = new QTreeWidget;
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setRootIsDecorated(false);
  ListView1->setColumnCount(3);
  ListView1->setHeaderLabels({U(u8"文件版本"), U(u8"大小"), U(u8"说明")});
  ListView1->header()->setStretchLastSection(false);
  ListView1->setColumnWidth(0, 150);
  ListView1->setColumnWidth(1, 150);
  ListView1->setColumnWidth(2, 300);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Two versions can be picked for comparison.
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
  PageControl2->addTab(ListView1, U(u8"版本列表"));
  // The tree and the list share the height and both grow with the window; the list's pane carries
  // its tab and header too, so it takes a little more: at the default size each shows some rows.
  TreeView1->setMinimumHeight(40);
  PageControl2->setMinimumHeight(60);
  Splitter1->setStretchFactor(0, 4);
  Splitter1->setStretchFactor(1, 5);
  Splitter1->setSizes({400, 500});

  dlgOpen = new QFileDialog(this);
  dlgOpen->setObjectName(QStringLiteral("dlgOpen"));
  dlgOpen->setFileMode(QFileDialog::ExistingFile);
  dlgOpen->setOption(QFileDialog::DontUseNativeDialog);
  dlgOpen->setSizeGripEnabled(true);

  connect(GlowButton13, &QToolButton::clicked, this, [this] { Guard([this] { GlowButton13Click(); }); });
  connect(GlowButton8, &QToolButton::clicked, this, [this] { Guard([this] { GlowButton8Click(); }); });
  connect(GlowButton9, &QToolButton::clicked, this, [this] { Guard([this] { GlowButton9Click(); }); });
  connect(GlowButton11, &QToolButton::toggled, this, [this] { Guard([this] { GlowButton11Click(); }); });
  connect(GlowButton10, &QToolButton::clicked, this, [this] { Guard([this] { CompareSelected(); }); });
  connect(StartCheck, &QCheckBox::toggled, this, [this] { Guard([this] { StartCheckClick(); }); });
  connect(SkipUnchangedCheck, &QCheckBox::toggled, this, [this](bool on) {
    catalog_->SetSkipUnchanged(on);
    Guard([this, on] { SaveSkipUnchanged(setup_.SettingsFolder, on); });
  });
  connect(Ribbon1, &TRibbon::appMenuItemClicked, this,
          [this](int index) { Guard([this, index] { AppMenu1MenuItemClick(index); }); });
  connect(SearchEdit, &QLineEdit::textChanged, this, [this] { Guard([this] { ApplySearch(); }); });
  connect(TreeView1, &QTreeView::doubleClicked, this, [this] { Guard([this] { TreeView1DblClick(); }); });
  connect(TreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
    if (!quietCurrent_) Guard([this] { TreeView1Change(); });
  });
  connect(TreeView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(TreeView1->viewport()->mapToGlobal(pos)); });
  connect(ListView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { ListMenu->popup(ListView1->viewport()->mapToGlobal(pos)); });
  BuildReportPages(net, report);
}

void Tmainw::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, const char8_t* caption, std::function<void()> fn) {
    QAction* a = menu->addAction(U(caption));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [this, fn = std::move(fn)] { Guard(fn); });
    return a;
  };
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  N5 = action(PopupMenu1, "N5", u8"填写版本版本说明", [this] { N5Click(); });
  N6 = action(PopupMenu1, "N6", u8"定位到版本文件", [this] { N6Click(); });
  N3 = action(PopupMenu1, "N3", u8"打开文件", [this] { TreeView1DblClick(); });
  PopupMenu1->addSeparator();
  N1 = action(PopupMenu1, "N1", u8"添加监控版本", [this] { N1Click(); });
  N2 = action(PopupMenu1, "N2", u8"删除监控文件", [this] { N2Click(); });
  N11 = action(PopupMenu1, "N11", u8"删除监控目录", [this] { N11Click(); });
  N4 = action(PopupMenu1, "N4", u8"增加存储区", [this] { N4Click(); });
  PopupMenu1->addSeparator();
  CompareItem = action(PopupMenu1, "CompareItem", u8"与当前文件比较", [this] { CompareSelected(); });

  ListMenu = new QMenu(this);
  ListMenu->setObjectName(QStringLiteral("ListMenu"));
  ListCompareItem = action(ListMenu, "ListCompareItem", u8"与当前文件比较", [this] { CompareSelected(); });
  connect(ListMenu, &QMenu::aboutToShow, this, [this] {
    ListCompareItem->setText(ListView1->selectedItems().size() == 2 ? U(u8"比较所选的两个版本")
                                                                    : U(u8"与当前文件比较"));
  });

  auto onVersion = [this](void (Tmainw::*command)(int32_t, const std::string&)) {
    return [this, command] {
      int32_t fileNo = 0;
      std::string version;
      if (SelectedVersion(versionMenuFromList_, fileNo, version) && !version.empty())
        (this->*command)(fileNo, version);
    };
  };
  N7 = action(PopupMenu1, "N7", u8"恢复此版本", onVersion(&Tmainw::RestoreVersionClick));
  N8 = action(PopupMenu1, "N8", u8"另存为…", onVersion(&Tmainw::SaveVersionAsClick));
  N9 = action(PopupMenu1, "N9", u8"导出为 Git 仓库…", [this] {
    int32_t fileNo = 0;
    std::string version;
    if (SelectedVersion(versionMenuFromList_, fileNo, version)) ExportGitClick(fileNo);
  });
  N10 = action(PopupMenu1, "N10", u8"删除此版本", onVersion(&Tmainw::DeleteVersionClick));
  ProtectItem = action(PopupMenu1, "ProtectItem", u8"保护此版本", [this] {
    int32_t fileNo = 0;
    std::string version;
    if (SelectedVersion(versionMenuFromList_, fileNo, version) && !version.empty())
      ProtectVersionClick(fileNo, version, ProtectItem->isChecked());
  });
  ProtectItem->setCheckable(true);
  CleanupItem = action(PopupMenu1, "CleanupItem", u8"清理规则…", [this] { CleanupRulesClick(); });
  // The list's menu carries the same actions; which menu asked decides what they act on.
  ListMenu->addSeparator();
  ListMenu->addActions({N7, N8, N9, N10, ProtectItem});
  connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { UpdateVersionActions(false); });
  connect(ListMenu, &QMenu::aboutToShow, this, [this] { UpdateVersionActions(true); });

  pm1 = new QMenu(this);
  pm1->setObjectName(QStringLiteral("pm1"));
  MenuItem1 = action(pm1, "MenuItem1", u8"显示岚栖文件管理", [this] { MenuItem1Click(); });
  pm1->setDefaultAction(MenuItem1);
  MenuItem2 = action(pm1, "MenuItem2", u8"后台运行", [this] { MenuItem2Click(); });
  pm1->addSeparator()->setObjectName(QStringLiteral("MenuItem3"));
  MenuItem4 = action(pm1, "MenuItem4", u8"退出岚栖文件管理", [this] { MenuItem4Click(); });
}

void Tmainw::FormCreate() {
  try {
    // 1. The icons of the tree and the list.
    ImgSys = std::make_unique<TSystemImages>();
    TreeModel->SetImages(ImgSys.get(), style()->standardIcon(QStyle::SP_DialogApplyButton));
    // 2.
    TrayIcon1->SetMinimizeToTray(true);
    // 3.
    PendingFiles = std::make_unique<TStringList>();
    DriveWatchers.clear();
    // 4.
    CreateDriveWatchers();
    // 5. Files dropped on the tree are added to the selected area.
    TreeView1->setAcceptDrops(true);
    TreeView1->viewport()->setAcceptDrops(true);
    // 6.
    qApp->installEventFilter(this);
    // 7.
    LoadCatalog(setup_.CatalogPath);
    // 8. A stored true changes the box, and the change runs StartCheckClick as a click does; its
    // failure ends the creation here, with one message.
    bool startAtLogon = LoadSettings(setup_.SettingsFolder);
    if (StartCheck->isChecked() != startAtLogon) {
      {
        QSignalBlocker quiet(StartCheck);
        StartCheck->setChecked(startAtLogon);
      }
      StartCheckClick();
    }
    RegisterAutoRun(AppTitle(), setup_.ExePath, startAtLogon);
    SetAutoMonitor(LoadAutoMonitor(setup_.SettingsFolder), false);
    // 9.
    WebBrowser1->setHtml(QString::fromUtf8(kStartPage));
  } catch (const std::exception& e) {
    // The window opens with what was done so far.
    ShowError(e);
  }
}

int Tmainw::ExecDialog(QDialog& dialog) {
  if (setup_.ExecDialog) return setup_.ExecDialog(dialog);
  return dialog.exec();
}

void Tmainw::ShowMessage(const QString& text) {
  if (setup_.ShowMessage) {
    setup_.ShowMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, isVisible() ? this : nullptr);
  box.exec();
}

void Tmainw::ShowError(const std::exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;  // a silent abort says nothing
  ShowMessage(ScreenText(e.what()));
}

void Tmainw::Guard(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

// ---- tree nodes

std::string Tmainw::NodeText(const QModelIndex& node) {
  if (!node.isValid()) return {};
  return node.data(TCatalogTreeModel::kTextRole).toByteArray().toStdString();
}

int Tmainw::NodeLevel(const QModelIndex& node) {
  int level = -1;
  for (QModelIndex n = node; n.isValid(); n = n.parent()) ++level;
  return level;
}

int32_t Tmainw::NodeFileNo(const QModelIndex& node) {
  return node.isValid() ? node.data(TCatalogTreeModel::kFileNoRole).toInt() : 0;
}

TCatalogTreeModel::TKind Tmainw::NodeKind(const QModelIndex& node) {
  return TCatalogTreeModel::Kind(node);
}

int32_t Tmainw::FileNoOf(const QModelIndex& node) const {
  const TCatalogFile* file = TreeModel->FileOf(node);
  return file ? file->FileNo : 0;
}

void Tmainw::SetCurrentQuietly(const QModelIndex& node) {
  quietCurrent_ = true;
  struct TEnd {
    bool& quiet;
    ~TEnd() { quiet = false; }
  } end{quietCurrent_};
  if (node.isValid())
    TreeView1->setCurrentIndex(node);
  else
    TreeView1->selectionModel()->clearCurrentIndex();
}

void Tmainw::BeginTreeUpdate() {
  if (treeUpdates_++ == 0) TreeView1->setUpdatesEnabled(false);
}

void Tmainw::EndTreeUpdate() {
  if (treeUpdates_ > 0 && --treeUpdates_ == 0) TreeView1->setUpdatesEnabled(true);
}

// ---- window life

bool Tmainw::FormCloseQuery() {
  if (!TrayIcon1->MinimizeToTray() || ExitRequested) return true;
  TrayIcon1->HideToTray();
  TrayIcon1->SetIconVisible(true);
  return false;
}

void Tmainw::FormClose() {
  AbandonCapture();
  // A pass that was armed does not run after the window has gone, nor a reload.
  tmr1->SetEnabled(false);
  ReloadTimer->SetEnabled(false);
  FreeDriveWatchers();
  PendingFiles.reset();
  closed_ = true;
  emit closed();
}

void Tmainw::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

bool Tmainw::QueryEndSession() {
  ExitRequested = true;
  close();
  return closed_;
}

void Tmainw::MenuItem1Click() {
  TrayIcon1->RestoreFromTray();
}

void Tmainw::MenuItem2Click() {
  TrayIcon1->HideToTray();
}

void Tmainw::MenuItem4Click() {
  ExitRequested = true;
  close();
}

void Tmainw::AppMenu1MenuItemClick(int index) {
  if (index == 0)
    MenuItem2Click();
  else
    MenuItem4Click();
}

void Tmainw::StartCheckClick() {
  bool on = StartCheck->isChecked();
  RegisterAutoRun(AppTitle(), setup_.ExePath, on);
  // Not reached when the autostart entry could not be written.
  SaveSettings(setup_.SettingsFolder, on);
}

// ---- commands

void Tmainw::GlowButton13Click() {
  TCreatDataAreaW dialog(this);
  ExecDialog(dialog);
  if (dialog.ResultCode != 1) return;
  QString folderText = dialog.Edit1->text();
  QString nameText = dialog.Edit2->text();
  std::string folder, name;
  bool folderOk = false;
  try {
    folder = Utf8ToAnsi(folderText.toStdString());
    folderOk = DirectoryExists(folder);
  } catch (const EConvertError&) {
    // A folder the catalog cannot hold is refused like a missing one would be, with its own text.
    ShowMessage(U(u8"文件路径含有无法保存的字符：") + folderText);
    return;
  }
  if (!folderOk) ShowMessage(U(u8"目录不存在"));
  if (nameText.isEmpty()) ShowMessage(U(u8"输入存储区名称有错"));
  if (!folderOk || nameText.isEmpty()) return;
  name = Utf8ToAnsi(nameText.toStdString());
  AddArea(name, folder);
  TCatalogArea area;
  area.Name = name;
  area.Folder = folder;
  TreeModel->AddArea(std::move(area));
}

void Tmainw::GlowButton8Click() {
  if (ExecDialog(*dlgOpen) != QDialog::Accepted) return;
  QStringList chosen = dlgOpen->selectedFiles();
  if (chosen.isEmpty()) return;
  if (!TreeView1->currentIndex().isValid()) return;
  AddPathToSelectedArea(QDir::toNativeSeparators(chosen.first()));
}

void Tmainw::AddPathToSelectedArea(const QString& pathText) {
  const QModelIndex area = TreeView1->currentIndex();
  if (!area.isValid()) return;
  std::string path;
  try {
    path = Utf8ToAnsi(pathText.toStdString());
  } catch (const EConvertError&) {
    ShowMessage(U(u8"文件路径含有无法保存的字符：") + pathText);
    return;
  }
  // A folder dropped or picked is offered for tracking as a folder.
  if (DirectoryExists(path)) {
    TrackFolderAsked(path);
    return;
  }
  // Files go to an area; another node selected adds nothing.
  if (NodeKind(area) != TKind::Area) return;
  const int areaPos = TreeModel->PlaceOf(area).Area;
  int32_t fileNo = 0;
  if (!AddFileToArea(NodeText(area), path, &fileNo)) return;
  TCatalogFile file;
  file.FileNo = fileNo;
  file.Path = path;
  const TPlace added = TreeModel->AddFile(areaPos, std::move(file));
  verinfo info;
  if (CaptureVersion(path, "", info)) TreeModel->AddVersion(added, info.Version);
}

bool Tmainw::HandleAppMessage(QObject* watched, QEvent* event) {
  if (watched != TreeView1->viewport() && watched != TreeView1) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (!drag->mimeData()->hasUrls()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!drop->mimeData()->hasUrls()) return false;
      drop->acceptProposedAction();
      // The drop position does not matter: every local path goes to the selected area.
      for (const QUrl& url : drop->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        if (!TreeView1->currentIndex().isValid()) continue;
        QString path = QDir::toNativeSeparators(url.toLocalFile());
        Guard([this, &path] { AddPathToSelectedArea(path); });
      }
      return true;
    }
    default:
      return false;
  }
}

bool Tmainw::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TreeView1->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    TreeView1MouseDown(mouse->button(), mouse->position().toPoint());
  }
  if (HandleAppMessage(watched, event)) return true;
  return QWidget::eventFilter(watched, event);
}

void Tmainw::TreeView1MouseDown(Qt::MouseButton button, const QPoint& pos) {
  if (button != Qt::RightButton) return;
  if (QModelIndex node = TreeView1->indexAt(pos); node.isValid()) TreeView1->setCurrentIndex(node);
}

void Tmainw::TreeView1Change() {
  FillList(TreeView1->currentIndex());
}

void Tmainw::ApplySearch() {
  const QString needle = SearchEdit->text().trimmed();
  const bool all = needle.isEmpty();
  // One read of the version table serves every key stroke until the catalog changes.
  if (!all && !notesRead_) ReadNotes();
  BeginTreeUpdate();
  struct TEnd {
    Tmainw* w;
    ~TEnd() { w->EndTreeUpdate(); }
  } end{this};
  const QModelIndex before = TreeView1->currentIndex();
  const TPlace current = before.isValid() ? TreeModel->PlaceOf(before) : searchKept_;
  if (all && !TreeModel->Searching()) {
    // Nothing was narrowed: the selected node is brought back into view, as it was picked.
    if (before.isValid()) TreeView1->scrollTo(before);
    return;
  }
  if (all) {
    TreeModel->ClearSearch();
  } else {
    auto holds = [&](const QString& text) { return text.contains(needle, Qt::CaseInsensitive); };
    auto noteHolds = [&](int32_t fileNo, const std::string& version) {
      auto notes = notes_.find(fileNo);
      if (notes == notes_.end()) return false;
      auto note = notes->second.find(version);
      return note != notes->second.end() && holds(note->second);
    };
    TreeModel->Search(holds, noteHolds);
  }
  // The model showed other rows: the tree opens every node again, and the node that was current
  // is current again while the search shows it (the list keeps what it showed).
  TreeView1->expandAll();
  const QModelIndex again = TreeModel->IndexOf(current);
  SetCurrentQuietly(again);
  searchKept_ = again.isValid() ? TPlace{} : current;
  // With the search cleared the selected node is brought back into view, as it was picked.
  if (all && again.isValid()) TreeView1->scrollTo(again);
}

void Tmainw::AddListRow(const std::string& version, const verinfo& info) {
  auto* row = new QTreeWidgetItem(ListView1);
  row->setText(0, ScreenText(version));
  row->setData(0, kTextRole, QByteArray::fromStdString(version));
  row->setText(1, info.Size.empty() ? QString() : ScreenText(SizeText(info.Size)));
  row->setText(2, ScreenText(info.Note));
  if (info.FileNo && IsProtectedVersion(info.FileNo, version)) row->setIcon(0, ProtectedIcon());
}

void Tmainw::FillList(const QModelIndex& node) {
  ListView1->clear();
  const TCatalogFile* file = TreeModel->FileOf(node);
  if (!file) return;
  if (NodeKind(node) == TKind::File) {
    // Every version of the file, newest first, also those a search leaves out of the tree.
    const std::vector<std::string> versions(file->Versions.rbegin(), file->Versions.rend());
    for (const std::string& version : versions) {
      // A version that is not found shows its text alone, never the row before it.
      verinfo info;
      FindVersionInfo(file->FileNo, version, info);
      AddListRow(version, info);
    }
  } else {
    verinfo info;
    std::string version = NodeText(node);
    FindVersionInfo(file->FileNo, version, info);
    AddListRow(version, info);
  }
}

std::string Tmainw::SelectedTargetPath() {
  const QModelIndex node = TreeView1->currentIndex();
  const TKind kind = NodeKind(node);
  if (kind != TKind::File && kind != TKind::Version) return {};
  TreeView1->expandRecursively(node);
  TreeView1->expand(node);
  verinfo info;
  if (kind == TKind::Version) {
    FindVersionInfo(FileNoOf(node), NodeText(node), info);
  } else {
    FindFileInfo(FileNoOf(node), info);
  }
  return info.FilePath;
}

void Tmainw::TreeView1DblClick() {
  const QModelIndex node = TreeView1->currentIndex();
  if (NodeLevel(node) <= 0) return;
  std::string path = SelectedTargetPath();
  if (!path.empty()) Shell().OpenDocument(path);
}

void Tmainw::N6Click() {
  const QModelIndex node = TreeView1->currentIndex();
  if (NodeLevel(node) <= 0) return;
  std::string path = SelectedTargetPath();
  if (!path.empty()) Shell().ShowInFileManager(path);
}

void Tmainw::N5Click() {
  const QModelIndex node = TreeView1->currentIndex();
  if (!node.isValid()) return;
  const TPlace place = TreeModel->PlaceOf(node);
  const int32_t fileNo = FileNoOf(node);
  const std::string text = NodeText(node);
  TFormVerSm dialog(this);
  dialog.tmr1->SetEnabled(false);
  dialog.NoteLimit = NoteRoom();
  dialog.Label1->setText(ScreenText(text));
  ExecDialog(dialog);
  if (dialog.ResultCode == 1 && place.Kind == TKind::Version) {
    SetVersionNote(fileNo, text, Utf8ToAnsi(dialog.Edit1->toPlainText().toStdString()));
    FillList(TreeView1->currentIndex());
  }
}

void Tmainw::N2Click() {
  const QModelIndex node = TreeView1->currentIndex();
  if (NodeKind(node) != TKind::File) return;
  const TPlace place = TreeModel->PlaceOf(node);
  RemoveTrackedFile(NodeFileNo(node));
  TreeModel->Remove(place);
}

void Tmainw::CompareSelected() {
  const QModelIndex node = TreeView1->currentIndex();
  const TCatalogFile* entry = TreeModel->FileOf(node);
  if (!entry) {
    ShowMessage(U(u8"请先选择要比较的版本"));
    return;
  }
  const int level = NodeKind(node) == TKind::Version ? 2 : 1;
  const int32_t fileNo = entry->FileNo;
  const std::string filePath = entry->Path;
  const bool hasVersions = !entry->Versions.empty();
  const std::string newest = hasVersions ? entry->Versions.back() : std::string();
  // The versions picked: the list's selected rows, else the version node, else the file's newest.
  std::vector<std::string> versions;
  for (QTreeWidgetItem* row : ListView1->selectedItems())
    versions.push_back(row->data(0, kTextRole).toByteArray().toStdString());
  if (versions.size() != 2) {
    versions.clear();
    if (QTreeWidgetItem* row = ListView1->currentItem(); row && row->isSelected() && level == 1)
      versions.push_back(row->data(0, kTextRole).toByteArray().toStdString());
    else if (level == 2)
      versions.push_back(NodeText(node));
    else if (hasVersions)
      versions.push_back(newest);
  }
  if (versions.empty()) {
    ShowMessage(U(u8"该文件还没有版本"));
    return;
  }
  // Older on the left: stamps sort as the times they name.
  std::sort(versions.begin(), versions.end());
  auto versionSide = [&](const std::string& version) -> std::optional<TCompareSide> {
    verinfo info;
    if (!FindVersionInfo(fileNo, version, info) || !FileExists(info.FilePath)) {
      ShowMessage(U(u8"版本文件不存在：") + ScreenText(version));
      return std::nullopt;
    }
    return TCompareSide{info.FilePath, U(u8"版本 ") + ScreenText(version)};
  };
  std::optional<TCompareSide> left = versionSide(versions[0]);
  if (!left) return;
  std::optional<TCompareSide> right;
  bool rightIsCurrent = versions.size() == 1;
  if (rightIsCurrent) {
    verinfo file;
    if (!FindFileInfo(fileNo, file) || !FileExists(file.FilePath)) {
      ShowMessage(U(u8"文件不存在：") + ScreenText(file.FilePath.empty() ? filePath : file.FilePath));
      return;
    }
    right = TCompareSide{file.FilePath, U(u8"当前文件 ") + ScreenText(file.FilePath)};
  } else {
    right = versionSide(versions[1]);
    if (!right) return;
  }
  auto* window = new TCompareWindow(*left, *right, rightIsCurrent, this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->ShowMessage = [this](const QString& text) { ShowMessage(text); };
  window->show();
}

// ---- version commands

bool Tmainw::SelectedVersion(bool fromList, int32_t& fileNo, std::string& version) {
  const QModelIndex node = TreeView1->currentIndex();
  const TKind kind = NodeKind(node);
  if (kind != TKind::File && kind != TKind::Version) return false;
  fileNo = FileNoOf(node);
  version.clear();
  if (fromList) {
    // The row under the mouse: each row carries its version text.
    QTreeWidgetItem* row = ListView1->currentItem();
    if (!row) return false;
    version = row->data(0, kTextRole).toByteArray().toStdString();
  } else if (kind == TKind::Version) {
    version = NodeText(node);
  }
  return fileNo != 0;
}

void Tmainw::UpdateVersionActions(bool fromList) {
  versionMenuFromList_ = fromList;
  int32_t fileNo = 0;
  std::string version;
  bool onFile = SelectedVersion(fromList, fileNo, version);
  bool onVersion = onFile && !version.empty();
  for (QAction* a : {N7, N8, N10, ProtectItem}) a->setVisible(onVersion);
  N9->setVisible(onFile);
  ProtectItem->setChecked(onVersion && IsProtectedVersion(fileNo, version));
  std::string area;
  CleanupItem->setVisible(!fromList && NodeLevel(TreeView1->currentIndex()) == 0 && SelectedAreaName(area));
  N11->setVisible(!fromList && NodeKind(TreeView1->currentIndex()) == TKind::Folder);
}

namespace {

// Puts the new version nodes at the top of the file's node, newest first.
void AddVersionNodes(Tmainw& w, int32_t fileNo, const std::vector<std::string>& versions) {
  const TPlace file = w.TreeModel->FindFileNo(fileNo);
  if (file.Kind == TKind::None) return;
  for (const std::string& v : versions) w.TreeModel->AddVersion(file, v);
}

}  // namespace

void Tmainw::RestoreVersionClick(int32_t fileNo, const std::string& version) {
  TRestoreResult r = catalog_->RestoreVersion(fileNo, version);
  std::vector<std::string> added;
  if (r.SavedCurrent) added.push_back(r.Saved.Version);
  added.push_back(r.Restored.Version);
  AddVersionNodes(*this, fileNo, added);
  FillList(TreeView1->currentIndex());
}

void Tmainw::SaveVersionAsClick(int32_t fileNo, const std::string& version) {
  verinfo v;
  if (!catalog_->FindVersionInfo(fileNo, version, v)) return;
  QFileDialog dialog(this, U(u8"另存为"));
  dialog.setObjectName(QStringLiteral("dlgSave"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  verinfo file;
  if (catalog_->FindFileInfo(fileNo, file)) dialog.selectFile(ScreenText(ExtractFileName(file.FilePath)));
  if (ExecDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString target = QDir::toNativeSeparators(dialog.selectedFiles().first());
  std::string path;
  try {
    path = Utf8ToAnsi(target.toStdString());
  } catch (const EConvertError&) {
    ShowMessage(U(u8"文件路径含有无法保存的字符：") + target);
    return;
  }
  catalog_->SaveVersionAs(fileNo, version, path);
}

void Tmainw::ExportGitClick(int32_t fileNo) {
  verinfo file;
  if (!catalog_->FindFileInfo(fileNo, file)) return;
  QFileDialog dialog(this, U(u8"导出为 Git 仓库"));
  dialog.setObjectName(QStringLiteral("dlgExport"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // A new folder beside the file, named after it.
  dialog.selectFile(ScreenText(file.FilePath + "-git"));
  if (ExecDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString target = QDir::toNativeSeparators(dialog.selectedFiles().first());
  std::string folder;
  try {
    folder = Utf8ToAnsi(target.toStdString());
  } catch (const EConvertError&) {
    ShowMessage(U(u8"文件路径含有无法保存的字符：") + target);
    return;
  }
  int commits = catalog_->ExportGitRepository(fileNo, folder);
  ShowMessage(U(u8"已导出 %1 个版本到 %2").arg(commits).arg(target));
}

void Tmainw::DeleteVersionClick(int32_t fileNo, const std::string& version) {
  QMessageBox confirm(QMessageBox::Question, windowTitle(),
                      U(u8"确定删除版本 %1 吗？此版本的备份文件也将删除。").arg(ScreenText(version)),
                      QMessageBox::Yes | QMessageBox::No, isVisible() ? this : nullptr);
  confirm.setObjectName(QStringLiteral("dlgConfirmDelete"));
  if (ExecDialog(confirm) != QMessageBox::Yes) return;
  if (!catalog_->DeleteVersion(fileNo, version)) return;
  // The file's newest node of that version text goes.
  const TPlace file = TreeModel->FindFileNo(fileNo);
  if (file.Kind != TKind::None) {
    const std::vector<std::string>& versions = TreeModel->Tree()[file.Area].Files[file.File].Versions;
    for (size_t v = versions.size(); v-- > 0;) {
      if (versions[v] != version) continue;
      TreeModel->Remove(TPlace{TKind::Version, file.Area, file.File, static_cast<int>(v)});
      break;
    }
  }
  FillList(TreeView1->currentIndex());
}

}  // namespace lanqi
