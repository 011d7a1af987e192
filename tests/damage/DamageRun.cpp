// The damage run: damaged copies of four small databases (plain, ZLIB, two cipher setups) go
// through radezi's check, check --repair and dump, each copy in a child process of its own. No
// copy may pass the check and then fail a dump of one of its tables, no repair may report success
// on a copy it left unreadable, and nothing may crash or hang. Prints the counts; exits 1 when
// anything broke the rule (the offending copies are kept for a rerun).
//
// Usage: damage_run [--copies N] [--seed S] [--keep DIR]
//   N damaged copies of each of the four databases (default 250), the damage drawn from seed S.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "rtl/Exceptions.h"
#include "tools/RadeziCheck.h"
#include "tools/RadeziSchema.h"
#include "tools/RadeziTable.h"
#include "tools/RadeziValues.h"

using namespace lanqi;

namespace {

const char* const kSchema = R"({"tables":[
 {"name":"items","fields":[
   {"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":20},
   {"name":"qty","type":"ftInteger"},{"name":"price","type":"ftFloat"},{"name":"day","type":"ftDate"},
   {"name":"at","type":"ftDateTime"},{"name":"note","type":"ftMemo"},{"name":"pic","type":"ftBlob"},
   {"name":"tag","type":"ftString","size":8,"noProcessing":true}],
  "indexes":[{"name":"byName","fields":["name"],"options":["tiUnique"]},
             {"name":"byQty","fields":["qty","name"],"options":["tiDescending"]},
             {"name":"byTag","fields":["tag"],"options":["tiCaseInsensitive"]}]},
 {"name":"notes","fields":[
   {"name":"id","type":"ftAutoInc"},{"name":"title","type":"ftString","size":16},{"name":"body","type":"ftMemo"}],
  "indexes":[{"name":"byTitle","fields":["title"],"options":["tiPrimary"]}]}]})";

struct TSetup {
  const char* Name;
  bool Compress;
  const char* Cipher;  // empty: not encrypted
  uint8_t Mode;
};
const TSetup kSetups[] = {
    {"plain", false, "", 0},
    {"zlib", true, "", 0},
    {"blowfish-zlib", true, "Blowfish", 2},
    {"twofish", false, "Twofish", 1},
};
const char* const kPassword = "pw";

std::string ItemsRows() {
  std::ostringstream r;
  r << "[";
  for (int i = 0; i < 14; ++i) {
    if (i) r << ",";
    std::string memo(static_cast<size_t>(i * 37 % 300), static_cast<char>('a' + i % 26));
    r << R"({"name":"item )" << i << (i % 3 == 0 ? " 文件" : "") << R"(","qty":)" << (i * 7) % 5
      << R"(,"price":)" << i * 1.25 << R"(,"day":"2020-01-)" << (10 + i) << R"(","at":"2021-03-04 05:06:)"
      << (10 + i) << R"(.000","note":")" << memo << (i % 4 == 0 ? "版本" : "") << R"(","tag":"T)" << i % 4
      << "\"";
    if (i % 2) r << R"(,"pic":{"hex":"00ff10)" << std::string(static_cast<size_t>(i * 6), 'e') << "\"}";
    r << "}";
  }
  r << "]";
  return r.str();
}

std::string NotesRows() {
  std::ostringstream r;
  r << "[";
  for (int i = 0; i < 6; ++i)
    r << (i ? "," : "") << R"({"title":"note )" << i << R"(","body":")"
      << std::string(static_cast<size_t>(i * 50), 'n') << "\"}";
  r << "]";
  return r.str();
}

TTableCommand Command(const std::string& file, const TSetup& s, const std::string& table) {
  TTableCommand c;
  c.File = file;
  c.Table = table;
  if (*s.Cipher) {
    c.HasPassword = true;
    c.Password = kPassword;
  }
  return c;
}

