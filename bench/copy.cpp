// The backup copy of a capture: the best method the file system allows (a reflink clone, else
// copy_file_range) against the plain read and write loop, on one large file, in the same run.
// Usage: bench_copy [folder] [MiB]   (default: the current folder, 1024 MiB)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"

using namespace lanqi;

namespace {

double Seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The median of runs copies by the given methods; each copy is removed after it was timed.
double Median(const std::string& src, const std::string& folder, unsigned methods, TCopyMethod& used,
              int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const std::string dst = folder + "/bench-copy-" + std::to_string(i);
    TCopyOptions options;
    options.Methods = methods;
    options.ReadOnly = true;
    std::string reason;
    times.push_back(Seconds([&] {
      if (!CopyFileFast(src, dst, options, &used, &reason)) {
        std::fprintf(stderr, "copy failed: %s\n", reason.c_str());
        std::exit(1);
      }
    }));
    std::filesystem::remove(dst);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : std::filesystem::current_path().string();
  const int64_t mib = argc > 2 ? std::atoll(argv[2]) : 1024;
  const std::string src = folder + "/bench-copy-source.bin";
  {
    // Bytes that no file system compresses or deduplicates away.
    FILE* f = std::fopen(src.c_str(), "wb");
    std::vector<uint64_t> block((1 << 20) / 8);
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (int64_t m = 0; m < mib; ++m) {
      for (auto& w : block) w = (x ^= x << 13, x ^= x >> 7, x ^= x << 17);
      std::fwrite(block.data(), 1, 1 << 20, f);
    }
    std::fclose(f);
    ::sync();
  }
  const int runs = 3;
  TCopyMethod best = TCopyMethod::None, plain = TCopyMethod::None;
  const double fast = Median(src, folder, kCopyAnyMethod, best, runs);
  const double slow = Median(src, folder, kCopyReadWrite, plain, runs);
  std::printf("copy of %lld MiB in %s (median of %d, each flushed to the device)\n",
              static_cast<long long>(mib), folder.c_str(), runs);
  std::printf("  %-16s %8.3f s  %8.1f MiB/s\n", CopyMethodName(best), fast, mib / fast);
  std::printf("  %-16s %8.3f s  %8.1f MiB/s\n", CopyMethodName(plain), slow, mib / slow);
  std::printf("  ratio read/write / %s: %.2f\n", CopyMethodName(best), slow / fast);
  if (best != TCopyMethod::Reflink)
    std::printf("  (this file system makes no reflink clones: the best method is %s)\n",
                CopyMethodName(best));
  std::filesystem::remove(src);
  return 0;
}
