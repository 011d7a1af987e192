#include "app/PolledFiles.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <map>

#include "app/VersionCatalog.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace lanqi {

namespace {

// The real system path of a code-page path; a file that is gone is placed by its folder.
std::string RealPath(const std::string& path) {
  std::string os;
  try {
    os = ToOsPath(path);
  } catch (const std::exception&) {
    return path;
  }
  char real[PATH_MAX];
  if (::realpath(os.c_str(), real)) return real;
  size_t slash = os.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && ::realpath(os.substr(0, slash).c_str(), real))
    return std::string(real) + os.substr(slash);
  return os;
}

TIniFile Settings(const std::string& folder) {
  return TIniFile(IncludeTrailingPathDelimiter(folder) + "setup.ini");
}

}  // namespace

TMountView::TMountView(const std::vector<std::string>& roots) : mounts_(ReadMountTable()) {
  for (const std::string& r : roots) roots_.push_back(RealPath(r));
}

bool TMountView::NeedsPolling(const std::string& path) const {
  return lanqi::NeedsPolling(mounts_, roots_, RealPath(path));
}

TMountPlace TMountView::PlaceOf(const std::string& path) const {
  TMountPlace place;
  const TMountEntry* m = MountOfPath(mounts_, RealPath(path));
  if (!m) return place;
  const TMountEntry* home = roots_.empty() ? nullptr : MountOfPath(mounts_, roots_.front());
  place.Kind = ClassifyMount(*m, home, DeviceIsRemovable(m->Device));
  place.FsType = m->FsType;
  place.MountPoint = m->MountPoint;
  return place;
}

void TPolledFiles::Rebuild(const std::vector<TCatalogArea>& tree,
                           const std::function<bool(const std::string&)>& polled,
                           const std::function<TMountPlace(const std::string&)>& place) {
  std::map<std::string, TPolledFile> before;
  for (TPolledFile& f : files_) before.emplace(f.Path, std::move(f));
  files_.clear();
  for (const TCatalogArea& area : tree)
    for (const TCatalogFile& file : area.Files) {
      // Older catalogs hold some paths twice: one check covers both rows.
      if (std::any_of(files_.begin(), files_.end(),
                      [&](const TPolledFile& f) { return f.Path == file.Path; }) ||
          !polled(file.Path))
        continue;
      TPolledFile f;
      auto old = before.find(file.Path);
      if (old != before.end() && old->second.Stored == file.Stamp) {
        f = std::move(old->second);
      } else {
        f.Path = file.Path;
        f.Stored = f.Seen = file.Stamp;
        if (old != before.end()) f.LastCheck = old->second.LastCheck;
      }
      TMountPlace p = place(file.Path);
      f.Kind = p.Kind;
      f.FsType = p.FsType;
      f.MountPoint = p.MountPoint;
      files_.push_back(std::move(f));
    }
}

std::vector<std::string> TPolledFiles::Check(const std::string& now) {
  std::vector<std::string> changed;
  for (TPolledFile& f : files_) {
    std::string stamp = VersionStamp(f.Path);
    f.LastCheck = now;
    if (stamp == f.Seen) continue;
    f.Seen = stamp;
    changed.push_back(f.Path);
  }
  return changed;
}

int LoadPollInterval(const std::string& folder) {
  int s = Settings(folder).ReadInteger(Ansi(u8"网络管理"), Ansi(u8"检查间隔"), kDefaultPollSeconds);
  return std::clamp(s, kMinPollSeconds, kMaxPollSeconds);
}

void SavePollInterval(const std::string& folder, int seconds) {
  Settings(folder).WriteInteger(Ansi(u8"网络管理"), Ansi(u8"检查间隔"),
                                std::clamp(seconds, kMinPollSeconds, kMaxPollSeconds));
}

std::string MountKindText(TMountKind kind) {
  switch (kind) {
    case TMountKind::Local:
      return "本机";
    case TMountKind::Network:
      return "网络";
    case TMountKind::Fuse:
      return "FUSE";
    case TMountKind::Removable:
      return "可移动";
    case TMountKind::OtherDevice:
      break;
  }
  return "其他设备";
}

}  // namespace lanqi
