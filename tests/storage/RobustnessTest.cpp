// Several processes appending under the lock, and operations interrupted after each of their
// writes in turn.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "engine/storage/DatabaseCheck.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

namespace {
// Fields: 0 id ftAutoInc, 1 name ftString(32) unique, 2 n ftInteger indexed, 3 data ftBlob.
void DefineTable(TTableSpec& t) {
  t.Name = "t";
  t.Fields.Add("id", ftAutoInc);
  t.Fields.Add("name", ftString, 32);
  t.Fields.Add("n", ftInteger);
  t.Fields.Add("data", ftBlob);
  t.Indexes.Add("byName", {1}, {tiUnique});
  t.Indexes.Add("byN", {2}, {tiDescending});
}

void AppendRow(TRadeTableIO& t, const std::string& name, int32_t n) {
  auto b = Buffers(t);
  SetStr(*b, 1, name);
  SetInt(*b, 2, n);
  SetBlob(*b, 3, "blob of " + name);
  t.AppendRecord(*b, false, [](int32_t, int32_t, const TRecordListEntry&) {});
}

struct TRow {
  int32_t Id;
  std::string Name;
  int32_t N;
  std::string Blob;
  bool operator==(const TRow&) const = default;
};

std::vector<TRow> Rows(TRadeTableIO& t, int32_t list) {
  std::vector<TRow> out;
  const TRecordList& l = t.RecordLists(list);
  for (int32_t p = 0; p < static_cast<int32_t>(l.size()); ++p) {
    auto b = Buffers(t);
    t.LoadRecord(*b, l, p);
    out.push_back({GetInt(*b, 0), GetStr(*b, 1), GetInt(*b, 2), GetBlob(*b, 3)});
  }
  return out;
}

// Every index lists every live record once, in key order.
void ExpectIndexesComplete(TRadeTableIO& t) {
  std::vector<TRow> all = Rows(t, 0);
  std::vector<TRow> byName = Rows(t, 1), byN = Rows(t, 2);
  ASSERT_EQ(byName.size(), all.size());
  ASSERT_EQ(byN.size(), all.size());
  for (size_t i = 1; i < byName.size(); ++i) EXPECT_LT(byName[i - 1].Name, byName[i].Name);
  for (size_t i = 1; i < byN.size(); ++i) EXPECT_GE(byN[i - 1].N, byN[i].N);
}

// A memory stream whose writes fail once a number of them have been made; cutting the stream
// counts as a write.
class TFailingStream : public TMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override {
    if (!Allow()) return 0;
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(int64_t newSize) override {
    if (!Allow()) throw EWriteError();
    TMemoryStream::SetSize(newSize);
  }
  int WritesLeft = -1;
  bool Refused = false;

 private:
  bool Allow() {
    if (WritesLeft == 0) {
      Refused = true;
      return false;
    }
    if (WritesLeft > 0) --WritesLeft;
    return true;
  }
};

// Bytes that neither compress nor repeat, so stored sizes are known and a mix-up shows.
std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return s;
}

// A memory database that keeps apart what a disk would hold after a power loss: the writes and
// cuts made since the last sync are pending, and the loss may keep any of them, in any order.
class TPowerLossStream : public TMemoryStream, public TSyncedStream {
 public:
  struct TOp {
    int64_t Offset = 0;
    std::string Bytes;
    int64_t CutTo = -1;
  };
  int32_t Write(const void* buffer, int32_t count) override {
    Pending.push_back(
        {Position(), std::string(static_cast<const char*>(buffer), static_cast<size_t>(count))});
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(int64_t newSize) override {
    Pending.push_back({0, {}, newSize});
    TMemoryStream::SetSize(newSize);
  }
  void SyncData() override {
    if (OnSync) OnSync();
    for (const TOp& op : Pending) Apply(Durable, op);
    Pending.clear();
  }
  // Everything so far is on the disk.
  void Settle() {
    Durable = ToString();
    Pending.clear();
  }
  static void Apply(std::string& image, const TOp& op) {
    if (op.CutTo >= 0) {
      image.resize(static_cast<size_t>(op.CutTo));
      return;
    }
    const size_t end = static_cast<size_t>(op.Offset) + op.Bytes.size();
    if (image.size() < end) image.resize(end, '\0');
    image.replace(static_cast<size_t>(op.Offset), op.Bytes.size(), op.Bytes);
  }
  // Files a power loss right now could leave: none of the pending writes, all of them in order
  // and reversed, each alone, all but each, and random subsets in random order.
  std::vector<std::string> LossImages(std::mt19937& rng) const {
    const size_t n = Pending.size();
    std::vector<std::vector<size_t>> picks(1);
    std::vector<size_t> all(n);
    for (size_t i = 0; i < n; ++i) all[i] = i;
    picks.push_back(all);
    picks.emplace_back(all.rbegin(), all.rend());
    for (size_t i = 0; i < n && n > 1; ++i) {
      picks.push_back({i});
      std::vector<size_t> but;
      for (size_t j = 0; j < n; ++j)
        if (j != i) but.push_back(j);
      picks.push_back(but);
    }
    for (int r = 0; r < 4 && n > 2; ++r) {
      std::vector<size_t> sub;
      for (size_t i = 0; i < n; ++i)
        if (rng() % 2) sub.push_back(i);
      std::shuffle(sub.begin(), sub.end(), rng);
      picks.push_back(sub);
    }
    std::set<std::string> images;
    for (const auto& p : picks) {
      std::string image = Durable;
      for (size_t i : p) Apply(image, Pending[i]);
      images.insert(image);
    }
    return {images.begin(), images.end()};
  }
  std::string Durable;
  std::vector<TOp> Pending;
  std::function<void()> OnSync;
};

TDatabaseCreateOptions Modules(bool compress, const char* cipher, uint8_t mode) {
  TDatabaseCreateOptions o;
  o.Compress = compress;
  o.EncryptAlgoName = cipher;
  o.EncryptMode = mode;
  if (*cipher) o.Password = "pw";
  return o;
}
}  // namespace

