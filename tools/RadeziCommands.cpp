// radezi's commands: the argument lists of the one-shot tool and of its shell, each run to an exit
// code with its messages.
#include "tools/RadeziCommands.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "app/CatalogSchema.h"
#include "engine/storage/DatabaseCheck.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"
#include "tools/RadeziCheck.h"
#include "tools/RadeziOutput.h"
#include "tools/RadeziSchema.h"
#include "tools/RadeziShell.h"
#include "tools/RadeziTable.h"
#include "tools/RadeziValues.h"
#include "tools/TerminalPrompt.h"

namespace lanqi {
namespace {

constexpr int kExitOk = 0, kExitNotFound = 1, kExitUsage = 2, kExitDatabase = 3;

const char* const kUsage =
    "usage: radezi [--password P] [--durable] COMMAND ...\n"
    "  create FILE --schema SCHEMA.json [--compress] [--encrypt Blowfish|Twofish|Gost --mode N --password "
    "P]\n"
    "  tables FILE\n"
    "  schema FILE TABLE\n"
    "  insert FILE TABLE [ROWS-JSON | --rows ROWS.json]\n"
    "  dump FILE TABLE [--index NAME] [--filter EXPR] [--filter-options N] [--mode json|table|csv]\n"
    "  locate FILE TABLE --fields \"F1;F2\" --values JSON [--partial] [--case-insensitive] [--index NAME]\n"
    "  update FILE TABLE --filter EXPR --set JSON [--filter-options N]\n"
    "  delete FILE TABLE --filter EXPR [--filter-options N]\n"
    "  export FILE TABLE --csv [--index NAME] [--filter EXPR]\n"
    "  import FILE TABLE DATA.csv\n"
    "  check [--repair] FILE\n"
    "  catalog init FILE\n"
    "  shell FILE\n"
    "  --durable: insert, update, delete and import sync each write before reporting it done\n"
    "  radezi --help, radezi COMMAND --help, radezi --version\n";

// What each command does, for COMMAND --help.
const std::map<std::string, const char*>& CommandHelp() {
  static const std::map<std::string, const char*> help = {
      {"create",
       "create FILE --schema SCHEMA.json [--compress] [--encrypt NAME --mode N --password P]\n"
       "  Creates a database from a JSON schema: {\"tables\": [{\"name\", \"fields\": [{\"name\", \"type\",\n"
       "  \"size\", \"noProcessing\"}], \"indexes\": [{\"name\", \"fields\", \"options\"}]}]}. The file\n"
       "  gets its name only once complete; an existing file is refused.\n"},
      {"tables", "tables FILE\n  Lists the tables, one name per line, in directory order.\n"},
      {"schema", "schema FILE TABLE\n  The table's fields, indexes, record count and counter as JSON.\n"},
      {"insert",
       "insert FILE TABLE [ROWS-JSON | --rows ROWS.json]\n"
       "  Appends rows given as a JSON array of objects (or one object), inline, from a file or\n"
       "  from standard input. All or nothing: every row is checked before the first is written.\n"
       "  Prints each row as stored.\n"},
      {"dump",
       "dump FILE TABLE [--index NAME] [--filter EXPR] [--filter-options N] [--mode json|table|csv]\n"
       "  The live rows in stored order or by the index; JSON unless --mode says otherwise or\n"
       "  standard output is a terminal (then a table).\n"},
      {"locate",
       "locate FILE TABLE --fields \"F1;F2\" --values JSON [--partial] [--case-insensitive]\n"
       "  The first row whose fields hold the values; exit 1 when there is none.\n"},
      {"update",
       "update FILE TABLE --filter EXPR --set JSON\n  Sets the fields of every row the filter admits; prints "
       "how many.\n"},
      {"delete",
       "delete FILE TABLE --filter EXPR\n  Deletes every row the filter admits; prints how many.\n"},
      {"export",
       "export FILE TABLE --csv [--index NAME] [--filter EXPR]\n"
       "  The rows as CSV (RFC 4180, UTF-8, a header of field names) on standard output. Bytes of\n"
       "  blob fields are hex digits; text is written as it is, quoted where it needs to be.\n"},
      {"import",
       "import FILE TABLE DATA.csv\n"
       "  Appends the records of a CSV file whose header names the fields (the form export\n"
       "  writes). Empty cells leave a field at its default. All or nothing, as insert.\n"},
      {"check",
       "check [--repair] FILE\n"
       "  Checks every structure of the file; with --repair rewrites broken index chains and\n"
       "  takes back tables a damaged count left out, then checks again. Exit 0 only when clean.\n"},
      {"catalog", "catalog init FILE\n  Creates the version tracker's empty catalog.\n"},
      {"shell",
       "shell FILE\n"
       "  A session over one open database: the commands above without FILE (tables, schema T,\n"
       "  dump T ..., locate T ..., insert T JSON, update ..., delete ..., export T --csv, import T\n"
       "  DATA.csv, check) and .help, .tables, .schema [T], .mode json|table|csv, .read FILE, .quit.\n"
       "  Line editing and history on a terminal; commands from standard input otherwise.\n"},
  };
  return help;
}

struct TNotFound : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TArgs {
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
  std::set<std::string> Flags;
  bool Has(const std::string& o) const { return Options.count(o) != 0; }
};

TArgs ParseArgs(const std::vector<std::string>& argv) {
  static const std::set<std::string> withValue = {"--password", "--schema", "--encrypt", "--mode",
                                                  "--rows",     "--index",  "--filter",  "--filter-options",
                                                  "--fields",   "--values", "--set"};
  static const std::set<std::string> flags = {"--compress", "--repair", "--partial", "--case-insensitive",
                                              "--durable",  "--csv",    "--help",    "--version"};
  TArgs a;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& s = argv[i];
    if (withValue.count(s)) {
      if (i + 1 >= argv.size()) throw TUsageError(s + " needs a value");
      a.Options[s] = argv[++i];
    } else if (flags.count(s)) {
      a.Flags.insert(s);
    } else if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
      throw TUsageError("unknown option " + s);
    } else {
      a.Positional.push_back(s);
    }
  }
  return a;
}

