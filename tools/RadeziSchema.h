// Schema files of `radezi create`: JSON naming tables with their fields and indexes. Everything is
// checked before the first byte of the new file is written.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/Definitions.h"
#include "tools/RadeziValues.h"

namespace lanqi {

// A command line or an input file that does not have the expected shape (exit code 2).
struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TSchemaTable {
  std::string Name;  // code-page text
  TRadeFieldDefs Fields;
  TRadeIndexDefs Indexes;
};

// The tables of a schema, validated as the writer would. A shape error raises TUsageError; a
// definition the file format cannot hold raises EDatabaseError with the writer's message.
std::vector<std::unique_ptr<TSchemaTable>> ParseSchema(const json& schema);

// Parses the schema, then creates the file with its tables.
void CreateFromSchema(const std::string& file, const json& schema, const TDatabaseCreateOptions& options);

}  // namespace lanqi
