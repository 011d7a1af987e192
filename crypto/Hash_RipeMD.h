// RIPEMD-160 on the MD4 block buffering.
#pragma once

#include "crypto/Hash_MD.h"

namespace lanqi {

class THash_RipeMD160 : public THash_MD4 {
 public:
  THash_RipeMD160() = default;
  int32_t DigestSize() const override { return 20; }

 protected:
  void Transform(const uint8_t* block) override;
};

}  // namespace lanqi
