// The catalog: storage areas, tracked files and their versions in three tables of one database
// file, and the operations on them.
#include "app/VersionCatalog.h"

#include <git2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "app/CatalogCleanup.h"
#include "app/CatalogSchema.h"
#include "app/ContentHash.h"
#include "app/TrackedFolders.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "rtl/NumText.h"

namespace lanqi {

namespace {

// The catalog's table and field names.
const TCatalogNames& N() {
  return CatalogNames();
}

// Messages, as code-page bytes.
struct TCatalogTexts {
  std::string backupFailed = Ansi(u8"备份文件失败：%s");
  std::string backupFolderFailed = Ansi(u8"无法建立备份目录：%s");
  std::string alreadyTracked = Ansi(u8"文件已在监控中：%s");
  std::string folderRefused = Ansi(u8"暂不支持监控目录：%s");
  std::string areaNameTooLong = Ansi(u8"存储区名称过长（最多%d字节）");
  std::string areaFolderTooLong = Ansi(u8"目录路径过长（最多%d字节）：%s");
  std::string pathTooLong = Ansi(u8"文件路径过长（最多%d字节）：%s");
  std::string extensionTooLong = Ansi(u8"文件扩展名过长（最多%d字节）：%s");
  std::string copyTooLong = Ansi(u8"备份文件路径过长（最多%d字节）：%s");
  std::string notTracked = Ansi(u8"文件不在监控中：%s");
  std::string noSuchVersion = Ansi(u8"版本不存在：%s");
  std::string copyMissing = Ansi(u8"版本文件不存在：%s");
  std::string copyUnreadable = Ansi(u8"读取版本文件失败：%s");
  std::string cannotWrite = Ansi(u8"文件无法写入：%s");
  std::string savedBeforeRestore = Ansi(u8"恢复前自动保存");
  std::string restoredFrom = Ansi(u8"恢复自 ");
  std::string versionMessage = Ansi(u8"版本 ");
  std::string folderNotEmpty = Ansi(u8"目录不为空：%s");
  std::string nothingToExport = Ansi(u8"没有可导出的版本");
  std::string exportFailed = Ansi(u8"导出失败：%s");
};

const TCatalogTexts& Texts() {
  static const TCatalogTexts texts;
  return texts;
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

// The current version row as catalog look-ups hand it on.
verinfo VersionRow(TRadeTable* versions) {
  verinfo v;
  v.FileNo = Int(versions, N().fileNo);
  v.Version = Text(versions, N().version);
  v.FilePath = Text(versions, N().copyName);
  v.Note = Text(versions, N().note);
  v.Size = Text(versions, N().size);
  v.Extension = Text(versions, N().extension);
  return v;
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

std::string CopyNameFor(const std::string& backupFolder, const std::string& path, const std::string& stamp) {
  std::string name = ExtractFileName(path);
  std::string ext = ExtractFileExt(name);
  return IncludeTrailingPathDelimiter(backupFolder) + name.substr(0, name.size() - ext.size()) + "{" + stamp +
         "}" + ext;
}

// A version copy's bytes; raises the missing or unreadable copy with its path.
std::string ReadCopy(const std::string& copy) {
  if (!FileExists(copy)) throw Exception(Format(Texts().copyMissing.c_str(), copy.c_str()));
  std::ifstream in(ToOsPath(copy), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in.good() && !in.eof()) throw Exception(Format(Texts().copyUnreadable.c_str(), copy.c_str()));
  return bytes.str();
}

bool SameBytes(const std::string& path, const std::string& bytes) {
  std::ifstream in(ToOsPath(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream current;
  current << in.rdbuf();
  return current.str() == bytes;
}

// The permission bits a new file gets here.
unsigned NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666u & ~static_cast<unsigned>(mask);
}

// "yyyy-mm-dd-hh-mm-ss" (local time) as seconds since the epoch and the zone's offset in minutes.
bool StampTime(const std::string& stamp, int64_t& seconds, int& offsetMinutes) {
  std::tm tm{};
  if (std::sscanf(stamp.c_str(), "%4d-%2d-%2d-%2d-%2d-%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec) != 6)
    return false;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  seconds = static_cast<int64_t>(t);
  offsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
  return true;
}

}  // namespace

std::string VersionStamp(const std::string& path) {
  return FormatDateTime("yyyy-mm-dd-hh-mm-ss", FileTimeOf(path, TFileTimeKind::LastWrite));
}

TVersionCatalog::TVersionCatalog() {
  Tbarea = components_.Create<TRadeTable>();
  Tbarea->SetName("Tbarea");
  Tbfileid = components_.Create<TRadeTable>();
  Tbfileid->SetName("Tbfileid");
  Tbfilever = components_.Create<TRadeTable>();
  Tbfilever->SetName("Tbfilever");
}

TVersionCatalog::~TVersionCatalog() = default;

void TVersionCatalog::Open(const std::string& catalogPath) {
  // The tables beside the three belong to the catalog they were made for.
  if (Tbarea->DatabaseName() != catalogPath) {
    for (auto& [name, t] : extraTables_) DestroyComponent(t);
    extraTables_.clear();
  }
  // Setting a database name clears the table name, so the name comes first.
  const std::pair<TRadeTable*, const std::string*> tables[] = {
      {Tbarea, &N().areaTable}, {Tbfileid, &N().fileTable}, {Tbfilever, &N().versionTable}};
  for (auto& [t, name] : tables) {
    // Opening again over the same tables keeps them open; another catalog is bound afresh.
    if (t->DatabaseName() == catalogPath && t->TableName() == *name) continue;
    t->Close();
    t->SetDatabaseName(catalogPath);
    t->SetTableName(*name);
  }
  for (auto& [t, name] : tables) {
    t->Open();
    t->First();
  }
  // Every version written must survive a power loss, not only the program ending.
  if (TRadeDatabase* db = Tbarea->Database()) db->SetDurable(true);
}

bool TVersionCatalog::Active() const {
  return Tbarea->Active() && Tbfileid->Active() && Tbfilever->Active();
}

void TVersionCatalog::Reload() {
  // An open table keeps the record lists it read; only a new open reads them from the file again.
  std::vector<TRadeTable*> tables{Tbarea, Tbfileid, Tbfilever};
  for (auto& [name, t] : extraTables_) tables.push_back(t);
  for (TRadeTable* t : tables) {
    if (!t->Active()) continue;
    t->Close();
    t->Open();
  }
}

TRadeTable* TVersionCatalog::ExtraTable(const std::string& tableName, const TRadeFieldDefs& fields,
                                        const TRadeIndexDefs& indexes) {
  auto known = extraTables_.find(tableName);
  if (known != extraTables_.end()) {
    if (!known->second->Active()) known->second->Open();
    return known->second;
  }
  TRadeDatabase* db = Tbarea->Active() ? Tbarea->Database() : nullptr;
  if (!db) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  db->EnsureTable(tableName, fields, indexes);
  auto* t = components_.Create<TRadeTable>();
  try {
    t->SetDatabaseName(Tbarea->DatabaseName());
    t->SetTableName(tableName);
    t->Open();
  } catch (...) {
    DestroyComponent(t);
    throw;
  }
  extraTables_[tableName] = t;
  return t;
}

TRadeTable* TVersionCatalog::ExtraTable(const TCatalogTableDef& table) {
  return ExtraTable(table.Name, table.Fields, table.Indexes);
}

std::vector<TCatalogArea> TVersionCatalog::ReadTree() {
  // The tree the row-by-row walk builds (each area's files filtered by area number, each file's
  // versions by file number) from one read of each table: the filtered views keep the tables'
  // order, so grouping the rows in that order gives the same children in the same order.
  Unfiltered(Tbfilever);
  Unfiltered(Tbfileid);
  Unfiltered(Tbarea);
  std::unordered_map<int32_t, std::vector<std::string>> versionsOf;
  TField* versionFile = Tbfilever->FieldByName(N().fileNo);
  TField* versionText = Tbfilever->FieldByName(N().version);
  for (Tbfilever->First(); !Tbfilever->Eof(); Tbfilever->Next())
    versionsOf[versionFile->AsInteger()].push_back(versionText->AsString());
  std::unordered_map<int32_t, std::vector<TCatalogFile>> filesOf;
  TField* fileArea = Tbfileid->FieldByName(N().areaNo);
  TField* fileNo = Tbfileid->FieldByName(N().fileNo);
  TField* filePath = Tbfileid->FieldByName(N().sourceName);
  TField* fileStamp = Tbfileid->FieldByName(N().size);
  for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next()) {
    TCatalogFile f;
    f.FileNo = fileNo->AsInteger();
    f.Path = filePath->AsString();
    f.Stamp = fileStamp->AsString();
    auto v = versionsOf.find(f.FileNo);
    if (v != versionsOf.end()) f.Versions = std::move(v->second);
    filesOf[fileArea->AsInteger()].push_back(std::move(f));
  }
  std::vector<TCatalogArea> areas;
  for (Tbarea->First(); !Tbarea->Eof(); Tbarea->Next()) {
    TCatalogArea a;
    a.AreaNo = Int(Tbarea, N().areaNo);
    a.Name = Text(Tbarea, N().name);
    a.Folder = Text(Tbarea, N().folder);
    auto f = filesOf.find(a.AreaNo);
    if (f != filesOf.end()) a.Files = std::move(f->second);
    areas.push_back(std::move(a));
  }
  AttachTrackedFolders(*this, areas);
  AttachProtectedMarks(*this, areas);
  return areas;
}

int32_t TVersionCatalog::NoteRoom() {
  return Tbfilever && Tbfilever->Active() ? static_cast<int32_t>(Room(Tbfilever, N().note)) : 0;
}

void TVersionCatalog::AddArea(const std::string& name, const std::string& folder) {
  // A name cut by its slot would never be found again when files are added to the area.
  CheckFits(Tbarea, N().name, name.size(), Texts().areaNameTooLong, "");
  CheckFits(Tbarea, N().folder, folder.size(), Texts().areaFolderTooLong, folder);
  Tbarea->Append();
  Tbarea->FieldByName(N().name)->SetAsString(name);
  Tbarea->FieldByName(N().folder)->SetAsString(folder);
  PostOrCancel(Tbarea);
}

bool TVersionCatalog::AddFileToArea(const std::string& areaName, const std::string& path, int32_t* fileNo) {
  Unfiltered(Tbarea);
  // The whole name: a file added to A never lands in AB.
  if (!LocateExact(Tbarea, {N().name}, {Variant(areaName)})) return false;
  std::string backupFolder =
      IncludeTrailingPathDelimiter(Text(Tbarea, N().folder)) + ExtractFileName(path) + "-bak";
  int32_t areaNo = Int(Tbarea, N().areaNo);
  // A folder would be listed as changed at every pass and could never be copied.
  if (DirectoryExists(path)) throw Exception(Format(Texts().folderRefused.c_str(), path.c_str()));
  // Another program (the command line, a second window) may have tracked the path since this
  // catalog read its file table: the check and the new row are made under the file lock, on the
  // table as the file holds it now.
  TFileLockGuard lock(*Tbfileid->Database()->FileIO());
  Tbfileid->Close();
  // Unfiltered, so that the new row is the current one after the post and its number can be read.
  Unfiltered(Tbfileid);
  // One row per path: a second one would never get its stamp and be prompted for at every pass.
  if (LocateExact(Tbfileid, {N().sourceName}, {Variant(path)}))
    throw Exception(Format(Texts().alreadyTracked.c_str(), path.c_str()));
  // Each file keeps its copies in a folder of its own: two files of one name in two folders whose
  // saves fall in one stamp would otherwise write one copy, the later over the earlier.
  {
    std::unordered_set<std::string> taken;
    TField* used = Tbfileid->FieldByName(N().backupFolder);
    for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next()) taken.insert(used->AsString());
    const std::string base = backupFolder;
    for (int n = 2; taken.count(backupFolder); ++n) backupFolder = base + std::to_string(n);
  }
  // Every name the file's rows will hold must fit whole.
  std::string name = ExtractFileName(path);
  std::string ext = ExtractFileExt(name);
  CheckFits(Tbfileid, N().sourceName, path.size(), Texts().pathTooLong, path);
  CheckFits(Tbfilever, N().extension, ext.size(), Texts().extensionTooLong, path);
  CheckFits(Tbfileid, N().backupFolder, backupFolder.size(), Texts().copyTooLong, path);
  CheckFits(Tbfilever, N().copyName, backupFolder.size() + 1 + name.size() + kStampLength + 2,
            Texts().copyTooLong, path);
  // Without its backup folder no version could ever be kept: nothing is stored.
  std::string reason;
  if (!ForceDirectories(backupFolder, &reason))
    throw Exception(Format(Texts().backupFolderFailed.c_str(), (backupFolder + " " + reason).c_str()));
  Tbfileid->Append();
  Tbfileid->FieldByName(N().areaNo)->SetAsInteger(areaNo);
  Tbfileid->FieldByName(N().sourceName)->SetAsString(path);
  Tbfileid->FieldByName(N().backupFolder)->SetAsString(backupFolder);
  PostOrCancel(Tbfileid);
  if (fileNo) *fileNo = Int(Tbfileid, N().fileNo);
  return true;
}

namespace {

// The version text of the n-th capture inside one stamp slot: the stamp, then stamp-2, stamp-3...
// where the version field has room for them, else the stamp and one more character (2-9, then
// a-z) in a field sized to the stamp and one byte; "" when even that runs out.
std::string SlotVersion(const std::string& stamp, int n, size_t room) {
  if (n < 2) return stamp;
  std::string dashed = stamp + "-" + std::to_string(n);
  if (dashed.size() <= room) return dashed;
  static const char kMarks[] = "23456789abcdefghijklmnopqrstuvwxyz";
  if (n - 2 < static_cast<int>(sizeof kMarks - 1) && stamp.size() + 1 <= room) return stamp + kMarks[n - 2];
  return "";
}

// Something (a file, a dangling link, a folder) already holds the name.
bool NameTaken(const std::string& path) {
  struct stat st {};
  return ::lstat(ToOsPath(path).c_str(), &st) == 0;
}

}  // namespace

TRadeTable* TVersionCatalog::ContentTable() {
  return ExtraTable(ContentTableDef());
}

TRadeTable* TVersionCatalog::FingerprintTable() {
  return ExtraTable(FingerprintTableDef());
}

TCapturePlan TVersionCatalog::PrepareCapture(const std::string& path) {
  TCapturePlan plan;
  plan.Path = path;
  plan.SkipUnchanged = skipUnchanged_;
  Unfiltered(Tbfileid);
  Tbfileid->First();
  if (!LocateExact(Tbfileid, {N().sourceName}, {Variant(path)})) return plan;
  const std::string backupFolder = Text(Tbfileid, N().backupFolder);
  const int32_t fileNo = Int(Tbfileid, N().fileNo);
  // Fingerprint first: whatever is written after it makes the file differ from what is stored.
  plan.Fingerprint = FileFingerprint(path);
  plan.Stamp = VersionStamp(path);
  const std::string name = ExtractFileName(path);
  plan.Extension = ExtractFileExt(name);
  const std::string base =
      IncludeTrailingPathDelimiter(backupFolder) + name.substr(0, name.size() - plan.Extension.size());
  // The file's versions, newest first, one entry per copy.
  std::vector<verinfo> versions = Versions(fileNo);
  std::unordered_map<std::string, size_t> knownAt;
  for (auto v = versions.rbegin(); v != versions.rend(); ++v) {
    if (v->FilePath.empty() || knownAt.count(v->FilePath)) continue;
    TCapturePlan::TKnownCopy k;
    k.Version = v->Version;
    k.Copy = v->FilePath;
    if (!TryStrToInt64(v->Size, k.Size)) k.Size = -1;
    knownAt[k.Copy] = plan.Known.size();
    plan.Known.push_back(k);
  }
  // Digests known from earlier captures; without them (a catalog that cannot take the table) the
  // copies are read again when a save needs them.
  if (!plan.Known.empty()) {
    try {
      TRadeTable* content = ContentTable();
      Unfiltered(content);
      TField* cFile = content->FieldByName(N().fileNo);
      TField* cCopy = content->FieldByName(N().copyName);
      for (content->First(); !content->Eof(); content->Next()) {
        if (cFile->AsInteger() != fileNo) continue;
        auto at = knownAt.find(cCopy->AsString());
        if (at == knownAt.end()) continue;
        TCapturePlan::TKnownCopy& k = plan.Known[at->second];
        k.Digest = Text(content, N().digest);
        k.Identity = Text(content, N().identity);
        k.Stored = true;
      }
    } catch (const std::exception&) {
    }
  }
  // A version text no row of the file holds and a copy name nothing on disk holds: a second save
  // in one stamp slot gets stamp-2 and its own copy, never the first one's.
  std::unordered_map<std::string, bool> taken;
  for (const verinfo& v : versions) taken[v.Version] = true;
  for (int n = 1;; ++n) {
    std::string version = SlotVersion(plan.Stamp, n, Room(Tbfilever, N().version));
    if (version.empty())
      throw Exception(
          Format(Texts().copyTooLong.c_str(), static_cast<int>(Room(Tbfilever, N().version)), path.c_str()));
    std::string copy = base + "{" + version + "}" + plan.Extension;
    if (taken.count(version) || NameTaken(copy)) continue;
    plan.Version = version;
    plan.Copy = copy;
    break;
  }
  // The file's row may come from another program or from a catalog of other widths: a copy's
  // path or extension the version row would cut is refused before anything is written.
  CheckFits(Tbfilever, N().extension, plan.Extension.size(), Texts().extensionTooLong, path);
  CheckFits(Tbfilever, N().version, plan.Version.size(), Texts().copyTooLong, path);
  CheckFits(Tbfilever, N().copyName, plan.Copy.size(), Texts().copyTooLong, path);
  plan.FileNo = fileNo;
  return plan;
}

bool TVersionCatalog::DigestContent(TCapturePlan& plan, const std::function<void(int64_t, int64_t)>& progress,
                                    const std::atomic<bool>* cancel) {
  int64_t size = -1;
  {
    struct stat st {};
    if (::stat(ToOsPath(plan.Path).c_str(), &st) == 0) size = st.st_size;
  }
  // Only copies of the same length can hold the same bytes; without one, nothing is read twice.
  std::vector<TCapturePlan::TKnownCopy*> same;
  for (TCapturePlan::TKnownCopy& k : plan.Known)
    if (k.Size == size && size >= 0) same.push_back(&k);
  if (same.empty()) return true;
  int64_t total = size;
  for (TCapturePlan::TKnownCopy* k : same) {
    // A digest holds while its copy is the very file it was computed from.
    if (!k->Digest.empty() && CopyIdentity(k->Copy) != k->Identity) {
      k->Digest.clear();
      k->Stored = false;
    }
    if (k->Digest.empty()) total += k->Size;
  }
  int64_t before = 0;
  auto step = [&](int64_t done) {
    if (progress) progress(before + done, total);
  };
  std::string digest;
  int64_t read = 0;
  if (!HashFileContent(plan.Path, digest, read, step, cancel)) return !(cancel && cancel->load());
  before += read;
  const std::string fingerprint = FileFingerprint(plan.Path);
  for (TCapturePlan::TKnownCopy* k : same) {
    if (!k->Digest.empty()) continue;
    std::string identity = CopyIdentity(k->Copy);
    std::string copyDigest;
    int64_t copyRead = 0;
    bool ok = !identity.empty() && HashFileContent(k->Copy, copyDigest, copyRead, step, cancel);
    if (cancel && cancel->load()) return false;
    before += k->Size;
    // Read whole and unchanged meanwhile, or not trusted.
    if (ok && copyRead == k->Size && CopyIdentity(k->Copy) == identity) {
      k->Digest = copyDigest;
      k->Identity = identity;
    }
  }
  if (read != size) return true;
  for (size_t i = 0; i < plan.Known.size(); ++i) {
    TCapturePlan::TKnownCopy& k = plan.Known[i];
    if (k.Digest != digest || k.Size != read || !FileExists(k.Copy)) continue;
    if (i == 0 && plan.SkipUnchanged) {
      plan.Unchanged = true;
    } else {
      plan.Shared = true;
      plan.Copy = k.Copy;
    }
    plan.Size = read;
    break;
  }
  // The digest describes the copy about to be made only when the file held still while it was read.
  if (!plan.Unchanged && !plan.Shared && fingerprint == FileFingerprint(plan.Path)) plan.Digest = digest;
  if (plan.Shared) plan.Digest = digest;
  return true;
}

bool TVersionCatalog::CopyForCapture(TCapturePlan& plan,
                                     const std::function<void(int64_t done, int64_t total)>& progress,
                                     const std::atomic<bool>* cancel) {
  if (plan.FileNo == 0) return false;
  plan.Unchanged = plan.Shared = plan.Copied = plan.Cancelled = false;
  if (!DigestContent(plan, progress, cancel)) {
    plan.Cancelled = true;
    return false;
  }
  if (plan.Unchanged || plan.Shared) {
    if (progress) progress(plan.Size, plan.Size);
    return true;
  }
  const std::string digest = plan.Digest;
  const std::string before = FileFingerprint(plan.Path);
  TCopyOptions options;
  options.ReadOnly = true;   // a copy may be named by several versions: nothing may change it
  options.NoReplace = true;  // and none is ever written over
  options.Progress = progress;
  options.Cancel = cancel;
  std::string reason;
  bool cancelled = false;
  if (!CopyFileFast(plan.Path, plan.Copy, options, &plan.Method, &reason, &cancelled)) {
    if (cancelled) {
      plan.Cancelled = true;
      return false;
    }
    throw Exception(Format(Texts().backupFailed.c_str(), (plan.Path + " " + reason).c_str()));
  }
  plan.Copied = true;
  struct stat st {};
  plan.Size = ::stat(ToOsPath(plan.Copy).c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  // A digest read before the copy names the copy only when the file did not change in between.
  if (digest.empty() || FileFingerprint(plan.Path) != before || plan.Size < 0) plan.Digest.clear();
  return true;
}

void TVersionCatalog::StoreDigests(const TCapturePlan& plan) {
  // What is written here only saves reading copies again: a failure loses nothing.
  try {
    TRadeTable* content = ContentTable();
    Unfiltered(content);
    auto put = [&](const std::string& copy, int64_t size, const std::string& digest) {
      std::string identity = CopyIdentity(copy);
      if (identity.empty() || digest.empty()) return;
      content->First();
      if (LocateExact(content, {N().fileNo, N().copyName}, {Variant(plan.FileNo), Variant(copy)}))
        content->Edit();
      else
        content->Append();
      content->FieldByName(N().fileNo)->SetAsInteger(plan.FileNo);
      content->FieldByName(N().copyName)->SetAsString(copy);
      content->FieldByName(N().identity)->SetAsString(identity);
      content->FieldByName(N().size)->SetAsString(IntToStr(size));
      content->FieldByName(N().digest)->SetAsString(digest);
      PostOrCancel(content);
    };
    for (const TCapturePlan::TKnownCopy& k : plan.Known)
      if (!k.Stored && !k.Digest.empty()) put(k.Copy, k.Size, k.Digest);
    if (plan.Copied && !plan.Digest.empty()) put(plan.Copy, plan.Size, plan.Digest);
  } catch (const std::exception&) {
  }
}

void TVersionCatalog::StoreStamp(const TCapturePlan& plan) {
  // Every row of the path takes the stamp (a catalog may hold the path twice), so none of them
  // is prompted for again.
  std::vector<int32_t> fileNos;
  Unfiltered(Tbfileid);
  TField* source = Tbfileid->FieldByName(N().sourceName);
  TField* stored = Tbfileid->FieldByName(N().size);
  for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next()) {
    if (source->AsString() != plan.Path) continue;
    fileNos.push_back(Int(Tbfileid, N().fileNo));
    if (stored->AsString() == plan.Stamp) continue;
    Tbfileid->Edit();
    stored->SetAsString(plan.Stamp);
    PostOrCancel(Tbfileid);
  }
  // The fingerprint goes with the stamp it was read with; a stamp stored without it (by a program
  // that knows only the three tables) makes it void. Without it, at worst a later pass reads the
  // file again and finds it unchanged.
  try {
    TRadeTable* prints = FingerprintTable();
    Unfiltered(prints);
    for (int32_t fileNo : fileNos) {
      prints->First();
      if (LocateExact(prints, {N().fileNo}, {Variant(fileNo)}))
        prints->Edit();
      else
        prints->Append();
      prints->FieldByName(N().fileNo)->SetAsInteger(fileNo);
      prints->FieldByName(N().stamp)->SetAsString(plan.Stamp);
      prints->FieldByName(N().fingerprint)->SetAsString(plan.Fingerprint);
      PostOrCancel(prints);
    }
  } catch (const std::exception&) {
  }
}

bool TVersionCatalog::CommitCapture(TCapturePlan& plan, const std::string& note, verinfo& info) {
  if (plan.FileNo == 0 || plan.Cancelled) return false;
  // Whichever step fails, no row names a missing copy, no copy is left without its row, and the
  // stamp still differs, so the next pass captures the file again.
  auto dropCopy = [&] {
    if (!plan.Copied) return;
    std::error_code ignored;
    std::filesystem::remove(ToOsPath(plan.Copy), ignored);
    plan.Copied = false;
  };
  std::vector<verinfo> versions = Versions(plan.FileNo);
  if (plan.Unchanged) {
    // Unchanged against the version that is newest now, or captured afresh at the next pass.
    if (versions.empty() || plan.Known.empty() || versions.back().Version != plan.Known.front().Version)
      return false;
    StoreDigests(plan);
    StoreStamp(plan);
    return false;
  }
  if (plan.Shared && !FileExists(plan.Copy))
    throw Exception(Format(Texts().backupFailed.c_str(), (plan.Path + " " + plan.Copy).c_str()));
  // A version text taken meanwhile (another program captured the file) moves on to the next free one.
  std::string version = plan.Version;
  for (int n = 2;
       std::any_of(versions.begin(), versions.end(), [&](const verinfo& v) { return v.Version == version; });
       ++n)
    version = SlotVersion(plan.Stamp, n, Room(Tbfilever, N().version));
  if (version.empty()) {
    dropCopy();
    throw Exception(Format(Texts().copyTooLong.c_str(), static_cast<int>(Room(Tbfilever, N().version)),
                           plan.Path.c_str()));
  }
  plan.Version = version;
  Unfiltered(Tbfilever);
  try {
    CheckFits(Tbfilever, N().version, version.size(), Texts().copyTooLong, plan.Path);
    Tbfilever->Append();
    Tbfilever->FieldByName(N().fileNo)->SetAsInteger(plan.FileNo);
    Tbfilever->FieldByName(N().note)->SetAsString(FitText(note, Room(Tbfilever, N().note)));
    Tbfilever->FieldByName(N().version)->SetAsString(version);
    Tbfilever->FieldByName(N().size)->SetAsString(IntToStr(plan.Size));
    Tbfilever->FieldByName(N().extension)->SetAsString(plan.Extension);
    Tbfilever->FieldByName(N().copyName)->SetAsString(plan.Copy);
    Tbfilever->Post();
  } catch (...) {
    dropCopy();
    DropPending(Tbfilever);
    throw;
  }
  info = VersionRow(Tbfilever);
  StoreDigests(plan);
  StoreStamp(plan);
  // The area's cleanup rules, over this file's versions. The version is kept either way: a cleanup
  // that fails is left for the next capture or the next cleanup on demand, which reports it.
  try {
    CleanupAfterCapture(*this, plan.FileNo);
  } catch (const std::exception&) {
  }
  return true;
}

bool TVersionCatalog::CaptureVersion(const std::string& path, const std::string& note, verinfo& info) {
  TCapturePlan plan = PrepareCapture(path);
  if (plan.FileNo == 0) return false;
  CopyForCapture(plan, {}, nullptr);
  return CommitCapture(plan, note, info);
}

bool TVersionCatalog::FindFileInfo(int32_t fileNo, verinfo& info) {
  Unfiltered(Tbfileid);
  Tbfileid->First();
  if (!LocateExact(Tbfileid, {N().fileNo}, {Variant(fileNo)})) return false;
  info.FileNo = Int(Tbfileid, N().fileNo);
  info.FilePath = Text(Tbfileid, N().sourceName);
  info.Version = IntToStr(Int(Tbfileid, N().areaNo));
  info.Size = Text(Tbfileid, N().size);
  return true;
}

bool TVersionCatalog::FindVersionInfo(int32_t fileNo, const std::string& version, verinfo& info) {
  Unfiltered(Tbfilever);
  Tbfilever->First();
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)})) return false;
  info = VersionRow(Tbfilever);
  return true;
}

