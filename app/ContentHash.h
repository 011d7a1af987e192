// What a capture compares: a file's content by its SHA-256 digest, and a file's identity at one
// moment, finer than its 2-second stamp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace lanqi {

// The SHA-256 digest of the file's bytes as 64 lower-case hex digits, and the byte count read.
// progress (when set) gets the bytes read so far after each piece; a set cancel flag stops the read.
// False when the file cannot be read or the read was cancelled; never raises.
bool HashFileContent(const std::string& path, std::string& digest, int64_t& size,
                     const std::function<void(int64_t done)>& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

// The last-write time in nanoseconds, the size and the inode of the file at path (links followed),
// as "mtime:size:inode"; "" when nothing is there. A save through a new file and a rename changes the
// inode, one in place changes the time, even inside one 2-second stamp.
std::string FileFingerprint(const std::string& path);

// The identity of a backup copy: inode, size, last-write and change times in nanoseconds, "" when it
// is missing. A copy is never written again once in place, so the digest computed from it stays true
// while this stays the same; a copy removed and made again under the same name gets a new change time.
std::string CopyIdentity(const std::string& path);

}  // namespace lanqi
