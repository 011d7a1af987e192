// The "自动监测" setting: whether saves of tracked files are detected and prompted for. Kept per
// machine in "setup.ini" (section "监测设置", key "自动监测"), on when the file, the key or a number
// is missing.
#pragma once

#include <string>

namespace lanqi {

bool LoadAutoMonitor(const std::string& folder);
void SaveAutoMonitor(const std::string& folder, bool on);

}  // namespace lanqi
