// The catalog the catalog benchmarks build in their run: its three tables open, and the areas and
// tracked files each starts from, spread over the areas in turn as years of use leave them.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "app/CatalogSchema.h"
#include "engine/RadeZI.h"

namespace bench {

// The catalog's three tables, open on the catalog file.
struct CatalogTables {
  lanqi::TRadeTable areas, files, versions;
  explicit CatalogTables(const std::string& catalog) {
    const lanqi::TCatalogNames& n = lanqi::CatalogNames();
    for (auto [t, name] :
         {std::pair{&areas, &n.areaTable}, {&files, &n.fileTable}, {&versions, &n.versionTable}}) {
      t->SetDatabaseName(catalog);
      t->SetTableName(*name);
      t->Open();
    }
  }
};

// Appends areaCount areas "area<a>" on folder, then fileCount files "<folder>/file<f>.txt" with
// their backup folders "<path>-bak", file f in area f % areaCount + 1. eachFile(f, path) runs while
// the file's row is still being appended: it may set more fields and make the file or its folder.
inline void AddAreasAndFiles(CatalogTables& t, const std::string& folder, int areaCount, int fileCount,
                             const std::function<void(int, const std::string&)>& eachFile) {
  const lanqi::TCatalogNames& n = lanqi::CatalogNames();
  for (int a = 0; a < areaCount; ++a) {
    t.areas.Append();
    t.areas.FieldByName(n.name)->SetAsString("area" + std::to_string(a));
    t.areas.FieldByName(n.folder)->SetAsString(folder);
    t.areas.Post();
  }
  for (int f = 0; f < fileCount; ++f) {
    const std::string path = folder + "/file" + std::to_string(f) + ".txt";
    t.files.Append();
    t.files.FieldByName(n.areaNo)->SetAsInteger(f % areaCount + 1);
    t.files.FieldByName(n.sourceName)->SetAsString(path);
    t.files.FieldByName(n.backupFolder)->SetAsString(path + "-bak");
    eachFile(f, path);
    t.files.Post();
  }
}

// Appends one version row of file fileNo: its stamp, size text, ".txt" copy and note (none when
// empty).
inline void AppendVersion(CatalogTables& t, int fileNo, const std::string& stamp, const std::string& size,
                          const std::string& copy, const std::string& note = {}) {
  const lanqi::TCatalogNames& n = lanqi::CatalogNames();
  t.versions.Append();
  t.versions.FieldByName(n.fileNo)->SetAsInteger(fileNo);
  t.versions.FieldByName(n.version)->SetAsString(stamp);
  t.versions.FieldByName(n.size)->SetAsString(size);
  t.versions.FieldByName(n.extension)->SetAsString(".txt");
  t.versions.FieldByName(n.copyName)->SetAsString(copy);
  if (!note.empty()) t.versions.FieldByName(n.note)->SetAsString(note);
  t.versions.Post();
}

}  // namespace bench
