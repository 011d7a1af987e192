// Table storage against SQLite on the same rows with equivalent indexes: 100 000 appends to a
// table with an auto-increment field, a unique 32-byte text index and an integer index (SQLite
// with synchronous=OFF and each row its own transaction, since our appends reach the operating
// system before they return and are flushed later); opening that table; 100 000 random key
// searches through the unique index; the file sizes. Prints every figure and the ratio. Then bulk
// inserts through a batch against one SQLite transaction, and the cost of durable mode (below).
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/ByteBuffer.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/Collation.h"

namespace lanqi {
namespace {

int kRows = 100000;
int kSearches = 100000;
constexpr int kOpenRepeats = 5;

struct TRow {
  std::string Name;  // 32 bytes, unique
  int32_t N;
};

std::vector<TRow> MakeRows() {
  std::mt19937 rng(2026);
  const char* abc = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::vector<TRow> rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    std::string s(32, ' ');
    for (char& c : s) c = abc[rng() % 36];
    // The row number in the last characters keeps every name unique.
    std::string tail = std::to_string(i);
    s.replace(32 - tail.size(), tail.size(), tail);
    rows.push_back({s, static_cast<int32_t>(rng() % 1000000)});
  }
  return rows;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The processor time of this process (user and system), in seconds.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A bulk insert's elapsed and processor time.
struct TBulk {
  double Wall = 1e9, Cpu = 1e9;
  void Best(const TBulk& o) {
    Wall = std::min(Wall, o.Wall);
    Cpu = std::min(Cpu, o.Cpu);
  }
};

int64_t FileBytes(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

struct TTimes {
  double Append = 0, Open = 0, OpenList = 0, Search = 0;
  int64_t Size = 0;
  int64_t Found = 0;
};

TTimes RunOurs(const std::string& path, const std::vector<TRow>& rows, const std::vector<int>& probes) {
  TTimes t;
  {
    CreateDatabaseFile(path, {});
    TStorageOwner owner;
    TRadeZIFileIO io(&owner);
    io.OpenFile(path, mtDisk, false);
    TRadeFieldDefs f;
    f.Add("id", ftAutoInc);
    f.Add("name", ftString, 32);
    f.Add("n", ftInteger);
    TRadeIndexDefs x;
    x.Add("byName", {1}, {tiUnique});
    x.Add("byN", {2});
    AddTable(io, "t", f, x);
    TRadeTableIO table(io, "t");
    table.Acquire();
    TFieldBuffers b;
    for (int i = 0; i < 3; ++i) b.AddOwned(f.Items(i)->FieldType, table.SlotSize(i), &io);
    auto noop = [](int32_t, int32_t, const TRecordListEntry&) {};
    auto a = std::chrono::steady_clock::now();
    for (const TRow& r : rows) {
      TByteBuffer::StoreInt32(b.Items(0)->Bytes(), 0);
      std::memcpy(b.Items(1)->Buffer, r.Name.data(), 32);
      TByteBuffer::StoreInt32(b.Items(2)->Bytes(), r.N);
      table.AppendRecord(b, false, noop);
    }
    t.Append = Seconds(a, std::chrono::steady_clock::now());
    io.FlushFile();
  }
  // Opening is short and the machine is shared: the best of a few opens counts, for both.
  TStorageOwner owner;
  t.Open = 1e9;
  for (int rep = 0; rep < kOpenRepeats; ++rep) {
    auto a = std::chrono::steady_clock::now();
    TRadeZIFileIO io(&owner);
    io.OpenFile(path, mtDisk, false);
    TRadeTableIO table(io, "t");
    table.Acquire();
    t.Open = std::min(t.Open, Seconds(a, std::chrono::steady_clock::now()));
  }
  t.OpenList = 1e9;
  for (int rep = 0; rep < kOpenRepeats; ++rep) {
    auto a = std::chrono::steady_clock::now();
    TRadeZIFileIO io(&owner);
    io.OpenFile(path, mtDisk, false);
    TRadeTableIO table(io, "t");
    table.Acquire();
    if (table.RecordLists(0).size() != rows.size()) std::exit(1);
    t.OpenList = std::min(t.OpenList, Seconds(a, std::chrono::steady_clock::now()));
  }
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  TRadeTableIO table(io, "t");
  table.Acquire();
  auto a = std::chrono::steady_clock::now();
  TFieldBuffers key;
  for (int i = 0; i < 3; ++i) key.AddOwned(table.FieldDefs().Items(i)->FieldType, table.SlotSize(i), &io);
  const TRecordList& list = table.RecordLists(1);
  for (int p : probes) {
    std::memcpy(key.Items(1)->Buffer, rows[static_cast<size_t>(p)].Name.data(), 32);
    TKeySearchResult result;
    table.SearchIndex(key, list, false, 0, result, 0);
    t.Found += result == TKeySearchResult::Found;
  }
  t.Search = Seconds(a, std::chrono::steady_clock::now());
  t.Size = FileBytes(path);
  return t;
}

TTimes RunSqlite(const std::string& path, const std::vector<TRow>& rows, const std::vector<int>& probes) {
  TTimes t;
  sqlite3* db = nullptr;
  {
    Check(sqlite3_open(path.c_str(), &db), db, "open");
    Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db, "pragma");
    Check(sqlite3_exec(db,
                       "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, n INTEGER);"
                       "CREATE UNIQUE INDEX byName ON t(name); CREATE INDEX byN ON t(n);",
                       nullptr, nullptr, nullptr),
          db, "create");
    sqlite3_stmt* ins = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t(name, n) VALUES(?, ?)", -1, &ins, nullptr), db, "prepare");
    auto a = std::chrono::steady_clock::now();
    for (const TRow& r : rows) {
      sqlite3_bind_text(ins, 1, r.Name.data(), 32, SQLITE_STATIC);
      sqlite3_bind_int(ins, 2, r.N);
      Check(sqlite3_step(ins), db, "insert");
      sqlite3_reset(ins);
    }
    t.Append = Seconds(a, std::chrono::steady_clock::now());
    sqlite3_finalize(ins);
    sqlite3_close(db);
  }
  // Preparing a statement on the table reads the schema: the table is open.
  sqlite3_stmt* sel = nullptr;
  t.Open = 1e9;
  for (int rep = 0; rep < kOpenRepeats; ++rep) {
    auto a = std::chrono::steady_clock::now();
    Check(sqlite3_open(path.c_str(), &db), db, "open");
    Check(sqlite3_prepare_v2(db, "SELECT id FROM t WHERE name = ?", -1, &sel, nullptr), db, "prepare");
    t.Open = std::min(t.Open, Seconds(a, std::chrono::steady_clock::now()));
    if (rep + 1 < kOpenRepeats) {
      sqlite3_finalize(sel);
      sqlite3_close(db);
    }
  }
  t.OpenList = 1e9;
  for (int rep = 0; rep < kOpenRepeats; ++rep) {
    sqlite3* db2 = nullptr;
    sqlite3_stmt* cnt = nullptr;
    auto a = std::chrono::steady_clock::now();
    Check(sqlite3_open(path.c_str(), &db2), db2, "open");
    Check(sqlite3_prepare_v2(db2, "SELECT count(*) FROM t", -1, &cnt, nullptr), db2, "prepare");
    Check(sqlite3_step(cnt), db2, "count");
    if (sqlite3_column_int64(cnt, 0) != static_cast<int64_t>(rows.size())) std::exit(1);
    t.OpenList = std::min(t.OpenList, Seconds(a, std::chrono::steady_clock::now()));
    sqlite3_finalize(cnt);
    sqlite3_close(db2);
  }
  auto a = std::chrono::steady_clock::now();
  for (int p : probes) {
    sqlite3_bind_text(sel, 1, rows[static_cast<size_t>(p)].Name.data(), 32, SQLITE_STATIC);
    t.Found += sqlite3_step(sel) == SQLITE_ROW;
    sqlite3_reset(sel);
  }
  t.Search = Seconds(a, std::chrono::steady_clock::now());
  sqlite3_finalize(sel);
  sqlite3_close(db);
  t.Size = FileBytes(path);
  return t;
}

class TDurableOwner : public TStorageOwner {
 public:
  explicit TDurableOwner(bool durable) : durable_(durable) {}
  bool Durable() const override { return durable_; }

