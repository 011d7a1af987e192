// The table dataset against SQLite on the same 100 000 rows in the same run: a filtering pass that
// keeps 5% on an integer field (SQLite: the same WHERE, no index), a sequential Locate of the last
// row by a text field (no index on either side), an indexed Locate, and walks over all rows
// reading two fields, in record order and in the order of the Name index. Prints the best time of
// several runs of each (the thread's processor time) and the ratio ours/SQLite (target <= 1.0).
// Usage: bench_dataset [rows, default 100000]
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"

namespace lanqi {
namespace {

volatile int64_t gSink;

// The time this thread spent running (user and system): both sides run on this thread alone, and
// a busy machine that takes the processor away between them does not count against either.
double ThreadMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double BestMs(int runs, const std::function<void()>& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    double t0 = ThreadMs();
    f();
    best = std::min(best, ThreadMs() - t0);
  }
  return best;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(2);
  }
}

std::string NameOf(int i) {
  return Format("n%06d", i);
}
std::string CodeOf(int i) {
  return Format("c%06d", i);
}

int Run(int rows) {
  SetSystemCodePage(936);
  SetCollationLocale("en_US");
  char dirTemplate[] = "/tmp/bench_dataset_XXXXXX";
  if (!mkdtemp(dirTemplate)) return 2;
  std::string dir = dirTemplate;
  std::string ours = dir + "/bench.dat", peer = dir + "/bench.sqlite";

  // Ours: ID, Name (indexed), Code (no index), Age, Grp = i % 20.
  CreateDatabaseFile(ours, {});
  {
    TStorageOwner owner;
    TRadeZIFileIO io(&owner);
    io.OpenFile(ours, mtDisk, false);
    TRadeFieldDefs fields;
    fields.Add("ID", ftInteger);
    fields.Add("Name", ftString, 20);
    fields.Add("Code", ftString, 20);
    fields.Add("Age", ftInteger);
    fields.Add("Grp", ftInteger);
    TRadeIndexDefs indexes;
    indexes.Add("ByName", {1}, {});
    AddTable(io, "T", fields, indexes);
    io.CloseFile();
  }
  TComponent owner;
  auto* t = owner.Create<TRadeTable>();
  t->SetDatabaseName(ours);
  t->SetTableName("T");
  t->Open();
  auto t0 = std::chrono::steady_clock::now();
  TField* fId = t->FieldByName("ID");
  TField* fName = t->FieldByName("Name");
  TField* fCode = t->FieldByName("Code");
  TField* fAge = t->FieldByName("Age");
  TField* fGrp = t->FieldByName("Grp");
  for (int i = 0; i < rows; ++i) {
    t->Append();
    fId->SetAsInteger(i);
    fName->SetAsString(NameOf(i));
    fCode->SetAsString(CodeOf(i));
    fAge->SetAsInteger(i % 90);
    fGrp->SetAsInteger(i % 20);
    t->Post();
  }
  double fillOurs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

  sqlite3* db = nullptr;
  Check(sqlite3_open(peer.c_str(), &db), db, "open");
  Check(sqlite3_exec(db,
                     "CREATE TABLE t(id INTEGER, name TEXT, code TEXT, age INTEGER, grp INTEGER);"
                     "CREATE INDEX byname ON t(name);",
                     nullptr, nullptr, nullptr),
        db, "create");
  t0 = std::chrono::steady_clock::now();
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* ins = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?)", -1, &ins, nullptr), db, "prepare");
  for (int i = 0; i < rows; ++i) {
    std::string n = NameOf(i), c = CodeOf(i);
    sqlite3_bind_int(ins, 1, i);
    sqlite3_bind_text(ins, 2, n.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 3, c.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(ins, 4, i % 90);
    sqlite3_bind_int(ins, 5, i % 20);
    Check(sqlite3_step(ins), db, "insert");
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  double fillPeer = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

  auto query = [&](const char* sql, const std::function<void(sqlite3_stmt*)>& bind, bool all) {
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db, "prepare");
    if (bind) bind(st);
    int64_t n = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      n += sqlite3_column_int(st, 0);
      if (sqlite3_column_count(st) > 1) n += sqlite3_column_bytes(st, 1);
      if (!all) break;
    }
    Check(rc, db, "step");
    sqlite3_finalize(st);
    gSink = n;
  };

  const int runs = 5;
  std::string last = CodeOf(rows - 1), lastName = NameOf(rows - 1);
  struct Row {
    const char* what;
    double ours, peer;
  };
  std::vector<Row> table;

  int32_t kept = 0;
  table.push_back({"filter Grp = 7 (5%)",
                   BestMs(runs,
                          [&] {
                            t->SetFilter("Grp = 7");
                            t->SetFiltered(true);
                            kept = t->RecordCount();
                            t->SetFiltered(false);
                          }),
                   BestMs(runs, [&] { query("SELECT id FROM t WHERE grp = 7", nullptr, true); })});
  bool found = false;
  table.push_back(
      {"sequential Locate, last row", BestMs(runs, [&] { found = t->Locate("Code", last, {}); }),
       BestMs(runs, [&] {
         query(
             "SELECT id FROM t WHERE code = ? LIMIT 1",
             [&](sqlite3_stmt* st) { sqlite3_bind_text(st, 1, last.c_str(), -1, SQLITE_TRANSIENT); }, false);
       })});
  bool foundSeq = found;
  table.push_back(
      {"indexed Locate", BestMs(runs * 20, [&] { found = t->Locate("Name", lastName, {}); }),
       BestMs(runs * 20, [&] {
         query(
             "SELECT id FROM t WHERE name = ? LIMIT 1",
             [&](sqlite3_stmt* st) { sqlite3_bind_text(st, 1, lastName.c_str(), -1, SQLITE_TRANSIENT); },
             false);
       })});
  // The walks are short: more runs, so that the best of them is not one a busy machine slowed.
  auto walk = [&] {
    int64_t n = 0;
    t->First();
    while (!t->Eof()) {
      n += static_cast<int64_t>(fName->AsString().size()) + fAge->AsInteger();
      t->Next();
    }
    gSink = n;
  };
  table.push_back({"walk all rows, two fields", BestMs(runs * 4, walk),
                   BestMs(runs * 4, [&] { query("SELECT age, name FROM t", nullptr, true); })});
  t->SetIndexName("ByName");
  table.push_back({"walk by the Name index", BestMs(runs * 4, walk),
                   BestMs(runs * 4, [&] { query("SELECT age, name FROM t ORDER BY name", nullptr, true); })});
  t->SetIndexName("");

  std::printf("rows %d (fill: ours %.0f ms, SQLite %.0f ms); filter kept %d; locates found %d %d\n", rows,
              fillOurs, fillPeer, kept, foundSeq ? 1 : 0, found ? 1 : 0);
  std::printf("%-30s %12s %12s %8s\n", "operation", "ours ms", "SQLite ms", "ratio");
  for (const Row& r : table)
    std::printf("%-30s %12.3f %12.3f %8.2f\n", r.what, r.ours, r.peer, r.peer > 0 ? r.ours / r.peer : 0.0);
  sqlite3_close(db);
  t->Close();
  DefaultSession().SetActive(false);
  std::remove(ours.c_str());
  std::remove(peer.c_str());
  rmdir(dir.c_str());
  return 0;
}

}  // namespace
}  // namespace lanqi

int main(int argc, char** argv) {
  int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  return lanqi::Run(rows > 0 ? rows : 100000);
}
