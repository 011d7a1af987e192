// Runs a fuzz target once over every file of the given folders (or the given files), without the
// fuzzing engine: the seed corpora become ordinary test cases in every build, sanitizers included.
// Each input goes in as a heap block of exactly its size, so a read past its end is caught. An
// argument that holds no input fails the run: a corpus that went missing must not pass silently.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool ReadFile(const fs::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The inputs an argument names, in name order so that every run replays them alike.
std::vector<fs::path> Inputs(const fs::path& arg) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(arg, ec)) {
    for (const fs::directory_entry& e : fs::directory_iterator(arg, ec))
      if (e.is_regular_file(ec)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
  } else if (fs::is_regular_file(arg, ec)) {
    files.push_back(arg);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t total = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> files = Inputs(argv[i]);
    if (files.empty()) {
      std::fprintf(stderr, "%s: no inputs\n", argv[i]);
      return 1;
    }
    for (const fs::path& f : files) {
      std::vector<uint8_t> bytes;
      if (!ReadFile(f, bytes)) {
        std::fprintf(stderr, "%s: cannot read\n", f.c_str());
        return 1;
      }
      std::fprintf(stderr, "replaying %s (%zu bytes)\n", f.c_str(), bytes.size());
      // A block of exactly the input's size (a valid pointer even for an empty input, as the
      // fuzzing engine gives), so the sanitizers see any read past its end.
      std::unique_ptr<uint8_t[]> copy = std::make_unique<uint8_t[]>(bytes.size());
      std::copy(bytes.begin(), bytes.end(), copy.get());
      LLVMFuzzerTestOneInput(copy.get(), bytes.size());
      ++total;
    }
  }
  std::printf("replayed %zu inputs\n", total);
  return 0;
}
