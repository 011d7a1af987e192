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
