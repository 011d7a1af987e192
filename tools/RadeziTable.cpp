#include "tools/RadeziTable.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "engine/RadeZI.h"
#include "platform/Collation.h"
#include "tools/RadeziValues.h"

namespace lanqi {
namespace {

json ParseJsonText(const std::string& text, const std::string& what) {
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    throw TTableUsageError(what + " is not valid JSON: " + e.what());
  }
}

// The file opened through a named database of the default session (the password given, or asked
// for through the login hook), and one table dataset on it.
class TOpenTable {
 public:
  explicit TOpenTable(const TTableCommand& c) {
    std::string file = ToAnsi(c.File);
    db_ = owner_.Create<TRadeDatabase>();
    db_->SetDatabaseName(file);
    if (c.HasPassword) db_->SetPassword(ToAnsi(c.Password));
    db_->SetDurable(c.Durable);
    db_->Open();
    std::vector<std::string> names;
    db_->GetTableNames(names);
    std::string table = ToAnsi(c.Table);
    bool found = false;
    for (const std::string& n : names) found = found || SameTextAnsi(n, table);
    if (!found) throw TTableNotFound(Format("Table '%s' not found", c.Table.c_str()));
    table_ = owner_.Create<TRadeTable>();
    table_->SetDatabaseName(file);
    table_->SetTableName(table);
    if (!c.Index.empty()) table_->SetIndexName(ToAnsi(c.Index));
    table_->Open();
    if (!c.Index.empty() && table_->TableIO()->IndexDefs().IndexOf(ToAnsi(c.Index)) < 0)
      throw TTableNotFound(Format("Index '%s' not found", c.Index.c_str()));
    if (c.HasFilter) {
      table_->SetFilterOptions(TFilterOptions::FromBits(static_cast<uint32_t>(c.FilterOptions) & 3u));
      table_->SetFilter(ToAnsi(c.Filter));
      table_->SetFiltered(true);
    }
  }
  ~TOpenTable() {
    try {
      if (db_->FileIO()) db_->FileIO()->FlushFile();
    } catch (...) {
    }
  }
  TOpenTable(const TOpenTable&) = delete;
  TOpenTable& operator=(const TOpenTable&) = delete;

  TRadeTable& Table() { return *table_; }
  // The current record as a JSON row. A text field that is not code-page text (damage, or
  // another program's bytes) is given as its stored bytes in hex, a blob that does not decode as
  // null, each named in a warning on standard error with the record number check reports, so
  // that one value does not hide the rest of the table. Returns false when a warning was given.
  bool CurrentRow(json& row) {
    auto* b = static_cast<TRDERecordBuffer*>(table_->CurrentBuffer());
    std::vector<std::pair<std::string, std::string>> unreadable;
    row = BuffersToRow(*table_->TableIO(), b->Items, &unreadable);
    if (unreadable.empty()) return true;
    int32_t recNo = -1;
    const TBookmark bookmark = table_->Bookmark();
    if (bookmark.size() >= sizeof recNo) std::memcpy(&recNo, bookmark.data(), sizeof recNo);
    for (const auto& [field, why] : unreadable)
      std::cerr << "warning: table '" << ShownUtf8(table_->TableName()) << "', record " << recNo
                << ", field '" << ShownUtf8(field) << "': " << ShownUtf8(why) << "\n";
    return false;
  }
  json CurrentRow() {
    json row;
    CurrentRow(row);
    return row;
  }
  // Writes the named values of a JSON object into the current record's fields.
  void SetFields(const json& values) {
    TFieldBuffers parsed;
    RowToBuffers(values, *table_->TableIO(), parsed);
    for (auto it = values.begin(); it != values.end(); ++it) {
      TField* f = table_->FieldByName(ToAnsi(it.key()));
      TFieldBufferItem* item = parsed.Items(f->FieldNo() - 1);
      if (f->IsBlob()) {
        std::unique_ptr<TStream> s = table_->CreateBlobStream(f, bmWrite);
        TMemoryStream* src = item->BlobStream();
        if (src && src->Size() > 0) s->WriteBuffer(src->Memory(), static_cast<int32_t>(src->Size()));
        continue;
      }
      std::vector<uint8_t> bytes(static_cast<size_t>(f->DataSize()), 0);
      std::memcpy(bytes.data(), item->Bytes(),
                  static_cast<size_t>(std::min(f->DataSize(), std::max(item->BufferSize, 0))));
      f->SetData(bytes.data());
    }
  }
  // The bookmarks of every record of the view.
  std::vector<TBookmark> Bookmarks() {
    std::vector<TBookmark> out;
    table_->First();
    while (!table_->Eof()) {
      out.push_back(table_->Bookmark());
      table_->Next();
    }
    return out;
  }

