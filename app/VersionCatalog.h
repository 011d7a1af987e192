// TVersionCatalog: the tracker's catalog without any window: storage areas, tracked files and their
// versions in three tables of one database file, and what is done with them (add, capture, note,
// restore, delete, save a copy, export). The main window and the command line both work through it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "rtl/Component.h"

namespace lanqi {

class TRadeFieldDefs;
class TRadeIndexDefs;
class TRadeTable;
struct TCatalogTableDef;

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

// One capture in three steps, so that the copy, the only long step, can run away from the thread
// that owns the tables:
//   TCapturePlan plan = catalog.PrepareCapture(path);        // tables: what there is to do
//   catalog.CopyForCapture(plan, progress, &cancel);         // no table: digest, copy (any thread)
//   catalog.CommitCapture(plan, note, info);                 // tables: version row, then stamp
// The note can be asked for between the second step and the third: after CopyForCapture, Unchanged
// says that there is nothing to ask about. Only one step may run at a time on one plan; the first
// and the last run on the thread that uses the catalog.
struct TCapturePlan {
  // Filled by PrepareCapture.
  std::string Path;
  int32_t FileNo = 0;       // 0: the path is not tracked, and the other steps do nothing
  std::string Stamp;        // the stamp and fingerprint read before any byte is: CommitCapture stores
  std::string Fingerprint;  // these, so a save made meanwhile differs from them and is captured next
  std::string Version;      // the new version's text: the stamp, or stamp-2, -3 ... when taken
  std::string Copy;         // where the copy goes: a name that no row holds and no file has
  std::string Extension;
  bool SkipUnchanged = true;  // from the catalog's setting; a caller may clear it (a restore does)
  struct TKnownCopy {
    std::string Version;  // the newest version naming it
    std::string Copy;
    int64_t Size = -1;
    std::string Digest;    // "" until known; CopyForCapture computes the ones it needs
    std::string Identity;  // the copy's identity when the digest was computed
    bool Stored = false;   // the digest is in the catalog already
  };
  std::vector<TKnownCopy> Known;  // the file's copies, newest first
  // Filled by CopyForCapture.
  bool Unchanged = false;  // the content equals the newest version's: no copy, no row, only the stamp
  bool Shared = false;     // the content equals an older version's: the row names that copy (Copy)
  bool Copied = false;     // Copy was written by CopyForCapture
  bool Cancelled = false;
  TCopyMethod Method = TCopyMethod::None;
  int64_t Size = -1;   // the captured content's byte count
  std::string Digest;  // its SHA-256, when it had to be computed and the file held still meanwhile
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
  // The same for one of the catalog's own tables (app/CatalogSchema.h).
  TRadeTable* ExtraTable(const TCatalogTableDef& table);

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
  // Records the file's current state as a new version (the three capture steps in a row). False
  // when nothing new was recorded: the path is not tracked, or its content equals the newest
  // version's and unchanged saves are skipped (then only its stamp is stored).
  bool CaptureVersion(const std::string& path, const std::string& note, verinfo& info);
  // The capture steps (see TCapturePlan). CopyForCapture raises "备份文件失败：..." when the copy
  // fails and returns false (plan.Cancelled) when cancel was set: no partial copy stays. progress
  // gets the bytes read or copied so far and the bytes the step will move at most.
  TCapturePlan PrepareCapture(const std::string& path);
  bool CopyForCapture(TCapturePlan& plan, const std::function<void(int64_t done, int64_t total)>& progress,
                      const std::atomic<bool>* cancel);
  // Writes the version row (unless Unchanged) and then the stamp; a plan whose copy went missing or
  // whose newest version changed meanwhile raises and stores nothing, so the next pass captures again.
  // The plan's copy is removed when its row cannot be written. Returns whether a row was written.
  bool CommitCapture(TCapturePlan& plan, const std::string& note, verinfo& info);
  // Whether a save whose content equals the newest version's is skipped (true by default).
  void SetSkipUnchanged(bool skip) { skipUnchanged_ = skip; }
  bool SkipUnchanged() const { return skipUnchanged_; }
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
  TRadeTable* ContentTable();
  TRadeTable* FingerprintTable();
  void StoreDigests(const TCapturePlan& plan);
  void StoreStamp(const TCapturePlan& plan);
  bool DigestContent(TCapturePlan& plan, const std::function<void(int64_t, int64_t)>& progress,
                     const std::atomic<bool>* cancel);

  TComponent components_;  // owns the tables
  bool skipUnchanged_ = true;
  std::map<std::string, TRadeTable*> extraTables_;
};

}  // namespace lanqi