void TVersionCatalog::SetVersionNote(int32_t fileNo, const std::string& version, const std::string& note) {
  Unfiltered(Tbfilever);
  Tbfilever->First();
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)})) return;
  Tbfilever->Edit();
  Tbfilever->FieldByName(N().note)->SetAsString(FitText(note, Room(Tbfilever, N().note)));
  PostOrCancel(Tbfilever);
}

void TVersionCatalog::RemoveTrackedFile(int32_t fileNo) {
  Unfiltered(Tbfileid);
  if (!LocateExact(Tbfileid, {N().fileNo}, {Variant(fileNo)})) return;
  const std::string path = Text(Tbfileid, N().sourceName);
  Tbfileid->Delete();
  // A tracked folder would otherwise take the file back at its next walk.
  ExcludeFromTrackedFolders(*this, path);
}

int32_t TVersionCatalog::FileNoOf(const std::string& path) {
  Unfiltered(Tbfileid);
  Tbfileid->First();
  return LocateExact(Tbfileid, {N().sourceName}, {Variant(path)}) ? Int(Tbfileid, N().fileNo) : 0;
}

std::vector<verinfo> TVersionCatalog::Versions(int32_t fileNo) {
  Unfiltered(Tbfilever);
  std::vector<verinfo> out;
  TField* file = Tbfilever->FieldByName(N().fileNo);
  for (Tbfilever->First(); !Tbfilever->Eof(); Tbfilever->Next()) {
    if (file->AsInteger() != fileNo) continue;
    out.push_back(VersionRow(Tbfilever));
  }
  return out;
}

