// The catalog: storage areas, tracked files and their versions in three tables of one database
// file, and its load into the tree.
#include <QTreeWidget>
#include <unordered_map>

#include "app/uver.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"
#include "rtl/NumText.h"

namespace lanqi {

namespace {

// Table and field names, as code-page bytes.
struct TCatalogNames {
  std::string areaTable = Ansi(u8"数据存储区");
  std::string fileTable = Ansi(u8"文件索引表");
  std::string versionTable = Ansi(u8"文件版本表");
  std::string areaNo = Ansi(u8"存储区序号");
  std::string name = Ansi(u8"名称");
  std::string folder = Ansi(u8"目录");
  std::string fileNo = Ansi(u8"文件序号");
  std::string sourceName = Ansi(u8"源文件名称");
  std::string backupFolder = Ansi(u8"备份文件目录");
  std::string size = Ansi(u8"大小");
  std::string note = Ansi(u8"说明");
  std::string version = Ansi(u8"版本");
  std::string extension = Ansi(u8"文件扩展名");
  std::string copyName = Ansi(u8"文件名称");
  std::string backupFailed = Ansi(u8"备份文件失败：%s");
};

const TCatalogNames& N() {
  static const TCatalogNames names;
  return names;
}

std::string Text(TRadeTable* t, const std::string& field) {
  return t->FieldByName(field)->AsString();
}

int32_t Int(TRadeTable* t, const std::string& field) {
  return t->FieldByName(field)->AsInteger();
}

// Makes the first row whose fields hold exactly these values (byte for byte, letter case
// included) current. The table's own search finds a row that its collation calls equal, which
// byte-equal texts always are; only when that row is not the very same text do we walk the rows.
bool LocateExact(TRadeTable* t, const std::vector<std::string>& fields, const std::vector<Variant>& values) {
  auto matches = [&] {
    for (size_t i = 0; i < fields.size(); ++i) {
      TField* f = t->FieldByName(fields[i]);
      if (values[i].Type() == varString) {
        if (f->AsString() != values[i].AsString()) return false;
      } else if (f->AsInteger() != values[i].AsInteger()) {
        return false;
      }
    }
    return true;
  };
  std::string keyFields;
  for (const std::string& f : fields) keyFields += (keyFields.empty() ? "" : ";") + f;
  Variant key = values.size() == 1 ? values[0] : Variant(values);
  if (!t->Locate(keyFields, key, TLocateOptions{})) return false;
  if (matches()) return true;
  for (t->First(); !t->Eof(); t->Next())
    if (matches()) return true;
  return false;
}

void Unfiltered(TRadeTable* t) {
  t->SetFiltered(false);
  t->Open();
}

}  // namespace

void Tmainw::LoadCatalog(const std::string& catalogPath) {
  if (!Tbarea) {
    Tbarea = components_.Create<TRadeTable>();
    Tbarea->SetName("Tbarea");
    Tbfileid = components_.Create<TRadeTable>();
    Tbfileid->SetName("Tbfileid");
    Tbfilever = components_.Create<TRadeTable>();
    Tbfilever->SetName("Tbfilever");
  }
  // Setting a database name clears the table name, so the name comes first.
  const std::pair<TRadeTable*, const std::string*> tables[] = {
      {Tbarea, &N().areaTable}, {Tbfileid, &N().fileTable}, {Tbfilever, &N().versionTable}};
  for (auto& [t, name] : tables) {
    // Loading again over the same tables keeps them open; another catalog is bound afresh.
    if (t->DatabaseName() == catalogPath && t->TableName() == *name) continue;
    t->Close();
    t->SetDatabaseName(catalogPath);
    t->SetTableName(*name);
  }
  for (auto& [t, name] : tables) {
    t->Open();
    t->First();
  }

  // The tree the row-by-row walk builds (each area's files filtered by area number, each file's
  // versions by file number) from one read of each table: the filtered views keep the tables'
  // order, so grouping the rows in that order gives the same children in the same order.
  std::unordered_map<int32_t, std::vector<std::string>> versionsOf;
  TField* versionFile = Tbfilever->FieldByName(N().fileNo);
  TField* versionText = Tbfilever->FieldByName(N().version);
  for (Tbfilever->First(); !Tbfilever->Eof(); Tbfilever->Next())
    versionsOf[versionFile->AsInteger()].push_back(versionText->AsString());
  struct TFileRow {
    int32_t fileNo;
    std::string path;
  };
  std::unordered_map<int32_t, std::vector<TFileRow>> filesOf;
  TField* fileArea = Tbfileid->FieldByName(N().areaNo);
  TField* fileNo = Tbfileid->FieldByName(N().fileNo);
  TField* filePath = Tbfileid->FieldByName(N().sourceName);
  for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next())
    filesOf[fileArea->AsInteger()].push_back({fileNo->AsInteger(), filePath->AsString()});

  BeginTreeUpdate();
  struct TEnd {
    Tmainw* w;
    ~TEnd() { w->EndTreeUpdate(); }
  } end{this};
  TreeView1->clear();
  ListView1->clear();
  QList<QTreeWidgetItem*> areas;
  for (Tbarea->First(); !Tbarea->Eof(); Tbarea->Next()) {
    QTreeWidgetItem* area = NewNode(Text(Tbarea, N().name), 0);
    areas.append(area);
    auto files = filesOf.find(Int(Tbarea, N().areaNo));
    if (files == filesOf.end()) continue;
    // The file added last at the top, the newest version first.
    QList<QTreeWidgetItem*> fileNodes;
    for (auto f = files->second.rbegin(); f != files->second.rend(); ++f) {
      int image = ImgSys ? ImgSys->SystemIconIndex(f->path) : 0;
      QTreeWidgetItem* file = NewNode(f->path, image, f->fileNo);
      fileNodes.append(file);
      auto versions = versionsOf.find(f->fileNo);
      if (versions == versionsOf.end()) continue;
      QList<QTreeWidgetItem*> versionNodes;
      for (auto v = versions->second.rbegin(); v != versions->second.rend(); ++v)
        versionNodes.append(NewNode(*v, image));
      file->addChildren(versionNodes);
    }
    area->addChildren(fileNodes);
  }
  TreeView1->addTopLevelItems(areas);
  TreeView1->expandAll();
}