class RobustnessTest : public StorageTest {};

TEST_F(RobustnessTest, FourProcessesAppendUnderTheLock) {
  TTableSpec tdef;
  DefineTable(tdef);
  std::string path;
  {
    TRadeZIFileIO io(&owner);
    path = MakeDb(io, {&tdef});
  }
  constexpr int kProcs = 4, kRows = 150;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        TTestOwner o;
        o.Retries = 0;
        o.Wait = 1;
        o.OnSleep = [] { usleep(1000); };
        TRadeZIFileIO io(&o);
        io.OpenFile(path, mtDisk, false);
        TRadeTableIO t(io, "t");
        t.Acquire();
        for (int i = 0; i < kRows; ++i)
          AppendRow(t, "p" + std::to_string(p) + "-" + std::to_string(i), p * 1000 + i);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "child %d: %s\n", p, e.what());
        rc = 1;
      }
      _exit(rc);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
  TRadeTableIO t(io, "t");
  t.Acquire();
  EXPECT_FALSE(t.IndexListRebuilt(0));
  EXPECT_FALSE(t.IndexListRebuilt(1));
  std::vector<TRow> rows = Rows(t, 0);
  ASSERT_EQ(rows.size(), static_cast<size_t>(kProcs * kRows));
  std::set<std::string> names;
  std::set<int32_t> ids;
  for (const TRow& r : rows) {
    names.insert(r.Name);
    ids.insert(r.Id);
    EXPECT_EQ(r.Blob, "blob of " + r.Name);
  }
  EXPECT_EQ(names.size(), rows.size()) << "every record exactly once";
  EXPECT_EQ(ids.size(), rows.size()) << "auto-increment numbers are not handed out twice";
  EXPECT_EQ(*ids.rbegin(), kProcs * kRows);
  ExpectIndexesComplete(t);
}

TEST_F(RobustnessTest, InterruptedOperationsLoseNothingEarlier) {
  struct TScenario {
    const char* what;
    int base;     // records before the operation
    bool modify;  // move the first record in name order to the end instead of appending
    bool remove;  // delete the first record in name order instead of appending
  } scenarios[] = {{"first append", 0, false, false},
                   {"append in a block", 5, false, false},
                   {"append opening new blocks", 1024, false, false},
                   {"moving modify", 5, true, false},
                   {"delete", 5, false, true}};
  for (const TScenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    TTableSpec tdef;
    DefineTable(tdef);
    TMemoryStream base;
    WriteNewDatabase(base, {});
    {
      uint32_t id = RegisterDatabaseStream(&base);
      TRadeZIFileIO io(&owner);
      io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
      AddTables(io, {&tdef});
      TRadeTableIO t(io, "t");
      t.Acquire();
      for (int i = 0; i < s.base; ++i) AppendRow(t, "r" + std::to_string(10000 + i), i);
      UnregisterDatabaseStream(id);
    }
    bool completed = false;
    int repaired = 0;
    int points = 0;
    for (int k = 0; !completed && k < 40; ++k) {
      ++points;
      SCOPED_TRACE("writes allowed: " + std::to_string(k));
      TFailingStream image;
      image.LoadFromString(base.ToString());
      image.WritesLeft = k;
      uint32_t id = RegisterDatabaseStream(&image);
      try {
        TRadeZIFileIO io(&owner);
        io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
        TRadeTableIO t(io, "t");
        t.Acquire();
        if (s.modify) {
          auto b = Buffers(t);
          for (int f = 0; f < 4; ++f) b->Items(f)->InUse = f == 1;
          SetStr(*b, 1, "zzz");
          t.ModifyRecord(*b, t.FindPhysicalPos(t.RecordLists(1), 0), nullptr, false);
        } else if (s.remove) {
          t.DeleteRecord(t.FindPhysicalPos(t.RecordLists(1), 0), false);
        } else {
          AppendRow(t, "new", -1);
        }
        completed = true;
      } catch (const EStreamError&) {
      }
      UnregisterDatabaseStream(id);

      // The interrupted file opens, is repaired when needed, and keeps every earlier record.
      TMemoryStream after;
      after.LoadFromString(image.ToString());
      uint32_t id2 = RegisterDatabaseStream(&after);
      TRadeZIFileIO io(&owner);
      io.OpenFile(MemoryDatabaseName(id2), mtMemory, false);
      TCheckResult r = CheckDatabase(io, true);
      EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
      repaired += r.Repairs.empty() ? 0 : 1;
      if (completed) {
        EXPECT_TRUE(r.Repairs.empty()) << "an uninterrupted operation needs no repair";
      }
      TRadeTableIO t(io, "t");
      t.Acquire();
      std::vector<TRow> rows = Rows(t, 0);
      const size_t want = static_cast<size_t>(s.base);
      if (s.remove) {
        // The first record is there whole or gone; every other record is untouched.
        ASSERT_GE(rows.size(), want - 1);
        ASSERT_LE(rows.size(), want);
        const size_t gone = want - rows.size();
        for (size_t i = 0; i < rows.size(); ++i) {
          const std::string name = "r" + std::to_string(10000 + i + gone);
          EXPECT_EQ(rows[i].Name, name);
          EXPECT_EQ(rows[i].Blob, "blob of " + name);
        }
        if (completed) {
          EXPECT_EQ(rows.size(), want - 1);
        }
        ExpectIndexesComplete(t);
        UnregisterDatabaseStream(id2);
        continue;
      }
      ASSERT_GE(rows.size(), want);
      ASSERT_LE(rows.size(), want + 1);
      for (size_t i = 0; i < want; ++i) {
        const std::string name = "r" + std::to_string(10000 + i);
        EXPECT_TRUE(rows[i].Name == name || (s.modify && i == 0 && rows[i].Name == "zzz"));
        EXPECT_EQ(rows[i].Blob, "blob of " + name);
      }
      if (rows.size() > want) {
        EXPECT_EQ(rows.back().Name, "new") << "the new record is whole";
        EXPECT_EQ(rows.back().Blob, "blob of new");
        EXPECT_EQ(rows.back().Id, s.base + 1);
      }
      if (completed) {
        EXPECT_EQ(rows.size(), want + (s.modify ? 0 : 1));
      }
      ExpectIndexesComplete(t);
      UnregisterDatabaseStream(id2);
    }
    EXPECT_TRUE(completed);
    std::printf("%s interrupted at %d points, %d needed a chain repair\n", s.what, points, repaired);
    // Interruptions between the record count and the chain links leave chains to repair.
    if (s.base > 0 && !s.remove) {
      EXPECT_GT(repaired, 0);
    }
  }
}

