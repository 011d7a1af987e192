// The "网络管理" and "报表" pages: the files whose stamps are checked at an interval because no
// change report covers them, and the catalog's report with its charts and CSV export.
#include <sys/stat.h>

#include <QDir>
#include <QFileDialog>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <ctime>

#include "app/CatalogReport.h"
#include "app/NetworkPage.h"
#include "app/PolledFiles.h"
#include "app/ReportPage.h"
#include "app/Ribbon.h"
#include "app/uver.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Timer.h"

namespace lanqi {

namespace {

QString U(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

std::string NowText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The catalog file's time and size: what changes when anyone writes the catalog.
std::string FileStampOf(const std::string& path) {
  struct stat st {};
  try {
    if (::stat(ToOsPath(path).c_str(), &st) != 0) return {};
  } catch (const std::exception&) {
    return {};
  }
  return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
         std::to_string(st.st_size);
}

}  // namespace

void Tmainw::BuildReportPages(int netPage, int reportPage) {
  GlowButton4 = Ribbon1->AddButton(netPage, QStringLiteral("GlowButton4"), U(u8"增加监控文件"),
                                   style()->standardIcon(QStyle::SP_FileIcon));
  GlowButton1 = Ribbon1->AddButton(netPage, QStringLiteral("GlowButton1"), U(u8"立即检查"),
                                   style()->standardIcon(QStyle::SP_BrowserReload));
  PollIntervalEdit = new QSpinBox;
  PollIntervalEdit->setObjectName(QStringLiteral("PollIntervalEdit"));
  PollIntervalEdit->setRange(kMinPollSeconds, kMaxPollSeconds);
  PollIntervalEdit->setPrefix(U(u8"检查间隔 "));
  PollIntervalEdit->setSuffix(U(u8" 秒"));
  PollIntervalEdit->setValue(LoadPollInterval(setup_.SettingsFolder));
  Ribbon1->AddWidget(netPage, PollIntervalEdit);
  GlowButton5 = Ribbon1->AddButton(reportPage, QStringLiteral("GlowButton5"), U(u8"刷新报表"),
                                   style()->standardIcon(QStyle::SP_BrowserReload));
  GlowButton6 = Ribbon1->AddButton(reportPage, QStringLiteral("GlowButton6"), U(u8"导出 CSV"),
                                   style()->standardIcon(QStyle::SP_DialogSaveButton));

  NetworkPage1 = new TNetworkPage;
  NetworkPage1->setObjectName(QStringLiteral("NetworkPage1"));
  PageControl1->addTab(NetworkPage1, U(u8"网络文件"));
  ReportPage1 = new TReportPage;
  ReportPage1->setObjectName(QStringLiteral("ReportPage1"));
  PageControl1->addTab(ReportPage1, U(u8"报表"));
  PolledFiles = std::make_unique<TPolledFiles>();

  PollTimer = components_.Create<TTimer>();
  PollTimer->SetName("PollTimer");
  PollTimer->SetInterval(PollIntervalEdit->value() * 1000);
  PollTimer->OnTimer = [this](TObject*) { Guard([this] { PollTimerTimer(); }); };
  PollTimer->SetEnabled(true);

  connect(GlowButton4, &QToolButton::clicked, this, [this] { Guard([this] { AddPolledFileClick(); }); });
  connect(GlowButton1, &QToolButton::clicked, this, [this] { Guard([this] { PollTimerTimer(); }); });
  connect(PollIntervalEdit, &QSpinBox::valueChanged, this,
          [this](int seconds) { Guard([this, seconds] { SetPollInterval(seconds); }); });
  connect(GlowButton5, &QToolButton::clicked, this, [this] { Guard([this] { RefreshReport(); }); });
  connect(GlowButton6, &QToolButton::clicked, this, [this] { Guard([this] { ExportReportClick(); }); });
  // The ribbon's page shows its tab: the tree for "文件管理", the lists for the other two.
  connect(Ribbon1->Pages(), &QTabWidget::currentChanged, this, [this, netPage, reportPage](int page) {
    QWidget* tab = page == netPage      ? static_cast<QWidget*>(NetworkPage1)
                   : page == reportPage ? static_cast<QWidget*>(ReportPage1)
                   : page == 0          ? PageControl1->widget(0)
                                        : nullptr;
    if (!tab) return;
    if (PageControl1->currentWidget() == tab)
      Guard([this, tab] {
        if (tab == ReportPage1) RefreshReport();
        if (tab == NetworkPage1) RefreshPolledFiles(false);
      });
    PageControl1->setCurrentWidget(tab);
  });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) {
    Guard([this] {
      if (PageControl1->currentWidget() == ReportPage1) RefreshReport();
      if (PageControl1->currentWidget() == NetworkPage1) RefreshPolledFiles(false);
    });
  });
}

void Tmainw::RefreshReport() {
  if (!Tbfileid || !Tbfileid->Active()) return;
  ReportPage1->Show(BuildCatalogReport(*catalog_, LocalToday()));
}

void Tmainw::ExportReportClick() {
  RefreshReport();
  QFileDialog dialog(this, U(u8"导出 CSV"));
  dialog.setObjectName(QStringLiteral("dlgExportCsv"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(U(u8"CSV 文件 (*.csv)"));
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.selectFile(U(u8"版本报表.csv"));
  if (ExecDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString target = QDir::toNativeSeparators(dialog.selectedFiles().first());
  // Through a temporary file and a rename: a failed export leaves an older file as it was.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (!ReplaceFileContents(target.toStdString(), ReportCsv(ReportPage1->Report()), 0666u & ~mask))
    ShowMessage(U(u8"导出失败：") + target);
}

void Tmainw::AddPolledFileClick() {
  GlowButton8Click();
  RefreshPolledFiles(true);
}

void Tmainw::RefreshPolledFiles(bool force) {
  if (!Tbfileid || !Tbfileid->Active()) return;
  std::string stamp = FileStampOf(setup_.CatalogPath);
  if (force || stamp.empty() || stamp != PolledFiles->CatalogStamp) {
    TMountView mounts(setup_.DriveRoots ? *setup_.DriveRoots : FixedDriveRoots());
    std::function<bool(const std::string&)> polled = setup_.Polled;
    if (!polled) polled = [&mounts](const std::string& path) { return mounts.NeedsPolling(path); };
    PolledFiles->Rebuild(catalog_->ReadTree(), polled,
                         [&mounts](const std::string& path) { return mounts.PlaceOf(path); });
    PolledFiles->CatalogStamp = stamp;
  }
  NetworkPage1->Show(PolledFiles->Files(), PollIntervalEdit->value());
}

void Tmainw::PollTimerTimer() {
  if (closed_) return;
  RefreshPolledFiles(false);
  // The checks are part of "自动监测": off, nothing is looked at; on again, its pass compares all.
  if (!Tbfileid || !Tbfileid->Active() || !AutoMonitor()) return;
  std::vector<std::string> changed = PolledFiles->Check(NowText());
  NetworkPage1->Show(PolledFiles->Files(), PollIntervalEdit->value());
  // Handed on as a change report: the pass that follows compares and captures them.
  for (const std::string& path : changed) FileSystemWatcher1Change(nullptr, foModified, path, "");
}

void Tmainw::SetPollInterval(int seconds) {
  SavePollInterval(setup_.SettingsFolder, seconds);
  PollTimer->SetInterval(seconds * 1000);
  NetworkPage1->Show(PolledFiles->Files(), seconds);
}

}  // namespace lanqi
