// Arbitrary bytes as a mount table: parsing never fails, every entry names an absolute mount point,
// the mount found for a path holds it, and the polling answer agrees with the mounts found.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Mounts.h"

using namespace lanqi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<TMountEntry> mounts = ParseMountInfo(text);
  for (const TMountEntry& m : mounts)
    if (m.MountPoint.empty() || m.MountPoint[0] != '/' || m.FsType.empty()) std::abort();
  for (const std::string& path :
       {std::string("/"), std::string("/home/ann/doc.txt"), std::string("/media/x/y"),
        mounts.empty() ? std::string("/a") : mounts.back().MountPoint + "/f"}) {
    const TMountEntry* m = MountOfPath(mounts, path);
    if (m) {
      std::string p = m->MountPoint;
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      if (p != "/" &&
          (path.compare(0, p.size(), p) != 0 || (path.size() > p.size() && path[p.size()] != '/')))
        std::abort();
      (void)ClassifyMount(*m, MountOfPath(mounts, "/home/ann"), false);
    }
    // A path under its own root on its own mount never needs polling.
    if (m && NeedsPolling(mounts, {path}, path)) std::abort();
  }
  return 0;
}
