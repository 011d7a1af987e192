// The window's side of cleanup: "保护此版本" in the version menus, the protected icon in the version
// list, and the cleanup dialog of an area.
#include <sys/stat.h>
#include <QAction>
#include <QMessageBox>
#include <QStyle>
#include <QTreeView>

#include "app/CatalogCleanup.h"
#include "app/CleanupDialog.h"
#include "app/uver.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace lanqi {

QIcon Tmainw::ProtectedIcon() const {
  return style()->standardIcon(QStyle::SP_DialogApplyButton);
}

bool Tmainw::IsProtectedVersion(int32_t fileNo, const std::string& version) {
  if (!Tbfilever || !Tbfilever->Active()) return false;
  // The marks are read again only when the catalog file changed (this window's writes or another
  // program's), so a list of many versions asks the file once.
  struct stat st {};
  std::pair<int64_t, int64_t> state{-1, -1};
  if (::stat(ToOsPath(Tbfilever->DatabaseName()).c_str(), &st) == 0)
    state = {static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
             static_cast<int64_t>(st.st_size)};
  if (state != marksRead_ || state.first < 0) {
    marks_ = TCatalogCleanup(*catalog_).ProtectedVersions();
    marksRead_ = state;
  }
  return marks_.count({fileNo, version}) > 0;
}

void Tmainw::ProtectVersionClick(int32_t fileNo, const std::string& version, bool on) {
  TCatalogCleanup(*catalog_).SetProtected(fileNo, version, on);
  marksRead_ = {-1, -1};
  // The tree and the list show the mark as the catalog now holds it.
  ReloadCatalog();
}

bool Tmainw::SelectedAreaName(std::string& name) {
  QModelIndex node = TreeView1->currentIndex();
  while (node.parent().isValid()) node = node.parent();
  if (!node.isValid()) return false;
  name = NodeText(node);
  return true;
}

void Tmainw::CleanupRulesClick() {
  std::string name;
  if (!SelectedAreaName(name)) return;
  int32_t areaNo = 0;
  for (const TCatalogArea& area : catalog_->ReadTree())
    if (area.Name == name) areaNo = area.AreaNo;
  if (!areaNo) return;
  TCatalogCleanup cleanup(*catalog_);
  TCleanupDialog dialog(cleanup, areaNo, name, this);
  dialog.Confirm = [this](const QString& text) {
    QMessageBox confirm(QMessageBox::Question, windowTitle(), text, QMessageBox::Yes | QMessageBox::No,
                        isVisible() ? this : nullptr);
    confirm.setObjectName(QStringLiteral("dlgConfirmCleanup"));
    return ExecDialog(confirm) == QMessageBox::Yes;
  };
  ExecDialog(dialog);
  if (!dialog.Removed.empty()) ReloadCatalog();
}

}  // namespace lanqi
