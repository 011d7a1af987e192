#include "crypto/Hash_CheckSum.h"

#include <array>

#include "crypto/HashBytes.h"

namespace lanqi {

namespace {

// Table k maps a byte to its CRC contribution k bytes further on, so eight bytes are folded per
// step with one look-up each (slicing by eight).
constexpr std::array<std::array<uint32_t, 256>, 8> MakeCrcTables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr auto kCrc = MakeCrcTables();

}  // namespace

THash_XOR32::~THash_XOR32() {
  SecureZero(&Checksum, sizeof Checksum);
  SecureZero(ChecksumBytes, sizeof ChecksumBytes);
}

void THash_XOR32::SyncBytes() {
  StoreLE32(ChecksumBytes, Checksum);
}

void THash_XOR32::Calc(const void* data, int32_t length) {
  if (length <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t n = static_cast<uint32_t>(length);
  if (n & 1) {
    // A one-byte input has no second byte to pair with; it pairs with 0 instead of reading past
    // the caller's data.
    const uint32_t word = p[0] | (n > 1 ? static_cast<uint32_t>(p[1]) << 8 : 0u);
    Checksum ^= word;
    ++p;
  }
  for (uint32_t i = 0; i < n / 2; ++i, p += 2) {
    Checksum = Rol32(Checksum, 5);
    Checksum ^= static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
  }
  SyncBytes();
}

void THash_CRC32::InitHash() {
  Checksum = 0xFFFFFFFFu;
  SyncBytes();
}

void THash_CRC32::Calc(const void* data, int32_t length) {
  if (length <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  size_t n = static_cast<size_t>(length);
  uint32_t c = Checksum;
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = c ^ LoadLE32(p);
    const uint32_t hi = LoadLE32(p + 4);
    c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
        kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
  }
  for (; n; --n, ++p) c = (c >> 8) ^ kCrc[0][(c ^ *p) & 0xFF];
  Checksum = c;
  SyncBytes();
}

void THash_CRC32::DoneHash() {
  Checksum = ~Checksum;
  SyncBytes();
}

}  // namespace lanqi
