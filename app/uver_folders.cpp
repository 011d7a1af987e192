// Tracked folders in the main window ("增加目录", a dropped folder, "删除监控目录", the pass's step
// that tracks their new files) and the "自动监测" switch.
#include <QDir>
#include <QFileDialog>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>

#include "app/AutoMonitor.h"
#include "app/FolderTrackDialog.h"
#include "app/TrackedFolders.h"
#include "app/entry.h"
#include "app/uver.h"
#include "platform/CodePage.h"
#include "platform/Timer.h"
#include "rtl/Exceptions.h"
#include "tray/TrayIcon.h"

namespace lanqi {

namespace {

QString U(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

}  // namespace

void Tmainw::GlowButton9Click() {
  QFileDialog dialog(this, U(u8"选择要监控的目录"));
  dialog.setObjectName(QStringLiteral("dlgFolder"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (ExecDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString picked = QDir::toNativeSeparators(dialog.selectedFiles().first());
  std::string folder;
  try {
    folder = Utf8ToAnsi(picked.toStdString());
  } catch (const EConvertError&) {
    ShowMessage(U(u8"文件路径含有无法保存的字符：") + picked);
    return;
  }
  TrackFolderAsked(folder);
}

void Tmainw::TrackFolderAsked(const std::string& folder) {
  // The area of the selected node, as a file is added to it.
  QModelIndex area = TreeView1->currentIndex();
  while (area.parent().isValid()) area = area.parent();
  if (!area.isValid()) {
    ShowMessage(U(u8"请先选择存储区"));
    return;
  }
  TFolderTrackDialog dialog(ScreenText(folder), this);
  ExecDialog(dialog);
  if (dialog.ResultCode != 1) return;
  std::string include, exclude;
  try {
    include = Utf8ToAnsi(dialog.IncludeEdit->text().trimmed().toStdString());
    exclude = Utf8ToAnsi(dialog.ExcludeEdit->text().trimmed().toStdString());
  } catch (const EConvertError&) {
    ShowMessage(U(u8"文件名模式含有无法保存的字符"));
    return;
  }
  TFolderTracking done;
  if (!AddTrackedFolder(*catalog_, NodeText(area), folder, dialog.SubFolders->isChecked(), include, exclude,
                        &done))
    return;
  // The folder and its files show at once.
  ReloadCatalog();
  if (!done.Failures.empty()) {
    std::string text;
    for (const std::string& f : done.Failures) text += (text.empty() ? "" : "\n") + f;
    ShowMessage(ScreenText(text));
  }
}

void Tmainw::N11Click() {
  const QModelIndex node = TreeView1->currentIndex();
  if (NodeKind(node) != TCatalogTreeModel::TKind::Folder) return;
  const TCatalogTreeModel::TPlace place = TreeModel->PlaceOf(node);
  RemoveFolderClick(TreeModel->Tree()[place.Area].Folders[place.Item].FolderNo);
}

void Tmainw::RemoveFolderClick(int32_t folderNo) {
  if (!RemoveTrackedFolder(*catalog_, folderNo)) return;
  ReloadCatalog();
}

void Tmainw::TrackNewFolderFilesInPass() {
  TFolderTracking done;
  // A folder that cannot be walked does not stop the pass over the tracked files.
  Guard([&] { done = TrackNewFolderFiles(*catalog_); });
  for (const std::string& failure : done.Failures) {
    // A file that cannot be tracked fails again at every pass: it is reported once.
    if (std::find(folderFailuresShown_.begin(), folderFailuresShown_.end(), failure) !=
        folderFailuresShown_.end())
      continue;
    folderFailuresShown_.push_back(failure);
    ShowMessage(ScreenText(failure));
  }
  if (done.Paths.empty()) return;
  notesRead_ = false;
  // The tree takes the new files once the pass is over.
  ReloadTimer->SetEnabled(true);
}

void Tmainw::GlowButton11Click() {
  SetAutoMonitor(GlowButton11->isChecked(), true);
}

void Tmainw::SetAutoMonitor(bool on, bool fromUser) {
  autoMonitor_ = on;
  if (GlowButton11->isChecked() != on) {
    QSignalBlocker quiet(GlowButton11);
    GlowButton11->setChecked(on);
  }
  TrayIcon1->SetHint(on ? AppTitle() : AppTitle() + Ansi(u8"（自动监测已关闭）"));
  if (!on) {
    // A pass already armed does not run either.
    tmr1->SetEnabled(false);
    SetWatchersActive(false);
  } else {
    SetWatchersActive(true);
  }
  if (!fromUser) return;
  SaveAutoMonitor(setup_.SettingsFolder, on);
  // Saves made while it was off reported nothing: one pass finds them by their stamps.
  if (on) tmr1Timer();
}

}  // namespace lanqi
