// Creating database files and adding tables to them: the layout the readers expect, and a refusal
// with a clear message for anything a reader would refuse or misread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/storage/Definitions.h"
#include "engine/storage/RadeZIFileIO.h"
#include "rtl/Streams.h"

namespace lanqi {

struct TDatabaseCreateOptions {
  bool Compress = false;        // blob data compressed with the "ZLIB" module
  std::string EncryptAlgoName;  // empty: no encryption; else "Blowfish", "Twofish" or "Gost"
  uint8_t EncryptMode = 0;      // cipher mode code 0 to 4
  std::string Password;         // its check text is stored, never the password
  bool VerifyWrites = false;
};

// Writes the fixed headers of a new database without tables into the stream (emptied first).
void WriteNewDatabase(TStream& stream, const TDatabaseCreateOptions& options);
// Creates a new database file holding the tables addTables adds to it (none when it is empty); an
// existing file is refused. The file is built under a temporary name in the same folder, synced, and
// only then given its name, so a create that fails (a full disk, a refused definition) leaves no
// file behind that could pass for a database, and a name taken meanwhile is not overwritten.
void CreateDatabaseFile(const std::string& fileName, const TDatabaseCreateOptions& options,
                        const std::function<void(TRadeZIFileIO&)>& addTables = nullptr);

// Validates a table definition as the writer would store it; raises EDatabaseError naming the fault.
void ValidateTableDefinition(const std::string& tableName, const TRadeFieldDefs& fields,
                             const TRadeIndexDefs& indexes);
// Adds an empty table at the end of an open database (under the file lock) and returns its number.
int32_t AddTable(TRadeZIFileIO& fileIO, const std::string& tableName, const TRadeFieldDefs& fields,
                 const TRadeIndexDefs& indexes);

}  // namespace lanqi
