// Arbitrary 4096-byte change buffers through the record walk and the mask test: no read past the
// buffer, no hang, and every change carries a known operation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "watcher/FileSystemWatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lanqi;
  // Exactly the buffer a completed read hands over; a shorter input is padded with zeros, as the
  // rest of a real buffer is.
  std::vector<uint8_t> buffer(TShellChangeThread::kBufferSize, 0);
  std::memcpy(buffer.data(), data, std::min(size, buffer.size()));
  static const std::vector<std::string> masks{"*.TXT", "a?c*", "*.*"};
  size_t changes = 0;
  TShellChangeThread::WalkChanges(buffer.data(), buffer.size(),
                                  [&](TFileOperation op, const std::string& a, const std::string& b) {
                                    if (op < foAdded || op > foRenamed) std::abort();
                                    if (op != foRenamed && !b.empty()) std::abort();
                                    MatchesMasks(a, masks);
                                    ++changes;
                                  });
  // Every step moves at least one byte on, so no buffer yields more changes than it has bytes.
  if (changes > buffer.size()) std::abort();
  return 0;
}
