#include "crypto/HashBase.h"

#include <cstring>

#include "crypto/Hash_CheckSum.h"

namespace lanqi {

THash::~THash() = default;

void THash::Calc(const void*, int32_t) {}

const uint8_t* THash::DigestKey() const {
  static const uint8_t kNone[32] = {};
  return kNone;
}

void THash::SecureZero(void* p, size_t n) {
  if (n) explicit_bzero(p, n);
}

std::string DigestBase64(const uint8_t* data, int32_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (int32_t i = 0; i < length; i += 3) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 24;
    if (i + 1 < length) v |= static_cast<uint32_t>(data[i + 1]) << 16;
    if (i + 2 < length) v |= static_cast<uint32_t>(data[i + 2]) << 8;
    while (v != 0) {
      v = (v << 6) | (v >> 26);
      out += kAlphabet[v & 0x3F];
      v &= ~0x3Fu;
    }
  }
  if (length > 0) {
    if (length % 3 == 1) out += "==";
    if (length % 3 == 2) out += "=";
  }
  return out;
}

std::string THash::DigestStr(int32_t format) const {
  const uint8_t* d = DigestKey();
  const int32_t n = DigestSize();
  if (format == 0 || format == 64) return DigestBase64(d, n);
  if (format == 16) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(n) * 2);
    for (int32_t i = 0; i < n; ++i) {
      out += kHex[d[i] >> 4];
      out += kHex[d[i] & 0xF];
    }
    return out;
  }
  return std::string(reinterpret_cast<const char*>(d), static_cast<size_t>(n));
}

uint32_t BufferCRC32(const void* data, int32_t length) {
  // Same result as HashBuffer<THash_CRC32>, without building the text nobody reads.
  THash_CRC32 h;
  h.InitHash();
  h.Calc(data, length);
  h.DoneHash();
  const uint8_t* digest = h.DigestKey();
  return static_cast<uint32_t>(digest[0]) | static_cast<uint32_t>(digest[1]) << 8 |
         static_cast<uint32_t>(digest[2]) << 16 | static_cast<uint32_t>(digest[3]) << 24;
}

}  // namespace lanqi
