// The catalog: storage areas, tracked files and their versions in three tables of one database
// file, and its load into the tree.
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
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
  std::string backupFolderFailed = Ansi(u8"无法建立备份目录：%s");
  std::string alreadyTracked = Ansi(u8"文件已在监控中：%s");
  std::string folderRefused = Ansi(u8"暂不支持监控目录：%s");
  std::string areaNameTooLong = Ansi(u8"存储区名称过长（最多%d字节）");
  std::string areaFolderTooLong = Ansi(u8"目录路径过长（最多%d字节）：%s");
  std::string pathTooLong = Ansi(u8"文件路径过长（最多%d字节）：%s");
  std::string extensionTooLong = Ansi(u8"文件扩展名过长（最多%d字节）：%s");
  std::string copyTooLong = Ansi(u8"备份文件路径过长（最多%d字节）：%s");
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

// A post that fails leaves nothing pending: a row still in insert or edit mode would be posted by
// whatever the dataset does next.
void DropPending(TRadeTable* t) {
  try {
    t->Cancel();
  } catch (...) {
    // The failure that brought us here is the one to report.
  }
}

void PostOrCancel(TRadeTable* t) {
  try {
    t->Post();
  } catch (...) {
    DropPending(t);
    throw;
  }
}

// The bytes of text a field's slot holds (its terminator aside).
size_t Room(TRadeTable* t, const std::string& field) {
  return static_cast<size_t>(std::max(t->FieldByName(field)->Size(), 0));
}

// Raises message (with the field's room and subject) when text does not fit the field: the slot
// would cut it, inside a character or between a name and the row that needs it.
void CheckFits(TRadeTable* t, const std::string& field, size_t length, const std::string& message,
               const std::string& subject) {
  size_t room = Room(t, field);
  if (length > room) throw Exception(Format(message.c_str(), static_cast<int>(room), subject.c_str()));
}

// The longest head of text that fits room bytes without cutting a double-byte character.
std::string FitText(const std::string& text, size_t room) {
  if (text.size() <= room) return text;
  size_t end = 0;
  while (end < room) {
    size_t next = end + (IsLeadByte(static_cast<uint8_t>(text[end])) ? 2 : 1);
    if (next > room) break;
    end = next;
  }
  return text.substr(0, end);
}

// Every version copy of a file is named base + "{" + stamp + "}" + extension; stamps are 19 bytes.
constexpr size_t kStampLength = 19;

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

int32_t Tmainw::NoteRoom() {
  return Tbfilever && Tbfilever->Active() ? static_cast<int32_t>(Room(Tbfilever, N().note)) : 0;
}

void Tmainw::AddArea(const std::string& name, const std::string& folder) {
  // A name cut by its slot would never be found again when files are added to the area.
  CheckFits(Tbarea, N().name, name.size(), N().areaNameTooLong, "");
  CheckFits(Tbarea, N().folder, folder.size(), N().areaFolderTooLong, folder);
  Tbarea->Append();
  Tbarea->FieldByName(N().name)->SetAsString(name);
  Tbarea->FieldByName(N().folder)->SetAsString(folder);
  PostOrCancel(Tbarea);
}

