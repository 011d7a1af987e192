#include "crypto/Enc_Gost.h"

#include <array>
#include <cstring>

#include "crypto/HashBytes.h"

namespace lanqi {

const uint8_t kGostSBox[8][16] = {{4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
                                  {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
                                  {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
                                  {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
                                  {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
                                  {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
                                  {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
                                  {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12}};

namespace {

// Byte i of the input through S-boxes 2i and 2i+1, placed at its position and rotated by 11.
std::array<std::array<uint32_t, 256>, 4> MakeGostTables() {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (int i = 0; i < 4; ++i)
    for (uint32_t x = 0; x < 256; ++x) {
      const uint32_t v = static_cast<uint32_t>(kGostSBox[2 * i][x & 0xF]) |
                         static_cast<uint32_t>(kGostSBox[2 * i + 1][x >> 4]) << 4;
      t[i][x] = Rol32(v << (8 * i), 11);
    }
  return t;
}

const auto kGostT = MakeGostTables();

}  // namespace

// The key schedule is the key itself: the User area holds its bytes, key_ the same as eight words.
TEnc_Gost::TEnc_Gost() : TEncrypt(8, 32, 32) {}

TEnc_Gost::~TEnc_Gost() {
  explicit_bzero(key_, sizeof key_);
}

void TEnc_Gost::Protect() {
  TEncrypt::Protect();
  explicit_bzero(key_, sizeof key_);
}

void TEnc_Gost::Init(const void* key, int32_t size, const void* vector) {
  size = InitBegin(size);
  uint8_t* user = User();
  std::memset(user, 0, 32);
  if (size > 0) std::memcpy(user, key, static_cast<size_t>(size));
  for (int i = 0; i < 8; ++i) key_[i] = LoadLE32(user + 4 * i);
  InitEnd(vector);
}

inline uint32_t TEnc_Gost::F(uint32_t x) const {
  return kGostT[0][x & 0xFF] ^ kGostT[1][(x >> 8) & 0xFF] ^ kGostT[2][(x >> 16) & 0xFF] ^ kGostT[3][x >> 24];
}

void TEnc_Gost::EncodeBlock(uint8_t* block) {
  uint32_t n1 = LoadLE32(block), n2 = LoadLE32(block + 4);
  const uint32_t* k = key_;
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 8; i += 2) {
      n2 ^= F(n1 + k[i]);
      n1 ^= F(n2 + k[i + 1]);
    }
  for (int i = 7; i > 0; i -= 2) {
    n2 ^= F(n1 + k[i]);
    n1 ^= F(n2 + k[i - 1]);
  }
  StoreLE32(block, n2);
  StoreLE32(block + 4, n1);
}

void TEnc_Gost::DecodeBlock(uint8_t* block) {
  uint32_t n1 = LoadLE32(block), n2 = LoadLE32(block + 4);
  const uint32_t* k = key_;
  for (int i = 0; i < 8; i += 2) {
    n2 ^= F(n1 + k[i]);
    n1 ^= F(n2 + k[i + 1]);
  }
  for (int r = 0; r < 3; ++r)
    for (int i = 7; i > 0; i -= 2) {
      n2 ^= F(n1 + k[i]);
      n1 ^= F(n2 + k[i - 1]);
    }
  StoreLE32(block, n2);
  StoreLE32(block + 4, n1);
}

void TEnc_Gost::EncodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i) TEnc_Gost::EncodeBlock(data + 8 * static_cast<size_t>(i));
}

void TEnc_Gost::DecodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i) TEnc_Gost::DecodeBlock(data + 8 * static_cast<size_t>(i));
}

}  // namespace lanqi
