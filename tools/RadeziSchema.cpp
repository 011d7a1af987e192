#include "tools/RadeziSchema.h"

#include "engine/storage/RadeZIFileIO.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// A JSON value of the wrong kind (a number where a name belongs) is a shape error of the file.
std::string Text(const json& v, const char* what) {
  if (!v.is_string()) throw TUsageError(std::string(what) + " must be a string");
  return v.get<std::string>();
}

// A whole JSON number from lo to hi: a code or size beyond 32 bits must not wrap into a small one.
bool Whole(const json& v, int64_t lo, int64_t hi, int64_t& out) {
  if (!v.is_number_integer()) return false;
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(hi)) return false;
  out = v.get<int64_t>();
  return out >= lo && out <= hi;
}

void FillDefinitions(const json& t, TRadeFieldDefs& fields, TRadeIndexDefs& indexes) {
  if (!t.contains("fields") || !t["fields"].is_array()) throw TUsageError("a table needs a \"fields\" array");
  for (const json& f : t["fields"]) {
    if (!f.is_object() || !f.contains("name") || !f.contains("type"))
      throw TUsageError("each field needs a name and a type");
    const std::string fieldName = Text(f["name"], "a field name");
    int64_t type = -1;
    if (f["type"].is_string())
      type = FieldTypeFromName(f["type"].get<std::string>());
    else if (!Whole(f["type"], 0, 255, type))
      type = -1;
    if (type < 0) throw TUsageError("field '" + fieldName + "': unknown field type " + f["type"].dump());
    int64_t size = 0;
    if (f.contains("size") && !Whole(f["size"], 0, INT32_MAX, size))
      throw TUsageError("field '" + fieldName + "': the size " + f["size"].dump() +
                        " is not a whole number from 0 to 2147483647");
    if (f.contains("noProcessing") && !f["noProcessing"].is_boolean())
      throw TUsageError("noProcessing must be true or false");
    bool noProc = f.contains("noProcessing") && f["noProcessing"].get<bool>();
    fields.Add(ToAnsi(fieldName), static_cast<uint8_t>(type), static_cast<int32_t>(size), noProc ? 1 : 0);
  }
  if (t.contains("indexes")) {
    if (!t["indexes"].is_array()) throw TUsageError("\"indexes\" must be an array");
    for (const json& x : t["indexes"]) {
      if (!x.is_object() || !x.contains("name") || !x.contains("fields"))
        throw TUsageError("each index needs a name and fields");
      if (!x["fields"].is_array()) throw TUsageError("an index's fields must be an array");
      const std::string indexName = ToAnsi(Text(x["name"], "an index name"));
      TIntegerAry numbers;
      for (const json& fn : x["fields"]) {
        const std::string fieldName = ToAnsi(Text(fn, "an index field"));
        int32_t i = fields.IndexOf(fieldName);
        if (i < 0)
          throw EDatabaseError(
              Format("Index '%s' names the unknown field '%s'", indexName.c_str(), fieldName.c_str()));
        numbers.push_back(i);
      }
      TRDIndexOptions opts;
      const json options = x.contains("options") ? x["options"] : json::array();
      if (!options.is_array()) throw TUsageError("an index's options must be an array");
      for (const json& o : options) {
        std::string s = Text(o, "an index option");
        if (s == "tiPrimary")
          opts.Include(tiPrimary);
        else if (s == "tiUnique")
          opts.Include(tiUnique);
        else if (s == "tiDescending")
          opts.Include(tiDescending);
        else if (s == "tiCaseInsensitive")
          opts.Include(tiCaseInsensitive);
        else
          throw TUsageError("unknown index option " + s);
      }
      indexes.Add(indexName, numbers, opts);
    }
  }
}

}  // namespace

std::vector<std::unique_ptr<TSchemaTable>> ParseSchema(const json& schema) {
  if (!schema.is_object() || !schema.contains("tables") || !schema["tables"].is_array())
    throw TUsageError("the schema needs a \"tables\" array");
  std::vector<std::unique_ptr<TSchemaTable>> defs;
  for (const json& t : schema["tables"]) {
    if (!t.is_object() || !t.contains("name")) throw TUsageError("each table needs a name");
    auto d = std::make_unique<TSchemaTable>();
    d->Name = ToAnsi(Text(t["name"], "a table name"));
    FillDefinitions(t, d->Fields, d->Indexes);
    ValidateTableDefinition(d->Name, d->Fields, d->Indexes);
    for (auto& prev : defs)
      if (SameTextAnsi(prev->Name, d->Name))
        throw EDatabaseError(Format("Table '%s' already exists", d->Name.c_str()));
    defs.push_back(std::move(d));
    if (defs.size() > static_cast<size_t>(kMaxTables))
      throw EDatabaseError(Format("A database holds at most %d tables", kMaxTables));
  }
  return defs;
}

void CreateFromSchema(const std::string& file, const json& schema, const TDatabaseCreateOptions& options) {
  const auto defs = ParseSchema(schema);
  CreateDatabaseFile(file, options, [&](TRadeZIFileIO& io) {
    for (auto& d : defs) AddTable(io, d->Name, d->Fields, d->Indexes);
  });
}

}  // namespace lanqi
