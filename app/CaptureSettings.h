// The capture settings kept in "setup.ini" beside the executable (per machine).
#pragma once

#include <string>

namespace lanqi {

// "忽略内容未变的保存" of section "版本设置": whether a save whose content equals the newest
// version's is skipped (no copy, no version, no prompt). True when the file or the key is missing.
bool LoadSkipUnchanged(const std::string& folder);
void SaveSkipUnchanged(const std::string& folder, bool skip);

}  // namespace lanqi