std::vector<verinfo> TVersionCatalog::AllVersions() {
  Unfiltered(Tbfilever);
  std::vector<verinfo> out;
  for (Tbfilever->First(); !Tbfilever->Eof(); Tbfilever->Next()) out.push_back(VersionRow(Tbfilever));
  return out;
}

std::vector<std::string> TVersionCatalog::ChangedFiles() {
  // The fingerprints stored with the stamps: two saves inside one stamp slot share the stamp, not
  // the fingerprint.
  std::unordered_map<int32_t, std::pair<std::string, std::string>> prints;
  try {
    TRadeTable* printTable = FingerprintTable();
    Unfiltered(printTable);
    for (printTable->First(); !printTable->Eof(); printTable->Next())
      prints.emplace(Int(printTable, N().fileNo),
                     std::make_pair(Text(printTable, N().stamp), Text(printTable, N().fingerprint)));
  } catch (const std::exception&) {
    // A catalog that cannot take the table (read-only) is compared by stamps alone.
    prints.clear();
  }
  Unfiltered(Tbfileid);
  std::vector<std::string> changed;
  TField* source = Tbfileid->FieldByName(N().sourceName);
  TField* stored = Tbfileid->FieldByName(N().size);
  TField* number = Tbfileid->FieldByName(N().fileNo);
  for (Tbfileid->First(); !Tbfileid->Eof(); Tbfileid->Next()) {
    std::string path = source->AsString();
    const std::string stamp = stored->AsString();
    if (VersionStamp(path) == stamp) {
      auto print = prints.find(number->AsInteger());
      // Without a fingerprint of this very stamp, the stamp alone decides.
      if (print == prints.end() || print->second.first != stamp ||
          print->second.second == FileFingerprint(path))
        continue;
    }
    // Paths compare as the file system does: letter case counts.
    if (std::find(changed.begin(), changed.end(), path) == changed.end()) changed.push_back(path);
  }
  return changed;
}

