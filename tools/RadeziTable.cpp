#include "tools/RadeziTable.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
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
// for through the login hook), and one table dataset on it. A writing command holds the file lock
// from before the table is read until it ends: its rows are checked against the table as it is,
// and no other program changes the table between the check and the writes.
class TOpenTable {
 public:
  explicit TOpenTable(const TTableCommand& c, bool forWriting = false) {
    std::string file = ToAnsi(c.File);
    // The shell keeps its database connected between commands: its caches and the tables another
    // program added since are what a long-running program sees.
    db_ = DefaultSession().FindDatabase(file);
    if (db_ && db_->Connected()) {
      db_->RefreshTables();
    } else {
      db_ = owner_.Create<TRadeDatabase>();
      db_->SetDatabaseName(file);
      if (c.HasPassword) db_->SetPassword(ToAnsi(c.Password));
      db_->Open();
    }
    db_->SetDurable(c.Durable);
    if (forWriting && db_->FileIO()) lock_ = std::make_unique<TFileLockGuard>(*db_->FileIO());
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
  TRadeTableIO& TableIO() { return *table_->TableIO(); }
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
  // A copy of the record being edited as Post would hand it to storage: every field's bytes and
  // whether it is in use (blob contents aside: a blob is never part of a key).
  std::unique_ptr<TFieldBuffers> CaptureCurrent() {
    auto* b = static_cast<TRDERecordBuffer*>(table_->CurrentBuffer());
    TRadeTableIO& io = TableIO();
    auto out = std::make_unique<TFieldBuffers>();
    for (int32_t i = 0; i < io.FieldDefs().Count(); ++i) {
      const TFieldBufferItem* src = i < b->Items.Count() ? b->Items.Items(i) : nullptr;
      TFieldBufferItem* dst = out->AddOwned(io.FieldDefs().Items(i)->FieldType, io.SlotSize(i), &io.FileIO());
      dst->InUse = src && src->InUse;
      if (src && src->Buffer && !IsBlobType(dst->FieldType))
        std::memcpy(dst->Bytes(), src->Buffer,
                    static_cast<size_t>(std::min(dst->BufferSize, std::max(src->BufferSize, 0))));
    }
    return out;
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
  std::unique_ptr<TFileLockGuard> lock_;  // released before the components close the file
};

// The auto-increment values stored in the table's live records, but the one numbered skipRecNo.
std::set<int32_t> StoredAutoIncValues(TRadeTableIO& io, int32_t skipRecNo = -1) {
  std::set<int32_t> out;
  TMemoryStream slot;
  for (const TRecordListEntry& e : io.RecordLists(0)) {
    if (e.RecNo == skipRecNo) continue;
    slot.Clear();
    io.ReadRecordField(slot, e.RecNo, io.AutoIncField());
    if (slot.Size() >= 4) out.insert(TByteBuffer::LoadInt32(static_cast<const uint8_t*>(slot.Memory())));
  }
  return out;
}

std::string AutoIncName(TRadeTableIO& io) {
  return io.FieldDefs().Items(io.AutoIncField())->Name;
}

std::vector<TFieldBuffers*> Pointers(const std::vector<std::unique_ptr<TFieldBuffers>>& rows) {
  std::vector<TFieldBuffers*> out;
  for (const auto& r : rows) out.push_back(r.get());
  return out;
}

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
  std::vector<std::string> columns;
  TRadeFieldDefs& defs = open.TableIO().FieldDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) columns.push_back(ToUtf8(defs.Items(i)->Name));
  WriteRows(std::cout, columns, out, c.Mode);
  return rc;
}