 private:
  bool durable_;
};

// Bulk inserts: the same rows appended through one batch (one hold of the lock, one group) against
// SQLite inserting them in one transaction; without syncs against synchronous=OFF, durable against
// synchronous=FULL. Each side starts from an empty table of the layout above.
TBulk RunOursBatch(const std::string& path, const std::vector<TRow>& rows, bool durable) {
  CreateDatabaseFile(path, {});
  TDurableOwner owner(durable);
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  TRadeFieldDefs f;
  f.Add("id", ftAutoInc);
  f.Add("name", ftString, 32);
  f.Add("n", ftInteger);
  TRadeIndexDefs x;
  x.Add("byName", {1}, {tiUnique});
  x.Add("byN", {2});
  AddTable(io, "t", f, x);
  io.FlushFile();
  TRadeTableIO table(io, "t");
  table.Acquire();
  TFieldBuffers b;
  for (int i = 0; i < 3; ++i) b.AddOwned(f.Items(i)->FieldType, table.SlotSize(i), &io);
  auto a = std::chrono::steady_clock::now();
  const double c = CpuSeconds();
  table.BeginBatch();
  for (const TRow& r : rows) {
    TByteBuffer::StoreInt32(b.Items(0)->Bytes(), 0);
    std::memcpy(b.Items(1)->Buffer, r.Name.data(), 32);
    TByteBuffer::StoreInt32(b.Items(2)->Bytes(), r.N);
    table.BatchAppend(b);
  }
  table.EndBatch();
  const TBulk t{Seconds(a, std::chrono::steady_clock::now()), CpuSeconds() - c};
  if (table.RecordLists(1).size() != rows.size()) std::exit(1);
  return t;
}

TBulk RunSqliteTransaction(const std::string& path, const std::vector<TRow>& rows, bool full) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", nullptr, nullptr,
                     nullptr),
        db, "pragma");
  Check(sqlite3_exec(db,
                     "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, n INTEGER);"
                     "CREATE UNIQUE INDEX byName ON t(name); CREATE INDEX byN ON t(n);",
                     nullptr, nullptr, nullptr),
        db, "create");
  sqlite3_stmt* ins = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t(name, n) VALUES(?, ?)", -1, &ins, nullptr), db, "prepare");
  auto a = std::chrono::steady_clock::now();
  const double c = CpuSeconds();
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  for (const TRow& r : rows) {
    sqlite3_bind_text(ins, 1, r.Name.data(), 32, SQLITE_STATIC);
    sqlite3_bind_int(ins, 2, r.N);
    Check(sqlite3_step(ins), db, "insert");
    sqlite3_reset(ins);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  const TBulk t{Seconds(a, std::chrono::steady_clock::now()), CpuSeconds() - c};
  sqlite3_finalize(ins);
  sqlite3_close(db);
  return t;
}

