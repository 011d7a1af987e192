// Arbitrary bytes as a `radezi create` schema file: a clean error or a validated table list, never
// a crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/Exceptions.h"
#include "tools/RadeziSchema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lanqi;
  json schema = json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (schema.is_discarded()) return 0;
  try {
    auto tables = ParseSchema(schema);
    // What passed must be something the writer accepts.
    for (auto& t : tables) ValidateTableDefinition(t->Name, t->Fields, t->Indexes);
  } catch (const TUsageError&) {
  } catch (const Exception&) {
  }
  return 0;
}
