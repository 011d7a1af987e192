// The digest framework: start (InitHash), add data (Calc), finish (DoneHash), then read the digest as
// bytes (DigestKey, DigestSize) or as text (DigestStr).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rtl/Component.h"

namespace lanqi {

class THash : public TObject {
 public:
  THash() = default;
  ~THash() override;
  THash(const THash&) = delete;
  THash& operator=(const THash&) = delete;

  virtual void InitHash() {}
  virtual void Calc(const void* data, int32_t length);
  virtual void DoneHash() {}
  // The digest bytes; meaningful after DoneHash until the next InitHash.
  virtual const uint8_t* DigestKey() const;
  virtual int32_t DigestSize() const { return 0; }

  // 16: upper-case hex; 0 and 64: the Base64 variant (groups stop at their trailing zero bits);
  // any other number: the raw digest bytes.
  std::string DigestStr(int32_t format) const;

 protected:
  // Every destructor below wipes its own state with it, since a virtual call from ~THash would no
  // longer reach that state.
  static void SecureZero(void* p, size_t n);
};

// The Base64 variant of digest texts: each group of up to three bytes is emitted 6 bits at a time,
// top first, and stops as soon as the bits left in the group are all zero.
std::string DigestBase64(const uint8_t* data, int32_t length);

template <class THashClass>
std::string HashBuffer(const void* data, int32_t length, void* digest = nullptr) {
  auto h = std::make_unique<THashClass>();
  h->InitHash();
  h->Calc(data, length);
  h->DoneHash();
  std::string text = h->DigestStr(0);
  if (digest) {
    const uint8_t* key = h->DigestKey();
    auto* out = static_cast<uint8_t*>(digest);
    for (int32_t i = 0; i < h->DigestSize(); ++i) out[i] = key[i];
  }
  return text;
}

template <class THashClass>
std::string HashString(const std::string& text, void* digest = nullptr) {
  return HashBuffer<THashClass>(text.data(), static_cast<int32_t>(text.size()), digest);
}

// CRC-32 (ISO 3309 / V.42, as zlib's crc32) of a buffer.
uint32_t BufferCRC32(const void* data, int32_t length);

}  // namespace lanqi
