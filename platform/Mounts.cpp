#include "platform/Mounts.h"

#include <fstream>
#include <sstream>

namespace lanqi {

namespace {

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool Below(const std::string& path, const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  if (f == "/") return !path.empty() && path[0] == '/';
  return path.compare(0, f.size(), f) == 0 && (path.size() == f.size() || path[f.size()] == '/');
}

bool SameMount(const TMountEntry* a, const TMountEntry* b) {
  return a && b && a->MountPoint == b->MountPoint && a->Device == b->Device;
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
  std::vector<TMountEntry> mounts;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string id, parent, device, root, point, field;
    if (!(ls >> id >> parent >> device >> root >> point)) continue;
    bool separator = false;
    while (ls >> field)
      if (field == "-") {
        separator = true;
        break;
      }
    TMountEntry m;
    if (!separator || !(ls >> m.FsType)) continue;
    ls >> m.Source;
    m.MountPoint = Unescape(point);
    m.Source = Unescape(m.Source);
    m.Device = device;
    if (m.MountPoint.empty() || m.MountPoint[0] != '/') continue;
    mounts.push_back(std::move(m));
  }
  return mounts;
}

std::vector<TMountEntry> ReadMountTable() {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMountInfo(text.str());
}

const TMountEntry* MountOfPath(const std::vector<TMountEntry>& mounts, const std::string& path) {
  const TMountEntry* best = nullptr;
  for (const TMountEntry& m : mounts)
    if (Below(path, m.MountPoint) && (!best || m.MountPoint.size() >= best->MountPoint.size())) best = &m;
  return best;
}

TMountKind ClassifyMount(const TMountEntry& m, const TMountEntry* home, bool removableDevice) {
  if (SameMount(&m, home)) return TMountKind::Local;
  const std::string& t = m.FsType;
  static const char* const network[] = {"nfs",       "nfs4", "cifs",   "smb3",          "smbfs",
                                        "ncpfs",     "afs",  "ceph",   "glusterfs",     "9p",
                                        "davfs",     "coda", "lustre", "fuse.sshfs",    "fuse.rclone",
                                        "fuse.s3fs", "gfs2", "ocfs2",  "fuse.glusterfs"};
  for (const char* n : network)
    if (t == n) return TMountKind::Network;
  if (t == "fuse" || t == "fuseblk" || t.rfind("fuse.", 0) == 0) return TMountKind::Fuse;
  if (removableDevice || Below(m.MountPoint, "/media") || Below(m.MountPoint, "/run/media"))
    return TMountKind::Removable;
  return TMountKind::OtherDevice;
}

bool DeviceIsRemovable(const std::string& device) {
  // A partition has no mark of its own; the kernel resolves ".." in its sysfs link to its disk.
  const std::string link = "/sys/dev/block/" + device;
  for (const std::string& mark : {link + "/removable", link + "/../removable"}) {
    std::ifstream f(mark);
    int v = 0;
    if (f >> v) return v == 1;
  }
  return false;
}

bool NeedsPolling(const std::vector<TMountEntry>& mounts, const std::vector<std::string>& roots,
                  const std::string& path) {
  const TMountEntry* own = MountOfPath(mounts, path);
  for (const std::string& root : roots)
    if (Below(path, root) && SameMount(own, MountOfPath(mounts, root))) return false;
  return true;
}

}  // namespace lanqi
