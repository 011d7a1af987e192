// MD4 (RFC 1320), and the block buffering and padding shared with RIPEMD-160 and SHA.
#pragma once

#include "crypto/HashBase.h"

namespace lanqi {

class THash_MD4 : public THash {
 public:
  THash_MD4() = default;
  ~THash_MD4() override;

  void InitHash() override;
  void Calc(const void* data, int32_t length) override;
  void DoneHash() override;
  const uint8_t* DigestKey() const override { return DigestBytes; }
  int32_t DigestSize() const override { return 16; }

 protected:
  // Compresses one 64-byte block into Digest.
  virtual void Transform(const uint8_t* block);
  // Compresses `blocks` consecutive 64-byte blocks; digests with a faster multi-block path override it.
  virtual void TransformBlocks(const uint8_t* data, uint32_t blocks);
  // Pads (0x80, zeros, the 64-bit bit count from the 32-bit byte count) and compresses the last
  // block; the bit count is written big-endian for SHA, little-endian otherwise.
  void FinishBlocks(bool bigEndianLength);
  // Lays the state words out as digest bytes, little- or big-endian.
  void StoreDigest(bool bigEndian);

  uint32_t Count = 0;  // bytes added since InitHash, modulo 2^32
  uint8_t Block[64] = {};
  uint32_t Digest[10] = {};
  uint8_t DigestBytes[40] = {};
};

}  // namespace lanqi
