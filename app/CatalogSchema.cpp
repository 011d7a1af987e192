#include "app/CatalogSchema.h"

#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/CodePage.h"

namespace lanqi {

namespace {

// Slot widths. Every version row stores its fields' whole slots, so they decide the catalog's size:
// 1024-byte paths made 100 000 versions take 147 MB. Paths on a desktop are far shorter (half of
// them under 100 bytes, nearly all under 200); a copy's path is the area folder, the file's name
// twice and 26 bytes of stamp and decoration, so 255 bytes hold a 100-byte name under a 40-byte area
// folder. What does not fit is refused when the file is added, never cut. A version row now takes
// 448 bytes, a third of the 1416 it took. Catalogs made with other widths keep theirs: every check
// reads the width from the table.
constexpr int kAreaNameRoom = 255;
constexpr int kAreaFolderRoom = 200;
constexpr int kSourceRoom = 512;  // a tracked file's path: few rows, deep folders welcome
constexpr int kBackupRoom = 255;
constexpr int kNoteRoom = 128;
constexpr int kStampRoom = 20;  // "yyyy-mm-dd-hh-mm-ss"
constexpr int kSizeRoom = 20;   // a byte count's decimal digits
constexpr int kExtensionRoom = 16;
constexpr int kCopyRoom = 255;

TCatalogNames MakeNames() {
  TCatalogNames n;
  n.areaTable = Ansi(u8"数据存储区");
  n.fileTable = Ansi(u8"文件索引表");
  n.versionTable = Ansi(u8"文件版本表");
  n.folderTable = Ansi(u8"监控目录");
  n.contentTable = Ansi(u8"版本内容表");
  n.fingerprintTable = Ansi(u8"文件指纹表");
  n.rulesTable = Ansi(u8"清理规则");
  n.marksTable = Ansi(u8"版本标记");
  n.areaNo = Ansi(u8"存储区序号");
  n.name = Ansi(u8"名称");
  n.folder = Ansi(u8"目录");
  n.fileNo = Ansi(u8"文件序号");
  n.sourceName = Ansi(u8"源文件名称");
  n.backupFolder = Ansi(u8"备份文件目录");
  n.size = Ansi(u8"大小");
  n.note = Ansi(u8"说明");
  n.version = Ansi(u8"版本");
  n.extension = Ansi(u8"文件扩展名");
  n.copyName = Ansi(u8"文件名称");
  n.folderNo = Ansi(u8"目录序号");
  n.recursive = Ansi(u8"包含子目录");
  n.include = Ansi(u8"包含文件");
  n.exclude = Ansi(u8"排除文件");
  n.identity = Ansi(u8"副本标识");
  n.digest = Ansi(u8"内容摘要");
  n.stamp = Ansi(u8"文件时间");
  n.fingerprint = Ansi(u8"文件指纹");
  n.keepNewest = Ansi(u8"保留版本数");
  n.dailyAfter = Ansi(u8"按天保留天数");
  n.weeklyAfter = Ansi(u8"按周保留周数");
  n.protectedMark = Ansi(u8"保护");
  n.versionFileIndex = "VerFile";
  return n;
}

// None of the indexes is primary: the catalog's tables show their rows in record-number order.

void FillAreaTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.areaTable;
  t.Fields.Add(n.areaNo, ftAutoInc);
  t.Fields.Add(n.name, ftString, kAreaNameRoom);
  t.Fields.Add(n.folder, ftString, kAreaFolderRoom);
  t.Indexes.Add("AreaNo", {0}, {tiUnique});
}

void FillFileTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.fileTable;
  t.Fields.Add(n.areaNo, ftInteger);
  t.Fields.Add(n.fileNo, ftAutoInc);
  t.Fields.Add(n.sourceName, ftString, kSourceRoom);
  t.Fields.Add(n.backupFolder, ftString, kBackupRoom);
  t.Fields.Add(n.size, ftString, 32);  // the stamp at the last capture
  t.Indexes.Add("FileNo", {1}, {tiUnique});
  t.Indexes.Add("FileArea", {0});
}

void FillVersionTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.versionTable;
  t.Fields.Add(n.fileNo, ftInteger);
  t.Fields.Add(n.note, ftString, kNoteRoom);
  t.Fields.Add(n.version, ftString, kStampRoom);
  t.Fields.Add(n.size, ftString, kSizeRoom);
  t.Fields.Add(n.extension, ftString, kExtensionRoom);
  t.Fields.Add(n.copyName, ftString, kCopyRoom);
  t.Indexes.Add(n.versionFileIndex, {0});
}

void FillFolderTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.folderTable;
  t.Fields.Add(n.folderNo, ftAutoInc);
  t.Fields.Add(n.areaNo, ftInteger);
  t.Fields.Add(n.folder, ftString, 1024);
  t.Fields.Add(n.recursive, ftBoolean);
  t.Fields.Add(n.include, ftString, 255);
  t.Fields.Add(n.exclude, ftString, 255);
  t.Indexes.Add("FolderNo", {0}, {tiUnique});
}

void FillContentTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.contentTable;
  t.Fields.Add(n.fileNo, ftInteger);
  t.Fields.Add(n.copyName, ftString, 1024);
  t.Fields.Add(n.identity, ftString, 96);
  t.Fields.Add(n.size, ftString, 32);
  t.Fields.Add(n.digest, ftString, 64);
  t.Indexes.Add("ContentFile", {0});
}

void FillFingerprintTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.fingerprintTable;
  t.Fields.Add(n.fileNo, ftInteger);
  t.Fields.Add(n.stamp, ftString, 32);
  t.Fields.Add(n.fingerprint, ftString, 96);
  t.Indexes.Add("PrintFile", {0});
}

void FillRulesTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.rulesTable;
  t.Fields.Add(n.areaNo, ftInteger);
  t.Fields.Add(n.keepNewest, ftInteger);
  t.Fields.Add(n.dailyAfter, ftInteger);
  t.Fields.Add(n.weeklyAfter, ftInteger);
  t.Indexes.Add("RuleArea", {0});
}

void FillMarksTable(TCatalogTableDef& t) {
  const TCatalogNames& n = CatalogNames();
  t.Name = n.marksTable;
  t.Fields.Add(n.fileNo, ftInteger);
  t.Fields.Add(n.version, ftString, 32);
  t.Fields.Add(n.protectedMark, ftBoolean);
  t.Indexes.Add("MarkFile", {0});
}

// Every table's definitions, made once on first use.
struct TCatalogTables {
  TCatalogTableDef areas, files, versions, folders, contents, fingerprints, rules, marks;
  TCatalogTables() {
    FillAreaTable(areas);
    FillFileTable(files);
    FillVersionTable(versions);
    FillFolderTable(folders);
    FillContentTable(contents);
    FillFingerprintTable(fingerprints);
    FillRulesTable(rules);
    FillMarksTable(marks);
  }
};

const TCatalogTables& Tables() {
  static const TCatalogTables tables;
  return tables;
}

}  // namespace

const TCatalogNames& CatalogNames() {
  static const TCatalogNames names = MakeNames();
  return names;
}

const TCatalogTableDef& AreaTableDef() {
  return Tables().areas;
}

const TCatalogTableDef& FileTableDef() {
  return Tables().files;
}

const TCatalogTableDef& VersionTableDef() {
  return Tables().versions;
}

const TCatalogTableDef& FolderTableDef() {
  return Tables().folders;
}

const TCatalogTableDef& ContentTableDef() {
  return Tables().contents;
}

const TCatalogTableDef& FingerprintTableDef() {
  return Tables().fingerprints;
}

const TCatalogTableDef& CleanupRulesTableDef() {
  return Tables().rules;
}

const TCatalogTableDef& VersionMarksTableDef() {
  return Tables().marks;
}

void CreateCatalogDatabase(const std::string& fileName) {
  CreateDatabaseFile(fileName, TDatabaseCreateOptions{}, [](TRadeZIFileIO& io) {
    for (const TCatalogTableDef* t : {&AreaTableDef(), &FileTableDef(), &VersionTableDef()})
      AddTable(io, t->Name, t->Fields, t->Indexes);
  });
}

}  // namespace lanqi
