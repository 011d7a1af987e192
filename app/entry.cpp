#include "app/entry.h"

#include "platform/AutoStart.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/SingleInstance.h"

namespace lanqi {

namespace {

const std::string& SettingsSection() {
  static const std::string s = Ansi(u8"启动设置");
  return s;
}

const std::string& StartAtLogonKey() {
  static const std::string s = Ansi(u8"开机启动");
  return s;
}

TIniFile SettingsFile(const std::string& folder) {
  return TIniFile(IncludeTrailingPathDelimiter(folder) + "setup.ini");
}

}  // namespace

const std::string& AppTitle() {
  static const std::string s = Ansi(u8"文件版本控制");
  return s;
}

std::string CatalogPath() {
  return ExeDirectory() + Ansi(u8"版本控制.dat");
}

bool LoadSettings() {
  return LoadSettings(ExeDirectory());
}

void SaveSettings(bool startAtLogon) {
  SaveSettings(ExeDirectory(), startAtLogon);
}

bool LoadSettings(const std::string& folder) {
  return SettingsFile(folder).ReadBool(SettingsSection(), StartAtLogonKey(), true);
}

void SaveSettings(const std::string& folder, bool startAtLogon) {
  SettingsFile(folder).WriteBool(SettingsSection(), StartAtLogonKey(), startAtLogon);
}

void RegisterAutoRun(const std::string& title, const std::string& exePath, bool enabled) {
  SetAutoStartEntry(title, exePath, enabled);
}

bool IsAnotherInstanceRunning() {
  return !AcquireSingleInstance();
}

}  // namespace lanqi
