#include "platform/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// The sharing bytes: far past any data a 64-bit offset can hold in practice, clear of byte 1.
constexpr off_t kExclusiveByte = 0x7FFFFFFFFFFFFF00;
constexpr off_t kOpenByte = kExclusiveByte + 1;

const char kInUse[] = "The process cannot access the file because it is being used by another process.";

enum class LockResult { Held, Conflict, Unsupported };

LockResult ReadLock(int fd, off_t start) {
  struct flock fl = {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return LockResult::Held;
  return (errno == EAGAIN || errno == EACCES) ? LockResult::Conflict : LockResult::Unsupported;
}

// True when another open (in any process) holds a lock on [start, start + len).
bool OthersHold(int fd, off_t start, off_t len) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;  // a probe only: asks who would conflict with a write lock
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

std::string WithReason(const char* what, int e) {
  return std::string(what) + ". " + SysErrorMessage(e);
}

}  // namespace

TFileStream::TFileStream(const std::string& path, uint16_t mode) {
  path_ = ExpandFileName(path);
  std::string os;
  try {
    os = ToOsPath(path_);
  } catch (const EConvertError& e) {
    throw EFOpenError(path_, e.Message());
  }
  const bool create = (mode & fmCreate) == fmCreate;
  const int access = mode & 0x0F;
  const int share = mode & 0xF0;
  const bool exclusive = share == fmShareExclusive || (create && share == 0);

  int flags = O_CLOEXEC;
  if (create)
    flags |= O_RDWR | O_CREAT;  // truncated only once the sharing check has passed
  else if (access == fmOpenWrite)
    flags |= O_WRONLY;
  else if (access == fmOpenReadWrite)
    flags |= O_RDWR;
  else
    flags |= O_RDONLY;

  fd_ = open(os.c_str(), flags, 0666);
  if (fd_ < 0) throw EFOpenError(path_, SysErrorMessage(errno));
  auto fail = [this](const std::string& reason) {
    if (lockFd_ >= 0 && lockFd_ != fd_) close(lockFd_);
    close(fd_);
    fd_ = lockFd_ = -1;
    throw EFOpenError(path_, reason);
  };
  struct stat st;
  if (fstat(fd_, &st) != 0) fail(SysErrorMessage(errno));
  if (S_ISDIR(st.st_mode)) fail(SysErrorMessage(EISDIR));

  // Read locks need a readable descriptor; a write-only open holds them on a read-only twin.
  lockFd_ = fd_;
  if (!create && access == fmOpenWrite) {
    lockFd_ = open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd_ < 0) fail(SysErrorMessage(errno));
  }
  LockResult r = ReadLock(lockFd_, kOpenByte);
  if (r == LockResult::Held && exclusive) r = ReadLock(lockFd_, kExclusiveByte);
  if (r == LockResult::Conflict) fail(kInUse);
  if (r == LockResult::Held) {
    // Take first, then look: of two racing opens the later look always sees the other.
    if (OthersHold(lockFd_, kExclusiveByte, exclusive ? 2 : 1)) fail(kInUse);
  }
  if (create && ftruncate(fd_, 0) != 0) fail(SysErrorMessage(errno));
}

TFileStream::~TFileStream() {
  if (lockFd_ >= 0 && lockFd_ != fd_) close(lockFd_);
  if (fd_ >= 0) close(fd_);
}

int32_t TFileStream::ReadAt(int64_t offset, void* buffer, int32_t count) {
  if (count <= 0 || offset < 0) return 0;
  auto* p = static_cast<char*>(buffer);
  int32_t total = 0;
  while (total < count) {
    ssize_t n = pread(fd_, p + total, static_cast<size_t>(count - total), offset + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (total == 0) throw EReadError(WithReason("Stream read error", errno));
      break;  // what was read stands; the caller sees the short count
    }
    if (n == 0) break;
    total += static_cast<int32_t>(n);
  }
  return total;
}

int32_t TFileStream::WriteAt(int64_t offset, const void* buffer, int32_t count) {
  if (count <= 0 || offset < 0) return 0;
  const auto* p = static_cast<const char*>(buffer);
  int32_t total = 0;
  while (total < count) {
    ssize_t n = pwrite(fd_, p + total, static_cast<size_t>(count - total), offset + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (total == 0) throw EWriteError(WithReason("Stream write error", errno));
      break;
    }
    if (n == 0) break;
    total += static_cast<int32_t>(n);
  }
  return total;
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  int32_t n = ReadAt(pos_, buffer, count);
  pos_ += n;
  return n;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  int32_t n = WriteAt(pos_, buffer, count);
  pos_ += n;
  return n;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning:
      pos_ = offset;
      break;
    case TSeekOrigin::soCurrent:
      pos_ += offset;
      break;
    case TSeekOrigin::soEnd:
      pos_ = Size() + offset;
      break;
  }
  return pos_;
}

int64_t TFileStream::Size() {
  struct stat st;
  if (fstat(fd_, &st) != 0) throw EReadError(WithReason("Stream read error", errno));
  return st.st_size;
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  if (ftruncate(fd_, newSize) != 0) throw EWriteError(WithReason("Stream write error", errno));
  if (pos_ > newSize) pos_ = newSize;
}

void TFileStream::Flush() {
  if (fsync(fd_) != 0) throw EWriteError(WithReason("Stream write error", errno));
}

}  // namespace lanqi
