// radezi's conversions between JSON values and the engine's record buffers, and between field type
// names and codes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/FieldBuffers.h"
#include "engine/storage/RadeTableIO.h"

namespace lanqi {

using json = nlohmann::ordered_json;

// "ftString" -> 1 ...; a number in JSON is taken as the code itself. -1 when unknown.
int32_t FieldTypeFromName(const std::string& name);
std::string FieldTypeName(uint8_t code);

// Fills buffers (one owned item per field) from a JSON row object; fields the row does not name
// stay zero. Raises EDatabaseError naming the field for a value that does not fit its type.
void RowToBuffers(const json& row, TRadeTableIO& table, TFieldBuffers& buffers);
// Builds owned buffers for every field of the table (blob streams read when first used).
void MakeBuffers(TRadeTableIO& table, TFieldBuffers& buffers);
// A text field whose bytes are not code-page text is given as {"hex": ...} of its stored bytes and
// a blob whose stored bytes do not decode as null; each is named in unreadable (field name, what
// was found and how the value is given) when that is given.
json BuffersToRow(TRadeTableIO& table, TFieldBuffers& buffers,
                  std::vector<std::pair<std::string, std::string>>* unreadable = nullptr);

// Text at the edges: UTF-8 of the command line and JSON <-> code-page bytes.
std::string ToAnsi(const std::string& utf8);
std::string ToUtf8(const std::string& ansi);
// For messages about damaged data: UTF-8 of the text, with each byte that has no code-page form
// written as \xNN instead of failing.
std::string ShownUtf8(const std::string& ansi);

}  // namespace lanqi
