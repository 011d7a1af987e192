// Start at logon: an XDG autostart entry $XDG_CONFIG_HOME/autostart/<title>.desktop (default
// ~/.config/autostart) that starts the executable.
#pragma once

#include <string>

namespace lanqi {

// The autostart folder (UTF-8, no trailing '/'): $XDG_CONFIG_HOME/autostart when that is an
// absolute path, else $HOME/.config/autostart.
std::string AutoStartFolder();
// The entry's path (UTF-8); title is code-page bytes.
std::string AutoStartEntryPath(const std::string& title);

// enabled: writes the entry (replacing one present) whose Exec starts exePath; otherwise removes
// it, and an absent entry is no error. title and exePath are code-page bytes.
// Raises Exception "Failed to create key %s" (the autostart folder) when the folder cannot be
// created, and "Failed to set data for '%s'" (the title) when the entry cannot be written or removed.
void SetAutoStartEntry(const std::string& title, const std::string& exePath, bool enabled);

// The Exec value for one program path, quoted and escaped as desktop entries require.
std::string DesktopExecValue(const std::string& utf8Path);

}  // namespace lanqi
