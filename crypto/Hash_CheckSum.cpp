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

inline uint32_t Step8(uint32_t c, const uint8_t* p) {
  const uint32_t lo = c ^ LoadLE32(p);
  const uint32_t hi = LoadLE32(p + 4);
  return kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
         kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
}

uint32_t CrcBytes(uint32_t c, const uint8_t* p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) c = Step8(c, p);
  for (; n; --n, ++p) c = (c >> 8) ^ kCrc[0][(c ^ *p) & 0xFF];
  return c;
}

// Polynomials over GF(2) modulo the CRC polynomial, reflected: bit 31 is x^0.
uint32_t MulModP(uint32_t a, uint32_t b) {
  uint32_t m = 1u << 31, p = 0;
  while (true) {
    if (a & m) {
      p ^= b;
      if ((a & (m - 1)) == 0) break;
    }
    m >>= 1;
    b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
  }
  return p;
}

// x^(8n) modulo the polynomial: what a register is multiplied by when n zero bytes pass.
uint32_t ShiftFactor(size_t n) {
  uint32_t result = 1u << 31;  // 1
  uint32_t square = 1u << 23;  // x^8
  for (; n; n >>= 1) {
    if (n & 1) result = MulModP(result, square);
    square = MulModP(square, square);
  }
  return result;
}

// Three independent runs over three equal parts keep more table look-ups in flight than one
// dependent chain; the registers are joined by linearity: reg(A B) = reg(A) * x^(8|B|) ^ reg0(B).
uint32_t CrcLong(uint32_t c, const uint8_t* p, size_t n) {
  const size_t part = n / 3 / 8 * 8;
  const uint8_t* p2 = p + part;
  const uint8_t* p3 = p2 + part;
  uint32_t c2 = 0, c3 = 0;
  for (size_t i = 0; i < part; i += 8) {
    c = Step8(c, p + i);
    c2 = Step8(c2, p2 + i);
    c3 = Step8(c3, p3 + i);
  }
  const uint32_t shift = ShiftFactor(part);
  c = MulModP(MulModP(c, shift) ^ c2, shift) ^ c3;
  return CrcBytes(c, p3 + part, n - 3 * part);
}

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
  const size_t n = static_cast<size_t>(length);
  Checksum = n >= 2048 ? CrcLong(Checksum, p, n) : CrcBytes(Checksum, p, n);
  SyncBytes();
}

void THash_CRC32::DoneHash() {
  Checksum = ~Checksum;
  SyncBytes();
}

}  // namespace lanqi
