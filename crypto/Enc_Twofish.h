// Twofish as this system stores data with it: the published building blocks (q0/q1, MDS, RS,
// key-dependent S-boxes, h, whitening), but odd subkeys K[2i+1] = ROL(A + (B >> 1), 9) and 30 rounds
// whose subkey pairs run 0, 1, 1, 2, 2, ..., 14, 14, 15. The published cipher cannot read this data;
// it is kept here (protected constructor) so the shared parts can be checked against its vectors.
#pragma once

#include "crypto/EncryptBase.h"

namespace lanqi {

// The published building blocks. which: 0 for q0, 1 for q1.
uint8_t TwofishQ(int which, uint8_t x);
// The MDS matrix applied to the four bytes of y (y0 the low byte); the result word has z0 low.
uint32_t TwofishMDS(uint32_t y);
// The RS code of eight key bytes: one S-box key word.
uint32_t TwofishRS(const uint8_t* bytes);
// h(x, L) for a key of k 64-bit halves (k = 2, 3 or 4 words in L).
uint32_t TwofishH(uint32_t x, const uint32_t* l, int k);

class TEnc_Twofish : public TEncrypt {
 public:
  TEnc_Twofish();
  ~TEnc_Twofish() override;

  void Init(const void* key, int32_t size, const void* vector) override;
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;
  void EncodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  void DecodeBlocksInPlace(uint8_t* data, int32_t blocks) override;
  const char* ClassName() const override { return "TEnc_Twofish"; }

  // The 40 subkey words K0 to K39 of the current key.
  const uint32_t* SubKeys() const { return UserWords(); }
  // The key length (16, 24 or 32) the last Init padded to.
  int32_t PaddedKeySize() const { return paddedKeySize_; }

 protected:
  // published: the schedule and 16 rounds of the published cipher instead of the variant.
  explicit TEnc_Twofish(bool published);

 private:
  const uint32_t* Tables() const { return UserWords() + 40; }

  bool published_ = false;
  int32_t paddedKeySize_ = 0;
};

}  // namespace lanqi
