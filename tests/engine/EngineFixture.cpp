#include "tests/engine/EngineFixture.h"

#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/FormatSettings.h"

namespace lanqi::test {

void CreateDatabase(const std::string& path, const std::vector<TableSpec>& tables,
                    const TDatabaseCreateOptions& options) {
  CreateDatabaseFile(path, options);
  TStorageOwner owner;
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  for (const TableSpec& t : tables) {
    TRadeFieldDefs fields;
    for (const FieldSpec& f : t.Fields) fields.Add(f.Name, f.Type, f.Size);
    TRadeIndexDefs indexes;
    for (const IndexSpec& i : t.Indexes) indexes.Add(i.Name, i.Fields, i.Options);
    AddTable(io, t.Name, fields, indexes);
  }
  io.CloseFile();
}

void EngineTest::SetUp() {
  SetSystemCodePage(936);
  SetCollationLocale("en_US");
  FormatSettings() = TFormatSettings();
  SetMainLoop(&loop_);
  SetLoginPromptHook([](const std::string&, std::string&) { return false; });
  owner_ = std::make_unique<TComponent>();
}

void EngineTest::TearDown() {
  owner_.reset();
  // Temporary databases kept by a test go before the loop their timers run on.
  DefaultSession().SetActive(false);
  DefaultSession().SetKeepConnections(false);
  SetLoginPromptHook({});
  SetScreenCursorHook({});
  SetApplicationExceptionHook({});
  SetMainLoop(nullptr);
}

TRadeTable* EngineTest::NewTable(const std::string& path, const std::string& tableName,
                                 const std::string& name) {
  auto* t = owner_->Create<TRadeTable>();
  t->SetName(name);
  t->SetDatabaseName(path);
  t->SetTableName(tableName);
  return t;
}

void EngineTest::AppendRows(TRadeTable* t, const std::vector<std::vector<Variant>>& rows) {
  for (const auto& r : rows) {
    t->Append();
    for (size_t i = 0; i < r.size(); ++i)
      if (!r[i].IsEmpty()) t->Fields(static_cast<int>(i))->SetAsVariant(r[i]);
    t->Post();
  }
}

std::vector<std::string> EngineTest::Column(TRadeTable* t, const std::string& field) {
  std::vector<std::string> out;
  t->First();
  while (!t->Eof()) {
    out.push_back(t->FieldByName(field)->AsString());
    t->Next();
  }
  return out;
}

std::string EngineTest::PeopleFile(const std::vector<IndexSpec>& indexes) {
  std::string path = dir_.File("people.dat");
  CreateDatabase(path,
                 {{"People", {{"ID", ftAutoInc}, {"Name", ftString, 20}, {"Age", ftInteger}}, indexes}});
  return path;
}

}  // namespace lanqi::test
