// The program entry's pieces: the two files beside the executable, the start-at-logon setting and
// the single-instance test. The entry itself (main window and its loop) lives with the window.
#pragma once

#include <string>

namespace lanqi {

// "文件版本控制": the application title, the main window's caption and the autostart entry's name
// (code-page bytes).
const std::string& AppTitle();

// The executable's folder followed by "版本控制.dat" (code-page bytes).
std::string CatalogPath();

// The flag "开机启动" of section "启动设置" in "setup.ini" beside the executable: true when the
// file, the key or a number is missing, else the stored integer != 0 ("0x" marks hexadecimal).
bool LoadSettings();
// Writes "1" or "0", creating the file and the section when missing.
void SaveSettings(bool startAtLogon);
// The same for the settings file in folder (code-page text; the delimiter may be missing), which
// tests use so that nothing is written beside the real executable.
bool LoadSettings(const std::string& folder);
void SaveSettings(const std::string& folder, bool startAtLogon);

// Start at logon follows the setting: enabled writes (again) the autostart entry named title that
// starts exePath; disabled removes it, and an absent entry is no error. Raises Exception
// "Failed to create key %s" (the autostart folder) or "Failed to set data for '%s'" (the title).
void RegisterAutoRun(const std::string& title, const std::string& exePath, bool enabled);

// Takes the session's single-instance lock ("hkOneCopy") and keeps it for the life of the process;
// true when another process holds it, and the caller then ends silently with exit code 0.
bool IsAnotherInstanceRunning();

}  // namespace lanqi
