// `lanqi diff`: a tracked file's newest version against the file, a chosen version against it, or
// two versions against each other, as a unified diff.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lanqi {

class TVersionCatalog;

// path: the tracked file (absolute, code-page text, as the catalog holds it); versions: none, one or
// two version texts. The diff goes to out in UTF-8 (nothing when the two are the same), a failure's
// message to err as every sub-command gives it ("lanqi: ..."). Returns the command line's exit code: 0 done,
// 1 not found (an untracked path, a version that does not exist, a missing file), 3 error (a backup copy
// gone, a file unreadable).
int DiffCommand(TVersionCatalog& catalog, const std::string& path, const std::vector<std::string>& versions,
                std::ostream& out, std::ostream& err);

}  // namespace lanqi