// A blob rewritten in place, extended at the end of the file and moved there, under each kind of
// processing, interrupted after each write in turn: the record reads as its old value or its new
// one, whole, and every other record keeps its values.
TEST_F(RobustnessTest, InterruptedBlobRewriteKeepsOldOrNewValue) {
  struct TSetup {
    const char* what;
    TDatabaseCreateOptions options;
  } setups[] = {{"plain", Modules(false, "", 0)},
                {"ZLIB", Modules(true, "", 0)},
                {"Blowfish", Modules(false, "Blowfish", 1)},
                {"Twofish with ZLIB", Modules(true, "Twofish", 2)}};
  struct TCase {
    const char* what;
    int recNo;  // of three records; the last one's blob area ends the file
    size_t size;
  } cases[] = {{"in place", 1, 30}, {"extended", 2, 300}, {"moved", 0, 300}};
  int points = 0;
  for (const TSetup& m : setups) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(m.what) + ", " + c.what);
      TTableSpec tdef;
      DefineTable(tdef);
      TMemoryStream base;
      WriteNewDatabase(base, m.options);
      auto open = [&](TRadeZIFileIO& io, uint32_t id) {
        io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
        if (!m.options.Password.empty()) {
          ASSERT_TRUE(io.CheckPassword(m.options.Password));
        }
      };
      {
        uint32_t id = RegisterDatabaseStream(&base);
        TRadeZIFileIO io(&owner);
        open(io, id);
        AddTables(io, {&tdef});
        TRadeTableIO t(io, "t");
        t.Acquire();
        for (int i = 0; i < 3; ++i) AppendRow(t, "r" + std::to_string(10000 + i), i);
        UnregisterDatabaseStream(id);
      }
      const std::string oldBlob = "blob of r" + std::to_string(10000 + c.recNo);
      const std::string newBlob = Noise(c.size, static_cast<uint32_t>(c.size + c.recNo));
      bool completed = false, sawOld = false, sawNew = false;
      for (int k = 0; !completed && k < 40; ++k, ++points) {
        SCOPED_TRACE("writes allowed: " + std::to_string(k));
        TFailingStream image;
        image.LoadFromString(base.ToString());
        image.WritesLeft = k;
        uint32_t id = RegisterDatabaseStream(&image);
        try {
          TRadeZIFileIO io(&owner);
          open(io, id);
          TRadeTableIO t(io, "t");
          t.Acquire();
          auto b = Buffers(t);
          for (int f = 0; f < 4; ++f) b->Items(f)->InUse = f == 3;
          SetBlob(*b, 3, newBlob);
          t.ModifyRecord(*b, c.recNo, nullptr, false);
          completed = !image.Refused;
        } catch (const EStreamError&) {
        }
        UnregisterDatabaseStream(id);

        TMemoryStream after;
        after.LoadFromString(image.ToString());
        uint32_t id2 = RegisterDatabaseStream(&after);
        TRadeZIFileIO io(&owner);
        open(io, id2);
        TCheckResult r = CheckDatabase(io, false);
        EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
        TRadeTableIO t(io, "t");
        t.Acquire();
        std::vector<TRow> rows = Rows(t, 0);
        ASSERT_EQ(rows.size(), 3u);
        for (int i = 0; i < 3; ++i) {
          const std::string name = "r" + std::to_string(10000 + i);
          EXPECT_EQ(rows[static_cast<size_t>(i)].Name, name);
          EXPECT_EQ(rows[static_cast<size_t>(i)].N, i);
          const std::string& blob = rows[static_cast<size_t>(i)].Blob;
          if (i != c.recNo) {
            EXPECT_EQ(blob, "blob of " + name);
          } else {
            EXPECT_TRUE(blob == oldBlob || blob == newBlob) << "neither the old value nor the new one";
            sawOld = sawOld || blob == oldBlob;
            sawNew = sawNew || blob == newBlob;
          }
        }
        if (completed) {
          EXPECT_EQ(rows[static_cast<size_t>(c.recNo)].Blob, newBlob);
        }
        UnregisterDatabaseStream(id2);
      }
      EXPECT_TRUE(completed);
      EXPECT_TRUE(sawOld && sawNew);
    }
  }
  std::printf("blob rewrites interrupted at %d points\n", points);
}

