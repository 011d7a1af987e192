// Byte-range locks shared with other programs: an open-file-description lock (F_OFD_SETLK) on
// [offset, offset + length), which excludes other processes and other opens in this process,
// plus an in-process lock per (file, range) so that threads sharing one open exclude each other.
#pragma once

#include <cstdint>

namespace lanqi {

// Tries once; true when the range is now held by the caller. Never blocks.
bool TryLockFileRange(int fd, int64_t offset, int64_t length);
// Releases a range taken with TryLockFileRange on the same descriptor.
void UnlockFileRange(int fd, int64_t offset, int64_t length);

// A descriptor's file identity and access mode, read once while the open lasts so that taking a
// lock again costs only the system lock itself. Valid only until the descriptor is closed.
struct TLockFile {
  int fd = -1;
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool readOnly = false;
};
// Fills file from fd; false when the descriptor cannot be examined.
bool DescribeLockFile(int fd, TLockFile& file);
// As above, for a described descriptor.
bool TryLockFileRange(const TLockFile& file, int64_t offset, int64_t length);
void UnlockFileRange(const TLockFile& file, int64_t offset, int64_t length);

}  // namespace lanqi
