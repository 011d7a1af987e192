// Files and folders: paths and their parts, existence, folder creation, copying, the read-only
// test, file times with their local and DOS forms, drive roots and kinds, sleeping.
// Every path is code-page text (it is turned into UTF-8 only for the system calls); every path
// this layer returns is code-page text as well.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtl/DateTime.h"

namespace lanqi {

constexpr char PathDelim = '/';

// Code-page path <-> the operating system's UTF-8 form. Raise EConvertError for text that has no
// form on the other side.
std::string ToOsPath(const std::string& path);
std::string FromOsPath(const std::string& osPath);

// The running program's full path, and its folder ending with the delimiter.
std::string ExeFileName();
std::string ExeDirectory();

// "/a/b/c.txt": name "c.txt", path "/a/b/", extension ".txt" (from the last dot of the name, dot
// included; "" when the name has none). '/' and '.' never occur inside a double-byte character of
// the supported code pages, so a byte search is safe.
std::string ExtractFileName(const std::string& path);
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileExt(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
// An absolute form of path against the current folder, with "." and ".." levels resolved.
std::string ExpandFileName(const std::string& path);

// FileExists: something other than a folder is there (links followed); DirectoryExists: a folder.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Something is there, a symbolic link itself included (the link is not followed).
bool EntryExists(const std::string& path);
// Calls visit with the name (code-page text) of each entry of folder, "." and ".." left out, until
// visit returns true; names the code page cannot spell are passed over. False when the folder
// cannot be read.
bool ForEachFolderEntry(const std::string& folder, const std::function<bool(const std::string& name)>& visit);
// Creates every missing level of path; an existing folder is success. False when a level cannot be
// made (reason, when given, receives the system's text).
bool ForceDirectories(const std::string& path, std::string* reason = nullptr);

// Copies src over dst: the bytes go to a temporary file in dst's folder that is then renamed over
// dst, so dst is either the old file or the whole copy, never a torn one. The copy keeps src's
// last-write time. Returns false when anything fails (the temporary file is removed) and puts the
// system's text, naming the failing side, into *reason when given; it never raises, because
// callers such as the version capture go on without the copy.
bool CopyFileReplace(const std::string& src, const std::string& dst, std::string* reason = nullptr);

// How CopyFileFast made a copy: a clone sharing the source's blocks (FICLONE: the file system's
// copy on write, no bytes move), an in-kernel copy (copy_file_range: no trip through user memory,
// and some file systems share blocks there too), or the plain read and write loop.
enum class TCopyMethod { None, Reflink, CopyRange, ReadWrite };
// Bits of TCopyOptions::Methods: the methods a copy may try, best first.
constexpr unsigned kCopyReflink = 1, kCopyRange = 2, kCopyReadWrite = 4, kCopyAnyMethod = 7;
// "reflink", "copy_file_range", "read/write" ("" for None).
const char* CopyMethodName(TCopyMethod m);

struct TCopyOptions {
  unsigned Methods = kCopyAnyMethod;
  bool ReadOnly = false;   // the copy gets the source's mode without any write bit
  bool NoReplace = false;  // an existing dst is never replaced: the copy then fails
  // Called after each piece with the bytes copied so far and the source's size (once at the end for
  // a clone); on the copying thread.
  std::function<void(int64_t done, int64_t total)> Progress;
  // Read between pieces; once true, the copy stops, its temporary file is removed and CopyFileFast
  // returns false with *cancelled set.
  const std::atomic<bool>* Cancel = nullptr;
};

// Copies src to dst as CopyFileReplace does (a temporary file in dst's folder, flushed to the device
// and renamed into place, the folder synced; the copy keeps src's last-write time), by the best of the
// allowed methods the two file systems support: a method that is refused (EOPNOTSUPP, EXDEV, EINVAL,
// ENOSYS...) before any byte is written falls back to the next one. *method receives the one used.
// False on failure or cancel, with the system's text in *reason; never raises. Safe on any thread.
bool CopyFileFast(const std::string& src, const std::string& dst, const TCopyOptions& options,
                  TCopyMethod* method = nullptr, std::string* reason = nullptr, bool* cancelled = nullptr);

// Replaces the file at osPath (the operating system's own path, not code-page text) with bytes:
// they go to a temporary file in the same folder, are flushed to the device and renamed over it
// (the folder is synced after), so the file is either the old one or the whole new one. mode gives the
// permission bits. False when anything fails; the temporary file is then removed.
bool ReplaceFileContents(const std::string& osPath, const std::string& bytes, unsigned mode);

// The byte length of a file, found by opening it for reading with every kind of sharing allowed.
// Raises EFOpenError "Cannot open file \"%s\". %s" when the open is refused.
int64_t FileSizeOf(const std::string& path);

// The read-only attribute: this user may not write the file (access(W_OK) fails). The superuser may
// write any file, so for it a file whose mode carries no write bit at all counts as read-only too.
// A missing file is not read-only.
bool IsFileReadOnly(const std::string& path);

// File times as 100-nanosecond ticks since 1601-01-01 00:00 (UTC, or local after conversion).
using TFileTime = int64_t;

// The times of the file (or folder) at path; false when it is not there. Creation is the birth time
// where the file system records it, else the change time.
bool FindFileTimes(const std::string& path, TFileTime& creation, TFileTime& lastWrite, TFileTime& lastAccess);
// UTC ticks -> local ticks by the time-zone rules in force at that instant.
TFileTime FileTimeToLocalFileTime(TFileTime utc);
// Ticks -> DOS date word (bits 15-9 year-1980, 8-5 month, 4-0 day) and time word (15-11 hour,
// 10-5 minute, 4-0 second/2; an odd second gives the even one below). False outside 1980..2107.
bool FileTimeToDosDateTime(TFileTime ft, uint16_t& dosDate, uint16_t& dosTime);
// Date in the high word, time in the low word -> date-time (EncodeDate + EncodeTime, whose
// EConvertError fields that name no date or time raise).
TDateTime DosDateTimeToDateTime(uint32_t dosDateTime);
// Which of a file's three times FileTimeOf reads.
enum class TFileTimeKind { Creation, LastWrite, LastAccess };

// The file's creation, last-write or last-access time as local date-time in 2-second steps;
// TDateTime 0 (1899-12-30 00:00:00) when the file is missing. Times outside the DOS years
// 1980..2107 follow the same rule (even second below) as far as the date-time reaches (years
// 1900..9999); beyond that they give 0.
TDateTime FileTimeOf(const std::string& path, TFileTimeKind kind);

// Drive kinds, numbered as the system's drive types.
enum TDriveKind : int {
  dkUnknown = 0,
  dkNoRootDir = 1,
  dkRemovable = 2,
  dkFixed = 3,
  dkRemote = 4,
  dkCDRom = 5,
  dkRamDisk = 6,
};

// The home folder is the one fixed drive; other folders report the kind of the file system they lie
// on from the mount table (network file systems remote, tmpfs/ramfs RAM, optical formats CD-ROM,
// devices flagged removable or mounted under /media removable, the rest fixed). A path that does not
// exist gives dkNoRootDir.
TDriveKind DriveKindOf(const std::string& path);
// The roots of the fixed drives: the home folder with a trailing delimiter.
std::vector<std::string> FixedDriveRoots();

}  // namespace lanqi