// Durable mode under a simulated power loss at every sync point of appends (the first, one in a
// block, one opening new blocks), modifies (a key that moves in its index, blobs rewritten in
// place, extended and moved) and deletes, plain, compressed and encrypted: every file the loss
// can leave opens, passes the check (chains are repaired as after a crash) and holds every
// operation that returned, and the operation under way either not at all or whole.
TEST_F(RobustnessTest, PowerLossKeepsEveryOperationReportedDone) {
  struct TSetup {
    const char* what;
    TDatabaseCreateOptions options;
    int base;  // records appended before the simulation starts
  } setups[] = {{"plain", Modules(false, "", 0), 0},
                {"ZLIB", Modules(true, "", 0), 0},
                {"Twofish with ZLIB", Modules(true, "Twofish", 2), 0},
                {"plain, 1024 records", Modules(false, "", 0), 1024}};
  struct TCount {
    int Ops = 0, Syncs = 0, Images = 0, Repaired = 0;
  };
  std::map<std::string, TCount> counts;
  std::mt19937 rng(11);
  for (const TSetup& m : setups) {
    SCOPED_TRACE(m.what);
    TTableSpec tdef;
    DefineTable(tdef);
    TPowerLossStream image;
    WriteNewDatabase(image, m.options);
    uint32_t id = RegisterDatabaseStream(&image);
    auto open = [&](TRadeZIFileIO& io, uint32_t streamId) {
      io.OpenFile(MemoryDatabaseName(streamId), mtMemory, false);
      if (!m.options.Password.empty()) {
        ASSERT_TRUE(io.CheckPassword(m.options.Password));
      }
    };
    TRadeZIFileIO io(&owner);
    open(io, id);
    AddTables(io, {&tdef});
    TRadeTableIO t(io, "t");
    t.Acquire();
    for (int i = 0; i < m.base; ++i) AppendRow(t, "r" + std::to_string(10000 + i), i);
    image.Settle();
    owner.DurableMode = true;

    auto modify = [&](int32_t recNo, int field, const std::function<void(TFieldBuffers&)>& set) {
      auto b = Buffers(t);
      for (int f = 0; f < 4; ++f) b->Items(f)->InUse = f == field;
      set(*b);
      t.ModifyRecord(*b, t.FindPhysicalPos(t.RecordLists(0), recNo), nullptr, false);
    };
    const int32_t b0 = m.base;
    struct TOp {
      const char* kind;
      std::function<void()> run;
    };
    std::vector<TOp> ops = {
        {"append", [&] { AppendRow(t, "a0", 5); }},
        {"append", [&] { AppendRow(t, "a1", 7); }},
        {"append", [&] { AppendRow(t, "a2", 1); }},
        {"append", [&] { AppendRow(t, "a3", 9); }},
        {"modify", [&] { modify(b0 + 1, 1, [](TFieldBuffers& b) { SetStr(b, 1, "zz"); }); }},
        {"modify with blob", [&] { modify(b0, 3, [](TFieldBuffers& b) { SetBlob(b, 3, Noise(30, 1)); }); }},
        {"modify with blob",
         [&] { modify(b0 + 3, 3, [](TFieldBuffers& b) { SetBlob(b, 3, Noise(300, 2)); }); }},
        {"modify with blob",
         [&] { modify(b0 + 1, 3, [](TFieldBuffers& b) { SetBlob(b, 3, Noise(300, 3)); }); }},
        {"delete", [&] { t.DeleteRecord(t.FindPhysicalPos(t.RecordLists(0), b0 + 2), false); }},
    };
    if (m.base > 0) ops.resize(1);  // the append that opens new blocks
    for (const TOp& op : ops) {
      SCOPED_TRACE(std::string(op.kind) + " " + std::to_string(&op - ops.data()));
      const std::vector<TRow> before = Rows(t, 0);
      std::vector<std::string> images;
      TCount& c = counts[op.kind];
      image.OnSync = [&] {
        ++c.Syncs;
        for (std::string& s : image.LossImages(rng)) images.push_back(std::move(s));
      };
      op.run();
      image.OnSync = nullptr;
      ++c.Ops;
      EXPECT_TRUE(image.Pending.empty()) << "the operation returned before its writes were durable";
      EXPECT_EQ(image.Durable, image.ToString());
      const std::vector<TRow> after = Rows(t, 0);
      EXPECT_NE(before, after);
      for (const std::string& bytes : images) {
        ++c.Images;
        TMemoryStream lost;
        lost.LoadFromString(bytes);
        uint32_t id2 = RegisterDatabaseStream(&lost);
        TRadeZIFileIO io2(&owner);
        open(io2, id2);
        TCheckResult r = CheckDatabase(io2, true);
        EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
        c.Repaired += r.Repairs.empty() ? 0 : 1;
        TRadeTableIO t2(io2, "t");
        t2.Acquire();
        const std::vector<TRow> rows = Rows(t2, 0);
        EXPECT_TRUE(rows == before || rows == after) << "neither before nor after the operation";
        ExpectIndexesComplete(t2);
        UnregisterDatabaseStream(id2);
      }
    }
    owner.DurableMode = false;
    UnregisterDatabaseStream(id);
  }
  for (const auto& [kind, c] : counts)
    std::printf("power loss, %s: %d operations, %d sync points, %d files tried, %d needed a chain repair\n",
                kind.c_str(), c.Ops, c.Syncs, c.Images, c.Repaired);
}

}  // namespace lanqi::test

// ---- batches of appends