namespace {

// Moves the file's last-write time on in 2-second steps until its stamp names no version of the
// file and no copy: two captures of one stamp would share one copy, the later overwriting the
// earlier's bytes.
void MakeStampFree(TVersionCatalog& catalog, int32_t fileNo, const std::string& path,
                   const std::string& backupFolder) {
  for (int step = 0; step < 1000; ++step) {
    std::string stamp = VersionStamp(path);
    verinfo taken;
    if (!catalog.FindVersionInfo(fileNo, stamp, taken) && !FileExists(CopyNameFor(backupFolder, path, stamp)))
      return;
    std::error_code ec;
    auto os = std::filesystem::path(ToOsPath(path));
    auto t = std::filesystem::last_write_time(os, ec);
    if (!ec) std::filesystem::last_write_time(os, t + std::chrono::seconds(2), ec);
    if (ec) return;
  }
}

}  // namespace

TRestoreResult TVersionCatalog::RestoreVersion(int32_t fileNo, const std::string& version) {
  verinfo file;
  if (!FindFileInfo(fileNo, file))
    throw Exception(Format(Texts().notTracked.c_str(), IntToStr(fileNo).c_str()));
  const std::string path = file.FilePath;
  verinfo chosen;
  if (!FindVersionInfo(fileNo, version, chosen))
    throw Exception(Format(Texts().noSuchVersion.c_str(), version.c_str()));
  // Everything that can refuse the restore is checked before the catalog or the file changes.
  const std::string bytes = ReadCopy(chosen.FilePath);
  struct stat st {};
  const bool exists = ::stat(ToOsPath(path).c_str(), &st) == 0;
  std::string folder = ExcludeTrailingPathDelimiter(ExtractFilePath(path));
  if ((exists && IsFileReadOnly(path)) ||
      ::access(ToOsPath(folder.empty() ? "/" : folder).c_str(), W_OK | X_OK) != 0)
    throw Exception(Format(Texts().cannotWrite.c_str(), path.c_str()));
  const unsigned mode = exists ? static_cast<unsigned>(st.st_mode & 07777) : NewFileMode();
  Unfiltered(Tbfileid);
  LocateExact(Tbfileid, {N().fileNo}, {Variant(fileNo)});
  const std::string backupFolder = Text(Tbfileid, N().backupFolder);

  // Both states are recorded as versions even where their content is a version's already (then
  // they name that version's copy).
  auto capture = [&](const std::string& note, verinfo& info) {
    TCapturePlan plan = PrepareCapture(path);
    plan.SkipUnchanged = false;
    CopyForCapture(plan, {}, nullptr);
    return CommitCapture(plan, note, info);
  };
  TRestoreResult result;
  // The current state is kept unless it is the newest version already.
  std::vector<verinfo> versions = Versions(fileNo);
  bool differs = exists;
  if (exists && !versions.empty()) {
    const std::string& newest = versions.back().FilePath;
    differs = !FileExists(newest) || !SameBytes(path, ReadCopy(newest));
  }
  if (differs) {
    MakeStampFree(*this, fileNo, path, backupFolder);
    result.SavedCurrent = capture(Texts().savedBeforeRestore, result.Saved);
  }
  if (!ReplaceFileContents(ToOsPath(path), bytes, mode))
    throw Exception(Format(Texts().cannotWrite.c_str(), path.c_str()));
  // The restored state is a version of its own; its capture also stores the new stamp, so the
  // change report this write brings finds nothing to capture.
  MakeStampFree(*this, fileNo, path, backupFolder);
  capture(Texts().restoredFrom + version, result.Restored);
  return result;
}