// The price of durable mode: the same writes, each its own operation, in normal and in durable
// mode (appends of a row with a 200-byte blob, the blob rewritten in place, deletes); the peer
// pays for the same promise with synchronous=FULL against synchronous=OFF.
int kDurableRows = 500;

struct TWriteTimes {
  double Append = 0, Modify = 0, Delete = 0;
};

TWriteTimes RunOursWrites(const std::string& path, const std::vector<TRow>& rows, bool durable) {
  TWriteTimes t;
  CreateDatabaseFile(path, {});
  TDurableOwner owner(durable);
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  TRadeFieldDefs f;
  f.Add("id", ftAutoInc);
  f.Add("name", ftString, 32);
  f.Add("n", ftInteger);
  f.Add("data", ftBlob);
  TRadeIndexDefs x;
  x.Add("byName", {1}, {tiUnique});
  AddTable(io, "t", f, x);
  io.FlushFile();
  TRadeTableIO table(io, "t");
  table.Acquire();
  TFieldBuffers b;
  for (int i = 0; i < 4; ++i) b.AddOwned(f.Items(i)->FieldType, table.SlotSize(i), &io);
  const std::string blob(200, 'b'), other(200, 'c');
  auto noop = [](int32_t, int32_t, const TRecordListEntry&) {};
  auto a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) {
    TByteBuffer::StoreInt32(b.Items(0)->Bytes(), 0);
    std::memcpy(b.Items(1)->Buffer, rows[static_cast<size_t>(i)].Name.data(), 32);
    TByteBuffer::StoreInt32(b.Items(2)->Bytes(), rows[static_cast<size_t>(i)].N);
    b.Items(3)->BlobStream()->Clear();
    b.Items(3)->BlobStream()->Write(blob.data(), static_cast<int32_t>(blob.size()));
    table.AppendRecord(b, false, noop);
  }
  t.Append = Seconds(a, std::chrono::steady_clock::now());
  for (int i = 0; i < 3; ++i) b.Items(i)->InUse = false;
  b.Items(3)->BlobStream()->Clear();
  b.Items(3)->BlobStream()->Write(other.data(), static_cast<int32_t>(other.size()));
  a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) table.ModifyRecord(b, i, nullptr, false);
  t.Modify = Seconds(a, std::chrono::steady_clock::now());
  a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) table.DeleteRecord(0, false);
  t.Delete = Seconds(a, std::chrono::steady_clock::now());
  return t;
}