void Tmainw::AddArea(const std::string& name, const std::string& folder) {
  Tbarea->Append();
  Tbarea->FieldByName(N().name)->SetAsString(name);
  Tbarea->FieldByName(N().folder)->SetAsString(folder);
  Tbarea->Post();
}

bool Tmainw::AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo) {
  Unfiltered(Tbarea);
  // The whole name: a file added to A never lands in AB.
  if (!LocateExact(Tbarea, {N().name}, {Variant(areaName)})) return false;
  std::string backupFolder =
      IncludeTrailingPathDelimiter(Text(Tbarea, N().folder)) + ExtractFileName(path) + "-bak";
  int32_t areaNo = Int(Tbarea, N().areaNo);
  // Unfiltered, so that the new row is the current one after the post and its number can be read.
  Unfiltered(Tbfileid);
  Tbfileid->Append();
  Tbfileid->FieldByName(N().areaNo)->SetAsInteger(areaNo);
  Tbfileid->FieldByName(N().sourceName)->SetAsString(path);
  Tbfileid->FieldByName(N().backupFolder)->SetAsString(backupFolder);
  ForceDirectories(backupFolder);
  Tbfileid->Post();
  if (fileNo) *fileNo = Int(Tbfileid, N().fileNo);
  return true;
}

bool Tmainw::CaptureVersion(const std::string& path, const std::string& note, verinfo& info) {
  Unfiltered(Tbfileid);
  Tbfileid->First();
  if (!LocateExact(Tbfileid, {N().sourceName}, {Variant(path)})) return false;
  std::string backupFolder = Text(Tbfileid, N().backupFolder);
  int32_t fileNo = Int(Tbfileid, N().fileNo);
  std::string stamp = VersionStamp(path);
  std::string size = IntToStr(FileSizeOf(path));
  std::string name = ExtractFileName(path);
  std::string ext = ExtractFileExt(name);
  std::string copy = IncludeTrailingPathDelimiter(backupFolder) + name.substr(0, name.size() - ext.size()) +
                     "{" + stamp + "}" + ext;
  // The copy comes first: no row ever names a copy that is not there, and with the stamp left as
  // it was the next pass tries again.
  std::string reason;
  if (!CopyFileReplace(path, copy, &reason))
    throw Exception(Format(N().backupFailed.c_str(), (path + " " + reason).c_str()));
  Tbfileid->Edit();
  Tbfileid->FieldByName(N().size)->SetAsString(stamp);
  Tbfileid->Post();
  Unfiltered(Tbfilever);
  Tbfilever->Append();
  Tbfilever->FieldByName(N().fileNo)->SetAsInteger(fileNo);
  Tbfilever->FieldByName(N().note)->SetAsString(note);
  Tbfilever->FieldByName(N().version)->SetAsString(stamp);
  Tbfilever->FieldByName(N().size)->SetAsString(size);
  Tbfilever->FieldByName(N().extension)->SetAsString(ext);
  Tbfilever->FieldByName(N().copyName)->SetAsString(copy);
  Tbfilever->Post();
  info.FileNo = Int(Tbfilever, N().fileNo);
  info.Version = Text(Tbfilever, N().version);
  info.FilePath = Text(Tbfilever, N().copyName);
  info.Note = Text(Tbfilever, N().note);
  info.Size = Text(Tbfilever, N().size);
  info.Extension = Text(Tbfilever, N().extension);
  return true;
}

bool Tmainw::FindFileInfo(const std::string& path, verinfo& info) {
  Unfiltered(Tbfileid);
  Tbfileid->First();
  if (!LocateExact(Tbfileid, {N().sourceName}, {Variant(path)})) return false;
  info.FileNo = Int(Tbfileid, N().fileNo);
  info.FilePath = Text(Tbfileid, N().sourceName);
  info.Version = IntToStr(Int(Tbfileid, N().areaNo));
  info.Size = Text(Tbfileid, N().size);
  return true;
}

bool Tmainw::FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info) {
  Unfiltered(Tbfilever);
  Tbfilever->First();
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)})) return false;
  info.FileNo = Int(Tbfilever, N().fileNo);
  info.Version = Text(Tbfilever, N().version);
  info.FilePath = Text(Tbfilever, N().copyName);
  info.Note = Text(Tbfilever, N().note);
  info.Size = Text(Tbfilever, N().size);
  info.Extension = Text(Tbfilever, N().extension);
  return true;
}

void Tmainw::SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note) {
  Unfiltered(Tbfilever);
  Tbfilever->First();
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)})) return;
  Tbfilever->Edit();
  Tbfilever->FieldByName(N().note)->SetAsString(note);
  Tbfilever->Post();
}

void Tmainw::RemoveTrackedFile(const std::string& path) {
  Unfiltered(Tbfileid);
  if (LocateExact(Tbfileid, {N().sourceName}, {Variant(path)})) Tbfileid->Delete();
}

}  // namespace lanqi