// An option's whole decimal number from lo to hi. "1x", "3.9", "0x3", "+3" or " 3" are refused
// rather than read as their leading number.
int OptionNumber(const TArgs& a, const std::string& option, int lo, int hi) {
  const std::string& s = a.Options.at(option);
  bool digits = !s.empty() && s.size() <= 9;
  int value = 0;
  for (char c : s) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) value = value * 10 + (c - '0');
  }
  if (!digits || value < lo || value > hi)
    throw TUsageError(
        Format("%s needs a whole number from %d to %d, not '%s'", option.c_str(), lo, hi, s.c_str()));
  return value;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw TUsageError("cannot read " + path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

json ParseJson(const std::string& text, const std::string& what) {
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    throw TUsageError(what + " is not valid JSON: " + e.what());
  }
}

// An open database; encrypted files are keyed with the password given or asked for.
struct TOpenDatabase {
  TStorageOwner Owner;
  TRadeZIFileIO IO{&Owner};
  TOpenDatabase(const std::string& file, const TArgs& args) {
    IO.OpenFile(file, mtDisk, false);
    if (IO.Encrypted()) {
      std::string pw =
          args.Has("--password") ? ToAnsi(args.Options.at("--password")) : ToAnsi(PromptPassword());
      if (!IO.CheckPassword(pw)) throw EDatabaseError("Invalid password");
    }
  }
};

std::string FileArg(const TArgs& a, size_t i) {
  if (a.Positional.size() <= i) throw TUsageError("missing FILE");
  return ToAnsi(a.Positional[i]);
}

int CmdCreate(const TArgs& a) {
  std::string file = FileArg(a, 1);
  if (!a.Has("--schema")) throw TUsageError("create needs --schema");
  json schema = ParseJson(ReadFileText(a.Options.at("--schema")), "the schema");
  TDatabaseCreateOptions o;
  o.Compress = a.Flags.count("--compress") != 0;
  if (a.Has("--encrypt")) {
    o.EncryptAlgoName = a.Options.at("--encrypt");
    if (!a.Has("--mode") || !a.Has("--password")) throw TUsageError("--encrypt needs --mode and --password");
    o.EncryptMode = static_cast<uint8_t>(OptionNumber(a, "--mode", 0, 4));
    o.Password = ToAnsi(a.Options.at("--password"));
  }
  CreateFromSchema(file, schema, o);
  return kExitOk;
}

int CmdTables(const TArgs& a) {
  TOpenDatabase db(FileArg(a, 1), a);
  std::vector<std::string> names;
  db.IO.GetTableNames(names);
  for (const std::string& n : names) std::cout << ToUtf8(n) << "\n";
  return kExitOk;
}

