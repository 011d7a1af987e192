// The "ZLIB" compression module. Compressed form of n > 0 bytes: the int32 n (little-endian) and a
// zlib stream of the data; when that is not shorter than n + 4 bytes, the int32 -n and the data
// unchanged instead. Empty data has an empty form.
#pragma once

#include <cstdint>

#include "engine/storage/DataProcessAlgo.h"
#include "rtl/Exceptions.h"

namespace lanqi {

// The zlib wrapper's failures; their text is "error".
class EZLibError : public Exception {
 public:
  using Exception::Exception;
};
class ECompressionError : public EZLibError {
 public:
  ECompressionError() : EZLibError("error") {}
};
class EDecompressionError : public EZLibError {
 public:
  EDecompressionError() : EZLibError("error") {}
};

class TCompAlgo_Zlib : public TCompressAlgo {
 public:
  explicit TCompAlgo_Zlib(TDataProcessOwner* owner) : TCompressAlgo(owner) {}

  // The whole source from its start into dest (cleared first); size is not used. Progress after
  // every 64 KiB of output.
  void EncodeStream(TStream* source, TStream* dest, int64_t size) override;
  // The whole source into dest (cleared first, positioned at 0 at the end); size is not used.
  // Data that ends before the stated length: EReadError ("Stream read error"); a damaged stream:
  // EDecompressionError. Output grows as it is produced, whatever length the header claims.
  void DecodeStream(TStream* source, TStream* dest, int64_t size) override;

  void SetLevel(uint8_t level) override { level_ = level; }
  uint8_t GetLevel() override { return level_; }

  // Module level to zlib level: 0 -> 9, 1 -> default (-1), 2 and 3 -> 1, others -> 0 (stored).
  static int ZlibLevel(uint8_t level);

 private:
  uint8_t level_ = 1;
  int64_t sourceSize_ = 0;
};

}  // namespace lanqi