json CsvToRows(const TTableCommand& c, const std::string& csv) {
  std::vector<std::vector<std::string>> records;
  try {
    records = ParseCsv(csv);
  } catch (const std::runtime_error& e) {
    throw TTableUsageError(e.what());
  }
  if (records.empty()) throw TTableUsageError("the CSV file has no header");
  TOpenTable open(c);
  TRadeFieldDefs& defs = open.TableIO().FieldDefs();
  std::vector<const TRadeFieldDef*> fields;
  for (const std::string& name : records[0]) {
    int32_t k = defs.IndexOf(ToAnsi(name));
    if (k < 0) throw TTableUsageError("the CSV header names no field '" + name + "'");
    fields.push_back(defs.Items(k));
  }
  json rows = json::array();
  for (size_t r = 1; r < records.size(); ++r) {
    const std::vector<std::string>& cells = records[r];
    if (cells.size() != fields.size())
      throw TTableUsageError(Format("CSV record %d has %d fields, the header %d", static_cast<int>(r + 1),
                                    static_cast<int>(cells.size()), static_cast<int>(fields.size())));
    json row = json::object();
    for (size_t i = 0; i < cells.size(); ++i) {
      const std::string& cell = cells[i];
      const TRadeFieldDef& f = *fields[i];
      const std::string name = ToUtf8(f.Name);
      if (cell.empty()) continue;
      switch (f.FieldType) {
        case ftString:
        case ftFixedChar:
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftMemo:
        case ftFmtMemo:
        case ftOraClob:
          row[name] = cell;
          break;
        case ftBoolean:
          if (cell != "true" && cell != "false")
            throw TTableUsageError(Format("CSV record %d, field '%s': true or false, not '%s'",
                                          static_cast<int>(r + 1), name.c_str(), cell.c_str()));
          row[name] = cell == "true";
          break;
        default:
          if (IsBlobType(f.FieldType)) {
            row[name] = json{{"hex", cell}};
            break;
          }
          try {
            row[name] = json::parse(cell);
          } catch (const json::exception&) {
            throw TTableUsageError(Format("CSV record %d, field '%s': not a number: '%s'",
                                          static_cast<int>(r + 1), name.c_str(), cell.c_str()));
          }
          if (!row[name].is_number())
            throw TTableUsageError(Format("CSV record %d, field '%s': not a number: '%s'",
                                          static_cast<int>(r + 1), name.c_str(), cell.c_str()));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
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

// Insert and update are all or nothing: every row is checked before the first is written (its
// values, the unique indexes against the table and among the command's own rows, the
// auto-increment rule), with the file lock held from the reading of the table to the last write.
// What can still fail while writing (the disk) is reported with exactly what was written before it;
// an insert's rows are written as one batch group, so they are all there or none is.
//
// The auto-increment rule: 0 (or no value) takes the next number; a number given must be from 1 to
// 2147483646 (so the counter keeps room for the next row) and held by no other row of the table or
// of the command.

int TableInsert(const TTableCommand& c) {
  json rows = ParseJsonText(c.Rows, "the rows");
  // One row may be given on its own, as a shell line does.
  if (rows.is_object()) rows = json::array({rows});
  if (!rows.is_array()) throw TTableUsageError("the rows must be a JSON array");
  const size_t n = rows.size();
  auto refuse = [&](size_t i, const std::string& why) {
    throw EDatabaseError(Format("Row %d: %s; no row was inserted", static_cast<int>(i + 1), why.c_str()));
  };
  for (size_t i = 0; i < n; ++i)
    if (!rows[i].is_object()) refuse(i, "Each row must be a JSON object");
  TOpenTable open(c, true);
  TRadeTable& t = open.Table();
  TRadeTableIO& io = open.TableIO();

  // Each row as storage takes it.
  std::vector<std::unique_ptr<TFieldBuffers>> staged;
  staged.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    staged.push_back(std::make_unique<TFieldBuffers>());
    try {
      RowToBuffers(rows[i], io, *staged.back());
    } catch (const std::exception& e) {
      refuse(i, e.what());
    }
  }
  rows = json();  // the buffers hold the values now
  // The numbers the rows will get, as storage assigns them.
  if (io.AutoIncField() >= 0) {
    const int32_t af = io.AutoIncField();
    int64_t counter = io.TableHeader().AutoIncCounter();
    std::set<int32_t> given;
    std::unique_ptr<std::set<int32_t>> stored;  // read when first needed
    for (size_t i = 0; i < n; ++i) {
      uint8_t* slot = staged[i]->Items(af)->Bytes();
      int32_t v = TByteBuffer::LoadInt32(slot);
      if (v == 0) {
        if (counter >= INT32_MAX) refuse(i, "Auto-increment counter overflow");
        v = static_cast<int32_t>(++counter);
        TByteBuffer::StoreInt32(slot, v);  // the key checks see the number the row will get
      } else {
        if (given.count(v))
          refuse(i, Format("Field '%s': %d is given to an earlier row", AutoIncName(io).c_str(), v));
        if (v <= counter) {
          if (!stored) stored = std::make_unique<std::set<int32_t>>(StoredAutoIncValues(io));
          if (stored->count(v))
            refuse(i, Format("Field '%s': %d is used by a row of the table", AutoIncName(io).c_str(), v));
        }
        counter = std::max<int64_t>(counter, v);
      }
      given.insert(v);
    }
  }
  for (size_t i = 0; i < n; ++i) {
    try {
      io.CheckUniqueForAppend(*staged[i]);
    } catch (const EDatabaseError& e) {
      refuse(i, e.what());
    }
  }
  int32_t first = -1, second = -1;
  try {
    io.CheckUniqueAmong(Pointers(staged), first, second);
  } catch (const EDatabaseError& e) {
    throw EDatabaseError(Format("Rows %d and %d: %s; no row was inserted", first + 1, second + 1, e.what()));
  }

  // One batch written as one group: the rows appear together, or none of them does when the
  // writing stops before their record count.
  const int32_t before = io.TableHeader().RecordTabCount();
  auto listRows = [&] {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
      out += BuffersToRow(io, *staged[i]).dump();
      out += '\n';
    }
    std::cout << out;
    std::cout.flush();
  };
  size_t i = 0;
  try {
    TRadeAppendBatch batch(t, 0);
    for (; i < n; ++i) batch.Append(*staged[i]);
    batch.Commit();
  } catch (const std::exception& e) {
    if (i < n) refuse(i, e.what());  // refused before anything was written
    bool inserted = false;
    try {
      TTableHeader h;
      io.FileIO().ReadTableHeader(io.TableNumber(), h);
      inserted = h.RecordTabCount() >= before + static_cast<int32_t>(n);
    } catch (const std::exception&) {
    }
    if (!inserted) throw EDatabaseError(Format("%s; no row was inserted", e.what()));
    listRows();
    throw EDatabaseError(
        Format("%s; every row was inserted before it (listed on standard output)", e.what()));
  }
  listRows();
  return 0;
}

int TableUpdate(const TTableCommand& c) {
  if (!c.HasFilter) throw TTableUsageError("update needs --filter");
  if (c.Set.empty()) throw TTableUsageError("update needs --set");
  json values = ParseJsonText(c.Set, "--set");
  if (!values.is_object()) throw TTableUsageError("--set must be a JSON object");
  TOpenTable open(c, true);
  TRadeTable& t = open.Table();
  TRadeTableIO& io = open.TableIO();
  auto refuse = [](const std::string& why) {
    throw EDatabaseError(Format("%s; no row was changed", why.c_str()));
  };
  // An auto-increment value of 0 keeps each row's number: the field is left as it is.
  for (auto it = values.begin(); it != values.end();) {
    if (io.AutoIncField() >= 0 && io.FieldDefs().IndexOf(ToAnsi(it.key())) == io.AutoIncField() &&
        it.value().is_number_integer() && it.value().get<int64_t>() == 0)
      it = values.erase(it);
    else
      ++it;
  }
  // The rows are picked first: a changed row may move within the view or leave the filter.
  const std::vector<TBookmark> marks = open.Bookmarks();
  const size_t n = marks.size();
  std::vector<std::unique_ptr<TFieldBuffers>> staged;
  std::vector<int32_t> positions;  // in list 0
  for (const TBookmark& b : marks) {
    t.GotoBookmark(b);
    t.Edit();
    try {
      open.SetFields(values);
      staged.push_back(open.CaptureCurrent());
      positions.push_back(io.FindPhysicalPos(t.RecordList(), t.CurrentPosition()));
    } catch (const std::exception& e) {
      t.Cancel();
      refuse(e.what());
    }
    t.Cancel();
    if (positions.back() < 0) refuse("Record not found");
  }
  if (io.AutoIncField() >= 0 && n > 0) {
    const int32_t v = TByteBuffer::LoadInt32(staged[0]->Items(io.AutoIncField())->Bytes());
    bool named = false;
    for (auto it = values.begin(); it != values.end(); ++it)
      named = named || io.FieldDefs().IndexOf(ToAnsi(it.key())) == io.AutoIncField();
    // 0 keeps each row's number; any other number may go to one row only.
    if (named && v != 0 && n > 1)
      refuse(Format("Field '%s': %d would be given to %d rows", AutoIncName(io).c_str(), v,
                    static_cast<int>(n)));
    if (named && v != 0 &&
        StoredAutoIncValues(io, io.RecordLists(0)[static_cast<size_t>(positions[0])].RecNo).count(v))
      refuse(Format("Field '%s': %d is used by another row of the table", AutoIncName(io).c_str(), v));
  }
  for (size_t i = 0; i < n; ++i) {
    try {
      io.CheckUniqueForModify(*staged[i], positions[i]);
    } catch (const EDatabaseError& e) {
      refuse(e.what());
    }
  }
  int32_t first = -1, second = -1;
  try {
    io.CheckUniqueAmong(Pointers(staged), first, second);
  } catch (const EDatabaseError& e) {
    refuse(Format("%s would be the key of more than one of the %d rows", e.what(), static_cast<int>(n)));
  }

  size_t changed = 0;
  for (; changed < n; ++changed) {
    t.GotoBookmark(marks[changed]);
    t.Edit();
    try {
      open.SetFields(values);
      t.Post();
    } catch (const std::exception& e) {
      t.Cancel();
      if (changed == 0) refuse(e.what());
      throw EDatabaseError(Format("%s; %d of the %d rows were changed before it", e.what(),
                                  static_cast<int>(changed), static_cast<int>(n)));
    }
  }
  std::cout << changed << "\n";
  return 0;
}

int TableDelete(const TTableCommand& c) {
  if (!c.HasFilter) throw TTableUsageError("delete needs --filter");
  TOpenTable open(c, true);
  TRadeTable& t = open.Table();
  const std::vector<TBookmark> marks = open.Bookmarks();
  size_t deleted = 0;
  for (const TBookmark& b : marks) {
    try {
      t.GotoBookmark(b);
      t.Delete();
    } catch (const std::exception& e) {
      if (deleted == 0) throw EDatabaseError(Format("%s; no row was deleted", e.what()));
      throw EDatabaseError(Format("%s; %d of the %d rows were deleted before it", e.what(),
                                  static_cast<int>(deleted), static_cast<int>(marks.size())));
    }
    ++deleted;
  }
  std::cout << deleted << "\n";
  return 0;
}

}  // namespace lanqi
