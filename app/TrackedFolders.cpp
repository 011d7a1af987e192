// Tracked folders: their table, their name patterns and the walk that tracks their new files.
#include "app/TrackedFolders.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_set>

#include "app/CatalogSchema.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"
#include "watcher/FileSystemWatcher.h"

namespace lanqi {

namespace {

namespace fs = std::filesystem;

// The catalog's table and field names.
const TCatalogNames& N() {
  return CatalogNames();
}

// Messages, as code-page bytes.
struct TFolderTexts {
  std::string folderMissing = Ansi(u8"目录不存在：%s");
  std::string alreadyTracked = Ansi(u8"目录已在监控中：%s");
  std::string pathTooLong = Ansi(u8"目录路径过长（最多%d字节）：%s");
  std::string patternTooLong = Ansi(u8"文件名模式过长（最多%d字节）：%s");
};

const TFolderTexts& Texts() {
  static const TFolderTexts texts;
  return texts;
}

// The folder table; with create false, null for a catalog that does not hold it, so that reading a
// catalog never writes it.
TRadeTable* FolderTable(TVersionCatalog& catalog, bool create) {
  if (!create) {
    TRadeDatabase* db = catalog.Tbarea->Active() ? catalog.Tbarea->Database() : nullptr;
    if (!db) return nullptr;
    // Another program may have made it since the catalog was opened.
    db->RefreshTables();
    if (!db->FindTableIO(N().folderTable)) return nullptr;
  }
  TRadeTable* t = catalog.ExtraTable(FolderTableDef());
  t->SetFiltered(false);
  return t;
}

TCatalogFolder FolderRow(TRadeTable* t) {
  TCatalogFolder f;
  f.FolderNo = t->FieldByName(N().folderNo)->AsInteger();
  f.AreaNo = t->FieldByName(N().areaNo)->AsInteger();
  f.Path = t->FieldByName(N().folder)->AsString();
  f.Recursive = t->FieldByName(N().recursive)->AsBoolean();
  f.Include = t->FieldByName(N().include)->AsString();
  f.Exclude = t->FieldByName(N().exclude)->AsString();
  return f;
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The folder's path with the delimiter after it, so that "/a/b" never holds "/a/bc/x".
std::string Prefix(const std::string& folder) {
  return IncludeTrailingPathDelimiter(folder);
}

bool Inside(const std::string& path, const std::string& prefix) {
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

// A name a folder never looks into or tracks: an editor's scratch file or one of its exclusions.
// relative is the path below the folder with a delimiter before it ("/sub/a.txt"), which an
// exclusion of that form names exactly (a file whose tracking was stopped).
bool Excluded(const std::string& name, const std::string& relative, const std::vector<std::string>& exclude) {
  if (MatchesMasks(name, EditorScratchMasks())) return true;
  if (exclude.empty()) return false;
  return MatchesMasks(name, exclude) || std::find(exclude.begin(), exclude.end(), relative) != exclude.end();
}

// What a walk needs to know of the catalog, read once: the areas (name and copy folder), the tracked
// paths and the catalog file itself.
struct TWalkContext {
  std::map<int32_t, std::string> areaNames;
  std::vector<std::string> copyFolders;  // every area's folder, delimiter after it
  std::unordered_set<std::string> tracked;
  std::string catalogFile;

  explicit TWalkContext(TVersionCatalog& catalog) {
    TRadeTable* areas = catalog.Tbarea;
    areas->SetFiltered(false);
    areas->Open();
    TField* no = areas->FieldByName(N().areaNo);
    TField* name = areas->FieldByName(N().name);
    TField* folder = areas->FieldByName(N().folder);
    for (areas->First(); !areas->Eof(); areas->Next()) {
      areaNames.emplace(no->AsInteger(), name->AsString());
      if (!folder->AsString().empty()) copyFolders.push_back(Prefix(folder->AsString()));
    }
    TRadeTable* files = catalog.Tbfileid;
    files->SetFiltered(false);
    files->Open();
    TField* source = files->FieldByName(N().sourceName);
    for (files->First(); !files->Eof(); files->Next()) tracked.insert(source->AsString());
    catalogFile = catalog.Tbarea->DatabaseName();
  }

  // The backup copies and the catalog are written by every capture: tracking them would make a
  // version of each version.
  bool Ours(const std::string& path) const {
    if (path == catalogFile) return true;
    return std::any_of(copyFolders.begin(), copyFolders.end(),
                       [&](const std::string& f) { return Inside(path, f) || Prefix(path) == f; });
  }
};

// Tracks path in the area and records its first version; a failure is noted and the walk goes on.
void TrackOne(TVersionCatalog& catalog, TWalkContext& context, const std::string& areaName,
              const std::string& path, TFolderTracking& done) {
  try {
    context.tracked.insert(path);
    if (!catalog.AddFileToArea(areaName, path)) return;
    verinfo info;
    if (catalog.CaptureVersion(path, "", info)) {
      done.Tracked.push_back(info);
      done.Paths.push_back(path);
    }
  } catch (const std::exception& e) {
    done.Failures.push_back(path + ": " + e.what());
  }
}

// The files in folder that it admits and that are not tracked yet, in name order, each level's files
// before its sub-folders'.
void Walk(const TCatalogFolder& folder, const TWalkContext& context, std::vector<std::string>& found) {
  const std::vector<std::string> include = SplitMasks(folder.Include);
  const std::vector<std::string> exclude = SplitMasks(folder.Exclude);
  std::vector<std::string> pending{ExcludeTrailingPathDelimiter(folder.Path)};
  if (pending[0].empty()) pending[0] = std::string(1, PathDelim);
  // Paths below the folder, as its exclusions name them, start at the delimiter after it.
  const std::string root = Prefix(folder.Path).substr(0, Prefix(folder.Path).size() - 1);
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    std::vector<std::string> files, dirs;
    std::error_code ec;
    fs::directory_iterator it(ToOsPath(dir), fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      std::string name;
      try {
        name = FromOsPath(it->path().filename().string());
      } catch (const std::exception&) {
        continue;  // a name the catalog cannot hold
      }
      std::error_code kind;
      // Links are not followed: a link to a folder above would walk forever.
      if (it->is_symlink(kind)) continue;
      const std::string path = Prefix(dir) + name;
      if (context.Ours(path)) continue;
      const std::string relative = path.substr(root.size());
      if (it->is_directory(kind)) {
        if (folder.Recursive && !Excluded(name, relative, exclude)) dirs.push_back(path);
      } else if (it->is_regular_file(kind)) {
        if (Excluded(name, relative, exclude)) continue;
        if (!include.empty() && !MatchesMasks(name, include)) continue;
        if (!context.tracked.count(path)) files.push_back(path);
      }
    }
    std::sort(files.begin(), files.end());
    found.insert(found.end(), files.begin(), files.end());
    std::sort(dirs.begin(), dirs.end(), std::greater<>());
    pending.insert(pending.end(), dirs.begin(), dirs.end());
  }
}

void TrackFolderFiles(TVersionCatalog& catalog, TWalkContext& context, const TCatalogFolder& folder,
                      TFolderTracking& done) {
  auto area = context.areaNames.find(folder.AreaNo);
  if (area == context.areaNames.end() || !DirectoryExists(folder.Path)) return;
  std::vector<std::string> found;
  Walk(folder, context, found);
  for (const std::string& path : found)
    if (!context.tracked.count(path)) TrackOne(catalog, context, area->second, path, done);
}

}  // namespace

const std::vector<std::string>& EditorScratchMasks() {
  static const std::vector<std::string> masks = {"~$*", ".~lock.*#", "*.swp", "*.tmp", ".#*", "*~"};
  return masks;
}

std::vector<std::string> SplitMasks(const std::string& text) {
  std::vector<std::string> masks;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string mask = Trimmed(text.substr(start, end - start));
    if (!mask.empty()) masks.push_back(mask);
    start = end + 1;
  }
  return masks;
}

bool FolderAdmits(const TCatalogFolder& folder, const std::string& path) {
  const std::string prefix = Prefix(folder.Path);
  if (!Inside(path, prefix)) return false;
  const std::string rest = path.substr(prefix.size());
  const std::vector<std::string> exclude = SplitMasks(folder.Exclude);
  size_t start = 0;
  for (size_t slash; (slash = rest.find(PathDelim, start)) != std::string::npos; start = slash + 1) {
    if (!folder.Recursive) return false;
    const std::string level = rest.substr(start, slash - start);
    if (level.empty() || Excluded(level, PathDelim + rest.substr(0, slash), exclude)) return false;
  }
  const std::string name = rest.substr(start);
  if (name.empty() || Excluded(name, PathDelim + rest, exclude)) return false;
  const std::vector<std::string> include = SplitMasks(folder.Include);
  return include.empty() || MatchesMasks(name, include);
}

std::vector<TCatalogFolder> TrackedFolders(TVersionCatalog& catalog) {
  std::vector<TCatalogFolder> folders;
  TRadeTable* t = FolderTable(catalog, false);
  if (!t) return folders;
  for (t->First(); !t->Eof(); t->Next()) folders.push_back(FolderRow(t));
  return folders;
}

void AttachTrackedFolders(TVersionCatalog& catalog, std::vector<TCatalogArea>& areas) {
  for (TCatalogFolder& f : TrackedFolders(catalog)) {
    for (TCatalogArea& a : areas) {
      if (a.AreaNo != f.AreaNo) continue;
      a.Folders.push_back(std::move(f));
      break;
    }
  }
}

bool AddTrackedFolder(TVersionCatalog& catalog, const std::string& areaName, const std::string& folder,
                      bool recursive, const std::string& include, const std::string& exclude,
                      TFolderTracking* done, int32_t* folderNo) {
  TWalkContext context(catalog);
  int32_t areaNo = 0;
  for (auto& [no, name] : context.areaNames) {
    // The whole name, as for a file: a folder added to A never lands in AB.
    if (name == areaName) {
      areaNo = no;
      break;
    }
  }
  if (!areaNo) return false;
  std::string path = ExcludeTrailingPathDelimiter(folder);
  if (path.empty()) path = std::string(1, PathDelim);
  if (!DirectoryExists(path)) throw Exception(Format(Texts().folderMissing.c_str(), path.c_str()));
  TRadeTable* t = FolderTable(catalog, true);
  for (t->First(); !t->Eof(); t->Next())
    if (t->FieldByName(N().folder)->AsString() == path)
      throw Exception(Format(Texts().alreadyTracked.c_str(), path.c_str()));
  // A path or pattern cut by its slot would track other files than those asked for.
  auto fits = [&](const std::string& field, const std::string& text, const std::string& message) {
    int room = std::max(t->FieldByName(field)->Size(), 0);
    if (text.size() > static_cast<size_t>(room)) throw Exception(Format(message.c_str(), room, text.c_str()));
  };
  fits(N().folder, path, Texts().pathTooLong);
  fits(N().include, include, Texts().patternTooLong);
  fits(N().exclude, exclude, Texts().patternTooLong);
  t->Append();
  try {
    t->FieldByName(N().areaNo)->SetAsInteger(areaNo);
    t->FieldByName(N().folder)->SetAsString(path);
    t->FieldByName(N().recursive)->SetAsBoolean(recursive);
    t->FieldByName(N().include)->SetAsString(include);
    t->FieldByName(N().exclude)->SetAsString(exclude);
    t->Post();
  } catch (...) {
    try {
      t->Cancel();
    } catch (...) {
      // The failure that brought us here is the one to report.
    }
    throw;
  }
  TCatalogFolder row = FolderRow(t);
  if (folderNo) *folderNo = row.FolderNo;
  TFolderTracking ignored;
  TrackFolderFiles(catalog, context, row, done ? *done : ignored);
  return true;
}

bool RemoveTrackedFolder(TVersionCatalog& catalog, int32_t folderNo) {
  TRadeTable* t = FolderTable(catalog, false);
  if (!t) return false;
  TField* no = t->FieldByName(N().folderNo);
  for (t->First(); !t->Eof(); t->Next()) {
    if (no->AsInteger() != folderNo) continue;
    t->Delete();
    return true;
  }
  return false;
}

void ExcludeFromTrackedFolders(TVersionCatalog& catalog, const std::string& path) {
  TRadeTable* t = FolderTable(catalog, false);
  if (!t) return;
  TField* exclude = t->FieldByName(N().exclude);
  for (t->First(); !t->Eof(); t->Next()) {
    TCatalogFolder f = FolderRow(t);
    if (!FolderAdmits(f, path)) continue;
    const std::string relative = path.substr(Prefix(f.Path).size() - 1);
    // A path the exclusions cannot hold (a ";" in it, or no room left) would be tracked again.
    std::string masks = f.Exclude.empty() ? relative : f.Exclude + ";" + relative;
    if (relative.find(';') != std::string::npos ||
        masks.size() > static_cast<size_t>(std::max(exclude->Size(), 0)))
      continue;
    t->Edit();
    exclude->SetAsString(masks);
    t->Post();
  }
}

TFolderTracking TrackNewFolderFiles(TVersionCatalog& catalog) {
  TFolderTracking done;
  std::vector<TCatalogFolder> folders = TrackedFolders(catalog);
  if (folders.empty()) return done;
  // A file another program (the command line's add-folder or capture) tracked since this catalog
  // read its file table is tracked already, not new: the table is read again first.
  catalog.Tbfileid->Close();
  catalog.Tbfileid->Open();
  TWalkContext context(catalog);
  for (const TCatalogFolder& f : folders) TrackFolderFiles(catalog, context, f, done);
  return done;
}

bool TrackIfAdmitted(TVersionCatalog& catalog, const std::string& path, TFolderTracking& done) {
  if (!FileExists(path) || catalog.FileNoOf(path)) return false;
  std::vector<TCatalogFolder> folders = TrackedFolders(catalog);
  if (folders.empty()) return false;
  TWalkContext context(catalog);
  if (context.Ours(path)) return false;
  for (const TCatalogFolder& f : folders) {
    auto area = context.areaNames.find(f.AreaNo);
    if (area == context.areaNames.end() || !FolderAdmits(f, path)) continue;
    size_t before = done.Paths.size();
    TrackOne(catalog, context, area->second, path, done);
    return done.Paths.size() > before;
  }
  return false;
}

}  // namespace lanqi
