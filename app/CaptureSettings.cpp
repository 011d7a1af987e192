#include "app/CaptureSettings.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace lanqi {

namespace {

struct TCaptureKeys {
  std::string section = Ansi(u8"版本设置");
  std::string skipUnchanged = Ansi(u8"忽略内容未变的保存");
};

const TCaptureKeys& K() {
  static const TCaptureKeys keys;
  return keys;
}

TIniFile Settings(const std::string& folder) {
  return TIniFile(IncludeTrailingPathDelimiter(folder) + "setup.ini");
}

}  // namespace

bool LoadSkipUnchanged(const std::string& folder) {
  return Settings(folder).ReadBool(K().section, K().skipUnchanged, true);
}

void SaveSkipUnchanged(const std::string& folder, bool skip) {
  Settings(folder).WriteBool(K().section, K().skipUnchanged, skip);
}

}  // namespace lanqi
