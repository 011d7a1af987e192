// The window's side of the catalog: its load into the tree; the operations are TVersionCatalog's.
#include <QTreeWidget>

#include "app/uver.h"
#include "engine/RadeZI.h"

namespace lanqi {

void Tmainw::LoadCatalog(const std::string& catalogPath) {
  Tbarea = catalog_->Tbarea;
  Tbfileid = catalog_->Tbfileid;
  Tbfilever = catalog_->Tbfilever;
  catalog_->Open(catalogPath);
  std::vector<TCatalogArea> tree = catalog_->ReadTree();

  BeginTreeUpdate();
  struct TEnd {
    Tmainw* w;
    ~TEnd() { w->EndTreeUpdate(); }
  } end{this};
  TreeView1->clear();
  ListView1->clear();
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
  return catalog_->CaptureVersion(path, note, info);
}

bool Tmainw::FindFileInfo(int32_t fileNo, verinfo& info) {
  return catalog_->FindFileInfo(fileNo, info);
}

bool Tmainw::FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info) {
  return catalog_->FindVersionInfo(fileNo, version, info);
}

void Tmainw::SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note) {
  catalog_->SetVersionNote(fileNo, version, note);
}

void Tmainw::RemoveTrackedFile(int32_t fileNo) {
  catalog_->RemoveTrackedFile(fileNo);
}

}  // namespace lanqi
