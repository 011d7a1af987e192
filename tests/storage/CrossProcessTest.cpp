// Writes of this program after another program changed the same table: the other program is a
// forked process with its own open of the file, as a second running copy would be.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <set>

#include "engine/storage/DatabaseCheck.h"
#include "rtl/Exceptions.h"
#include "tests/platform/ChildProcess.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

namespace {

// Waits for the lock as long as it takes: the processes of these tests take turns.
class TPatientOwner : public TStorageOwner {
 public:
  int32_t LockRetryCount() const override { return 0; }
  int32_t LockWaitTime() const override { return 1; }
};

bool IsRaceOutcome(const std::string& what) {
  return what == "Record not found" || what.rfind("Invalid unique field value", 0) == 0;
}

}  // namespace

// Fields: 0 key ftString(10), 1 n ftInteger, 2 data ftMemo; a unique index on key.
class CrossProcessTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    tdef.Name = "t";
    tdef.Fields.Add("key", ftString, 10);
    tdef.Fields.Add("n", ftInteger);
    tdef.Fields.Add("data", ftMemo);
    tdef.Indexes.Add("byKey", {0}, TRDIndexOptions{tiUnique});
  }
  // Each call makes a new database file and leaves the one before it closed.
  void Open(const TDatabaseCreateOptions& o = {}) {
    table.reset();
    io.CloseFile();
    options = o;
    path = MakeDb(io, {&tdef}, o, "db" + std::to_string(++files) + ".dat");
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
  }

  // A connection of its own to the database file, as another program holds it.
  struct TConnection {
    TPatientOwner Owner;
    TRadeZIFileIO IO{&Owner};
    std::unique_ptr<TRadeTableIO> Table;
    TConnection(const std::string& path, const TDatabaseCreateOptions& o) {
      IO.OpenFile(path, mtDisk, false);
      if (!o.EncryptAlgoName.empty() && !IO.CheckPassword(o.Password)) throw std::runtime_error("password");
      Table = std::make_unique<TRadeTableIO>(IO, "t");
      Table->Acquire();
    }
  };

  // Runs action in another process on its own connection; true when it completed.
  bool OtherProgram(const std::function<void(TRadeTableIO&)>& action) {
    ChildProcess child([&] {
      TConnection c(path, options);
      action(*c.Table);
      return true;
    });
    return child.Succeeded();
  }

  // Starts action in a process of its own that exits with 0 when the action returns true.
  static pid_t RunProgram(const std::function<bool()>& action) {
    pid_t pid = fork();
    if (pid == 0) {
      bool ok = false;
      try {
        ok = action();
      } catch (...) {
      }
      _exit(ok ? 0 : 1);
    }
    return pid;
  }

  static void Append(TRadeTableIO& t, const std::string& key, const std::string& data = "") {
    auto b = Buffers(t);
    SetStr(*b, 0, key);
    SetBlob(*b, 2, data);
    t.AppendRecord(*b, false, nullptr);
  }
  // The position in list 0 of the record holding key, -1 when none does.
  static int32_t PositionOf(TRadeTableIO& t, const std::string& key) {
    std::vector<std::string> keys = StrColumn(t, 0, 0);
    for (size_t p = 0; p < keys.size(); ++p)
      if (keys[p] == key) return static_cast<int32_t>(p);
    return -1;
  }
  // Changes the key (and the memo, when given) of the record holding key. A memo not given is
  // left out of the write.
  static void Modify(TRadeTableIO& t, const std::string& key, const std::string& to,
                     const std::string* data = nullptr) {
    int32_t p = PositionOf(t, key);
    if (p < 0) throw std::runtime_error("no record " + key);
    auto b = Buffers(t);
    b->Items(2)->InUse = data != nullptr;
    t.LoadRecord(*b, t.RecordLists(0), p);
    SetStr(*b, 0, to);
    if (data) SetBlob(*b, 2, *data);
    t.ModifyRecord(*b, p, nullptr, false);
  }
  static void Delete(TRadeTableIO& t, const std::string& key) {
    int32_t p = PositionOf(t, key);
    if (p < 0) throw std::runtime_error("no record " + key);
    t.DeleteRecord(p, false);
  }
  // Searches the index once, so that its list and the keys it compared are held in memory.
  void SearchOnce(const std::string& key) {
    auto k = Buffers(*table);
    SetStr(*k, 0, key);
    TKeySearchResult result = TKeySearchResult::Found;
    table->SearchIndex(*k, table->RecordLists(1), false, 0, result, 0);
  }
  // What a fresh open of the file holds: the keys in index order and the check's findings.
  std::vector<std::string> FreshKeyOrder() {
    TConnection c(path, options);
    return StrColumn(*c.Table, 1, 0);
  }
  std::vector<std::string> FreshCheck() {
    TConnection c(path, options);
    c.Table.reset();
    return CheckDatabase(c.IO, false).Violations;
  }

  TTableSpec tdef;
  int files = 0;
  TDatabaseCreateOptions options;
  TRadeZIFileIO io{&owner};
  std::string path;
  std::unique_ptr<TRadeTableIO> table;
};

