#include "crypto/EncryptBase.h"

#include <algorithm>
#include <cstring>

#include "crypto/Hash_SHA.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

inline void XorInto(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

}  // namespace

TEncrypt::TEncrypt(int32_t blockSize, int32_t keySize, int32_t userSize)
    : keySize_(keySize),
      blockSize_(blockSize),
      userSize_(userSize),
      scratch_(std::make_unique<uint8_t[]>(static_cast<size_t>(blockSize))),
      vector_(std::make_unique<uint8_t[]>(static_cast<size_t>(blockSize))),
      feedback_(std::make_unique<uint8_t[]>(static_cast<size_t>(blockSize))),
      user_(std::make_unique<uint32_t[]>(static_cast<size_t>(userSize + 3) / 4)) {
  TEncrypt::Protect();
}

TEncrypt::~TEncrypt() {
  TEncrypt::Protect();
}

void TEncrypt::SetFlag(int bit, bool on) {
  if (on)
    flags_ |= 1u << bit;
  else
    flags_ &= ~(1u << bit);
}

THash& TEncrypt::GetHash() {
  if (!hash_) hash_ = std::make_unique<THash_SHA>();
  return *hash_;
}

void TEncrypt::Protect() {
  SetFlag(kInitializedBit, false);
  std::memset(vector_.get(), 0xFF, static_cast<size_t>(blockSize_));
  std::memset(feedback_.get(), 0xFF, static_cast<size_t>(blockSize_));
  explicit_bzero(scratch_.get(), static_cast<size_t>(blockSize_));
  explicit_bzero(user_.get(), static_cast<size_t>(userSize_ + 3) / 4 * 4);
}

void TEncrypt::EncodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i)
    EncodeBlock(data + static_cast<size_t>(i) * static_cast<size_t>(blockSize_));
}

void TEncrypt::DecodeBlocksInPlace(uint8_t* data, int32_t blocks) {
  for (int32_t i = 0; i < blocks; ++i)
    DecodeBlock(data + static_cast<size_t>(i) * static_cast<size_t>(blockSize_));
}

void TEncrypt::Done() {
  std::memcpy(feedback_.get(), vector_.get(), static_cast<size_t>(blockSize_));
}

int32_t TEncrypt::InitBegin(int32_t size) {
  SetFlag(kInitializedBit, false);
  Protect();
  return std::clamp(size, 0, keySize_);
}

void TEncrypt::InitEnd(const void* vector) {
  if (vector)
    std::memcpy(vector_.get(), vector, static_cast<size_t>(blockSize_));
  else
    EncodeBlock(vector_.get());  // Protect left it all 0xFF
  std::memcpy(feedback_.get(), vector_.get(), static_cast<size_t>(blockSize_));
  SetFlag(kInitializedBit, true);
}

void TEncrypt::InitKey(const std::string& password, const void* vector) {
  THash& h = GetHash();
  h.InitHash();
  h.Calc(password.data(), static_cast<int32_t>(password.size()));
  h.DoneHash();
  // The hash object's own digest storage, overwritten below with its encryption so the key does
  // not linger there.
  auto* digest = const_cast<uint8_t*>(h.DigestKey());
  const int32_t digestSize = h.DigestSize();
  Init(digest, std::min(keySize_, digestSize), vector);
  EncodeBuffer(digest, digest, digestSize);
  Done();
}

void TEncrypt::CheckInitialized() const {
  if (!Initialized())
    throw EEncryptException(Format("%s is not initialized call Init() or InitKey() before.", ClassName()),
                            errNotInitialized);
}

void TEncrypt::EncodeBuffer(const void* source, void* dest, int32_t length) {
  CheckInitialized();
  if (length > 0) EncodeBlocks(static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest), length);
  std::memset(scratch_.get(), 0, static_cast<size_t>(blockSize_));
}

void TEncrypt::DecodeBuffer(const void* source, void* dest, int32_t length) {
  CheckInitialized();
  if (length > 0) DecodeBlocks(static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest), length);
  std::memset(scratch_.get(), 0, static_cast<size_t>(blockSize_));
}

