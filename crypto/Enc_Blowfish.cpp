#include "crypto/Enc_Blowfish.h"

#include <cstring>

#include "crypto/BlowfishTables.h"
#include "crypto/HashBytes.h"

namespace lanqi {

TEnc_Blowfish::TEnc_Blowfish() : TEncrypt(8, 56, 4168) {}

TEnc_Blowfish::~TEnc_Blowfish() = default;

inline void TEnc_Blowfish::Encipher(uint32_t& l, uint32_t& r) {
  const uint32_t* s = S();
  const uint32_t* p = P();
  auto f = [s](uint32_t x) {
    return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) + s[768 + (x & 0xFF)];
  };
  uint32_t a = l, b = r;
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    a ^= p[i];
    b ^= f(a);
    b ^= p[i + 1];
    a ^= f(b);
  }
  a ^= p[16];
  b ^= p[17];
  l = b;
  r = a;
}

void TEnc_Blowfish::Init(const void* key, int32_t size, const void* vector) {
  size = InitBegin(size);
  std::memcpy(S(), kBlowfishPiS, sizeof kBlowfishPiS);
  std::memcpy(P(), kBlowfishPiP, sizeof kBlowfishPiP);
  // A zero-length key leaves the P-array as the digits of pi and still runs the schedule.
  if (size > 0) {
    const auto* k = static_cast<const uint8_t*>(key);
    int32_t j = 0;
    for (int i = 0; i < 18; ++i) {
      uint32_t w = 0;
      for (int n = 0; n < 4; ++n) {
        w = (w << 8) | k[j];
        if (++j == size) j = 0;
      }
      P()[i] ^= w;
    }
  }
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    Encipher(l, r);
    P()[i] = l;
    P()[i + 1] = r;
  }
  for (int i = 0; i < 4 * 256; i += 2) {
    Encipher(l, r);
    S()[i] = l;
    S()[i + 1] = r;
  }
  InitEnd(vector);
}

void TEnc_Blowfish::EncodeBlock(uint8_t* block) {
  uint32_t l = LoadBE32(block), r = LoadBE32(block + 4);
  Encipher(l, r);
  StoreBE32(block, l);
  StoreBE32(block + 4, r);
}

void TEnc_Blowfish::DecodeBlock(uint8_t* block) {
  const uint32_t* s = S();
  const uint32_t* p = P();
  auto f = [s](uint32_t x) {
    return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) + s[768 + (x & 0xFF)];
  };
  uint32_t a = LoadBE32(block), b = LoadBE32(block + 4);
#pragma GCC unroll 8
  for (int i = 17; i > 1; i -= 2) {
    a ^= p[i];
    b ^= f(a);
    b ^= p[i - 1];
    a ^= f(b);
  }
  a ^= p[1];
  b ^= p[0];
  StoreBE32(block, b);
  StoreBE32(block + 4, a);
}

void TEnc_Blowfish::EncodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i) TEnc_Blowfish::EncodeBlock(data + 8 * static_cast<size_t>(i));
}

void TEnc_Blowfish::DecodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i) TEnc_Blowfish::DecodeBlock(data + 8 * static_cast<size_t>(i));
}

}  // namespace lanqi