std::unique_ptr<TRadeTableIO> OpenTable(TOpenDatabase& db, const TArgs& a) {
  if (a.Positional.size() < 3) throw TUsageError("missing TABLE");
  std::string name = ToAnsi(a.Positional[2]);
  std::vector<std::string> names;
  db.IO.GetTableNames(names);
  bool found = false;
  for (const std::string& n : names) found = found || SameTextAnsi(n, name);
  if (!found) throw TNotFound(Format("Table '%s' not found", a.Positional[2].c_str()));
  auto t = std::make_unique<TRadeTableIO>(db.IO, name);
  t->Acquire();
  return t;
}

int CmdSchema(const TArgs& a) {
  TOpenDatabase db(FileArg(a, 1), a);
  auto t = OpenTable(db, a);
  json out;
  out["name"] = ToUtf8(t->TableHeader().Name());
  json fields = json::array();
  for (int32_t i = 0; i < t->FieldDefs().Count(); ++i) {
    const TRadeFieldDef* f = t->FieldDefs().Items(i);
    fields.push_back({{"name", ToUtf8(f->Name)},
                      {"type", FieldTypeName(f->FieldType)},
                      {"size", f->DataSize},
                      {"noProcessing", f->NoProcessing != 0}});
  }
  out["fields"] = fields;
  json indexes = json::array();
  for (int32_t k = 0; k < t->IndexDefs().Count(); ++k) {
    const TRadeIndexDef* d = t->IndexDefs().Items(k);
    json names = json::array();
    for (int32_t fn : d->FieldNumbers) names.push_back(ToUtf8(t->FieldDefs().Items(fn)->Name));
    json opts = json::array();
    if (d->Options.Contains(tiPrimary)) opts.push_back("tiPrimary");
    if (d->Options.Contains(tiUnique)) opts.push_back("tiUnique");
    if (d->Options.Contains(tiDescending)) opts.push_back("tiDescending");
    if (d->Options.Contains(tiCaseInsensitive)) opts.push_back("tiCaseInsensitive");
    indexes.push_back({{"name", ToUtf8(d->Name)}, {"fields", names}, {"options", opts}});
  }
  out["indexes"] = indexes;
  out["RecordTabCount"] = t->TableHeader().RecordTabCount();
  out["AutoIncCounter"] = t->TableHeader().AutoIncCounter();
  std::cout << out.dump(2) << "\n";
  return kExitOk;
}

// The table commands go through the table dataset (tools/RadeziTable.cpp).
TTableCommand TableCommand(const TArgs& a) {
  TTableCommand c;
  if (a.Positional.size() < 2) throw TUsageError("missing FILE");
  if (a.Positional.size() < 3) throw TUsageError("missing TABLE");
  c.File = a.Positional[1];
  c.Table = a.Positional[2];
  auto opt = [&](const char* name, std::string& to) {
    if (a.Has(name)) to = a.Options.at(name);
  };
  c.HasPassword = a.Has("--password");
  opt("--password", c.Password);
  opt("--index", c.Index);
  c.HasFilter = a.Has("--filter");
  opt("--filter", c.Filter);
  if (a.Has("--filter-options")) c.FilterOptions = OptionNumber(a, "--filter-options", 0, 3);
  opt("--fields", c.Fields);
  opt("--values", c.Values);
  opt("--set", c.Set);
  c.Partial = a.Flags.count("--partial") != 0;
  c.CaseInsensitive = a.Flags.count("--case-insensitive") != 0;
  c.Durable = a.Flags.count("--durable") != 0;
  if (a.Has("--mode") && !ParseRowMode(a.Options.at("--mode"), c.Mode))
    throw TUsageError("--mode needs json, table or csv, not '" + a.Options.at("--mode") + "'");
  if (!a.Has("--mode")) c.Mode = DefaultModeSlot();
  return c;
}

int CmdInsert(const TArgs& a) {
  TTableCommand c = TableCommand(a);
  if (a.Positional.size() > 3) {
    if (a.Has("--rows")) throw TUsageError("give the rows inline or with --rows, not both");
    c.Rows = a.Positional[3];
  } else if (a.Has("--rows")) {
    c.Rows = ReadFileText(a.Options.at("--rows"));
  } else {
    std::stringstream ss;
    ss << std::cin.rdbuf();
    c.Rows = ss.str();
  }
  return TableInsert(c);
}