TWriteTimes RunSqliteWrites(const std::string& path, const std::vector<TRow>& rows, bool full) {
  TWriteTimes t;
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", nullptr, nullptr,
                     nullptr),
        db, "pragma");
  Check(sqlite3_exec(db,
                     "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, n INTEGER, "
                     "data BLOB); CREATE UNIQUE INDEX byName ON t(name);",
                     nullptr, nullptr, nullptr),
        db, "create");
  const std::string blob(200, 'b'), other(200, 'c');
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t(name, n, data) VALUES(?, ?, ?)", -1, &st, nullptr), db,
        "prepare");
  auto a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) {
    sqlite3_bind_text(st, 1, rows[static_cast<size_t>(i)].Name.data(), 32, SQLITE_STATIC);
    sqlite3_bind_int(st, 2, rows[static_cast<size_t>(i)].N);
    sqlite3_bind_blob(st, 3, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    Check(sqlite3_step(st), db, "insert");
    sqlite3_reset(st);
  }
  t.Append = Seconds(a, std::chrono::steady_clock::now());
  sqlite3_finalize(st);
  Check(sqlite3_prepare_v2(db, "UPDATE t SET data = ? WHERE id = ?", -1, &st, nullptr), db, "prepare");
  a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) {
    sqlite3_bind_blob(st, 1, other.data(), static_cast<int>(other.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 2, i + 1);
    Check(sqlite3_step(st), db, "update");
    sqlite3_reset(st);
  }
  t.Modify = Seconds(a, std::chrono::steady_clock::now());
  sqlite3_finalize(st);
  Check(sqlite3_prepare_v2(db, "DELETE FROM t WHERE id = ?", -1, &st, nullptr), db, "prepare");
  a = std::chrono::steady_clock::now();
  for (int i = 0; i < kDurableRows; ++i) {
    sqlite3_bind_int(st, 1, i + 1);
    Check(sqlite3_step(st), db, "delete");
    sqlite3_reset(st);
  }
  t.Delete = Seconds(a, std::chrono::steady_clock::now());
  sqlite3_finalize(st);
  sqlite3_close(db);
  return t;
}

}  // namespace
}  // namespace lanqi