bool TVersionCatalog::DeleteVersion(int32_t fileNo, const std::string& version) {
  Unfiltered(Tbfilever);
  Tbfilever->First();
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)})) return false;
  const std::string copy = Text(Tbfilever, N().copyName);
  // The row goes first: a row never names a missing copy.
  Tbfilever->Delete();
  Tbfilever->First();
  // A copy another row still names (versions of equal content share one) stays.
  if (!copy.empty() && !LocateExact(Tbfilever, {N().copyName}, {Variant(copy)})) {
    std::error_code ignored;
    std::filesystem::remove(ToOsPath(copy), ignored);
    // Its digest goes with it (a stale one would not match a later copy of that name anyway).
    try {
      TRadeTable* content = ContentTable();
      Unfiltered(content);
      content->First();
      while (LocateExact(content, {N().fileNo, N().copyName}, {Variant(fileNo), Variant(copy)}))
        content->Delete();
    } catch (const std::exception&) {
    }
  }
  // Its protected mark would otherwise pass to a later version of the same text.
  if (!LocateExact(Tbfilever, {N().fileNo, N().version}, {Variant(fileNo), Variant(version)}))
    TCatalogCleanup(*this).SetProtected(fileNo, version, false);
  return true;
}

void TVersionCatalog::SaveVersionAs(int32_t fileNo, const std::string& version, const std::string& target) {
  verinfo v;
  if (!FindVersionInfo(fileNo, version, v))
    throw Exception(Format(Texts().noSuchVersion.c_str(), version.c_str()));
  const std::string bytes = ReadCopy(v.FilePath);
  struct stat st {};
  unsigned mode =
      ::stat(ToOsPath(target).c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : NewFileMode();
  if (!ReplaceFileContents(ToOsPath(target), bytes, mode))
    throw Exception(Format(Texts().cannotWrite.c_str(), target.c_str()));
}

namespace {

// Raises the last libgit2 failure.
void GitCheck(int rc) {
  if (rc >= 0) return;
  const git_error* e = git_error_last();
  std::string text = e && e->message ? e->message : "libgit2 error " + std::to_string(rc);
  std::string ansi;
  try {
    ansi = Utf8ToAnsi(text);
  } catch (const std::exception&) {
    ansi = "libgit2 error " + std::to_string(rc);
  }
  throw Exception(Format(Texts().exportFailed.c_str(), ansi.c_str()));
}

template <typename T, void (*Free)(T*)>
struct TGitPtr {
  T* p = nullptr;
  ~TGitPtr() {
    if (p) Free(p);
  }
};

}  // namespace

int TVersionCatalog::ExportGitRepository(int32_t fileNo, const std::string& folder) {
  verinfo file;
  if (!FindFileInfo(fileNo, file))
    throw Exception(Format(Texts().notTracked.c_str(), IntToStr(fileNo).c_str()));
  std::vector<verinfo> versions = Versions(fileNo);
  if (versions.empty()) throw Exception(Texts().nothingToExport);
  // Time order; versions of one time keep their capture order.
  std::stable_sort(versions.begin(), versions.end(),
                   [](const verinfo& a, const verinfo& b) { return a.Version < b.Version; });
  // Every copy is read before the repository is made: a lost copy leaves no half history behind.
  std::vector<std::string> contents;
  for (const verinfo& v : versions) contents.push_back(ReadCopy(v.FilePath));
  const std::string osFolder = ToOsPath(folder);
  std::error_code ec;
  if (std::filesystem::exists(osFolder, ec) && !std::filesystem::is_empty(osFolder, ec))
    throw Exception(Format(Texts().folderNotEmpty.c_str(), folder.c_str()));
  const std::string entryName = ToOsPath(ExtractFileName(file.FilePath));

  git_libgit2_init();
  struct TShutdown {
    ~TShutdown() { git_libgit2_shutdown(); }
  } shutdown;
  TGitPtr<git_repository, git_repository_free> repo;
  GitCheck(git_repository_init(&repo.p, osFolder.c_str(), 0));
  std::string author = "lanqi";
  if (const char* user = std::getenv("USER"); user && *user) author = user;
  git_oid parent{};
  bool hasParent = false;
  for (size_t i = 0; i < versions.size(); ++i) {
    const verinfo& v = versions[i];
    git_oid blob, treeId, commit;
    GitCheck(git_blob_create_from_buffer(&blob, repo.p, contents[i].data(), contents[i].size()));
    {
      TGitPtr<git_treebuilder, git_treebuilder_free> builder;
      GitCheck(git_treebuilder_new(&builder.p, repo.p, nullptr));
      GitCheck(git_treebuilder_insert(nullptr, builder.p, entryName.c_str(), &blob, GIT_FILEMODE_BLOB));
      GitCheck(git_treebuilder_write(&treeId, builder.p));
    }
    TGitPtr<git_tree, git_tree_free> tree;
    GitCheck(git_tree_lookup(&tree.p, repo.p, &treeId));
    int64_t seconds = 0;
    int offset = 0;
    if (!StampTime(v.Version, seconds, offset)) {
      seconds = 0;
      offset = 0;
    }
    TGitPtr<git_signature, git_signature_free> sig;
    GitCheck(git_signature_new(&sig.p, author.c_str(), (author + "@localhost").c_str(),
                               static_cast<git_time_t>(seconds), offset));
    std::string message = v.Note.empty() ? Texts().versionMessage + v.Version : v.Note;
    try {
      message = AnsiToUtf8(message);
    } catch (const std::exception&) {
      message = "Version " + v.Version;
    }
    TGitPtr<git_commit, git_commit_free> parentCommit;
    if (hasParent) GitCheck(git_commit_lookup(&parentCommit.p, repo.p, &parent));
    const git_commit* parents[] = {parentCommit.p};
    GitCheck(git_commit_create(&commit, repo.p, "HEAD", sig.p, sig.p, nullptr, (message + "\n").c_str(),
                               tree.p, hasParent ? 1 : 0, parents));
    parent = commit;
    hasParent = true;
  }
  // The newest version in the working folder, as a clone would show it.
  git_checkout_options options = GIT_CHECKOUT_OPTIONS_INIT;
  options.checkout_strategy = GIT_CHECKOUT_FORCE;
  GitCheck(git_checkout_head(repo.p, &options));
  return static_cast<int>(versions.size());
}

}  // namespace lanqi
