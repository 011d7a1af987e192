// Rotations shared by the digests and ciphers; the byte-order loads and stores come with them.
#pragma once

#include <cstdint>

#include "rtl/ByteOrder.h"

namespace lanqi {

inline uint32_t Rol32(uint32_t v, int s) {
  return (v << s) | (v >> ((32 - s) & 31));
}
inline uint32_t Ror32(uint32_t v, int s) {
  return (v >> s) | (v << ((32 - s) & 31));
}

}  // namespace lanqi
