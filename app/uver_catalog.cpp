// The window's side of the catalog: its load into the tree; the operations are TVersionCatalog's.
#include <QApplication>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>

#include "app/CatalogSchema.h"
#include "app/uver.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Timer.h"

namespace lanqi {

void Tmainw::LoadCatalog(const std::string& catalogPath) {
  Tbarea = catalog_->Tbarea;
  Tbfileid = catalog_->Tbfileid;
  Tbfilever = catalog_->Tbfilever;
  catalog_->Open(catalogPath);
  // Another program (the command line, radezi) may write the catalog while the window is open.
  if (!CatalogWatcher->files().isEmpty()) CatalogWatcher->removePaths(CatalogWatcher->files());
  CatalogWatcher->addPath(QString::fromStdString(catalogPath));
  notesRead_ = false;
  FillTree(catalog_->ReadTree());
  ListView1->clear();
}

void Tmainw::FillTree(std::vector<TCatalogArea> tree) {
  BeginTreeUpdate();
  struct TEnd {
    Tmainw* w;
    ~TEnd() { w->EndTreeUpdate(); }
  } end{this};
  // The model keeps the catalog's vectors; the view asks for the rows it shows.
  searchKept_ = {};
  TreeModel->SetTree(std::move(tree));
  TreeView1->expandAll();
}

void Tmainw::ReadNotes() {
  notes_.clear();
  Tbfilever->SetFiltered(false);
  Tbfilever->Open();
  TField* fileNo = Tbfilever->FieldByName(CatalogNames().fileNo);
  TField* version = Tbfilever->FieldByName(CatalogNames().version);
  TField* note = Tbfilever->FieldByName(CatalogNames().note);
  for (Tbfilever->First(); !Tbfilever->Eof(); Tbfilever->Next()) {
    std::string text = note->AsString();
    if (!text.empty()) notes_[fileNo->AsInteger()][version->AsString()] = ScreenText(text);
  }
  notesRead_ = true;
}

void Tmainw::CatalogFileChanged() {
  // A program that replaces the file instead of writing it in place ends the watch: it starts
  // again on the new file.
  const std::string path = Tbfilever ? Tbfilever->DatabaseName() : std::string();
  if (!path.empty() && CatalogWatcher->files().isEmpty() && FileExists(path))
    CatalogWatcher->addPath(QString::fromStdString(path));
  // One reload per burst of writes, after the last of them.
  ReloadTimer->SetEnabled(false);
  ReloadTimer->SetEnabled(true);
}

void Tmainw::ReloadCatalog() {
  ReloadTimer->SetEnabled(false);
  if (closed_ || !Tbfilever || !Tbfilever->Active()) return;
  // A detection pass or a command is under way (its prompt is open): the reload follows it.
  if (treeUpdates_ > 0 || QApplication::activeModalWidget()) {
    ReloadTimer->SetEnabled(true);
    return;
  }
  const std::string path = Tbfilever->DatabaseName();
  // Closed and opened again, the tables read what the other program wrote.
  Tbfilever->Close();
  Tbfileid->Close();
  Tbarea->Close();
  catalog_->Open(path);
  notesRead_ = false;
  std::vector<TCatalogArea> tree = catalog_->ReadTree();
  // The list rows by their version texts (the list's rows carry them as the tree's nodes do).
  std::vector<QByteArray> rows;
  for (QTreeWidgetItem* row : ListView1->selectedItems())
    rows.push_back(row->data(0, Qt::UserRole).toByteArray());
  if (TreeModel->Shows(tree)) {
    // Notes and sizes may have changed under an unchanged tree.
    FillList(TreeView1->currentIndex());
  } else {
    // The selected node (or the one a search hides) is found again by its texts and its file's
    // number.
    const QModelIndex current = TreeView1->currentIndex();
    const TCatalogTreeModel::TPlace place = current.isValid() ? TreeModel->PlaceOf(current) : searchKept_;
    std::vector<std::string> trail;
    int32_t fileNo = 0;
    if (place.Kind != TCatalogTreeModel::TKind::None) {
      const TCatalogArea& area = TreeModel->Tree()[place.Area];
      trail.push_back(area.Name);
      if (place.Kind == TCatalogTreeModel::TKind::Folder) {
        trail.push_back(area.Folders[place.Item].Path);
      } else if (place.File >= 0) {
        const TCatalogFile& file = area.Files[place.File];
        trail.push_back(file.Path);
        fileNo = file.FileNo;
        if (place.Kind == TCatalogTreeModel::TKind::Version) trail.push_back(file.Versions[place.Item]);
      }
    }
    FillTree(std::move(tree));
    QModelIndex found;
    for (size_t level = 0; level < trail.size(); ++level) {
      const int count = TreeModel->rowCount(found);
      QModelIndex next;
      for (int i = 0; i < count && !next.isValid(); ++i) {
        const QModelIndex n = TreeModel->index(i, 0, found);
        if (NodeText(n) == trail[level] && (level != 1 || NodeFileNo(n) == fileNo)) next = n;
      }
      if (!next.isValid()) break;
      found = next;
    }
    SetCurrentQuietly(found);
    FillList(found);
  }
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    if (std::find(rows.begin(), rows.end(), row->data(0, Qt::UserRole).toByteArray()) != rows.end())
      row->setSelected(true);
  }
  if (!SearchEdit->text().trimmed().isEmpty()) ApplySearch();
}

int32_t Tmainw::NoteRoom() {
  return catalog_->NoteRoom();
}

void Tmainw::AddArea(const std::string& name, const std::string& folder) {
  catalog_->AddArea(name, folder);
}

bool Tmainw::AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo) {
  return catalog_->AddFileToArea(areaName, path, fileNo);
}

bool Tmainw::CaptureVersion(const std::string& path, const std::string& note, verinfo& info) {
  notesRead_ = false;
  return catalog_->CaptureVersion(path, note, info);
}

bool Tmainw::FindFileInfo(int32_t fileNo, verinfo& info) {
  return catalog_->FindFileInfo(fileNo, info);
}

bool Tmainw::FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info) {
  return catalog_->FindVersionInfo(fileNo, version, info);
}

void Tmainw::SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note) {
  notesRead_ = false;
  catalog_->SetVersionNote(fileNo, version, note);
}

void Tmainw::RemoveTrackedFile(int32_t fileNo) {
  catalog_->RemoveTrackedFile(fileNo);
}

}  // namespace lanqi
