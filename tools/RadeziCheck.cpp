#include "tools/RadeziCheck.h"

#include "engine/storage/DatabaseCheck.h"
#include "engine/storage/RadeZIFileIO.h"
#include "rtl/Exceptions.h"
#include "tools/RadeziValues.h"

namespace lanqi {

int CheckCommand(const std::string& file, const std::function<std::string()>& password, bool repair,
                 std::ostream& out) {
  TStorageOwner owner;
  TRadeZIFileIO io(&owner);
  try {
    io.OpenFile(file, mtDisk, false);
  } catch (const EDatabaseError& e) {
    std::string m = e.what();
    // A file whose structures are damaged fails the check; other refusals are errors.
    if (m.find("is corrupt:") == std::string::npos) throw;
    out << ShownUtf8(m) << "\n";
    return 1;
  }
  if (io.Encrypted() && !io.CheckPassword(password())) throw EDatabaseError("Invalid password");
  TCheckResult r = CheckDatabase(io, repair);
  for (const std::string& s : r.Repairs) out << "repaired: " << ShownUtf8(s) << "\n";
  for (const std::string& s : r.Violations) out << ShownUtf8(s) << "\n";
  if (!r.Violations.empty()) return 1;
  out << "ok\n";
  return 0;
}

}  // namespace lanqi