bool Tmainw::AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo) {
  Unfiltered(Tbarea);
  // The whole name: a file added to A never lands in AB.
  if (!LocateExact(Tbarea, {N().name}, {Variant(areaName)})) return false;
  std::string backupFolder =
      IncludeTrailingPathDelimiter(Text(Tbarea, N().folder)) + ExtractFileName(path) + "-bak";
  int32_t areaNo = Int(Tbarea, N().areaNo);
  // A folder would be listed as changed at every pass and could never be copied.
  if (DirectoryExists(path)) throw Exception(Format(N().folderRefused.c_str(), path.c_str()));
  // Unfiltered, so that the new row is the current one after the post and its number can be read.
  Unfiltered(Tbfileid);
  // One row per path: a second one would never get its stamp and be prompted for at every pass.
  if (LocateExact(Tbfileid, {N().sourceName}, {Variant(path)}))
    throw Exception(Format(N().alreadyTracked.c_str(), path.c_str()));
  // Every name the file's rows will hold must fit whole.
  std::string name = ExtractFileName(path);
  std::string ext = ExtractFileExt(name);
  CheckFits(Tbfileid, N().sourceName, path.size(), N().pathTooLong, path);
  CheckFits(Tbfilever, N().extension, ext.size(), N().extensionTooLong, path);
  CheckFits(Tbfileid, N().backupFolder, backupFolder.size(), N().copyTooLong, path);
  CheckFits(Tbfilever, N().copyName, backupFolder.size() + 1 + name.size() + kStampLength + 2,
            N().copyTooLong, path);
  // Without its backup folder no version could ever be kept: nothing is stored.
  std::string reason;
  if (!ForceDirectories(backupFolder, &reason))
    throw Exception(Format(N().backupFolderFailed.c_str(), (backupFolder + " " + reason).c_str()));
  Tbfileid->Append();
  Tbfileid->FieldByName(N().areaNo)->SetAsInteger(areaNo);
  Tbfileid->FieldByName(N().sourceName)->SetAsString(path);
  Tbfileid->FieldByName(N().backupFolder)->SetAsString(backupFolder);
  PostOrCancel(Tbfileid);
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
  // Copy, version row, stamp: whichever step fails, no row names a missing copy, no copy is left
  // without its row, and the stamp still differs, so the next pass captures the file again.
  const bool hadCopy = FileExists(copy);
  std::string reason;
  if (!CopyFileReplace(path, copy, &reason))
    throw Exception(Format(N().backupFailed.c_str(), (path + " " + reason).c_str()));
  Unfiltered(Tbfilever);
  try {
    Tbfilever->Append();
    Tbfilever->FieldByName(N().fileNo)->SetAsInteger(fileNo);
    Tbfilever->FieldByName(N().note)->SetAsString(FitText(note, Room(Tbfilever, N().note)));
    Tbfilever->FieldByName(N().version)->SetAsString(stamp);
    Tbfilever->FieldByName(N().size)->SetAsString(size);
    Tbfilever->FieldByName(N().extension)->SetAsString(ext);
    Tbfilever->FieldByName(N().copyName)->SetAsString(copy);
    Tbfilever->Post();
  } catch (...) {
    // A copy that was there before belongs to an earlier row of the same stamp and stays.
    if (!hadCopy) {
      std::error_code ignored;
      std::filesystem::remove(ToOsPath(copy), ignored);
    }
    DropPending(Tbfilever);
    throw;
  }
  info.FileNo = Int(Tbfilever, N().fileNo);
  info.Version = Text(Tbfilever, N().version);
  info.FilePath = Text(Tbfilever, N().copyName);
  info.Note = Text(Tbfilever, N().note);
  info.Size = Text(Tbfilever, N().size);
  info.Extension = Text(Tbfilever, N().extension);
  // Every row of the path takes the stamp (a catalog may hold the path twice), so none of them
  // is prompted for again.
  TField* source = Tbfileid->FieldByName(N().sourceName);
  TField* stored = Tbfileid->FieldByName(N().size);
  for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next()) {
    if (source->AsString() != path || stored->AsString() == stamp) continue;
    Tbfileid->Edit();
    stored->SetAsString(stamp);
    PostOrCancel(Tbfileid);
  }
  return true;
}

bool Tmainw::FindFileInfo(int32_t fileNo, verinfo& info) {
  Unfiltered(Tbfileid);
  Tbfileid->First();
  if (!LocateExact(Tbfileid, {N().fileNo}, {Variant(fileNo)})) return false;
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
  Tbfilever->FieldByName(N().note)->SetAsString(FitText(note, Room(Tbfilever, N().note)));
  PostOrCancel(Tbfilever);
}

void Tmainw::RemoveTrackedFile(int32_t fileNo) {
  Unfiltered(Tbfileid);
  if (LocateExact(Tbfileid, {N().fileNo}, {Variant(fileNo)})) Tbfileid->Delete();
}

}  // namespace lanqi
