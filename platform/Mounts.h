// The mount table: which mount holds a path, of which kind it is, and whether the change reports of
// the watched folders cover a file there. Paths here are the operating system's (UTF-8), real (no
// links, no "." or ".." steps).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lanqi {

struct TMountEntry {
  std::string MountPoint;  // unescaped ("\040" is a blank)
  std::string FsType;      // "ext4", "nfs4", "fuse.sshfs"
  std::string Source;      // "/dev/sda1", "server:/export"
  std::string Device;      // "major:minor"
};

// The lines of a /proc/<pid>/mountinfo text in their order; malformed lines are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);
// This process's mount table (empty when it cannot be read).
std::vector<TMountEntry> ReadMountTable();

// The mount holding path: the longest mount point that is a whole-component prefix of it, the last
// such line where mounts are stacked; null when none is.
const TMountEntry* MountOfPath(const std::vector<TMountEntry>& mounts, const std::string& path);

enum class TMountKind {
  Local,        // the same mount as the watched folder's
  Network,      // NFS, SMB/CIFS and the other shared file systems, FUSE ones included (sshfs)
  Fuse,         // another file system in user space
  Removable,    // a device marked removable, or mounted below /media or /run/media
  OtherDevice,  // any other mount
};

// The kind of mount m, given the mount of the watched (home) folder and whether m's device is
// marked removable.
TMountKind ClassifyMount(const TMountEntry& m, const TMountEntry* home, bool removableDevice);
// The system's own mark for a block device "major:minor" (a partition asks its disk).
bool DeviceIsRemovable(const std::string& device);

// True when no change report covers writes to path: it lies outside every watched root, or below
// one but on another mount than the root's (a share mounted inside the home folder). roots and
// path as above.
bool NeedsPolling(const std::vector<TMountEntry>& mounts, const std::vector<std::string>& roots,
                  const std::string& path);

}  // namespace lanqi