namespace lanqi::test {
namespace {
struct TBatchRow {
  std::string Name;
  int32_t N;
  int32_t Id;  // 0: the next number
};

void FillRow(TFieldBuffers& b, const TBatchRow& r) {
  SetInt(b, 0, r.Id);
  SetStr(b, 1, r.Name);
  SetInt(b, 2, r.N);
  SetBlob(b, 3, "blob of " + r.Name);
}

// Rows with distinct names in no order, few distinct n (equal keys in the second index), and two
// numbers given.
std::vector<TBatchRow> BatchRows(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<TBatchRow> rows;
  // Some sort before every base record (r10000 ...), most between two of them, some after all.
  for (int i = 0; i < count; ++i)
    rows.push_back(
        {(i % 5 == 0 ? "a" : "r") + std::to_string(10000 + i) + "x", static_cast<int32_t>(rng() % 50), 0});
  std::shuffle(rows.begin(), rows.end(), rng);
  if (count > 30) {
    rows[10].Id = 5000;
    rows[20].Id = 4000;  // below the counter by then: it does not lower it
  }
  return rows;
}

// A memory database image holding table t with base records, every third of them deleted.
std::string BaseImage(int base, const TDatabaseCreateOptions& options, TStorageOwner& owner) {
  TTableSpec tdef;
  DefineTable(tdef);
  TMemoryStream image;
  WriteNewDatabase(image, options);
  uint32_t id = RegisterDatabaseStream(&image);
  {
    TRadeZIFileIO io(&owner);
    io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
    if (!options.Password.empty()) {
      EXPECT_TRUE(io.CheckPassword(options.Password));
    }
    AddTables(io, {&tdef});
    TRadeTableIO t(io, "t");
    t.Acquire();
    for (int i = 0; i < base; ++i) AppendRow(t, "r" + std::to_string(10000 + i), (i * 7) % 50);
    for (int i = base - 1; i >= 0; i -= 3) t.DeleteRecord(i, false);
  }
  UnregisterDatabaseStream(id);
  return image.ToString();
}

// Runs f on table t of a memory database holding bytes; returns the bytes after.
std::string WithTable(const std::string& bytes, const TDatabaseCreateOptions& options, TStorageOwner& owner,
                      const std::function<void(TRadeTableIO&)>& f) {
  TMemoryStream image;
  image.LoadFromString(bytes);
  uint32_t id = RegisterDatabaseStream(&image);
  {
    TRadeZIFileIO io(&owner);
    io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
    if (!options.Password.empty()) {
      EXPECT_TRUE(io.CheckPassword(options.Password));
    }
    TRadeTableIO t(io, "t");
    t.Acquire();
    f(t);
  }
  UnregisterDatabaseStream(id);
  return image.ToString();
}
}  // namespace

// A batch leaves the table a run of single appends leaves: the same records with the same numbers,
// both index orders, chains that need no rebuilding, a clean check; written as one group and in
// groups of a few rows, onto an empty table, one with room in its last blocks and one whose
// blocks are about full, under each kind of processing.
TEST_F(RobustnessTest, BatchWritesWhatSingleAppendsWrite) {
  struct TSetup {
    const char* what;
    TDatabaseCreateOptions options;
  } setups[] = {{"plain", Modules(false, "", 0)}, {"Twofish with ZLIB", Modules(true, "Twofish", 2)}};
  setups[1].options.VerifyWrites = true;
  const std::vector<TBatchRow> rows = BatchRows(1500, 3);
  for (const TSetup& m : setups)
    for (int base : {0, 5, 1020})
      for (int64_t groupBytes : {int64_t{0}, int64_t{4000}}) {
        SCOPED_TRACE(std::string(m.what) + ", base " + std::to_string(base) + ", group bytes " +
                     std::to_string(groupBytes));
        const std::string start = BaseImage(base, m.options, owner);
        const std::string single = WithTable(start, m.options, owner, [&](TRadeTableIO& t) {
          auto b = Buffers(t);
          for (const TBatchRow& r : rows) {
            FillRow(*b, r);
            t.AppendRecord(*b, false, nullptr);
          }
        });
        int groups = 0;
        std::vector<int32_t> handed;  // the numbers the rows' auto-increment items receive
        const std::string batched = WithTable(start, m.options, owner, [&](TRadeTableIO& t) {
          t.BeginBatch(groupBytes);
          auto b = Buffers(t);
          for (const TBatchRow& r : rows) {
            const int32_t written = t.BatchWritten();
            FillRow(*b, r);
            t.BatchAppend(*b);
            groups += t.BatchWritten() != written;
            handed.push_back(GetInt(*b, 0));
          }
          t.EndBatch();
          EXPECT_FALSE(t.InBatch());
        });
        if (groupBytes > 0) {
          EXPECT_GT(groups, 5);
        }
        std::vector<std::vector<TRow>> want, got;
        int32_t wantCounter = 0, gotCounter = 0;
        for (const std::string* bytes : {&single, &batched}) {
          auto& out = bytes == &single ? want : got;
          WithTable(*bytes, m.options, owner, [&](TRadeTableIO& t) {
            EXPECT_FALSE(t.IndexListRebuilt(0));
            EXPECT_FALSE(t.IndexListRebuilt(1));
            out = {Rows(t, 0), Rows(t, 1), Rows(t, 2)};
            ExpectIndexesComplete(t);
            (bytes == &single ? wantCounter : gotCounter) = t.TableHeader().AutoIncCounter();
            TCheckResult r = CheckDatabase(t.FileIO(), false);
            EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
          });
        }
        ASSERT_EQ(got[0].size(), static_cast<size_t>(base - (base + 2) / 3) + rows.size());
        EXPECT_EQ(got[0], want[0]);
        for (size_t i = 0; i < rows.size(); ++i)
          EXPECT_EQ(handed[i], want[0][want[0].size() - rows.size() + i].Id);
        EXPECT_EQ(got[1], want[1]);
        // Records of equal n may stand in either order.
        std::vector<int32_t> wantN, gotN;
        for (const TRow& r : want[2]) wantN.push_back(r.N);
        for (const TRow& r : got[2]) gotN.push_back(r.N);
        EXPECT_EQ(gotN, wantN);
        EXPECT_EQ(gotCounter, wantCounter);
      }
}

// Every kind of key a batch orders and checks as single appends do: texts compared without case,
// floats (0 and -0 equal), and a descending key of a smallint, a word and a largeint with
// negative numbers; the same rows refused with the same message, the same key order per index.
TEST_F(RobustnessTest, BatchOrdersAndChecksEveryKindOfKeyAsAppendsDo) {
  TTableSpec tdef;
  tdef.Name = "t";
  tdef.Fields.Add("s", ftString, 8);
  tdef.Fields.Add("f", ftFloat);
  tdef.Fields.Add("a", ftSmallint);
  tdef.Fields.Add("w", ftWord);
  tdef.Fields.Add("l", ftLargeint);
  tdef.Indexes.Add("byS", {0}, {tiUnique, tiCaseInsensitive});
  tdef.Indexes.Add("byF", {1}, {tiUnique});
  tdef.Indexes.Add("byAWL", {2, 3, 4}, {tiDescending});
  TMemoryStream base;
  WriteNewDatabase(base, {});
  {
    uint32_t id = RegisterDatabaseStream(&base);
    TRadeZIFileIO io(&owner);
    io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
    AddTables(io, {&tdef});
    UnregisterDatabaseStream(id);
  }
  std::mt19937 rng(17);
  const char* texts[] = {"abc", "ABC", "Abd", "b", "B", "ba", "", "z\xb0\xa1", "a b"};
  const double floats[] = {0.0, -0.0, 1.5, -1.5, 2.25, 1e9, -1e-9};
  struct TValues {
    std::string S;
    double F;
    int16_t A;
    uint16_t W;
    int64_t L;
  };
  std::vector<TValues> rows;
  for (int i = 0; i < 400; ++i)
    rows.push_back({std::string(texts[rng() % 9]) + (rng() % 3 ? std::to_string(rng() % 60) : ""),
                    floats[rng() % 7] + static_cast<double>(rng() % 40),
                    static_cast<int16_t>(int(rng() % 7) - 3),
                    static_cast<uint16_t>(rng() % 3 ? rng() % 4 : 65535 - rng() % 2),
                    static_cast<int64_t>(rng() % 5) - 2 + (rng() % 4 == 0 ? INT64_MIN / 2 : 0)});
  struct TResult {
    std::vector<std::string> Refusals;
    std::vector<std::vector<std::string>> Orders;  // per index, the key bytes in list order
  };
  auto run = [&](bool batch) {
    TResult out;
    TMemoryStream image;
    image.LoadFromString(base.ToString());
    uint32_t id = RegisterDatabaseStream(&image);
    TRadeZIFileIO io(&owner);
    io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
    TRadeTableIO t(io, "t");
    t.Acquire();
    if (batch) t.BeginBatch(2000);
    auto b = Buffers(t);
    for (const TValues& v : rows) {
      SetStr(*b, 0, v.S);
      SetDouble(*b, 1, v.F);
      TByteBuffer::StoreInt16(b->Items(2)->Bytes(), v.A);
      TByteBuffer::StoreInt16(b->Items(3)->Bytes(), static_cast<int16_t>(v.W));
      TByteBuffer::StoreInt64(b->Items(4)->Bytes(), v.L);
      out.Refusals.push_back(ErrorOf([&] {
        if (batch)
          t.BatchAppend(*b);
        else
          t.AppendRecord(*b, false, nullptr);
      }));
    }
    if (batch) t.EndBatch();
    TRadeTableIO fresh(io, "t");
    fresh.Acquire();
    for (int32_t k = 0; k < 3; ++k) {
      EXPECT_FALSE(fresh.IndexListRebuilt(k));
      std::vector<std::string> keys;
      const TRecordList& list = fresh.RecordLists(k + 1);
      for (int32_t p = 0; p < static_cast<int32_t>(list.size()); ++p) {
        auto r = Buffers(fresh);
        fresh.LoadRecord(*r, list, p);
        std::string key;
        for (int32_t fn : tdef.Indexes.Items(k)->FieldNumbers)
          key.append(reinterpret_cast<const char*>(r->Items(fn)->Bytes()),
                     static_cast<size_t>(r->Items(fn)->BufferSize));
        keys.push_back(key);
      }
      out.Orders.push_back(keys);
    }
    EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
    UnregisterDatabaseStream(id);
    return out;
  };
  const TResult single = run(false), batched = run(true);
  EXPECT_EQ(batched.Refusals, single.Refusals);
  EXPECT_GT(std::count(single.Refusals.begin(), single.Refusals.end(), ""), 100);
  EXPECT_GT(std::count(single.Refusals.begin(), single.Refusals.end(), "Invalid unique field value 'abc'"),
            0);
  EXPECT_EQ(batched.Orders, single.Orders);
}

// A batch of three groups interrupted after each of its writes in turn: the file checks clean
// (chains repaired as after an interrupted append) and holds every record before the batch and
// the batch's rows of every group written whole, none of a group cut short.
TEST_F(RobustnessTest, InterruptedBatchKeepsEveryEarlierGroup) {
  const std::vector<TBatchRow> rows = BatchRows(45, 5);
  for (int base : {0, 5, 1020}) {
    SCOPED_TRACE("base " + std::to_string(base));
    const TDatabaseCreateOptions options;
    const std::string start = BaseImage(base, options, owner);
    const size_t live = static_cast<size_t>(base - (base + 2) / 3);
    std::set<size_t> groupEnds = {0};  // rows of the batch written when a group ends
    auto batch = [&](TRadeTableIO& t) {
      t.BeginBatch(2000);
      auto b = Buffers(t);
      for (const TBatchRow& r : rows) {
        FillRow(*b, r);
        t.BatchAppend(*b);
        groupEnds.insert(static_cast<size_t>(t.BatchWritten()));
      }
      t.EndBatch();
    };
    WithTable(start, options, owner, batch);
    groupEnds.insert(rows.size());
    ASSERT_EQ(groupEnds.size(), 4u) << "three groups";
    bool completed = false;
    int points = 0, repaired = 0;
    for (int k = 0; !completed && k < 200; ++k, ++points) {
      SCOPED_TRACE("writes allowed: " + std::to_string(k));
      TFailingStream image;
      image.LoadFromString(start);
      image.WritesLeft = k;
      uint32_t id = RegisterDatabaseStream(&image);
      try {
        TRadeZIFileIO io(&owner);
        io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
        TRadeTableIO t(io, "t");
        t.Acquire();
        batch(t);
        completed = !image.Refused;
      } catch (const EStreamError&) {
      }
      UnregisterDatabaseStream(id);

      TMemoryStream after;
      after.LoadFromString(image.ToString());
      uint32_t id2 = RegisterDatabaseStream(&after);
      TRadeZIFileIO io(&owner);
      io.OpenFile(MemoryDatabaseName(id2), mtMemory, false);
      TCheckResult r = CheckDatabase(io, true);
      EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
      repaired += r.Repairs.empty() ? 0 : 1;
      if (completed) {
        EXPECT_TRUE(r.Repairs.empty()) << "a batch that ended needs no repair";
      }
      TRadeTableIO t(io, "t");
      t.Acquire();
      const std::vector<TRow> got = Rows(t, 0);
      ASSERT_GE(got.size(), live);
      const size_t added = got.size() - live;
      EXPECT_TRUE(groupEnds.count(added)) << added << " rows of the batch: not a whole number of groups";
      for (size_t i = 0; i < added && i < rows.size(); ++i) {
        const TRow& row = got[live + i];
        EXPECT_EQ(row.Name, rows[i].Name);
        EXPECT_EQ(row.N, rows[i].N);
        EXPECT_EQ(row.Blob, "blob of " + rows[i].Name);
      }
      ExpectIndexesComplete(t);
      UnregisterDatabaseStream(id2);
    }
    EXPECT_TRUE(completed);
    std::printf("batch of %zu rows onto %d records interrupted at %d points, %d needed a chain repair\n",
                rows.size(), base, points, repaired);
    if (base > 0) {
      EXPECT_GT(repaired, 0);
    }
  }
}

// A duplicate unique key, of a record of the table, of a row written in an earlier group or of a
// row still held, is refused with the unique check's message and leaves nothing of its row: no
// number used, no bytes written; the batch goes on.
TEST_F(RobustnessTest, BatchRefusesDuplicateKeysWhole) {
  const TDatabaseCreateOptions options;
  const std::string start = BaseImage(3, options, owner);  // r10000 and r10001 live
  std::vector<std::string> refused;
  const std::string after = WithTable(start, options, owner, [&](TRadeTableIO& t) {
    const int32_t counter = t.TableHeader().AutoIncCounter();
    t.BeginBatch(300);  // about two rows a group
    auto b = Buffers(t);
    auto append = [&](const std::string& name) {
      FillRow(*b, {name, 1, 0});
      const int32_t held = t.BatchHeld(), written = t.BatchWritten();
      const std::string error = ErrorOf([&] { t.BatchAppend(*b); });
      if (error.empty()) return;
      refused.push_back(error);
      EXPECT_EQ(GetInt(*b, 0), 0) << "a refused row takes no number";
      EXPECT_EQ(t.BatchHeld(), held);
      EXPECT_EQ(t.BatchWritten(), written);
    };
    for (const char* name : {"a", "b", "c", "r10001", "a", "d", "c", "e"}) append(name);
    EXPECT_GT(t.BatchWritten(), 0);
    EXPECT_GT(t.BatchHeld(), 0);
    t.EndBatch();
    EXPECT_EQ(t.TableHeader().AutoIncCounter(), counter + 5);
  });
  EXPECT_EQ(refused,
            (std::vector<std::string>{"Invalid unique field value 'r10001'", "Invalid unique field value 'a'",
                                      "Invalid unique field value 'c'"}));
  WithTable(after, options, owner, [&](TRadeTableIO& t) {
    EXPECT_TRUE(CheckDatabase(t.FileIO(), false).Violations.empty());
    std::vector<std::string> names;
    std::vector<int32_t> ids;
    for (const TRow& r : Rows(t, 0)) {
      names.push_back(r.Name);
      ids.push_back(r.Id);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"r10000", "r10001", "a", "b", "c", "d", "e"}));
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 4, 5, 6, 7, 8}));
  });
}