 private:
  TComponent owner_;
  TRadeDatabase* db_ = nullptr;
  TRadeTable* table_ = nullptr;
};

// A key value for a field: dates and times in the text forms the rows use, the rest as JSON gives them.
Variant KeyValue(TOpenTable& open, TField* f, const json& v) {
  if (v.is_null()) return Variant::Null();
  if (f->DataType() == ftDate || f->DataType() == ftTime || f->DataType() == ftDateTime) {
    json row = json::object();
    row[ToUtf8(f->FieldName())] = v;
    TFieldBuffers parsed;
    RowToBuffers(row, *open.Table().TableIO(), parsed);
    double dt = 0;
    open.Table().ConvertNativeValue(f, parsed.Items(f->FieldNo() - 1)->Bytes(), &dt, false);
    return Variant::FromDateTime(dt);
  }
  if (v.is_string()) return Variant(ToAnsi(v.get<std::string>()));
  if (v.is_boolean()) return Variant(v.get<bool>());
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX))
    throw TTableUsageError("--values: " + v.dump() + " is beyond every integer field's range");
  if (v.is_number_integer()) return Variant(v.get<int64_t>());
  if (v.is_number()) return Variant(v.get<double>());
  throw TTableUsageError("a key value must be a text, a number, true, false or null");
}

}  // namespace

int TableDump(const TTableCommand& c) {
  TOpenTable open(c);
  TRadeTable& t = open.Table();
  json out = json::array();
  int rc = 0;
  t.First();
  while (!t.Eof()) {
    json row;
    if (!open.CurrentRow(row)) rc = 1;
    out.push_back(std::move(row));
    t.Next();
  }
  std::cout << out.dump(2) << "\n";
  return rc;
}

int TableLocate(const TTableCommand& c) {
  if (c.Fields.empty()) throw TTableUsageError("locate needs --fields");
  if (c.Values.empty()) throw TTableUsageError("locate needs --values");
  TOpenTable open(c);
  TRadeTable& t = open.Table();
  json values = ParseJsonText(c.Values, "--values");
  std::vector<TField*> keys = t.FieldList(ToAnsi(c.Fields));
  Variant key;
  if (values.is_array()) {
    if (values.size() != keys.size()) throw TTableUsageError("--values needs one value per field");
    std::vector<Variant> items;
    for (size_t i = 0; i < keys.size(); ++i) items.push_back(KeyValue(open, keys[i], values[i]));
    key = keys.size() == 1 ? items[0] : Variant(std::move(items));
  } else {
    if (keys.size() != 1) throw TTableUsageError("--values needs an array for several fields");
    key = KeyValue(open, keys[0], values);
  }
  TLocateOptions options;
  if (c.Partial) options.Include(LocatePartialKey);
  if (c.CaseInsensitive) options.Include(LocateCaseInsensitive);
  if (!t.Locate(ToAnsi(c.Fields), key, options)) return 1;
  std::cout << open.CurrentRow().dump() << "\n";
  return 0;
}

int TableInsert(const TTableCommand& c) {
  json rows = ParseJsonText(c.Rows, "the rows");
  if (!rows.is_array()) throw TTableUsageError("the rows must be a JSON array");
  TOpenTable open(c);
  TRadeTable& t = open.Table();
  for (const json& row : rows) {
    if (!row.is_object()) throw EDatabaseError("Each row must be a JSON object");
    t.Append();
    try {
      open.SetFields(row);
      t.Post();
    } catch (...) {
      t.Cancel();
      throw;
    }
    std::cout << open.CurrentRow().dump() << "\n";
  }
  return 0;
}

int TableUpdate(const TTableCommand& c) {
  if (!c.HasFilter) throw TTableUsageError("update needs --filter");
  if (c.Set.empty()) throw TTableUsageError("update needs --set");
  json values = ParseJsonText(c.Set, "--set");
  if (!values.is_object()) throw TTableUsageError("--set must be a JSON object");
  TOpenTable open(c);
  TRadeTable& t = open.Table();
  int changed = 0;
  // The rows are picked first: a changed row may move within the view or leave the filter.
  for (const TBookmark& b : open.Bookmarks()) {
    t.GotoBookmark(b);
    t.Edit();
    try {
      open.SetFields(values);
      t.Post();
    } catch (...) {
      t.Cancel();
      throw;
    }
    ++changed;
  }
  std::cout << changed << "\n";
  return 0;
}

int TableDelete(const TTableCommand& c) {
  if (!c.HasFilter) throw TTableUsageError("delete needs --filter");
  TOpenTable open(c);
  TRadeTable& t = open.Table();
  int changed = 0;
  for (const TBookmark& b : open.Bookmarks()) {
    t.GotoBookmark(b);
    t.Delete();
    ++changed;
  }
  std::cout << changed << "\n";
  return 0;
}

}  // namespace lanqi
