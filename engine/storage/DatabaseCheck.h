// The integrity check of a database file: every table loads, every index chain visits each live
// record exactly once in key order, unique keys are unique, record and blob offsets lie in the
// file, the auto-increment counter covers every stored number. With repair, index chains that
// fail are rewritten from the records.
#pragma once

#include <string>
#include <vector>

#include "engine/storage/RadeZIFileIO.h"

namespace lanqi {

struct TCheckResult {
  std::vector<std::string> Violations;  // each one a line of text
  std::vector<std::string> Repairs;     // what repair rewrote
};

// Checks an open database; with repair, rewrites the index chains that fail and checks again.
TCheckResult CheckDatabase(TRadeZIFileIO& fileIO, bool repair);

}  // namespace lanqi
