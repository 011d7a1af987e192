#include "crypto/Enc_Twofish.h"

#include <array>
#include <cstring>

#include "crypto/HashBytes.h"

namespace lanqi {

namespace {

// q0 and q1 from their four 4-bit tables each.
constexpr uint8_t kQt[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

constexpr uint8_t Ror4(uint8_t x) {
  return static_cast<uint8_t>(((x >> 1) | (x << 3)) & 0xF);
}

constexpr std::array<std::array<uint8_t, 256>, 2> MakeQ() {
  std::array<std::array<uint8_t, 256>, 2> q{};
  for (int w = 0; w < 2; ++w)
    for (int x = 0; x < 256; ++x) {
      uint8_t a0 = static_cast<uint8_t>(x >> 4), b0 = static_cast<uint8_t>(x & 0xF);
      uint8_t a1 = a0 ^ b0, b1 = static_cast<uint8_t>((a0 ^ Ror4(b0) ^ (8 * a0)) & 0xF);
      uint8_t a2 = kQt[w][0][a1], b2 = kQt[w][1][b1];
      uint8_t a3 = a2 ^ b2, b3 = static_cast<uint8_t>((a2 ^ Ror4(b2) ^ (8 * a2)) & 0xF);
      uint8_t a4 = kQt[w][2][a3], b4 = kQt[w][3][b3];
      q[w][x] = static_cast<uint8_t>(16 * b4 + a4);
    }
  return q;
}

constexpr auto kQ = MakeQ();

constexpr uint8_t GfMul(uint8_t a, uint8_t b, uint16_t poly) {
  uint16_t r = 0, x = a;
  for (; b; b >>= 1) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
  }
  return static_cast<uint8_t>(r);
}

constexpr uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
constexpr uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                               {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                               {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                               {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// Column j of the MDS matrix times every byte value.
constexpr std::array<std::array<uint32_t, 256>, 4> MakeMdsColumns() {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (int j = 0; j < 4; ++j)
    for (int y = 0; y < 256; ++y) {
      uint32_t w = 0;
      for (int i = 0; i < 4; ++i)
        w |= static_cast<uint32_t>(GfMul(kMds[i][j], static_cast<uint8_t>(y), 0x169)) << (8 * i);
      t[j][y] = w;
    }
  return t;
}

constexpr auto kMdsCol = MakeMdsColumns();

inline uint8_t Byte(uint32_t w, int i) {
  return static_cast<uint8_t>(w >> (8 * i));
}

// The key-dependent S-box of byte position j: the q chain of h without the MDS step.
inline uint8_t SBox(int j, uint8_t y, const uint32_t* l, int k) {
  const auto& q0 = kQ[0];
  const auto& q1 = kQ[1];
  if (k == 4) {
    static constexpr int kSel4[4] = {1, 0, 0, 1};
    y = kQ[kSel4[j]][y] ^ Byte(l[3], j);
  }
  if (k >= 3) {
    static constexpr int kSel3[4] = {1, 1, 0, 0};
    y = kQ[kSel3[j]][y] ^ Byte(l[2], j);
  }
  switch (j) {
    case 0:
      return q1[q0[q0[y] ^ Byte(l[1], 0)] ^ Byte(l[0], 0)];
    case 1:
      return q0[q0[q1[y] ^ Byte(l[1], 1)] ^ Byte(l[0], 1)];
    case 2:
      return q1[q1[q0[y] ^ Byte(l[1], 2)] ^ Byte(l[0], 2)];
    default:
      return q0[q1[q1[y] ^ Byte(l[1], 3)] ^ Byte(l[0], 3)];
  }
}

}  // namespace

uint8_t TwofishQ(int which, uint8_t x) {
  return kQ[which & 1][x];
}

uint32_t TwofishMDS(uint32_t y) {
  return kMdsCol[0][Byte(y, 0)] ^ kMdsCol[1][Byte(y, 1)] ^ kMdsCol[2][Byte(y, 2)] ^ kMdsCol[3][Byte(y, 3)];
}

uint32_t TwofishRS(const uint8_t* bytes) {
  uint32_t w = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t s = 0;
    for (int j = 0; j < 8; ++j) s ^= GfMul(kRs[i][j], bytes[j], 0x14D);
    w |= static_cast<uint32_t>(s) << (8 * i);
  }
  return w;
}

uint32_t TwofishH(uint32_t x, const uint32_t* l, int k) {
  uint32_t y = 0;
  for (int j = 0; j < 4; ++j) y |= static_cast<uint32_t>(SBox(j, Byte(x, j), l, k)) << (8 * j);
  return TwofishMDS(y);
}

TEnc_Twofish::TEnc_Twofish() : TEnc_Twofish(false) {}

TEnc_Twofish::TEnc_Twofish(bool published) : TEncrypt(16, 32, 4256), published_(published) {}

TEnc_Twofish::~TEnc_Twofish() = default;

void TEnc_Twofish::Init(const void* key, int32_t size, const void* vector) {
  size = InitBegin(size);
  uint8_t m[32] = {};
  if (size > 0) std::memcpy(m, key, static_cast<size_t>(size));
  paddedKeySize_ = size <= 16 ? 16 : size <= 24 ? 24 : 32;
  const int k = paddedKeySize_ / 8;
  uint32_t me[4], mo[4], s[4];
  for (int i = 0; i < k; ++i) {
    me[i] = LoadLE32(m + 8 * i);
    mo[i] = LoadLE32(m + 8 * i + 4);
    s[k - 1 - i] = TwofishRS(m + 8 * i);  // g takes the S words in reverse order
  }
  uint32_t* K = UserWords();
  constexpr uint32_t rho = 0x01010101;
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t a = TwofishH(2 * i * rho, me, k);
    const uint32_t b = Rol32(TwofishH((2 * i + 1) * rho, mo, k), 8);
    K[2 * i] = a + b;
    K[2 * i + 1] = published_ ? Rol32(a + 2 * b, 9) : Rol32(a + (b >> 1), 9);
  }
  uint32_t* t = UserWords() + 40;
  for (int j = 0; j < 4; ++j)
    for (int x = 0; x < 256; ++x) t[256 * j + x] = kMdsCol[j][SBox(j, static_cast<uint8_t>(x), s, k)];
  explicit_bzero(m, sizeof m);
  explicit_bzero(me, sizeof me);
  explicit_bzero(mo, sizeof mo);
  explicit_bzero(s, sizeof s);
  InitEnd(vector);
}

namespace {

// g through the four key-dependent tables; G8 is g of the word rotated left by 8, read by
// re-indexing instead of rotating.
inline uint32_t G0(const uint32_t* __restrict t, uint32_t x) {
  return t[x & 0xFF] ^ t[256 + ((x >> 8) & 0xFF)] ^ t[512 + ((x >> 16) & 0xFF)] ^ t[768 + (x >> 24)];
}
inline uint32_t G8(const uint32_t* __restrict t, uint32_t x) {
  return t[x >> 24] ^ t[256 + (x & 0xFF)] ^ t[512 + ((x >> 8) & 0xFF)] ^ t[768 + ((x >> 16) & 0xFF)];
}

// One round with pair p: (a, b) feed (c, d); the next round swaps the roles.
inline void Round(const uint32_t* __restrict t, const uint32_t* __restrict K, uint32_t a, uint32_t b,
                  uint32_t& c, uint32_t& d, int p) {
  const uint32_t t0 = G0(t, a), t1 = G8(t, b);
  c = Ror32(c ^ (t0 + t1 + K[8 + 2 * p]), 1);
  d = Rol32(d, 1) ^ (t0 + 2 * t1 + K[9 + 2 * p]);
}

// The inverse: (a, b) feed, (c, d) are restored.
inline void Unround(const uint32_t* __restrict t, const uint32_t* __restrict K, uint32_t a, uint32_t b,
                    uint32_t& c, uint32_t& d, int p) {
  const uint32_t t0 = G0(t, a), t1 = G8(t, b);
  c = Rol32(c, 1) ^ (t0 + t1 + K[8 + 2 * p]);
  d = Ror32(d ^ (t0 + 2 * t1 + K[9 + 2 * p]), 1);
}

inline void Encrypt(const uint32_t* __restrict K, const uint32_t* __restrict t, bool published,
                    uint8_t* block) {
  uint32_t r0 = LoadLE32(block) ^ K[0], r1 = LoadLE32(block + 4) ^ K[1];
  uint32_t r2 = LoadLE32(block + 8) ^ K[2], r3 = LoadLE32(block + 12) ^ K[3];
  if (published) {
    for (int p = 0; p < 16; p += 2) {
      Round(t, K, r0, r1, r2, r3, p);
      Round(t, K, r2, r3, r0, r1, p + 1);
    }
  } else {
    // Pairs 0, 1, 1, 2, ..., 14, 15.
    for (int j = 0; j < 15; ++j) {
      Round(t, K, r0, r1, r2, r3, j);
      Round(t, K, r2, r3, r0, r1, j + 1);
    }
  }
  StoreLE32(block, r2 ^ K[4]);
  StoreLE32(block + 4, r3 ^ K[5]);
  StoreLE32(block + 8, r0 ^ K[6]);
  StoreLE32(block + 12, r1 ^ K[7]);
}

inline void Decrypt(const uint32_t* __restrict K, const uint32_t* __restrict t, bool published,
                    uint8_t* block) {
  uint32_t r2 = LoadLE32(block) ^ K[4], r3 = LoadLE32(block + 4) ^ K[5];
  uint32_t r0 = LoadLE32(block + 8) ^ K[6], r1 = LoadLE32(block + 12) ^ K[7];
  if (published) {
    for (int p = 14; p >= 0; p -= 2) {
      Unround(t, K, r2, r3, r0, r1, p + 1);
      Unround(t, K, r0, r1, r2, r3, p);
    }
  } else {
    for (int j = 14; j >= 0; --j) {
      Unround(t, K, r2, r3, r0, r1, j + 1);
      Unround(t, K, r0, r1, r2, r3, j);
    }
  }
  StoreLE32(block, r0 ^ K[0]);
  StoreLE32(block + 4, r1 ^ K[1]);
  StoreLE32(block + 8, r2 ^ K[2]);
  StoreLE32(block + 12, r3 ^ K[3]);
}

}  // namespace

void TEnc_Twofish::EncodeBlock(uint8_t* block) {
  Encrypt(SubKeys(), Tables(), published_, block);
}

void TEnc_Twofish::DecodeBlock(uint8_t* block) {
  Decrypt(SubKeys(), Tables(), published_, block);
}

void TEnc_Twofish::EncodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  const uint32_t* K = SubKeys();
  const uint32_t* t = Tables();
  for (int32_t i = 0; i < blocks; ++i) Encrypt(K, t, published_, data + 16 * static_cast<size_t>(i));
}

void TEnc_Twofish::DecodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  const uint32_t* K = SubKeys();
  const uint32_t* t = Tables();
  for (int32_t i = 0; i < blocks; ++i) Decrypt(K, t, published_, data + 16 * static_cast<size_t>(i));
}

}  // namespace lanqi
