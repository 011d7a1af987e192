#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "platform/CodePage.h"
#include "platform/FileStream.h"
#include "platform/Mounts.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochDelta = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
constexpr int64_t kDaysFrom1601To1970 = 134774;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The civil date of a day count since 1970-01-01 (proleptic Gregorian; the algorithm of
// H. Hinnant's "chrono-compatible low-level date algorithms").
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

struct Civil {
  int64_t year;
  unsigned month, day;
  int64_t secOfDay;
};

Civil CivilOfTicks(TFileTime ft) {
  const int64_t secs = FloorDiv(ft, kTicksPerSecond);
  const int64_t days1601 = FloorDiv(secs, 86400);
  Civil c;
  c.secOfDay = secs - days1601 * 86400;
  CivilFromDays(days1601 - kDaysFrom1601To1970, c.year, c.month, c.day);
  return c;
}

TFileTime TicksOf(int64_t sec, int64_t nsec) {
  return (sec + kEpochDelta) * kTicksPerSecond + nsec / 100;
}

std::string HomeOs() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  struct passwd pw;
  struct passwd* out = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &out) == 0 && out && out->pw_dir) return out->pw_dir;
  return "/";
}

std::string RealOs(const std::string& os) {
  std::unique_ptr<char, decltype(&std::free)> r(realpath(os.c_str(), nullptr), &std::free);
  return r ? std::string(r.get()) : std::string();
}

std::string Reason(const std::string& path, int e) {
  return path + ": " + SysErrorMessage(e);
}

// Writes the n bytes at data to out; a write that moves nothing and reports no error is a full disk.
void WriteAll(int out, const char* data, int32_t n, const std::string& target) {
  for (int32_t done = 0; done < n;) {
    ssize_t w = write(out, data + done, static_cast<size_t>(n - done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw EWriteError(Reason(target, w < 0 ? errno : ENOSPC));
    done += static_cast<int32_t>(w);
  }
}

}  // namespace

std::string ToOsPath(const std::string& path) {
  return AnsiToUtf8(path);
}
std::string FromOsPath(const std::string& osPath) {
  return Utf8ToAnsi(osPath);
}

std::string ExeFileName() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return FromOsPath(buf);
    }
    buf.resize(buf.size() * 2);
  }
}

std::string ExeDirectory() {
  return ExtractFilePath(ExeFileName());
}

std::string ExtractFileName(const std::string& path) {
  size_t p = path.rfind(PathDelim);
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.rfind(PathDelim);
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileExt(const std::string& path) {
  std::string name = ExtractFileName(path);
  size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && path.back() == PathDelim) return path;
  return path + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
  std::string s = path;
  while (s.size() > 1 && s.back() == PathDelim) s.pop_back();
  return s;
}

