// Arbitrary bytes as a settings file: reading never fails, and a written key reads back while the
// other keys keep their values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/IniFile.h"

using lanqi::TIniFile;

namespace {

std::string TempFile() {
  static std::string path = [] {
    char name[] = "/tmp/lanqi-fuzz-ini-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = TempFile();
  WriteFile(path, data, size);
  TIniFile ini(path);
  // Section and key names taken from the input too, so odd names reach the matcher.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string section = text.substr(0, std::min<size_t>(size, 8));
  std::string key = size > 8 ? text.substr(8, 6) : "k";
  for (const std::string& s : {section, std::string("启动设置"), std::string("a")}) {
    (void)ini.ReadString(s, key, "def");
    (void)ini.ReadInteger(s, key, 7);
    (void)ini.ReadBool(s, "开机启动", true);
  }
  // A plain key in a plain section: what is written must read back, and an unrelated key that
  // was readable before keeps its value.
  const std::string before = ini.ReadString("other", "keep", "<none>");
  try {
    ini.WriteString("fuzzsec", "fuzzkey", "v123");
  } catch (const std::exception&) {
    return 0;  // an unwritable file is reported, not a crash
  }
  if (ini.ReadString("fuzzsec", "fuzzkey", "") != "v123") std::abort();
  if (ini.ReadString("other", "keep", "<none>") != before) std::abort();
  return 0;
}
