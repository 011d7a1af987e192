// Byte-order helpers shared by the digests and ciphers.
#pragma once

#include <cstdint>

namespace lanqi {

inline uint32_t Rol32(uint32_t v, int s) {
  return (v << s) | (v >> ((32 - s) & 31));
}
inline uint32_t Ror32(uint32_t v, int s) {
  return (v >> s) | (v << ((32 - s) & 31));
}

inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t LoadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[3]) | static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[0]) << 24;
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[3] = static_cast<uint8_t>(v);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[0] = static_cast<uint8_t>(v >> 24);
}

}  // namespace lanqi