// Durable mode: a batch costs one set of syncs per group, not one per row, and a power loss at any
// of them leaves the table as it was before the group or with the whole group.
TEST_F(RobustnessTest, DurableBatchSyncsOncePerGroup) {
  TTableSpec tdef;
  DefineTable(tdef);
  TPowerLossStream image;
  WriteNewDatabase(image, {});
  uint32_t id = RegisterDatabaseStream(&image);
  TRadeZIFileIO io(&owner);
  io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
  AddTables(io, {&tdef});
  TRadeTableIO t(io, "t");
  t.Acquire();
  for (int i = 0; i < 5; ++i) AppendRow(t, "r" + std::to_string(10000 + i), i);
  image.Settle();
  owner.DurableMode = true;
  std::mt19937 rng(13);
  const std::vector<TBatchRow> rows = BatchRows(300, 9);
  struct TCase {
    int64_t groupBytes;
    int groups;
  } cases[] = {{0, 1}, {7000, 3}};
  size_t from = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE("group bytes " + std::to_string(c.groupBytes));
    std::vector<std::vector<TRow>> states = {Rows(t, 0)};  // the table after each group
    std::vector<std::string> images;
    int syncs = 0;
    image.OnSync = [&] {
      ++syncs;
      for (std::string& s : image.LossImages(rng)) images.push_back(std::move(s));
    };
    t.BeginBatch(c.groupBytes);
    auto b = Buffers(t);
    for (size_t i = from; i < from + 150; ++i) {
      const int32_t written = t.BatchWritten();
      FillRow(*b, rows[i]);
      t.BatchAppend(*b);
      if (t.BatchWritten() != written) states.push_back(Rows(t, 0));
    }
    t.EndBatch();
    states.push_back(Rows(t, 0));
    image.OnSync = nullptr;
    from += 150;
    EXPECT_EQ(syncs, 2 * c.groups);
    EXPECT_EQ(states.size(), static_cast<size_t>(c.groups) + 1);
    EXPECT_TRUE(image.Pending.empty()) << "the batch ended before its writes were durable";
    for (const std::string& bytes : images) {
      TMemoryStream lost;
      lost.LoadFromString(bytes);
      uint32_t id2 = RegisterDatabaseStream(&lost);
      TRadeZIFileIO io2(&owner);
      io2.OpenFile(MemoryDatabaseName(id2), mtMemory, false);
      TCheckResult r = CheckDatabase(io2, true);
      EXPECT_TRUE(r.Violations.empty()) << (r.Violations.empty() ? "" : r.Violations[0]);
      TRadeTableIO t2(io2, "t");
      t2.Acquire();
      EXPECT_TRUE(std::find(states.begin(), states.end(), Rows(t2, 0)) != states.end())
          << "not the table before or after a group";
      ExpectIndexesComplete(t2);
      UnregisterDatabaseStream(id2);
    }
  }
  owner.DurableMode = false;
  UnregisterDatabaseStream(id);
}

