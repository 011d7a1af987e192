#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lanqi::test {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/lanqi-test-XXXXXX";
  if (!mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  path_ = base;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only leftovers removable again before removing the tree.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string p = File(name);
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string TempDir::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace lanqi::test
