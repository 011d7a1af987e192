// GOST 28147-89 with the S-boxes of the GOST R 34.11-94 test parameter set; little-endian words.
#pragma once

#include "crypto/EncryptBase.h"

namespace lanqi {

// S-box i (0 to 7) acts on the 4-bit group i of a word, group 0 being the least significant.
extern const uint8_t kGostSBox[8][16];

class TEnc_Gost : public TEncrypt {
 public:
  TEnc_Gost();
  ~TEnc_Gost() override;

  void Init(const void* key, int32_t size, const void* vector) override;
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;
  void EncodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  void DecodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  const char* ClassName() const override { return "TEnc_Gost"; }
  void Protect() override;

 private:
  uint32_t F(uint32_t x) const;
  uint32_t key_[8] = {};
};

}  // namespace lanqi
