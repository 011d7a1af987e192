// radezi's table commands, run through the table dataset and the default session: dump (by index,
// with a filter), locate, insert, update and delete.
#pragma once

#include <stdexcept>
#include <string>

#include "tools/RadeziOutput.h"

namespace lanqi {

// A bad command line (exit 2) and a missing table, index or row (exit 1).
struct TTableUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct TTableNotFound : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Texts are UTF-8 as they come from the command line.
struct TTableCommand {
  std::string File;
  std::string Table;
  bool HasPassword = false;
  std::string Password;
  std::string Index;
  bool HasFilter = false;
  std::string Filter;
  int FilterOptions = 0;
  std::string Fields;    // locate: "F1;F2"
  std::string Values;    // locate: a JSON value or array
  bool Partial = false;  // locate
  bool CaseInsensitive = false;
  std::string Set;                 // update: a JSON object
  std::string Rows;                // insert: a JSON array of objects
  bool Durable = false;            // writes sync their data before the command reports them done
  TRowMode Mode = TRowMode::Json;  // dump: the form of the rows
};

// Each prints to standard output and returns the exit code.
int TableDump(const TTableCommand& c);
int TableLocate(const TTableCommand& c);
int TableInsert(const TTableCommand& c);
int TableUpdate(const TTableCommand& c);
int TableDelete(const TTableCommand& c);

// The records of a CSV text whose header names fields of the table, as the JSON rows insert takes:
// each cell read by its field's type (numbers, true/false, dates and times as dump writes them,
// hex digits for the bytes of a blob); an empty cell leaves its field out. Raises TTableUsageError
// naming the line and the field of a cell that does not fit, or a header naming no field.
json CsvToRows(const TTableCommand& c, const std::string& csv);

}  // namespace lanqi
