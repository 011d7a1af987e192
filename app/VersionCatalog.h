// TVersionCatalog: the tracker's catalog without any window: storage areas, tracked files and their
// versions in three tables of one database file, and what is done with them (add, capture, note,
// restore, delete, save a copy, export). The main window and the command line both work through it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "rtl/Component.h"

namespace lanqi {

class TRadeFieldDefs;
class TRadeIndexDefs;
class TRadeTable;

// What catalog look-ups and captures fill; every caller starts it zero and empty.
struct verinfo {
  int32_t FileNo = 0;
  std::string Version;
  std::string FilePath;
  std::string Note;
  std::string Size;
  std::string Extension;
};

// "yyyy-mm-dd-hh-mm-ss" of the file's local last-write time in 2-second steps (1899-12-30-00-00-00
// for a missing file).
std::string VersionStamp(const std::string& path);

// The catalog as the tree shows it: areas in table order, each with its files and each file with its
// versions, both in table order (oldest first).
struct TCatalogFile {
  int32_t FileNo = 0;
  std::string Path;
  std::string Stamp;  // the stamp stored at the last capture
  std::vector<std::string> Versions;
  // By version position: the version is protected (shown with its own icon). Empty: none is.
  std::vector<bool> Protected;
};
// A tracked folder: the files in it that its name patterns admit are tracked in its area, those
// there when it was added and those that appear later.
struct TCatalogFolder {
  int32_t FolderNo = 0;
  int32_t AreaNo = 0;
  std::string Path;
  bool Recursive = false;  // sub-folders too
  std::string Include;     // "*.docx;*.txt": only names matching one of them (empty: every name)
  std::string Exclude;     // names never tracked, beside the editors' scratch files
};
struct TCatalogArea {
  int32_t AreaNo = 0;
  std::string Name;
  std::string Folder;
  std::vector<TCatalogFile> Files;
  std::vector<TCatalogFolder> Folders;  // in table order
};

// What a restore did.
struct TRestoreResult {
  bool SavedCurrent = false;  // the current state differed and was captured first
  verinfo Saved;              // that capture, when SavedCurrent
  verinfo Restored;           // the row recording the restored state
};

class TVersionCatalog {
 public:
  TVersionCatalog();
  ~TVersionCatalog();
  TVersionCatalog(const TVersionCatalog&) = delete;
  TVersionCatalog& operator=(const TVersionCatalog&) = delete;

  // The three tables, named Tbarea, Tbfileid and Tbfilever (their errors carry these names).
  TRadeTable* Tbarea;
  TRadeTable* Tbfileid;
  TRadeTable* Tbfilever;

  // A table the tracker keeps beside the three (tracked folders, content hashes, marks, rules),
  // open, in the same catalog file: created empty at the end of the file on first use when the
  // file does not hold it yet, so a catalog made before it keeps its three tables byte for byte.
  // Named in code-page text like the three; owned by the catalog and kept open until the catalog
  // is bound to another file. A table of that name lacking one of fields is refused.
  TRadeTable* ExtraTable(const std::string& tableName, const TRadeFieldDefs& fields,
                         const TRadeIndexDefs& indexes);

  // Binds the tables to catalogPath and opens them; opening the same catalog again keeps them open.
  void Open(const std::string& catalogPath);
  bool Active() const;
  // Reads the tables again, so that rows another program (the command line, a second window) added
  // or removed since they were opened are seen.
  void Reload();
  // Every area with its files and versions, one read of each table.
  std::vector<TCatalogArea> ReadTree();

  void AddArea(const std::string& name, const std::string& folder);
  bool AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo = nullptr);
  bool CaptureVersion(const std::string& path, const std::string& note, verinfo& info);
  bool FindFileInfo(int32_t fileNo, verinfo& info);
  bool FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info);
  void SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note);
  // Stops tracking the file (its versions stay); a tracked folder that admits it leaves it out from
  // then on.
  void RemoveTrackedFile(int32_t fileNo);
  // The code-page bytes a version's note can hold (0 while the catalog is not open).
  int32_t NoteRoom();

  // The file number of the tracked path (byte for byte), 0 when it is not tracked.
  int32_t FileNoOf(const std::string& path);
  // A file's versions in table order (oldest first).
  std::vector<verinfo> Versions(int32_t fileNo);
  // Every version row in table order, one read of the table.
  std::vector<verinfo> AllVersions();
  // Tracked paths whose current stamp differs from the one stored at their last capture, in table
  // order, each once.
  std::vector<std::string> ChangedFiles();

  // Puts a version's bytes back in place of the tracked file. A current state that differs from the
  // newest version is captured first with the note "恢复前自动保存"; the bytes then replace the file
  // through a temporary file and a rename, keeping its permissions; the restored state is captured
  // with the note "恢复自 <version>", which also stores its stamp. A file that cannot be written, or
  // a version whose copy is gone, raises before anything changes.
  TRestoreResult RestoreVersion(int32_t fileNo, const std::string& version);
  // Removes the version's row and then its copy (unless another row names the same copy). The file's
  // stored stamp stays, so no capture follows. False when there is no such version.
  bool DeleteVersion(int32_t fileNo, const std::string& version);
  // Writes the version's bytes to target (through a temporary file and a rename).
  void SaveVersionAs(int32_t fileNo, const std::string& version, const std::string& target);
  // Writes the file's whole history as a new git repository in folder (missing or empty): one commit
  // per version in time order, the note as message ("版本 <version>" without one), the version's time
  // as the commit time. Returns the number of commits.
  int ExportGitRepository(int32_t fileNo, const std::string& folder);

 private:
  TComponent components_;  // owns the tables
  std::map<std::string, TRadeTable*> extraTables_;
};

}  // namespace lanqi
