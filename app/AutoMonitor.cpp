#include "app/AutoMonitor.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace lanqi {

namespace {

TIniFile Settings(const std::string& folder) {
  return TIniFile(IncludeTrailingPathDelimiter(folder) + "setup.ini");
}

}  // namespace

bool LoadAutoMonitor(const std::string& folder) {
  return Settings(folder).ReadBool(Ansi(u8"监测设置"), Ansi(u8"自动监测"), true);
}

void SaveAutoMonitor(const std::string& folder, bool on) {
  Settings(folder).WriteBool(Ansi(u8"监测设置"), Ansi(u8"自动监测"), on);
}

}  // namespace lanqi
