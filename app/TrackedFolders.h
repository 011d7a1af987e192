// Tracked folders: a folder of an area whose files are tracked by name patterns, those in it when it
// is added and those that appear in it later, each with its first version recorded. The folders
// live in a table of their own beside the catalog's three ("监控目录"), made on first use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/VersionCatalog.h"

namespace lanqi {

// Editors' temporary and lock files ("~$*", ".~lock.*#", "*.swp", "*.tmp", ".#*", "*~"): never
// tracked from a folder, whatever its patterns say.
const std::vector<std::string>& EditorScratchMasks();
// "*.docx; *.txt" as its masks, blanks around each dropped, empty ones left out.
std::vector<std::string> SplitMasks(const std::string& text);

// Whether folder tracks the file at path (code-page text): path lies in the folder (directly, or
// at any depth when Recursive, no level of the way being an excluded name), its name matches one of
// the include masks (any name without them) and neither the editors' scratch masks nor the exclude
// masks. Masks are DOS-style ("*", "?", letter case ignored); an exclusion that starts with the
// delimiter is a path below the folder ("/sub/a.txt"), matched exactly.
bool FolderAdmits(const TCatalogFolder& folder, const std::string& path);

// What tracking files from folders did: each file tracked with its first version, and a message for
// each file that could not be.
struct TFolderTracking {
  std::vector<verinfo> Tracked;       // FileNo, Version and FilePath (the copy) of each first version
  std::vector<std::string> Paths;     // the tracked files, in the order of Tracked
  std::vector<std::string> Failures;  // "path: message"
};

// The tracked folders in table order; none for a catalog that has no such table (it is not made by
// reading).
std::vector<TCatalogFolder> TrackedFolders(TVersionCatalog& catalog);
// Fills each area's Folders from the tracked folders.
void AttachTrackedFolders(TVersionCatalog& catalog, std::vector<TCatalogArea>& areas);

// Tracks folder in the area named areaName with its patterns and tracks every file in it that they
// admit, recording its first version (into done when given). False when there is no such area.
// Raises for a folder that is missing, already tracked, or whose path or patterns do not fit.
bool AddTrackedFolder(TVersionCatalog& catalog, const std::string& areaName, const std::string& folder,
                      bool recursive, const std::string& include, const std::string& exclude,
                      TFolderTracking* done = nullptr, int32_t* folderNo = nullptr);
// Stops tracking new files of the folder; the files it tracked stay tracked with their versions.
// False when there is no such folder.
bool RemoveTrackedFolder(TVersionCatalog& catalog, int32_t folderNo);

// A file whose tracking is stopped is not tracked again by a folder: its path below each folder that
// admits it ("/sub/a.txt") joins that folder's exclusions.
void ExcludeFromTrackedFolders(TVersionCatalog& catalog, const std::string& path);

// Every file in the tracked folders that they admit and that is not tracked yet is tracked, with
// its first version recorded. Files inside an area's folder (the backup copies) and the catalog
// itself are never taken.
TFolderTracking TrackNewFolderFiles(TVersionCatalog& catalog);
// The same for one path: tracked when a tracked folder admits it and it is not tracked yet. True
// when it was tracked now.
bool TrackIfAdmitted(TVersionCatalog& catalog, const std::string& path, TFolderTracking& done);

}  // namespace lanqi
