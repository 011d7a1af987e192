#include "platform/Mounts.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

namespace lanqi {
namespace {

// A desktop's table: the root and home on local disks, a share inside the home folder, a stick, a
// FUSE mount, and lines a parser must survive (optional fields, escaped blanks, no separator).
const char kSample[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "30 22 8:17 / /home rw,relatime shared:2 master:7 - ext4 /dev/sdb1 rw\n"
    "31 30 0:50 / /home/ann/share rw - nfs4 srv:/export rw,vers=4.2\n"
    "32 22 0:51 / /mnt/win rw - cifs //pc/docs rw\n"
    "33 22 8:33 / /media/ann/USB\\040STICK rw - vfat /dev/sdc1 rw\n"
    "34 30 0:52 / /home/ann/.cache/doc rw - fuse.portal portal rw\n"
    "35 22 0:53 / /srv/remote rw - fuse.sshfs ann@host:/ rw\n"
    "36 22 8:49 / /data rw - xfs /dev/sdd1 rw\n"
    "37 22 0:54 / /tmp rw - tmpfs tmpfs rw\n"
    "garbage line\n"
    "38 22 0:55 / /broken rw no-separator ext4\n"
    "39 36 8:49 /sub /data/bound rw - xfs /dev/sdd1 rw\n";

TEST(Mounts, ParsesAndClassifiesASampleTable) {
  std::vector<TMountEntry> mounts = ParseMountInfo(kSample);
  ASSERT_EQ(mounts.size(), 10u);
  EXPECT_EQ(mounts[4].MountPoint, "/media/ann/USB STICK");
  EXPECT_EQ(mounts[1].FsType, "ext4");
  EXPECT_EQ(mounts[2].Source, "srv:/export");
  const TMountEntry* home = MountOfPath(mounts, "/home/ann");
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(home->MountPoint, "/home");

  struct Case {
    const char* path;
    const char* mountPoint;
    TMountKind kind;
    bool polled;  // with the home folder as the one watched root
  };
  const Case cases[] = {
      {"/home/ann/doc.txt", "/home", TMountKind::Local, false},
      {"/home/ann", "/home", TMountKind::Local, false},
      {"/home/annex/x", "/home", TMountKind::Local, true},  // a sibling that shares a prefix
      {"/home/ann/share/a.docx", "/home/ann/share", TMountKind::Network, true},
      {"/home/ann/sharex/a.docx", "/home", TMountKind::Local, false},
      {"/mnt/win/b.xls", "/mnt/win", TMountKind::Network, true},
      {"/media/ann/USB STICK/c.txt", "/media/ann/USB STICK", TMountKind::Removable, true},
      {"/home/ann/.cache/doc/d", "/home/ann/.cache/doc", TMountKind::Fuse, true},
      {"/srv/remote/e", "/srv/remote", TMountKind::Network, true},
      {"/data/f", "/data", TMountKind::OtherDevice, true},
      {"/data/bound/g", "/data/bound", TMountKind::OtherDevice, true},
      {"/tmp/h", "/tmp", TMountKind::OtherDevice, true},
      {"/etc/i", "/", TMountKind::OtherDevice, true},  // the home folder's watcher does not see it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const TMountEntry* m = MountOfPath(mounts, c.path);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->MountPoint, c.mountPoint);
    EXPECT_EQ(ClassifyMount(*m, home, false), c.kind);
    EXPECT_EQ(NeedsPolling(mounts, {"/home/ann"}, c.path), c.polled);
  }
  // The device's own mark decides where the mount point says nothing.
  EXPECT_EQ(ClassifyMount(*MountOfPath(mounts, "/data/f"), home, true), TMountKind::Removable);
  // Stacked mounts: the last line over the same point is the one in effect.
  std::vector<TMountEntry> stacked =
      ParseMountInfo(std::string(kSample) + "40 30 0:60 / /home rw - tmpfs t rw\n");
  EXPECT_EQ(MountOfPath(stacked, "/home/ann/x")->FsType, "tmpfs");
  EXPECT_EQ(MountOfPath({}, "/x"), nullptr);
  // Mount points written with trailing delimiters still hold what lies below them.
  std::vector<TMountEntry> slashed =
      ParseMountInfo("1 0 0:1 / // rw - ext4 a rw\n2 1 0:2 / /srv/x/ rw - nfs b rw\n");
  ASSERT_EQ(slashed.size(), 2u);
  EXPECT_EQ(MountOfPath(slashed, "/etc/x"), &slashed[0]);
  EXPECT_EQ(MountOfPath(slashed, "/srv/x/f"), &slashed[1]);
  EXPECT_EQ(MountOfPath(slashed, "/srv/xy"), &slashed[0]);
  EXPECT_TRUE(NeedsPolling(mounts, {}, "/home/ann/doc.txt"));
}

TEST(Mounts, TheHomeFolderOnThisMachineIsNotPolled) {
  std::vector<TMountEntry> mounts = ReadMountTable();
  ASSERT_FALSE(mounts.empty());
  const char* env = std::getenv("HOME");
  ASSERT_NE(env, nullptr);
  char real[PATH_MAX];
  ASSERT_NE(realpath(env, real), nullptr);
  const std::string home = real;
  const TMountEntry* own = MountOfPath(mounts, home);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(ClassifyMount(*own, own, DeviceIsRemovable(own->Device)), TMountKind::Local);
  EXPECT_FALSE(NeedsPolling(mounts, {home}, home + "/some-document.txt"));
  // /proc is a mount of its own wherever the home folder is.
  EXPECT_TRUE(NeedsPolling(mounts, {home}, "/proc/self/status"));
  EXPECT_NE(ClassifyMount(*MountOfPath(mounts, "/proc/self/status"), own, false), TMountKind::Local);
}

}  // namespace
}  // namespace lanqi
