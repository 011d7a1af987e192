// The empty catalog of the version tracker: the three tables it reads and writes, their fields and
// the indexes its look-ups use. `radezi catalog init` and the tests create it through this one place.
#pragma once

#include <string>

namespace lanqi {

// Creates fileName (code-page text) holding the empty catalog. Raises as the writer does.
void CreateCatalogDatabase(const std::string& fileName);

}  // namespace lanqi
