// The Secure Hash Algorithm of the first Secure Hash Standard (1993): SHA-0, whose message schedule
// has no rotation. Database passwords and their check texts depend on exactly this digest.
#pragma once

#include "crypto/Hash_RipeMD.h"

namespace lanqi {

// Whether the compression uses the processor's SHA instructions (when it has them; on by default
// then). Both paths give the same digests; switching exists for comparison runs.
bool ShaExtensionsAvailable();
void UseShaExtensions(bool on);

class THash_SHA : public THash_RipeMD160 {
 public:
  THash_SHA() = default;
  void DoneHash() override;

 protected:
  void Transform(const uint8_t* block) override;
  void TransformBlocks(const uint8_t* data, uint32_t blocks) override;
  void TransformPortable(const uint8_t* block);

  // Non-zero would rotate the schedule by one bit (SHA-1); nothing in the system sets it.
  uint8_t RotateSchedule = 0;
};

}  // namespace lanqi