// Rows that would take the file past the format's 2 GiB are refused as they are handed over (not
// when the group is written), and the rows held before them are written. The file is made sparse
// up to near the limit.
TEST_F(RobustnessTest, BatchRefusesRowsPastTheFileLimit) {
  TTableSpec tdef;
  DefineTable(tdef);
  TRadeZIFileIO io(&owner);
  const std::string path = MakeDb(io, {&tdef});
  io.CloseFile();
  ASSERT_EQ(truncate(path.c_str(), INT32_MAX - 20000), 0);
  io.OpenFile(path, mtDisk, false);
  TRadeTableIO t(io, "t");
  t.Acquire();
  t.BeginBatch(0);
  auto b = Buffers(t);
  std::string error;
  int held = 0;
  for (; held < 200 && error.empty(); ++held) {
    FillRow(*b, {"b" + std::to_string(held), held, 0});
    error = ErrorOf([&] { t.BatchAppend(*b); });
  }
  EXPECT_EQ(error, "Database file '" + path + "' would grow beyond 2147483647 bytes");
  EXPECT_EQ(t.BatchHeld(), held - 1);
  t.EndBatch();
  EXPECT_EQ(t.RecordLists(0).size(), static_cast<size_t>(held - 1));
  EXPECT_LE(io.FileSize(), INT32_MAX);
  EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
}