int main() {
  using namespace lanqi;
  SetCollationLocale("en_US");
  // LANQI_BENCH_ROWS shrinks the run for profiling; the figures are for the default.
  if (const char* n = std::getenv("LANQI_BENCH_ROWS")) kRows = kSearches = std::max(1000, std::atoi(n));
  if (const char* n = std::getenv("LANQI_BENCH_DURABLE_ROWS")) kDurableRows = std::max(10, std::atoi(n));
  kDurableRows = std::min(kDurableRows, kRows);
  char dirTemplate[] = "/tmp/lanqi-bench-storage-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  std::vector<TRow> rows = MakeRows();
  std::vector<int> probes(kSearches);
  std::mt19937 rng(7);
  for (int& p : probes) p = static_cast<int>(rng() % kRows);

  // LANQI_BENCH_PART=bulk runs only the bulk inserts.
  const char* partEnv = std::getenv("LANQI_BENCH_PART");
  const std::string part = partEnv ? partEnv : "";
  auto line = [](const char* what, double a, double b) {
    std::printf("%-32s %10.3fms %10.3fms %8.3f\n", what, a * 1e3, b * 1e3, a / b);
  };
  TTimes ours, peer;
  if (part.empty()) {
    ours = RunOurs(dir + "/ours.dat", rows, probes);
    peer = RunSqlite(dir + "/peer.sqlite", rows, probes);
    std::printf("%-32s %12s %12s %8s\n", "work", "ours", "sqlite", "ratio");
    line((std::to_string(kRows) + " appends").c_str(), ours.Append, peer.Append);
    line("open the table (best of 5)", ours.Open, peer.Open);
    line("open + all rows known (**)", ours.OpenList, peer.OpenList);
    line((std::to_string(kSearches) + " unique-key searches (*)").c_str(), ours.Search, peer.Search);
    std::printf("%-32s %12lld %12lld %8.3f\n", "file bytes", static_cast<long long>(ours.Size),
                static_cast<long long>(peer.Size),
                static_cast<double>(ours.Size) / static_cast<double>(peer.Size));
    std::printf("(*) ours includes reading the record tab and the index's chain on first use\n");
    std::printf("(**) ours: the record list in memory; sqlite: SELECT count(*)\n");
    std::printf("keys found: ours %lld, sqlite %lld\n", static_cast<long long>(ours.Found),
                static_cast<long long>(peer.Found));
    std::remove((dir + "/ours.dat").c_str());
    std::remove((dir + "/peer.sqlite").c_str());
  }

  // Bulk inserts in one go. The syncs reach the disk the folder lies on (LANQI_BENCH_DIR below).
  std::string bulkDir = dir;
  if (const char* d = std::getenv("LANQI_BENCH_DIR")) bulkDir = d;
  // The machine is shared: each figure is the best of three runs, the two sides taking turns.
  TBulk batch, oneTx, durableBatch, fullTx;
  for (int rep = 0; rep < 3; ++rep) {
    batch.Best(RunOursBatch(bulkDir + "/batch.dat", rows, false));
    oneTx.Best(RunSqliteTransaction(bulkDir + "/tx.sqlite", rows, false));
    durableBatch.Best(RunOursBatch(bulkDir + "/dbatch.dat", rows, true));
    fullTx.Best(RunSqliteTransaction(bulkDir + "/ftx.sqlite", rows, true));
    for (const char* f : {"/batch.dat", "/tx.sqlite", "/dbatch.dat", "/ftx.sqlite"})
      std::remove((bulkDir + f).c_str());
  }
  std::printf("\nbulk insert of %d rows, ours one batch, sqlite one transaction, best of 3, in %s\n", kRows,
              bulkDir.c_str());
  std::printf("%-32s %12s %12s %8s\n", "work", "ours", "sqlite", "ratio");
  line("batch / synchronous=OFF", batch.Wall, oneTx.Wall);
  line("  processor time", batch.Cpu, oneTx.Cpu);
  line("durable batch / synchronous=FULL", durableBatch.Wall, fullTx.Wall);
  line("  processor time", durableBatch.Cpu, fullTx.Cpu);

  if (!part.empty()) {
    rmdir(dir.c_str());
    return 0;
  }

  // The syncs reach the disk the folder lies on: LANQI_BENCH_DIR puts the files elsewhere.
  std::string durableDir = dir;
  if (const char* d = std::getenv("LANQI_BENCH_DIR")) durableDir = d;
  TWriteTimes normal = RunOursWrites(durableDir + "/normal.dat", rows, false);
  TWriteTimes durable = RunOursWrites(durableDir + "/durable.dat", rows, true);
  TWriteTimes off = RunSqliteWrites(durableDir + "/off.sqlite", rows, false);
  TWriteTimes full = RunSqliteWrites(durableDir + "/full.sqlite", rows, true);
  std::printf("\ndurable mode, %d rows with a 200-byte blob, each write its own operation, in %s\n",
              kDurableRows, durableDir.c_str());
  std::printf("%-24s %11s %11s %8s %11s %11s %8s\n", "work", "normal", "durable", "ratio", "sqlite OFF",
              "sqlite FULL", "ratio");
  auto dline = [](const char* what, double a, double b, double c, double d) {
    std::printf("%-24s %9.3fms %9.3fms %8.2f %9.3fms %9.3fms %8.2f\n", what, a * 1e3, b * 1e3, b / a, c * 1e3,
                d * 1e3, d / c);
  };
  dline("appends", normal.Append, durable.Append, off.Append, full.Append);
  dline("blob rewrites in place", normal.Modify, durable.Modify, off.Modify, full.Modify);
  dline("deletes", normal.Delete, durable.Delete, off.Delete, full.Delete);
  const double oursNormal = normal.Append + normal.Modify + normal.Delete,
               oursDurable = durable.Append + durable.Modify + durable.Delete,
               peerOff = off.Append + off.Modify + off.Delete,
               peerFull = full.Append + full.Modify + full.Delete;
  dline("all", oursNormal, oursDurable, peerOff, peerFull);
  std::printf("durable against sqlite FULL: %.2f\n", oursDurable / peerFull);
  for (const char* f : {"/normal.dat", "/durable.dat", "/off.sqlite", "/full.sqlite"})
    std::remove((durableDir + f).c_str());
  rmdir(dir.c_str());
  return ours.Found == kSearches && peer.Found == kSearches ? 0 : 1;
}
