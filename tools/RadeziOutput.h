// radezi's forms of rows on the way out and in: JSON (the default for scripts), an aligned table
// for a person at a terminal, and CSV (RFC 4180) for spreadsheets, with the CSV reader that
// `import` uses.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/RadeziValues.h"

namespace lanqi {

enum class TRowMode { Json, Table, Csv };

// "json", "table", "csv"; false for anything else.
bool ParseRowMode(const std::string& text, TRowMode& mode);
const char* RowModeName(TRowMode mode);

// Writes rows (JSON objects with the columns in order) in the mode. The columns give the header,
// also when there are no rows. In a table and in CSV, text is written as it is, numbers and
// booleans as JSON writes them, null as nothing, {"hex": ...} as its hex digits.
void WriteRows(std::ostream& out, const std::vector<std::string>& columns, const json& rows, TRowMode mode);

// The columns on the screen a UTF-8 text takes: two for the wide characters of East Asian scripts,
// none for combining marks, one for the rest.
size_t DisplayWidth(const std::string& utf8);

// One CSV file as records of fields: quoted fields may hold commas, doubled quotes and line breaks;
// records end at CRLF or LF; a UTF-8 byte-order mark at the start is skipped. Raises
// std::runtime_error naming the line of a quote that is never closed or a stray quote.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

}  // namespace lanqi
