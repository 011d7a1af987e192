// Random data, lengths, modes, passwords and split points through encode-then-decode: the round trip
// must restore the data, a split item must equal the one-call item, and the 4096-byte stream pass
// must equal one buffer call.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/Enc_Blowfish.h"
#include "crypto/Enc_Gost.h"
#include "crypto/Enc_Twofish.h"
#include "engine/storage/DataProcessMgr.h"
#include "engine/storage/EncAlgo.h"
#include "rtl/Streams.h"

using namespace lanqi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int which = data[0] % 3;
  const uint8_t mode = data[1] % 6;  // 5: a code no mode has
  const size_t pwLen = std::min<size_t>(data[3] % 64, size - 4);
  const std::string password(reinterpret_cast<const char*>(data + 4), pwLen);
  const uint8_t* plain = data + 4 + pwLen;
  const size_t n = size - 4 - pwLen;
  size_t split = n ? data[2] % (n + 1) : 0;

  static const char* const kNames[] = {"Blowfish", "Twofish", "Gost"};
  TEncryptMgr mgr(nullptr);
  mgr.SetAlgoName(kNames[which]);
  mgr.SetMode(mode);
  mgr.InitKey(password);

  // One call.
  std::vector<uint8_t> one(plain, plain + n);
  mgr.EncodeBuffer(one.data(), one.data(), static_cast<int32_t>(n));

  // Two calls on the module, continuing the chaining state; block modes split on a block boundary,
  // since a partial block ends an item.
  auto* algo = static_cast<TEncAlgo_Base*>(mgr.EncryptAlgo());
  if (mode != cmCFB8 && mode != cmOFB8) split -= split % static_cast<size_t>(algo->Cipher->BlockSize());
  std::vector<uint8_t> two(n);
  algo->EncodeBuffer(plain, two.data(), static_cast<int32_t>(split));
  algo->EncodeBuffer(plain + split, two.data() + split, static_cast<int32_t>(n - split));
  algo->Done();
  if (one != two) std::abort();

  // The stream pass in chunks.
  TMemoryStream src, dst;
  if (n) src.WriteBuffer(plain, static_cast<int32_t>(n));
  mgr.EncodeStream(&src, &dst, -1);
  if (dst.Size() != static_cast<int64_t>(n) || (n && std::memcmp(dst.Memory(), one.data(), n) != 0))
    std::abort();

  // Decoding restores the data, in place.
  mgr.DecodeBuffer(one.data(), one.data(), static_cast<int32_t>(n));
  if (n && std::memcmp(one.data(), plain, n) != 0) std::abort();
  dst.SetPosition(0);
  mgr.DecodeStream(&dst, nullptr, -1);
  if (n && std::memcmp(dst.Memory(), plain, n) != 0) std::abort();
  return 0;
}