void MakeBase(const std::string& file, const TSetup& s) {
  TDatabaseCreateOptions o;
  o.Compress = s.Compress;
  if (*s.Cipher) {
    o.EncryptAlgoName = s.Cipher;
    o.EncryptMode = s.Mode;
    o.Password = kPassword;
  }
  unlink(file.c_str());
  CreateFromSchema(file, json::parse(kSchema), o);
  std::streambuf* saved = std::cout.rdbuf(nullptr);
  TTableCommand items = Command(file, s, "items");
  items.Rows = ItemsRows();
  TableInsert(items);
  TTableCommand notes = Command(file, s, "notes");
  notes.Rows = NotesRows();
  TableInsert(notes);
  // A moved blob (its old area abandoned) and a deleted record, as a file in use has them.
  TTableCommand update = Command(file, s, "items");
  update.HasFilter = true;
  update.Filter = "name = 'item 4'";
  update.Set = R"({"note":")" + std::string(400, 'x') + R"(","qty":9})";
  TableUpdate(update);
  TTableCommand erase = Command(file, s, "items");
  erase.HasFilter = true;
  erase.Filter = "name = 'item 5'";
  TableDelete(erase);
  std::cout.rdbuf(saved);
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One damage of the four kinds, at places biased towards the bytes the base file uses.
struct TDamager {
  std::mt19937_64 Rng;
  std::vector<size_t> Used;  // offsets of non-zero bytes of the base

  size_t Offset(size_t size) {
    if (!Used.empty() && Rng() % 10 < 7) return Used[Rng() % Used.size()];
    return Rng() % size;
  }
  std::string Damage(const std::string& base, int kind, std::string& what) {
    std::string d = base;
    const size_t size = d.size();
    switch (kind) {
      case 0: {
        int bits = 1 + static_cast<int>(Rng() % 3);
        what = "bit flips at";
        for (int i = 0; i < bits; ++i) {
          size_t at = Offset(size);
          d[at] = static_cast<char>(d[at] ^ (1 << (Rng() % 8)));
          what += " " + std::to_string(at);
        }
        break;
      }
      case 1: {
        size_t len = Rng() % size;
        d.resize(len);
        what = "truncated to " + std::to_string(len);
        break;
      }
      case 2: {
        size_t len = size_t{1} << (2 + Rng() % 9);
        size_t at = Offset(size);
        len = std::min(len, size - at);
        std::memset(d.data() + at, 0, len);
        what = "zeroed " + std::to_string(len) + " at " + std::to_string(at);
        break;
      }
      default: {
        size_t len = size_t{16} << (Rng() % 7);
        len = std::min(len, size / 2);
        size_t a = Offset(size - len), b = Rng() % (size - len);
        if (a > size - len) a = size - len;
        std::string tmp = d.substr(a, len);
        d.replace(a, len, d.substr(b, len));
        d.replace(b, len, tmp);
        what = "swapped " + std::to_string(len) + " at " + std::to_string(a) + " and " + std::to_string(b);
        break;
      }
    }
    return d;
  }
};

// Every table the file lists, dumped in stored order and by each of its indexes, as radezi's
// tables, schema and dump commands do it. Returns "" or the first failure.
std::string DumpAll(const std::string& file, const TSetup& s, std::vector<std::string>& tables) {
  tables.clear();
  std::vector<std::vector<std::string>> indexes;
  try {
    TStorageOwner owner;
    TRadeZIFileIO io(&owner);
    io.OpenFile(file, mtDisk, false);
    if (io.Encrypted() && !io.CheckPassword(kPassword)) return "Invalid password";
    std::vector<std::string> names;
    io.GetTableNames(names);
    for (const std::string& n : names) {
      tables.push_back(ToUtf8(n));
      TRadeTableIO t(io, n);
      t.Acquire();
      indexes.emplace_back();
      for (int32_t k = 0; k < t.IndexDefs().Count(); ++k)
        indexes.back().push_back(ToUtf8(t.IndexDefs().Items(k)->Name));
    }
  } catch (const std::exception& e) {
    return std::string("tables: ") + e.what();
  }
  for (size_t i = 0; i < tables.size(); ++i) {
    std::vector<std::string> orders = indexes[i];
    orders.insert(orders.begin(), "");
    for (const std::string& index : orders) {
      TTableCommand c = Command(file, s, tables[i]);
      c.Index = index;
      try {
        int rc = TableDump(c);
        if (rc != 0) return "dump " + tables[i] + " " + index + " exit " + std::to_string(rc);
      } catch (const std::exception& e) {
        return "dump " + tables[i] + " " + index + ": " + e.what();
      }
    }
  }
  return "";
}

int Check(const std::string& file, bool repair, std::string& out) {
  std::ostringstream o;
  int rc;
  try {
    rc = CheckCommand(
        file, [] { return std::string(kPassword); }, repair, o);
  } catch (const std::exception& e) {
    o << e.what() << "\n";
    rc = 3;
  }
  out = o.str();
  return rc;
}

// What one child reports for one copy.
struct TOutcome {
  int CheckRc = -1;
  int RepairRc = -1;  // -1: not tried
  int Renamed = 0;    // passed the check with a table name other than the base's
  std::string Violation;
};

TOutcome RunCopy(const std::string& copy, const std::string& repaired, const TSetup& s) {
  TOutcome o;
  std::string out;
  o.CheckRc = Check(copy, false, out);
  std::vector<std::string> tables;
  const std::string dump = DumpAll(copy, s, tables);
  // A name damaged into another sound name reads as a table of that name: nothing in the file
  // tells it apart, so it is counted, not charged to the check.
  for (const char* name : {"items", "notes"})
    if (o.CheckRc == 0 && std::find(tables.begin(), tables.end(), name) == tables.end()) o.Renamed = 1;
  if (o.CheckRc == 0 && !dump.empty()) {
    o.Violation = "check said ok, then " + dump;
    return o;
  }
  if (o.CheckRc != 1) return o;
  WriteAll(repaired, ReadAll(copy));
  o.RepairRc = Check(repaired, true, out);
  if (o.RepairRc != 0) return o;
  const std::string after = DumpAll(repaired, s, tables);
  if (!after.empty()) {
    o.Violation = "repair said ok, then " + after;
    return o;
  }
  std::string again;
  if (Check(repaired, false, again) != 0) o.Violation = "repair said ok, then check: " + again;
  return o;
}

// Runs one copy in a child with a time limit; a signal or the limit is a violation.
TOutcome RunIsolated(const std::string& copy, const std::string& repaired, const TSetup& s) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(2);
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    alarm(60);
    TOutcome o = RunCopy(copy, repaired, s);
    std::string line = std::to_string(o.CheckRc) + " " + std::to_string(o.RepairRc) + " " +
                       std::to_string(o.Renamed) + " " + o.Violation;
    ssize_t n = write(fds[1], line.data(), line.size());
    (void)n;
    _exit(0);
  }
  close(fds[1]);
  std::string line;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) line.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  TOutcome o;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    o.Violation = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM
                      ? "hang (no answer in 60 s)"
                      : "crash (status " + std::to_string(status) + ")";
    return o;
  }
  std::istringstream in(line);
  in >> o.CheckRc >> o.RepairRc >> o.Renamed;
  std::getline(in, o.Violation);
  if (!o.Violation.empty() && o.Violation[0] == ' ') o.Violation.erase(0, 1);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  int copies = 250;
  uint64_t seed = 1;
  std::string keep;
  // --one FILE SETUP: one copy in this process, for a debugger.
  if (argc == 4 && std::string(argv[1]) == "--one") {
    for (const TSetup& s : kSetups)
      if (std::string(argv[3]) == s.Name) {
        TOutcome o = RunCopy(argv[2], std::string(argv[2]) + ".repaired", s);
        std::cout << "check " << o.CheckRc << ", repair " << o.RepairRc << ": " << o.Violation << "\n";
        return o.Violation.empty() ? 0 : 1;
      }
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--copies")
      copies = std::atoi(argv[i + 1]);
    else if (a == "--seed")
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (a == "--keep")
      keep = argv[i + 1];
    else {
      std::cerr << "usage: damage_run [--copies N] [--seed S] [--keep DIR]\n";
      return 2;
    }
  }
  char tmpl[] = "/tmp/damage_run.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string work = tmpl;
  if (keep.empty()) keep = work;
  mkdir(keep.c_str(), 0755);
  int tried = 0, renamed = 0, checkOk = 0, checkFailed = 0, checkRefused = 0, repaired = 0, violations = 0;
  for (const TSetup& s : kSetups) {
    const std::string base = work + "/" + s.Name + ".dat";
    try {
      MakeBase(base, s);
    } catch (const std::exception& e) {
      std::cerr << s.Name << ": the base database cannot be made: " << e.what() << "\n";
      return 2;
    }
    const std::string bytes = ReadAll(base);
    TDamager dmg;
    dmg.Rng.seed(seed * 1000003u + static_cast<uint64_t>(&s - kSetups));
    for (size_t i = 0; i < bytes.size(); ++i)
      if (bytes[i] != 0) dmg.Used.push_back(i);
    for (int n = 0; n < copies; ++n) {
      std::string what;
      const std::string damaged = dmg.Damage(bytes, n % 4, what);
      const std::string copy = work + "/copy.dat", fixed = work + "/repaired.dat";
      WriteAll(copy, damaged);
      TOutcome o = RunIsolated(copy, fixed, s);
      ++tried;
      if (o.CheckRc == 0)
        ++checkOk;
      else if (o.CheckRc == 1)
        ++checkFailed;
      else
        ++checkRefused;
      if (o.RepairRc == 0) ++repaired;
      renamed += o.Renamed;
      if (!o.Violation.empty()) {
        ++violations;
        const std::string kept = keep + "/" + s.Name + "-" + std::to_string(n) + ".dat";
        WriteAll(kept, damaged);
        std::cout << "VIOLATION " << s.Name << " copy " << n << " (" << what << "): " << o.Violation
                  << "\n  kept as " << kept << "\n";
      }
    }
  }
  std::cout << "files tried " << tried << ", check ok " << checkOk << ", check failed " << checkFailed
            << ", refused " << checkRefused << ", repaired " << repaired << ", violations " << violations
            << " (of the check-ok files, " << renamed
            << " with a table name damaged into another sound name)\n";
  if (violations == 0 && keep == work) {
    std::string cmd = "rm -rf '" + work + "'";
    if (std::system(cmd.c_str()) != 0) return 2;
  }
  return violations == 0 ? 0 : 1;
}