// Another open of the file waits for the batch's lock; the batch's rows are on disk for it as each
// group is written, and its next write takes them into its lists.
TEST_F(RobustnessTest, BatchRowsReachOtherOpensPerGroup) {
  TTableSpec tdef;
  DefineTable(tdef);
  TRadeZIFileIO io(&owner);
  const std::string path = MakeDb(io, {&tdef});
  TRadeTableIO t(io, "t");
  t.Acquire();
  AppendRow(t, "r10000", 0);
  TTestOwner other;
  other.Retries = 1;
  TRadeZIFileIO io2(&other);
  io2.OpenFile(path, mtDisk, false);
  TRadeTableIO t2(io2, "t");
  t2.Acquire();
  ASSERT_EQ(t2.RecordLists(0).size(), 1u);
  auto countOnDisk = [&] {
    TTableHeader h;
    io2.ReadTableHeader(t2.TableNumber(), h);
    return h.RecordTabCount();
  };

  t.BeginBatch(1000);
  auto b = Buffers(t);
  for (int i = 0; i < 45; ++i) {
    FillRow(*b, {"b" + std::to_string(i), i, 0});
    t.BatchAppend(*b);
    EXPECT_EQ(countOnDisk(), 1 + t.BatchWritten()) << "written groups are on disk, held rows are not";
  }
  EXPECT_GT(t.BatchWritten(), 0);
  EXPECT_LT(t.BatchWritten(), 45);
  EXPECT_EQ(ErrorOf([&] { AppendRow(t2, "x", 0); }), "Wait for unlock time out");
  t.EndBatch();
  EXPECT_EQ(countOnDisk(), 46);
  AppendRow(t2, "x", 0);
  EXPECT_EQ(t2.RecordLists(0).size(), 47u);
  EXPECT_EQ(Rows(t2, 1).size(), 47u);
  EXPECT_TRUE(CheckDatabase(io2, false).Violations.empty());
}

}  // namespace lanqi::test
