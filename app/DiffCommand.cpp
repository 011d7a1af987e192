#include "app/DiffCommand.h"

#include "app/VersionCatalog.h"
#include "app/VersionDiff.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace lanqi {

namespace {

// Code-page text for the terminal; bytes the code page cannot read are shown as they are.
std::string Shown(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const std::exception&) {
    return ansi;
  }
}

}  // namespace

int DiffCommand(TVersionCatalog& catalog, const std::string& path, const std::vector<std::string>& versions,
                std::ostream& out, std::ostream& err) {
  const std::string shownPath = Shown(path);
  try {
    if (versions.size() > 2) {
      err << "lanqi: at most two versions\n";
      return 2;
    }
    int32_t fileNo = catalog.FileNoOf(path);
    if (!fileNo) {
      err << "lanqi: not a tracked file: " << shownPath << "\n";
      return 1;
    }
    std::vector<std::string> picked = versions;
    if (picked.empty()) {
      std::vector<verinfo> all = catalog.Versions(fileNo);
      if (all.empty()) {
        err << "lanqi: no versions of " << shownPath << "\n";
        return 1;
      }
      picked.push_back(all.back().Version);
    }
    struct TSide {
      std::string file;
      std::string label;
    };
    std::vector<TSide> sides;
    for (const std::string& version : picked) {
      verinfo info;
      if (!catalog.FindVersionInfo(fileNo, version, info)) {
        err << "lanqi: no version " << Shown(version) << " of " << shownPath << "\n";
        return 1;
      }
      if (!FileExists(info.FilePath)) {
        err << "lanqi: the backup copy of version " << Shown(version)
            << " is missing: " << Shown(info.FilePath) << "\n";
        return 3;
      }
      sides.push_back({info.FilePath, shownPath + "@" + Shown(version)});
    }
    if (sides.size() == 1) {
      if (!FileExists(path)) {
        err << "lanqi: file not found: " << shownPath << "\n";
        return 1;
      }
      sides.push_back({path, shownPath});
    }
    TCompareResult r = CompareFiles(sides[0].file, sides[1].file);
    out << UnifiedDiff(r, sides[0].label, sides[1].label);
    return 0;
  } catch (const std::exception& e) {
    err << "lanqi: " << Shown(e.what()) << "\n";
    return 3;
  }
}

}  // namespace lanqi
