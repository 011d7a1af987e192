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

}  // namespace lanqi