// a, c, e are in the index and this program has searched it; the other program changes c to f.
// Every kind of write here must work on the index as it now is.
TEST_F(CrossProcessTest, KeyChangedByAnotherProgramIsSeenBeforeEachWrite) {
  struct TCase {
    const char* Name;
    std::function<void(TRadeTableIO&)> Write;
    std::vector<std::string> Order;
  };
  const std::vector<TCase> cases = {
      {"append d", [](TRadeTableIO& t) { Append(t, "d"); }, {"a", "d", "e", "f"}},
      {"append c, free again", [](TRadeTableIO& t) { Append(t, "c"); }, {"a", "c", "e", "f"}},
      {"modify a to g", [](TRadeTableIO& t) { Modify(t, "a", "g"); }, {"e", "f", "g"}},
      {"modify e to b", [](TRadeTableIO& t) { Modify(t, "e", "b"); }, {"a", "b", "f"}},
      {"modify f, the moved record", [](TRadeTableIO& t) { Modify(t, "f", "0"); }, {"0", "a", "e"}},
      {"delete e", [](TRadeTableIO& t) { Delete(t, "e"); }, {"a", "f"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Open();
    for (const char* k : {"a", "c", "e"}) Append(*table, k);
    SearchOnce("c");
    ASSERT_TRUE(OtherProgram([](TRadeTableIO& t) { Modify(t, "c", "f"); }));
    c.Write(*table);
    EXPECT_EQ(StrColumn(*table, 1, 0), c.Order) << "this program's list";
    EXPECT_EQ(FreshKeyOrder(), c.Order) << "the stored chain";
    EXPECT_EQ(FreshCheck(), std::vector<std::string>{});
  }
}

TEST_F(CrossProcessTest, UniqueKeysHoldAgainstAnotherProgramsKeyChange) {
  Open();
  for (const char* k : {"a", "c", "e"}) Append(*table, k);
  SearchOnce("c");
  ASSERT_TRUE(OtherProgram([](TRadeTableIO& t) { Modify(t, "c", "f"); }));
  Append(*table, "d");
  EXPECT_EQ(ErrorOf([&] { Append(*table, "d"); }), "Invalid unique field value 'd'");
  EXPECT_EQ(ErrorOf([&] { Append(*table, "f"); }), "Invalid unique field value 'f'");
  EXPECT_EQ(ErrorOf([&] { Modify(*table, "a", "f"); }), "Invalid unique field value 'f'");
  EXPECT_EQ(FreshKeyOrder(), (std::vector<std::string>{"a", "d", "e", "f"}));
  EXPECT_EQ(FreshCheck(), std::vector<std::string>{});
}

// The other program deletes c. A write here on c fails and c stays deleted; writes on the other
// records and on c's freed key succeed.
TEST_F(CrossProcessTest, RecordDeletedByAnotherProgram) {
  for (bool modify : {true, false}) {
    SCOPED_TRACE(modify ? "modify" : "delete");
    Open();
    for (const char* k : {"a", "c", "e"}) Append(*table, k);
    SearchOnce("c");
    auto b = Buffers(*table);
    b->Items(2)->InUse = false;
    table->LoadRecord(*b, table->RecordLists(0), 1);
    ASSERT_TRUE(OtherProgram([](TRadeTableIO& t) { Delete(t, "c"); }));

    SetStr(*b, 0, "x");
    EXPECT_EQ(ErrorOf([&] {
                if (modify)
                  table->ModifyRecord(*b, 1, nullptr, false);
                else
                  table->DeleteRecord(1, false);
              }),
              "Record not found");
    EXPECT_EQ(FreshKeyOrder(), (std::vector<std::string>{"a", "e"})) << "c stays deleted, no x appears";

    Append(*table, "c");
    Modify(*table, "e", "b");
    EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(FreshKeyOrder(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(FreshCheck(), std::vector<std::string>{});
  }
}

// The other program moves blobs (a grown memo goes to the end of the file) and appends; the blobs
// written here afterwards must not land on its areas.
TEST_F(CrossProcessTest, BlobAreasOfAnotherProgramAreKept) {
  Open({true, "Twofish", 1, "pw"});
  Append(*table, "a", "first a");
  Append(*table, "b", "first b");
  SearchOnce("a");
  const std::string grown(300, 'g');
  ASSERT_TRUE(OtherProgram([&](TRadeTableIO& t) {
    Modify(t, "a", "a", &grown);
    Append(t, "c", "from the other program");
  }));
  const std::string mine(200, 'm');
  Modify(*table, "b", "b", &mine);
  Append(*table, "d", "mine too");

  TConnection c(path, options);
  std::vector<std::string> blobs;
  const TRecordList& l = c.Table->RecordLists(1);
  for (int32_t p = 0; p < static_cast<int32_t>(l.size()); ++p) {
    auto r = Buffers(*c.Table);
    c.Table->LoadRecord(*r, l, p);
    blobs.push_back(GetBlob(*r, 2));
  }
  EXPECT_EQ(blobs, (std::vector<std::string>{grown, mine, "from the other program", "mine too"}));
  EXPECT_EQ(FreshCheck(), std::vector<std::string>{});
}

// Four programs, each holding the table loaded for its whole run, mix appends, key changes and
// deletes over a small key space so that they meet on the same keys and chain neighbours.
TEST_F(CrossProcessTest, FourProgramsMixingWritesKeepTheFileSound) {
  for (const TDatabaseCreateOptions& o :
       {TDatabaseCreateOptions{}, TDatabaseCreateOptions{false, "Twofish", 1, "pw"}}) {
    SCOPED_TRACE(o.EncryptAlgoName.empty() ? "plain" : "Twofish mode 1");
    Open(o);
    for (int i = 0; i < 40; ++i) Append(*table, "k" + std::to_string(i * 5));
    table.reset();
    io.CloseFile();

    // The programs take turns, passed round a ring of pipes, so that each one writes between
    // another's writes with its own lists built before them. Each end is held by one process
    // only, so a program that dies ends the ring instead of leaving the others waiting.
    constexpr int kTurns = 100;
    int ring[4][2];
    for (auto& r : ring) ASSERT_EQ(pipe(r), 0);
    std::vector<pid_t> programs;
    for (int p = 0; p < 4; ++p)
      programs.push_back(RunProgram([&, p] {
        for (int q = 0; q < 4; ++q) {
          if (q != p) close(ring[q][0]);
          if (q != (p + 1) % 4) close(ring[q][1]);
        }
        TConnection c(path, options);
        TRadeTableIO& t = *c.Table;
        std::mt19937 rng(static_cast<uint32_t>(p * 7919 + 1));
        auto key = [&] { return "k" + std::to_string(rng() % 200); };
        bool sound = true;
        char token = 0;
        for (int turn = 0; turn < kTurns; ++turn) {
          if (read(ring[p][0], &token, 1) != 1) return false;
          for (uint32_t ops = rng() % 3 + 1; ops > 0; --ops) {
            try {
              const int32_t live = static_cast<int32_t>(t.RecordLists(0).size());
              const uint32_t kind = rng() % 5;  // appends, key changes and deletes 1 : 3 : 1
              if (kind == 0 || live == 0) {
                Append(t, key(), turn % 5 == 0 ? std::string(70, 'x') : "");
              } else {
                const int32_t pos = static_cast<int32_t>(rng() % static_cast<uint32_t>(live));
                if (kind < 4) {
                  auto b = Buffers(t);
                  b->Items(2)->InUse = turn % 4 == 0;
                  t.LoadRecord(*b, t.RecordLists(0), pos);
                  SetStr(*b, 0, key());
                  if (turn % 4 == 0) SetBlob(*b, 2, std::string(static_cast<size_t>(turn), 'm'));
                  t.ModifyRecord(*b, pos, nullptr, false);
                } else {
                  t.DeleteRecord(pos, false);
                }
              }
            } catch (const EDatabaseError& e) {
              if (!IsRaceOutcome(e.what())) {
                fprintf(stderr, "program %d, turn %d: %s\n", p, turn, e.what());
                sound = false;
              }
            }
          }
          const bool last = p == 3 && turn == kTurns - 1;  // program 0 has had all its turns
          if (!last && write(ring[(p + 1) % 4][1], &token, 1) != 1) return false;
        }
        return sound;
      }));
    for (int q = 0; q < 4; ++q) {
      close(ring[q][0]);
      if (q != 0) close(ring[q][1]);
    }
    char token = 0;
    EXPECT_EQ(write(ring[0][1], &token, 1), 1);
    close(ring[0][1]);
    for (pid_t p : programs) {
      int status = -1;
      waitpid(p, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "a program met an error other than a lost race, or ended abnormally";
    }

    EXPECT_EQ(FreshCheck(), std::vector<std::string>{});
    std::vector<std::string> keys = FreshKeyOrder();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size()) << "a unique key twice";
  }
}

}  // namespace lanqi::test
