#include "crypto/Hash_SHA.h"

#include "crypto/HashBytes.h"

namespace lanqi {

void THash_SHA::DoneHash() {
  FinishBlocks(true);
  StoreDigest(true);
}

void THash_SHA::Transform(const uint8_t* block) {
  // The schedule lives in a 16-word ring: w[t & 15] holds W[t].
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(block + 4 * i);
  const bool rotate = RotateSchedule != 0;
  auto next = [&w, rotate](int t) {
    const uint32_t v = w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15];
    return w[t & 15] = rotate ? Rol32(v, 1) : v;
  };
  uint32_t a = Digest[0], b = Digest[1], c = Digest[2], d = Digest[3], e = Digest[4];
  // Five steps per group, the variables renamed instead of moved.
#define LQ_F1(b, c, d) (d ^ (b & (c ^ d)))
#define LQ_F2(b, c, d) (b ^ c ^ d)
#define LQ_F3(b, c, d) ((b & c) | (d & (b | c)))
#define LQ_STEP(a, b, c, d, e, f, k, wt)      \
  e += Rol32(a, 5) + f(b, c, d) + (k) + (wt); \
  b = Rol32(b, 30);
#define LQ_GROUP(f, k, t, W)              \
  LQ_STEP(a, b, c, d, e, f, k, W(t));     \
  LQ_STEP(e, a, b, c, d, f, k, W(t + 1)); \
  LQ_STEP(d, e, a, b, c, f, k, W(t + 2)); \
  LQ_STEP(c, d, e, a, b, f, k, W(t + 3)); \
  LQ_STEP(b, c, d, e, a, f, k, W(t + 4));
#define LQ_W0(t) w[t]
#define LQ_WN(t) next(t)
  LQ_GROUP(LQ_F1, 0x5A827999u, 0, LQ_W0)
  LQ_GROUP(LQ_F1, 0x5A827999u, 5, LQ_W0)
  LQ_GROUP(LQ_F1, 0x5A827999u, 10, LQ_W0)
  LQ_STEP(a, b, c, d, e, LQ_F1, 0x5A827999u, w[15]);
  LQ_STEP(e, a, b, c, d, LQ_F1, 0x5A827999u, next(16));
  LQ_STEP(d, e, a, b, c, LQ_F1, 0x5A827999u, next(17));
  LQ_STEP(c, d, e, a, b, LQ_F1, 0x5A827999u, next(18));
  LQ_STEP(b, c, d, e, a, LQ_F1, 0x5A827999u, next(19));
  for (int t = 20; t < 40; t += 5) {
    LQ_GROUP(LQ_F2, 0x6ED9EBA1u, t, LQ_WN)
  }
  for (int t = 40; t < 60; t += 5) {
    LQ_GROUP(LQ_F3, 0x8F1BBCDCu, t, LQ_WN)
  }
  for (int t = 60; t < 80; t += 5) {
    LQ_GROUP(LQ_F2, 0xCA62C1D6u, t, LQ_WN)
  }
#undef LQ_F1
#undef LQ_F2
#undef LQ_F3
#undef LQ_STEP
#undef LQ_GROUP
#undef LQ_W0
#undef LQ_WN
  Digest[0] += a;
  Digest[1] += b;
  Digest[2] += c;
  Digest[3] += d;
  Digest[4] += e;
}

}  // namespace lanqi