// Source and destination may coincide: every block is read whole into Scratch before its output
// is written.
void TEncrypt::EncodeBlocks(const uint8_t* src, uint8_t* dst, int32_t length) {
  const int32_t b = blockSize_;
  uint8_t* f = feedback_.get();
  uint8_t* s = scratch_.get();
  const int32_t full = length / b * b;
  const int32_t tail = length - full;
  switch (cipherMode_) {
    case cmCBC:
      for (int32_t i = 0; i < full; i += b) {
        XorInto(s, src + i, f, b);
        EncodeBlock(s);
        std::memcpy(f, s, static_cast<size_t>(b));
        std::memcpy(dst + i, s, static_cast<size_t>(b));
      }
      break;
    case cmCFB8:
    case cmOFB8:
      for (int32_t i = 0; i < length; ++i) {
        std::memcpy(s, f, static_cast<size_t>(b));
        EncodeBlock(s);
        const uint8_t out = src[i] ^ s[0];
        std::memmove(f, f + 1, static_cast<size_t>(b - 1));
        f[b - 1] = cipherMode_ == cmCFB8 ? out : s[0];
        dst[i] = out;
      }
      return;
    case cmECB:
      if (src != dst) std::memmove(dst, src, static_cast<size_t>(length));
      EncodeBlocksInPlace(dst, full / b);
      return;
    default:  // cmChainXor, also any unknown code
      for (int32_t i = 0; i < full; i += b) {
        XorInto(s, src + i, f, b);
        EncodeBlock(s);
        XorInto(f, s, f, b);
        std::memcpy(dst + i, s, static_cast<size_t>(b));
      }
      break;
  }
  if (tail) {
    std::memcpy(s, f, static_cast<size_t>(b));
    EncodeBlock(s);
    XorInto(dst + full, src + full, s, tail);
    if (cipherMode_ != cmCBC) XorInto(f, s, f, b);
  }
}

void TEncrypt::DecodeBlocks(const uint8_t* src, uint8_t* dst, int32_t length) {
  const int32_t b = blockSize_;
  uint8_t* f = feedback_.get();
  uint8_t* s = scratch_.get();
  const int32_t full = length / b * b;
  const int32_t tail = length - full;
  // Holds the ciphertext block while the output overwrites it in place.
  uint8_t c[32];
  switch (cipherMode_) {
    case cmCBC:
      for (int32_t i = 0; i < full; i += b) {
        std::memcpy(c, src + i, static_cast<size_t>(b));
        std::memcpy(s, c, static_cast<size_t>(b));
        DecodeBlock(s);
        XorInto(dst + i, s, f, b);
        std::memcpy(f, c, static_cast<size_t>(b));
      }
      break;
    case cmCFB8:
    case cmOFB8:
      for (int32_t i = 0; i < length; ++i) {
        std::memcpy(s, f, static_cast<size_t>(b));
        EncodeBlock(s);
        const uint8_t in = src[i];
        std::memmove(f, f + 1, static_cast<size_t>(b - 1));
        f[b - 1] = cipherMode_ == cmCFB8 ? in : s[0];
        dst[i] = in ^ s[0];
      }
      return;
    case cmECB:
      if (src != dst) std::memmove(dst, src, static_cast<size_t>(length));
      DecodeBlocksInPlace(dst, full / b);
      return;
    default:  // cmChainXor
      for (int32_t i = 0; i < full; i += b) {
        std::memcpy(c, src + i, static_cast<size_t>(b));
        std::memcpy(s, c, static_cast<size_t>(b));
        DecodeBlock(s);
        XorInto(dst + i, s, f, b);
        XorInto(f, c, f, b);
      }
      break;
  }
  if (tail) {
    std::memcpy(s, f, static_cast<size_t>(b));
    EncodeBlock(s);
    XorInto(dst + full, src + full, s, tail);
    if (cipherMode_ != cmCBC) XorInto(f, s, f, b);
  }
}

}  // namespace lanqi
