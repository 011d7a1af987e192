#include "platform/FileMapping.h"

#include <sys/mman.h>

namespace lanqi {

bool TFileMapping::Map(int handle, int64_t length) {
  Unmap();
  if (length <= 0) return false;
  void* m = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, handle, 0);
  if (m == MAP_FAILED) return false;
  data_ = static_cast<const uint8_t*>(m);
  length_ = length;
  handle_ = handle;
  return true;
}

void TFileMapping::Unmap() {
  if (data_) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(length_));
  data_ = nullptr;
  length_ = 0;
  handle_ = -1;
}

}  // namespace lanqi