std::string ExpandFileName(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != PathDelim) {
    std::string cwd;
    std::unique_ptr<char, decltype(&std::free)> c(getcwd(nullptr, 0), &std::free);
    if (c) cwd = FromOsPath(c.get());
    full = IncludeTrailingPathDelimiter(cwd.empty() ? std::string(1, PathDelim) : cwd) + full;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= full.size()) {
    size_t j = full.find(PathDelim, i);
    if (j == std::string::npos) j = full.size();
    std::string part = full.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += PathDelim + p;
  if (out.empty()) return std::string(1, PathDelim);
  if (full.back() == PathDelim) out += PathDelim;
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(ToOsPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(ToOsPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return lstat(ToOsPath(path).c_str(), &st) == 0;
}

bool ForEachFolderEntry(const std::string& folder,
                        const std::function<bool(const std::string& name)>& visit) {
  DIR* d = opendir(ToOsPath(folder).c_str());
  if (!d) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> closer(d, closedir);
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
    std::string name;
    try {
      name = FromOsPath(e->d_name);
    } catch (const EConvertError&) {
      continue;
    }
    if (visit(name)) break;
  }
  return true;
}

bool ForceDirectories(const std::string& path, std::string* reason) {
  if (path.empty()) {
    if (reason) *reason = SysErrorMessage(ENOENT);
    return false;
  }
  const std::string dir = ExcludeTrailingPathDelimiter(ExpandFileName(path));
  if (DirectoryExists(dir)) return true;
  const std::string parent = ExtractFilePath(dir);
  if (parent != dir && !parent.empty() && !ForceDirectories(parent, reason)) return false;
  if (mkdir(ToOsPath(dir).c_str(), 0777) == 0) return true;
  int e = errno;
  if (e == EEXIST && DirectoryExists(dir)) return true;  // made by someone else meanwhile
  if (e == EEXIST) e = ENOTDIR;
  if (reason) *reason = Reason(dir, e);
  return false;
}

bool CopyFileReplace(const std::string& src, const std::string& dst, std::string* reason) {
  std::string why;
  std::string tmpOs;
  int out = -1;
  bool ok = false;
  try {
    // The source is opened through the stream so that an exclusive holder keeps the copy out.
    TFileStream in(src, fmOpenRead | fmShareDenyNone);
    struct stat st;
    if (fstat(in.Handle(), &st) != 0) throw EReadError(Reason(in.FileName(), errno));
    const std::string target = ExpandFileName(dst);
    const std::string targetOs = ToOsPath(target);
    // A short fixed name: the target's own name may already be as long as a name can be.
    tmpOs = ToOsPath(ExtractFilePath(target)) + ".lanqi-copy-XXXXXX";
    out = mkostemp(tmpOs.data(), O_CLOEXEC);
    if (out < 0) {
      tmpOs.clear();
      throw EWriteError(Reason(target, errno));
    }
    std::vector<char> buf(1 << 16);
    for (int64_t off = 0;;) {
      int32_t n = in.ReadAt(off, buf.data(), static_cast<int32_t>(buf.size()));
      if (n == 0) break;
      WriteAll(out, buf.data(), n, target);
      off += n;
    }
    fchmod(out, st.st_mode & 0777);
    const struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (futimens(out, times) != 0) throw EWriteError(Reason(target, errno));
    // The history copy must survive a crash once it has replaced the old one.
    if (fsync(out) != 0) throw EWriteError(Reason(target, errno));
    if (close(out) != 0) {
      out = -1;
      throw EWriteError(Reason(target, errno));
    }
    out = -1;
    if (rename(tmpOs.c_str(), targetOs.c_str()) != 0) throw EWriteError(Reason(target, errno));
    tmpOs.clear();
    int dirFd = open(ToOsPath(ExtractFilePath(target)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
    ok = true;
  } catch (const Exception& e) {
    why = e.Message();
  }
  if (out >= 0) close(out);
  if (!tmpOs.empty()) unlink(tmpOs.c_str());
  if (reason) *reason = why;
  return ok;
}

const char* CopyMethodName(TCopyMethod m) {
  switch (m) {
    case TCopyMethod::Reflink:
      return "reflink";
    case TCopyMethod::CopyRange:
      return "copy_file_range";
    case TCopyMethod::ReadWrite:
      return "read/write";
    case TCopyMethod::None:
      break;
  }
  return "";
}

namespace {

// The errors by which a file system (or a pair of them) says it cannot do a method at all.
bool MethodRefused(int e) {
  return e == EOPNOTSUPP || e == ENOTSUP || e == EXDEV || e == EINVAL || e == ENOSYS || e == ENOTTY ||
         e == EBADF || e == EPERM;
}

struct TCopyCancelled {};

// Moves tmp to target unless target exists: renameat2 where the file system has it, else a hard
// link (which refuses an existing name as well) and the removal of tmp.
bool RenameNoReplace(const std::string& tmp, const std::string& target, int& e) {
  if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  e = errno;
  if (e != EINVAL && e != ENOSYS && e != EOPNOTSUPP) return false;
  if (::link(tmp.c_str(), target.c_str()) != 0) {
    e = errno;
    return false;
  }
  ::unlink(tmp.c_str());
  return true;
}

}  // namespace

bool CopyFileFast(const std::string& src, const std::string& dst, const TCopyOptions& options,
                  TCopyMethod* method, std::string* reason, bool* cancelled) {
  std::string why;
  std::string tmpOs;
  int out = -1;
  bool ok = false;
  bool stopped = false;
  TCopyMethod used = TCopyMethod::None;
  auto checkCancel = [&] {
    if (options.Cancel && options.Cancel->load(std::memory_order_relaxed)) throw TCopyCancelled{};
  };
  try {
    TFileStream in(src, fmOpenRead | fmShareDenyNone);
    struct stat st;
    if (fstat(in.Handle(), &st) != 0) throw EReadError(Reason(in.FileName(), errno));
    const int64_t total = st.st_size;
    const std::string target = ExpandFileName(dst);
    const std::string targetOs = ToOsPath(target);
    checkCancel();
    tmpOs = ToOsPath(ExtractFilePath(target)) + ".lanqi-copy-XXXXXX";
    out = mkostemp(tmpOs.data(), O_CLOEXEC);
    if (out < 0) {
      tmpOs.clear();
      throw EWriteError(Reason(target, errno));
    }
    auto progress = [&](int64_t done) {
      if (options.Progress) options.Progress(done, total);
    };
    int64_t off = 0;
    if ((options.Methods & kCopyReflink) && ::ioctl(out, FICLONE, in.Handle()) == 0) {
      used = TCopyMethod::Reflink;
      off = total;
      progress(total);
    }
    if (used == TCopyMethod::None && (options.Methods & kCopyRange)) {
      // Pieces of 8 MiB, so that a cancel or a progress report is never far away.
      for (;;) {
        checkCancel();
        loff_t inOff = off;
        ssize_t n = ::copy_file_range(in.Handle(), &inOff, out, nullptr, 8u << 20, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          // Refused before any byte: the plain loop does the work; later, it is a real failure.
          if (off == 0 && MethodRefused(errno)) break;
          throw EWriteError(Reason(target, errno));
        }
        used = TCopyMethod::CopyRange;
        if (n == 0) break;
        off += n;
        progress(off);
      }
    }
    if (used == TCopyMethod::None) {
      if (!(options.Methods & kCopyReadWrite)) throw EWriteError(Reason(target, EOPNOTSUPP));
      used = TCopyMethod::ReadWrite;
      std::vector<char> buf(1 << 20);
      for (;;) {
        checkCancel();
        int32_t n = in.ReadAt(off, buf.data(), static_cast<int32_t>(buf.size()));
        if (n == 0) break;
        WriteAll(out, buf.data(), n, target);
        off += n;
        progress(off);
      }
    }
    checkCancel();
    fchmod(out, options.ReadOnly ? (st.st_mode & 0555) : (st.st_mode & 0777));
    const struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (futimens(out, times) != 0) throw EWriteError(Reason(target, errno));
    if (fsync(out) != 0) throw EWriteError(Reason(target, errno));
    if (close(out) != 0) {
      out = -1;
      throw EWriteError(Reason(target, errno));
    }
    out = -1;
    int e = 0;
    if (options.NoReplace ? !RenameNoReplace(tmpOs, targetOs, e)
                          : ::rename(tmpOs.c_str(), targetOs.c_str()) != 0)
      throw EWriteError(Reason(target, options.NoReplace ? e : errno));
    tmpOs.clear();
    int dirFd = open(ToOsPath(ExtractFilePath(target)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
    ok = true;
  } catch (const Exception& e) {
    why = e.Message();
  } catch (const TCopyCancelled&) {
    stopped = true;
    why = "cancelled";
  }
  if (out >= 0) close(out);
  if (!tmpOs.empty()) unlink(tmpOs.c_str());
  if (method) *method = ok ? used : TCopyMethod::None;
  if (reason) *reason = why;
  if (cancelled) *cancelled = stopped;
  return ok;
}

int64_t FileSizeOf(const std::string& path) {
  TFileStream s(path, fmOpenRead | fmShareDenyNone);
  return s.Size();
}

bool IsFileReadOnly(const std::string& path) {
  const std::string os = ToOsPath(path);
  struct stat st;
  if (stat(os.c_str(), &st) != 0) return false;
  if (access(os.c_str(), W_OK) != 0) return true;
  return geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool FindFileTimes(const std::string& path, TFileTime& creation, TFileTime& lastWrite,
                   TFileTime& lastAccess) {
  const std::string os = ToOsPath(path);
  struct statx sx;
  if (statx(AT_FDCWD, os.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    const auto& b = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    creation = TicksOf(b.tv_sec, b.tv_nsec);
    lastWrite = TicksOf(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    lastAccess = TicksOf(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    return true;
  }
  if (errno != ENOSYS) return false;
  struct stat st;
  if (stat(os.c_str(), &st) != 0) return false;
  creation = TicksOf(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  lastWrite = TicksOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  lastAccess = TicksOf(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  return true;
}

TFileTime FileTimeToLocalFileTime(TFileTime utc) {
  const time_t t = static_cast<time_t>(FloorDiv(utc, kTicksPerSecond) - kEpochDelta);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return utc;
  return utc + static_cast<int64_t>(tm.tm_gmtoff) * kTicksPerSecond;
}

bool FileTimeToDosDateTime(TFileTime ft, uint16_t& dosDate, uint16_t& dosTime) {
  const Civil c = CivilOfTicks(ft);
  if (c.year < 1980 || c.year > 2107) return false;
  const int64_t h = c.secOfDay / 3600, mi = c.secOfDay / 60 % 60, s = c.secOfDay % 60;
  dosDate = static_cast<uint16_t>(((c.year - 1980) << 9) | (c.month << 5) | c.day);
  dosTime = static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
  return true;
}

TDateTime DosDateTimeToDateTime(uint32_t dosDateTime) {
  const int date = static_cast<int>(dosDateTime >> 16), time = static_cast<int>(dosDateTime & 0xFFFF);
  return EncodeDate(1980 + (date >> 9), (date >> 5) & 15, date & 31) +
         EncodeTime(time >> 11, (time >> 5) & 63, (time & 31) * 2, 0);
}

TDateTime FileTimeOf(const std::string& path, TFileTimeKind kind) {
  TFileTime creation, lastWrite, lastAccess;
  if (!FindFileTimes(path, creation, lastWrite, lastAccess)) return 0;
  const TFileTime local = FileTimeToLocalFileTime(kind == TFileTimeKind::Creation    ? creation
                                                  : kind == TFileTimeKind::LastWrite ? lastWrite
                                                                                     : lastAccess);
  uint16_t date, time;
  if (FileTimeToDosDateTime(local, date, time)) return DosDateTimeToDateTime((uint32_t{date} << 16) | time);
  // Outside the DOS years: the same 2-second rule as far as the date-time reaches.
  const Civil c = CivilOfTicks(local);
  if (c.year < 1900 || c.year > 9999) return 0;
  const int sec = static_cast<int>(c.secOfDay);
  return EncodeDateTime(static_cast<int>(c.year), static_cast<int>(c.month), static_cast<int>(c.day),
                        sec / 3600, sec / 60 % 60, sec % 60 - sec % 2, 0);
}

TDriveKind DriveKindOf(const std::string& path) {
  const std::string real = RealOs(ToOsPath(ExpandFileName(path)));
  if (real.empty()) return dkNoRootDir;
  const std::vector<TMountEntry> mounts = ReadMountTable();
  const TMountEntry* m = MountOfPath(mounts, real);
  if (!m) return dkUnknown;
  const std::string home = RealOs(HomeOs());
  const TMountEntry* hm = nullptr;
  if (!home.empty() && (real == home || real.compare(0, home.size() + 1, home + "/") == 0 || home == "/") &&
      (hm = MountOfPath(mounts, home)) != nullptr && hm->MountPoint == m->MountPoint)
    return dkFixed;
  const std::string& t = m->FsType;
  static const char* const remote[] = {
      "nfs",    "nfs4",       "cifs",        "smb3",      "smbfs",          "ncpfs",
      "afs",    "ceph",       "glusterfs",   "9p",        "davfs",          "coda",
      "lustre", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.gvfsd-fuse"};
  for (const char* r : remote)
    if (t == r) return dkRemote;
  if (t == "tmpfs" || t == "ramfs") return dkRamDisk;
  if (t == "iso9660" || t == "udf") return dkCDRom;
  static const char* const pseudo[] = {
      "proc",   "sysfs", "devtmpfs", "devpts", "cgroup",    "cgroup2", "debugfs", "tracefs",    "securityfs",
      "pstore", "bpf",   "configfs", "mqueue", "hugetlbfs", "autofs",  "fusectl", "binfmt_misc"};
  for (const char* p : pseudo)
    if (t == p) return dkUnknown;
  if (m->MountPoint.rfind("/media/", 0) == 0 || m->MountPoint.rfind("/run/media/", 0) == 0 ||
      DeviceIsRemovable(m->Device))
    return dkRemovable;
  return dkFixed;
}

std::vector<std::string> FixedDriveRoots() {
  return {IncludeTrailingPathDelimiter(FromOsPath(HomeOs()))};
}

bool ReplaceFileContents(const std::string& osPath, const std::string& bytes, unsigned mode) {
  // A short name of its own in the same folder: the rename stays within one file system, and a
  // file whose name is already near the length limit can still be replaced.
  const size_t slash = osPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : osPath.substr(0, slash + 1);
  std::string tmp = (slash == std::string::npos ? std::string() : folder) + ".lanqi-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), osPath.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  // The new name is an entry of the folder: synced there, the replacement survives a power loss.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace lanqi
