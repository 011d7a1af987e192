// The window's side of the catalog: its load into the tree; the operations are TVersionCatalog's.
#include <QApplication>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>

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

void Tmainw::FillTree(const std::vector<TCatalogArea>& tree) {
  BeginTreeUpdate();
  struct TEnd {
    Tmainw* w;
    ~TEnd() { w->EndTreeUpdate(); }
  } end{this};
  TreeView1->clear();
  QList<QTreeWidgetItem*> areas;
  for (const TCatalogArea& a : tree) {
    QTreeWidgetItem* area = NewNode(a.Name, 0);
    areas.append(area);
    // The file added last at the top, the newest version first.
    QList<QTreeWidgetItem*> fileNodes;
    for (auto f = a.Files.rbegin(); f != a.Files.rend(); ++f) {
      int image = ImgSys ? ImgSys->SystemIconIndex(f->Path) : 0;
      QTreeWidgetItem* file = NewNode(f->Path, image, f->FileNo);
      fileNodes.append(file);
      QList<QTreeWidgetItem*> versionNodes;
      for (auto v = f->Versions.rbegin(); v != f->Versions.rend(); ++v)
        versionNodes.append(NewNode(*v, image));
      file->addChildren(versionNodes);
    }
    area->addChildren(fileNodes);
  }
  TreeView1->addTopLevelItems(areas);
  TreeView1->expandAll();
}

bool Tmainw::TreeShows(const std::vector<TCatalogArea>& tree) {
  if (TreeView1->topLevelItemCount() != static_cast<int>(tree.size())) return false;
  for (size_t a = 0; a < tree.size(); ++a) {
    QTreeWidgetItem* area = TreeView1->topLevelItem(static_cast<int>(a));
    const std::vector<TCatalogFile>& files = tree[a].Files;
    if (NodeText(area) != tree[a].Name || area->childCount() != static_cast<int>(files.size())) return false;
    for (size_t f = 0; f < files.size(); ++f) {
      const TCatalogFile& file = files[files.size() - 1 - f];
      QTreeWidgetItem* node = area->child(static_cast<int>(f));
      if (NodeFileNo(node) != file.FileNo || NodeText(node) != file.Path ||
          node->childCount() != static_cast<int>(file.Versions.size()))
        return false;
      for (size_t v = 0; v < file.Versions.size(); ++v)
        if (NodeText(node->child(static_cast<int>(v))) != file.Versions[file.Versions.size() - 1 - v])
          return false;
    }
  }
  return true;
}

void Tmainw::ReadNotes() {
  notes_.clear();
  Tbfilever->SetFiltered(false);
  Tbfilever->Open();
  TField* fileNo = Tbfilever->FieldByName(Ansi(u8"文件序号"));
  TField* version = Tbfilever->FieldByName(Ansi(u8"版本"));
  TField* note = Tbfilever->FieldByName(Ansi(u8"说明"));
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
  for (QTreeWidgetItem* row : ListView1->selectedItems()) rows.push_back(row->data(0, Qt::UserRole).toByteArray());
  if (TreeShows(tree)) {
    // Notes and sizes may have changed under an unchanged tree.
    FillList(TreeView1->currentItem());
  } else {
    // The selected node is found again by its texts and its file's number.
    std::vector<std::string> trail;
    int32_t fileNo = 0;
    for (QTreeWidgetItem* n = TreeView1->currentItem(); n; n = n->parent()) {
      trail.insert(trail.begin(), NodeText(n));
      if (NodeLevel(n) == 1) fileNo = NodeFileNo(n);
    }
    QSignalBlocker quiet(TreeView1);
    FillTree(tree);
    QTreeWidgetItem* found = nullptr;
    for (size_t level = 0; level < trail.size(); ++level) {
      int count = found ? found->childCount() : TreeView1->topLevelItemCount();
      QTreeWidgetItem* next = nullptr;
      for (int i = 0; i < count && !next; ++i) {
        QTreeWidgetItem* n = found ? found->child(i) : TreeView1->topLevelItem(i);
        if (NodeText(n) == trail[level] && (level != 1 || NodeFileNo(n) == fileNo)) next = n;
      }
      if (!next) break;
      found = next;
    }
    TreeView1->setCurrentItem(found);
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
