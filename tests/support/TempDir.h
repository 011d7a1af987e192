// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <string>

namespace lanqi::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder's path (UTF-8, which is also valid code-page text for ASCII names), no trailing '/'.
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes to Path()/name and returns the full path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // Reads a whole file ("" when missing).
  static std::string Read(const std::string& path);

 private:
  std::string path_;
};

}  // namespace lanqi::test
