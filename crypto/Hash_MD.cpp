#include "crypto/Hash_MD.h"

#include <cstring>

#include "crypto/HashBytes.h"

namespace lanqi {

THash_MD4::~THash_MD4() {
  SecureZero(Digest, sizeof Digest);
  SecureZero(DigestBytes, sizeof DigestBytes);
  SecureZero(Block, sizeof Block);
}

void THash_MD4::InitHash() {
  std::memset(Block, 0, sizeof Block);
  std::memset(Digest, 0, sizeof Digest);
  Digest[0] = 0x67452301;
  Digest[1] = 0xEFCDAB89;
  Digest[2] = 0x98BADCFE;
  Digest[3] = 0x10325476;
  Digest[4] = 0xC3D2E1F0;
  Count = 0;
}

void THash_MD4::Calc(const void* data, int32_t length) {
  if (length <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t n = static_cast<uint32_t>(length);
  uint32_t used = Count & 63;
  Count += n;
  if (used) {
    uint32_t take = 64 - used;
    if (take > n) take = n;
    std::memcpy(Block + used, p, take);
    p += take;
    n -= take;
    if (used + take < 64) return;
    Transform(Block);
  }
  // Whole blocks straight from the caller's data.
  if (n >= 64) {
    TransformBlocks(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
  }
  if (n) std::memcpy(Block, p, n);
}

void THash_MD4::FinishBlocks(bool bigEndianLength) {
  uint32_t used = Count & 63;
  Block[used++] = 0x80;
  if (used > 56) {
    std::memset(Block + used, 0, 64 - used);
    Transform(Block);
    used = 0;
  }
  std::memset(Block + used, 0, 56 - used);
  // The bit count is taken in 32 bits, so its upper half is always zero.
  const uint32_t bits = Count * 8;
  if (bigEndianLength) {
    StoreBE32(Block + 56, 0);
    StoreBE32(Block + 60, bits);
  } else {
    StoreLE32(Block + 56, bits);
    StoreLE32(Block + 60, 0);
  }
  Transform(Block);
  std::memset(Block, 0, sizeof Block);
}

void THash_MD4::StoreDigest(bool bigEndian) {
  for (int i = 0; i < 10; ++i) {
    if (bigEndian)
      StoreBE32(DigestBytes + 4 * i, Digest[i]);
    else
      StoreLE32(DigestBytes + 4 * i, Digest[i]);
  }
}

void THash_MD4::DoneHash() {
  FinishBlocks(false);
  StoreDigest(false);
}

void THash_MD4::TransformBlocks(const uint8_t* data, uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i) Transform(data + 64 * static_cast<size_t>(i));
}

void THash_MD4::Transform(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLE32(block + 4 * i);
  uint32_t a = Digest[0], b = Digest[1], c = Digest[2], d = Digest[3];
#define LQ_F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define LQ_G(x, y, z) (((x) & (y)) | ((x) & (z)) | ((y) & (z)))
#define LQ_H(x, y, z) ((x) ^ (y) ^ (z))
#define LQ_R1(a, b, c, d, k, s) a = Rol32(a + LQ_F(b, c, d) + x[k], s)
#define LQ_R2(a, b, c, d, k, s) a = Rol32(a + LQ_G(b, c, d) + x[k] + 0x5A827999u, s)
#define LQ_R3(a, b, c, d, k, s) a = Rol32(a + LQ_H(b, c, d) + x[k] + 0x6ED9EBA1u, s)
  for (int i = 0; i < 16; i += 4) {
    LQ_R1(a, b, c, d, i, 3);
    LQ_R1(d, a, b, c, i + 1, 7);
    LQ_R1(c, d, a, b, i + 2, 11);
    LQ_R1(b, c, d, a, i + 3, 19);
  }
  for (int i = 0; i < 4; ++i) {
    LQ_R2(a, b, c, d, i, 3);
    LQ_R2(d, a, b, c, i + 4, 5);
    LQ_R2(c, d, a, b, i + 8, 9);
    LQ_R2(b, c, d, a, i + 12, 13);
  }
  static const int kOrder3[4] = {0, 2, 1, 3};
  for (int j = 0; j < 4; ++j) {
    const int i = kOrder3[j];
    LQ_R3(a, b, c, d, i, 3);
    LQ_R3(d, a, b, c, i + 8, 9);
    LQ_R3(c, d, a, b, i + 4, 11);
    LQ_R3(b, c, d, a, i + 12, 15);
  }
#undef LQ_F
#undef LQ_G
#undef LQ_H
#undef LQ_R1
#undef LQ_R2
#undef LQ_R3
  Digest[0] += a;
  Digest[1] += b;
  Digest[2] += c;
  Digest[3] += d;
}

}  // namespace lanqi
