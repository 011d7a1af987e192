// Real database files for the engine tests: a fresh folder, the main loop on a virtual clock, the
// pinned code page and collation, and helpers that create tables and fill them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/RadeZI.h"
#include "platform/EventLoop.h"
#include "tests/support/TempDir.h"

namespace lanqi::test {

struct FieldSpec {
  std::string Name;
  TFieldType Type;
  int32_t Size = 0;
};

struct IndexSpec {
  std::string Name;
  std::vector<int32_t> Fields;
  TRDIndexOptions Options;
};

struct TableSpec {
  std::string Name;
  std::vector<FieldSpec> Fields;
  std::vector<IndexSpec> Indexes;
};

// Creates the file with the tables (all empty).
void CreateDatabase(const std::string& path, const std::vector<TableSpec>& tables,
                    const TDatabaseCreateOptions& options = {});

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A table dataset owned by the test, bound to the file by path.
  TRadeTable* NewTable(const std::string& path, const std::string& tableName, const std::string& name = "");
  // Appends rows of values (one per field object, in field order) through the dataset.
  static void AppendRows(TRadeTable* t, const std::vector<std::vector<Variant>>& rows);
  // The values of one field of every row of the view, from the first.
  static std::vector<std::string> Column(TRadeTable* t, const std::string& field);
  // People: ID autoinc, Name string(20), Age integer; indexes ByName (Name), ByAge (Age).
  std::string PeopleFile(const std::vector<IndexSpec>& indexes = {});

  ManualEventLoop loop_;
  TempDir dir_;
  std::unique_ptr<TComponent> owner_;
};

}  // namespace lanqi::test
