// Random bytes into the ZLIB module's decoder: a clean error or valid output, never a crash or an
// allocation beyond what the input can produce. Valid output must survive encode and decode again.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/storage/Compress_Zlib.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

using namespace lanqi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCompAlgo_Zlib z(nullptr);
  TMemoryStream src, out;
  if (size) src.WriteBuffer(data, static_cast<int32_t>(size));
  try {
    z.DecodeStream(&src, &out, 0);
  } catch (const EReadError&) {
    return 0;
  } catch (const EZLibError&) {
    return 0;
  }
  if (out.Position() != 0) std::abort();
  TMemoryStream packed, back;
  z.SetLevel(size ? data[0] % 5 : 1);
  z.EncodeStream(&out, &packed, 0);
  z.DecodeStream(&packed, &back, 0);
  if (back.Size() != out.Size() || (out.Size() && std::memcmp(back.Memory(), out.Memory(), out.Size()) != 0))
    std::abort();
  return 0;
}