int CmdExport(const TArgs& a) {
  if (!a.Flags.count("--csv")) throw TUsageError("export needs --csv");
  TTableCommand c = TableCommand(a);
  c.Mode = TRowMode::Csv;
  return TableDump(c);
}

int CmdImport(const TArgs& a) {
  TTableCommand c = TableCommand(a);
  if (a.Positional.size() < 4) throw TUsageError("import needs DATA.csv");
  c.Rows = CsvToRows(c, ReadFileText(a.Positional[3])).dump();
  return TableInsert(c);
}

int CmdCheck(const TArgs& a) {
  const bool repair = a.Flags.count("--repair") != 0;
  return CheckCommand(
      FileArg(a, 1),
      [&] { return a.Has("--password") ? ToAnsi(a.Options.at("--password")) : ToAnsi(PromptPassword()); },
      repair, std::cout);
}

int CmdCatalog(const TArgs& a) {
  if (a.Positional.size() < 3 || a.Positional[1] != "init") throw TUsageError("catalog init FILE");
  CreateCatalogDatabase(ToAnsi(a.Positional[2]));
  return kExitOk;
}

int Run(const std::vector<std::string>& argv) {
  TArgs a = ParseArgs(argv);
  if (a.Positional.empty()) {
    if (a.Flags.count("--version")) {
      std::cout << "radezi " << kRadeziVersion << " (database files of format 2.0)\n";
      return kExitOk;
    }
    if (a.Flags.count("--help")) {
      std::cout << kUsage;
      return kExitOk;
    }
    throw TUsageError("missing COMMAND");
  }
  const std::string& c = a.Positional[0];
  if (a.Flags.count("--help")) {
    auto h = CommandHelp().find(c);
    if (h == CommandHelp().end()) throw TUsageError("unknown command " + c);
    std::cout << "usage: radezi " << h->second;
    return kExitOk;
  }
  if (c == "create") return CmdCreate(a);
  if (c == "tables") return CmdTables(a);
  if (c == "schema") return CmdSchema(a);
  if (c == "insert") return CmdInsert(a);
  if (c == "dump") return TableDump(TableCommand(a));
  if (c == "locate") return TableLocate(TableCommand(a));
  if (c == "update") return TableUpdate(TableCommand(a));
  if (c == "delete") return TableDelete(TableCommand(a));
  if (c == "export") return CmdExport(a);
  if (c == "import") return CmdImport(a);
  if (c == "check") return CmdCheck(a);
  if (c == "catalog") return CmdCatalog(a);
  if (c == "shell") {
    TShellOptions o;
    o.File = FileArg(a, 1);
    o.HasPassword = a.Has("--password");
    if (o.HasPassword) o.Password = ToAnsi(a.Options.at("--password"));
    o.Durable = a.Flags.count("--durable") != 0;
    return RunShell(o);
  }
  throw TUsageError("unknown command " + c);
}

}  // namespace

std::string PromptPassword() {
  std::string pw;
  if (ReadHiddenLine("Password: ", pw) == TTerminalRead::NoTerminal)
    throw EDatabaseError("A password is needed: give --password");
  return pw;
}

TRowMode& DefaultModeSlot() {
  static TRowMode mode = isatty(STDOUT_FILENO) ? TRowMode::Table : TRowMode::Json;
  return mode;
}

int RunRadeziCommand(const std::vector<std::string>& args, std::ostream& err) {
  try {
    return Run(args);
  } catch (const TUsageError& e) {
    err << "radezi: " << e.what() << "\n" << kUsage;
    return kExitUsage;
  } catch (const TTableUsageError& e) {
    err << "radezi: " << e.what() << "\n" << kUsage;
    return kExitUsage;
  } catch (const TNotFound& e) {
    err << e.what() << "\n";
    return kExitNotFound;
  } catch (const TTableNotFound& e) {
    err << e.what() << "\n";
    return kExitNotFound;
  } catch (const EAbort&) {
    // The password prompt was cancelled: end quietly.
    return kExitNotFound;
  } catch (const std::exception& e) {
    std::string m = e.what();
    try {
      m = AnsiToUtf8(m);
    } catch (...) {
    }
    err << m << "\n";
    return kExitDatabase;
  }
}

}  // namespace lanqi
