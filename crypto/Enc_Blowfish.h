// Blowfish as published: 16 rounds, big-endian words, P-array and S-boxes from the digits of pi.
#pragma once

#include "crypto/EncryptBase.h"

namespace lanqi {

class TEnc_Blowfish : public TEncrypt {
 public:
  TEnc_Blowfish();
  ~TEnc_Blowfish() override;

  void Init(const void* key, int32_t size, const void* vector) override;
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;
  void EncodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  void DecodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  const char* ClassName() const override { return "TEnc_Blowfish"; }

 private:
  // The schedule area: four 256-word S-boxes, then the 18-word P-array.
  uint32_t* S() { return UserWords(); }
  uint32_t* P() { return UserWords() + 4 * 256; }
  void Encipher(uint32_t& l, uint32_t& r);
};

}  // namespace lanqi
