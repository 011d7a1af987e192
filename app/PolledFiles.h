// The tracked files that no change report covers (on a network share, a stick, a FUSE mount, another
// disk than the watched folder's): the window checks their stamps at an interval instead, and hands
// the changed ones to the detection pass.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Mounts.h"

namespace lanqi {

struct TCatalogArea;

struct TPolledFile {
  std::string Path;  // code-page text, as the catalog holds it
  TMountKind Kind = TMountKind::OtherDevice;
  std::string FsType;
  std::string MountPoint;  // UTF-8, as the system names it
  std::string Stored;      // the stamp stored at the file's last capture
  std::string Seen;        // the stamp at the last check (the stored one before the first)
  std::string LastCheck;   // "yyyy-mm-dd hh:mm:ss" of the last check, empty before it
};

// Where a file lies: its mount's kind, type and point, against the mount of the first watched root.
struct TMountPlace {
  TMountKind Kind = TMountKind::OtherDevice;
  std::string FsType;
  std::string MountPoint;
};

// Answers for the live mount table, read once when made.
class TMountView {
 public:
  // roots: the watched folders (code-page text), the first one being the home folder.
  explicit TMountView(const std::vector<std::string>& roots);
  bool NeedsPolling(const std::string& path) const;
  TMountPlace PlaceOf(const std::string& path) const;

 private:
  std::vector<TMountEntry> mounts_;
  std::vector<std::string> roots_;  // real system paths
};

class TPolledFiles {
 public:
  // The list again from the catalog's tree: polled decides which files belong, place where they
  // are. A file listed before with the same stored stamp keeps what its checks saw, so a change
  // handed on once is not handed on again at every check while its capture has not happened.
  void Rebuild(const std::vector<TCatalogArea>& tree, const std::function<bool(const std::string&)>& polled,
               const std::function<TMountPlace(const std::string&)>& place);
  // Looks at every listed file's stamp; returns (in list order) the paths whose stamp differs from
  // the one the previous check saw. now: the check's time as shown.
  std::vector<std::string> Check(const std::string& now);
  const std::vector<TPolledFile>& Files() const { return files_; }
  // The catalog file's time and size when the list was last made (its owner's to keep).
  std::string CatalogStamp;

 private:
  std::vector<TPolledFile> files_;
};

// The poll interval in seconds: key "检查间隔" of section "网络管理" in setup.ini in folder;
// 60 when missing, and kept within 5 seconds to one day.
constexpr int kDefaultPollSeconds = 60, kMinPollSeconds = 5, kMaxPollSeconds = 86400;
int LoadPollInterval(const std::string& folder);
void SavePollInterval(const std::string& folder, int seconds);

// "网络", "FUSE", "可移动", "其他设备", "本机" (UTF-8).
std::string MountKindText(TMountKind kind);

}  // namespace lanqi
