#include "crypto/Hash_SHA.h"

#include "crypto/HashBytes.h"

namespace lanqi {

void THash_SHA::DoneHash() {
  FinishBlocks(true);
  StoreDigest(true);
}

void THash_SHA::Transform(const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(block + 4 * i);
  if (RotateSchedule) {
    for (int t = 16; t < 80; ++t) w[t] = Rol32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  } else {
    for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
  }
  uint32_t a = Digest[0], b = Digest[1], c = Digest[2], d = Digest[3], e = Digest[4];
#define LQ_STEP(f, k, t)                                     \
  {                                                          \
    const uint32_t tmp = Rol32(a, 5) + (f) + e + (k) + w[t]; \
    e = d;                                                   \
    d = c;                                                   \
    c = Rol32(b, 30);                                        \
    b = a;                                                   \
    a = tmp;                                                 \
  }
#pragma GCC unroll 20
  for (int t = 0; t < 20; ++t) LQ_STEP((b & c) | (~b & d), 0x5A827999u, t)
#pragma GCC unroll 20
  for (int t = 20; t < 40; ++t) LQ_STEP(b ^ c ^ d, 0x6ED9EBA1u, t)
#pragma GCC unroll 20
  for (int t = 40; t < 60; ++t) LQ_STEP((b & c) | (b & d) | (c & d), 0x8F1BBCDCu, t)
#pragma GCC unroll 20
  for (int t = 60; t < 80; ++t) LQ_STEP(b ^ c ^ d, 0xCA62C1D6u, t)
#undef LQ_STEP
  Digest[0] += a;
  Digest[1] += b;
  Digest[2] += c;
  Digest[3] += d;
  Digest[4] += e;
}

}  // namespace lanqi
