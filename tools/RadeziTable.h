// radezi's table commands, run through the table dataset and the default session: dump (by index,
// with a filter), locate, insert, update and delete.
#pragma once

#include <stdexcept>
#include <string>

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
  std::string Set;       // update: a JSON object
  std::string Rows;      // insert: a JSON array of objects
  bool Durable = false;  // writes sync their data before the command reports them done
};

// Each prints to standard output and returns the exit code.
int TableDump(const TTableCommand& c);
int TableLocate(const TTableCommand& c);
int TableInsert(const TTableCommand& c);
int TableUpdate(const TTableCommand& c);
int TableDelete(const TTableCommand& c);

}  // namespace lanqi
