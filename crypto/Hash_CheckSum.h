// The two 32-bit checksums: a rotate-and-XOR sum and CRC-32 (the checksum of zlib and PNG).
#pragma once

#include "crypto/HashBase.h"

namespace lanqi {

class THash_XOR32 : public THash {
 public:
  THash_XOR32() = default;
  ~THash_XOR32() override;

  void InitHash() override {
    Checksum = 0;
    SyncBytes();
  }
  void Calc(const void* data, int32_t length) override;
  void DoneHash() override {}
  const uint8_t* DigestKey() const override { return ChecksumBytes; }
  int32_t DigestSize() const override { return 4; }

 protected:
  // Keeps the little-endian byte view of Checksum that DigestKey answers.
  void SyncBytes();

  uint32_t Checksum = 0;
  uint8_t ChecksumBytes[4] = {};
};

class THash_CRC32 : public THash_XOR32 {
 public:
  THash_CRC32() = default;

  void InitHash() override;
  void Calc(const void* data, int32_t length) override;
  void DoneHash() override;
};

}  // namespace lanqi
