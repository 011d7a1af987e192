#include "platform/AutoStart.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "/";
}

std::string ToUtf8(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const EConvertError&) {
    return ansi;
  }
}

std::string ToAnsiText(const std::string& utf8) {
  try {
    return Utf8ToAnsi(utf8);
  } catch (const EConvertError&) {
    return utf8;
  }
}

// The general escapes of a desktop entry's string values.
std::string EscapeString(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

[[noreturn]] void SetDataFailed(const std::string& title) {
  throw Exception(Format("Failed to set data for '%s'", title.c_str()));
}

}  // namespace

std::string AutoStartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config != nullptr && config[0] == '/' ? std::string(config) : HomeFolder() + "/.config";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/autostart";
}

std::string AutoStartEntryPath(const std::string& title) {
  return AutoStartFolder() + "/" + ToUtf8(title) + ".desktop";
}

std::string DesktopExecValue(const std::string& utf8Path) {
  // Quoted whole, with ", `, $ and \ escaped inside the quotes; % starts a field code, so it doubles.
  std::string quoted = "\"";
  for (char c : utf8Path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return EscapeString(quoted);
}

void SetAutoStartEntry(const std::string& title, const std::string& exePath, bool enabled) {
  const std::string name = ToUtf8(title);
  // The title is the file name: nothing that leaves the folder or makes no name.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos)
    SetDataFailed(title);
  const std::string folder = AutoStartFolder();
  const std::string path = folder + "/" + name + ".desktop";
  if (!enabled) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) SetDataFailed(title);
    return;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec))
    throw Exception(Format("Failed to create key %s", ToAnsiText(folder).c_str()));

  const std::string entry = "[Desktop Entry]\nType=Application\nName=" + EscapeString(name) +
                            "\nExec=" + DesktopExecValue(ToUtf8(exePath)) +
                            "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  // Written beside and renamed over, so a failed write leaves the old entry whole.
  if (!ReplaceFileContents(path, entry, 0644)) SetDataFailed(title);
}

}  // namespace lanqi
