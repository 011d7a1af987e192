// The tracker's catalog: the names of its tables and fields, and each table's field and index
// definitions, in one place for the catalog code, its features and `radezi catalog init`. No Qt
// here: the command-line tool links it.
#pragma once

#include <string>

#include "engine/storage/Definitions.h"

namespace lanqi {

// Table, field and index names. Tables and fields are code-page text, as the file stores them.
struct TCatalogNames {
  // The three tables every catalog holds.
  std::string areaTable;
  std::string fileTable;
  std::string versionTable;
  // The tables the features keep beside them.
  std::string folderTable;
  std::string contentTable;
  std::string fingerprintTable;
  std::string rulesTable;
  std::string marksTable;
  // Fields. Several tables share a name: the area and file numbers that join them, the folder of an
  // area and of a tracked folder, the copy's name and size.
  std::string areaNo;
  std::string name;
  std::string folder;
  std::string fileNo;
  std::string sourceName;
  std::string backupFolder;
  std::string size;
  std::string note;
  std::string version;
  std::string extension;
  std::string copyName;
  std::string folderNo;
  std::string recursive;
  std::string include;
  std::string exclude;
  std::string identity;
  std::string digest;
  std::string stamp;
  std::string fingerprint;
  std::string keepNewest;
  std::string dailyAfter;
  std::string weeklyAfter;
  std::string protectedMark;
  // The version table's index on the file number.
  std::string versionFileIndex;
};

const TCatalogNames& CatalogNames();

// One table as the catalog holds it: its name, its fields in file order and its indexes.
struct TCatalogTableDef {
  std::string Name;
  TRadeFieldDefs Fields;
  TRadeIndexDefs Indexes;
};

// The three tables, made with the catalog.
const TCatalogTableDef& AreaTableDef();
const TCatalogTableDef& FileTableDef();
const TCatalogTableDef& VersionTableDef();
// The tables made at the end of the file on first use, so a catalog that never needed one keeps its
// bytes: tracked folders, the digests of backup copies, each tracked file's fingerprint at its last
// capture, the areas' cleanup rules and the versions' protection marks.
const TCatalogTableDef& FolderTableDef();
const TCatalogTableDef& ContentTableDef();
const TCatalogTableDef& FingerprintTableDef();
const TCatalogTableDef& CleanupRulesTableDef();
const TCatalogTableDef& VersionMarksTableDef();

// Creates fileName (code-page text) holding the empty catalog: the three tables. Raises as the
// writer does.
void CreateCatalogDatabase(const std::string& fileName);

}  // namespace lanqi
