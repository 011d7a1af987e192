// radezi's check command: the integrity check of a database file, with repair on request.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace lanqi {

// Opens file (code-page text), keyed with password() when it is encrypted, checks it and, with
// repair, mends what can be mended. Prints each repair and each violation left, then "ok" when
// none is left. Returns 0 for a sound file and 1 for a damaged one; other refusals (a wrong
// password, a file that is not a database) raise as they do for every other command.
int CheckCommand(const std::string& file, const std::function<std::string()>& password, bool repair,
                 std::ostream& out);

}  // namespace lanqi
