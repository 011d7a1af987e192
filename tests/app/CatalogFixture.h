// A catalog file with the three tables the version tracker expects (the layout `radezi catalog
// init` writes), and rows put into it through the engine's own tables.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/CatalogSchema.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"

namespace lanqi::test {

inline std::string A(std::u8string_view s) {
  return Ansi(s);
}

inline void MakeCatalog(const std::string& file) {
  CreateCatalogDatabase(file);
}

using TRow = std::map<std::string, std::string>;  // UTF-8 field name -> code-page text

// One catalog table opened on its own (it shares the window's database while both are open).
class CatalogTable {
 public:
  CatalogTable(const std::string& file, std::u8string_view table) {
    t_.SetDatabaseName(file);
    t_.SetTableName(A(table));
    t_.Open();
  }
  // Appends a row; fields by their UTF-8 names, values as code-page text. Returns the row's
  // value of autoField (UTF-8 name), if given.
  int32_t Append(const std::vector<std::pair<std::u8string_view, std::string>>& values,
                 std::u8string_view autoField = {}) {
    t_.Append();
    for (auto& [f, v] : values) t_.FieldByName(A(f))->SetAsString(v);
    t_.Post();
    return autoField.empty() ? 0 : t_.FieldByName(A(autoField))->AsInteger();
  }
  // Every row in table order, every field as text.
  std::vector<TRow> Rows() {
    std::vector<TRow> rows;
    t_.SetFiltered(false);
    for (t_.First(); !t_.Eof(); t_.Next()) {
      TRow r;
      for (int i = 0; i < t_.FieldCount(); ++i)
        r[AnsiToUtf8(t_.Fields(i)->FieldName())] = t_.Fields(i)->AsString();
      rows.push_back(r);
    }
    return rows;
  }
  TRadeTable& Table() { return t_; }

 private:
  TRadeTable t_;
};

}  // namespace lanqi::test
