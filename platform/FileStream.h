// The file stream with the sharing modes of the program's opens. Sharing is emulated among the
// programs that use this layer with OFD locks on two reserved bytes far past any real data: every
// open holds a read lock on the "open" byte, an exclusive open holds the "exclusive" byte too, and
// each checks afterwards that nobody else holds what it excludes. So an exclusive open fails while
// others hold the file and keeps them out while it holds it, and read-only opens can take part
// (they may hold read locks only). Two opens racing each other may both be refused, never both
// admitted. Modes: fmShareExclusive is exclusive; fmCreate without a sharing flag is exclusive too
// (it must not truncate a file others hold: the check comes before the truncation); every other
// sharing flag, and none, shares with every other non-exclusive open. On a file system without
// locks the sharing is not enforced.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Streams.h"

namespace lanqi {

// Open modes (low nibble: access; next nibble: sharing; fmCreate creates or truncates).
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

class TFileStream : public TStream {
 public:
  // path is code-page text. A refusal raises EFOpenError "Cannot open file \"%s\". %s" with the
  // full path and the system's reason (a sharing refusal reads as the file being in use).
  TFileStream(const std::string& path, uint16_t mode);
  ~TFileStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t newSize) override;

  // Positioned transfers that leave the stream position alone (pread/pwrite).
  int32_t ReadAt(int64_t offset, void* buffer, int32_t count);
  int32_t WriteAt(int64_t offset, const void* buffer, int32_t count);

  // Writes the file's buffers to the device (fsync). Raises EWriteError with the reason on failure.
  void Flush();
  int Handle() const { return fd_; }
  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  int lockFd_ = -1;  // the descriptor holding the sharing locks when fd_ cannot (write-only)
  int64_t pos_ = 0;
};

}  // namespace lanqi
