// The integrity check of a database file. "No violation" means every table the directory lists
// can be read whole: the directory names each table once (distinct headers that do not overlap,
// and no well-formed table left out by its count), names are readable code-page text and unique,
// the definitions are ones the writer could have made, every index chain visits each live record
// exactly once in key order, unique keys are unique, record and blob offsets lie in the file,
// every stored field decodes as the readers decode it (cipher, compression, text in the code
// page), and the auto-increment counter covers every stored number.
//
// With repair: index chains that fail are rewritten from the records, and a table count that
// leaves out well-formed tables is raised to take them in again. The file is then checked again
// from the start, so the violations returned are those left after the repair: a repair never
// reports a clean file it left unreadable.
#pragma once

#include <string>
#include <vector>

#include "engine/storage/RadeZIFileIO.h"

namespace lanqi {

struct TCheckResult {
  std::vector<std::string> Violations;  // each one a line of text
  std::vector<std::string> Repairs;     // what repair rewrote
};

// Checks an open database; with repair, mends what can be mended and checks again.
TCheckResult CheckDatabase(TRadeZIFileIO& fileIO, bool repair);

}  // namespace lanqi
