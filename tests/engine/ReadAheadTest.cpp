// A table dataset's walk reads records ahead in windows: what it shows of another program's
// writes (forked processes with their own open of the file) and of this program's own, the lock it
// takes per window, and walks across many windows in both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "engine/RecordWindow.h"
#include "tests/engine/EngineFixture.h"
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

// An open of the file of its own, as another program (or another part of this one) holds it.
struct TOtherOpen {
  TPatientOwner Owner;
  TRadeZIFileIO IO{&Owner};
  std::unique_ptr<TRadeTableIO> Table;
  explicit TOtherOpen(const std::string& path) {
    IO.OpenFile(path, mtDisk, false);
    Table = std::make_unique<TRadeTableIO>(IO, "T");
    Table->Acquire();
  }
  // Sets N of the record at position (record order), in place.
  void SetN(int32_t position, int32_t n) {
    auto b = Buffers(*Table);
    Table->LoadRecord(*b, Table->RecordLists(0), position);
    SetInt(*b, 1, n);
    Table->ModifyRecord(*b, position, nullptr, false);
  }
};

constexpr int32_t kFirst = TRecordWindow::kFirstRows;

}  // namespace

// T: ID integer, N integer; rows ID = N = 0 .. count - 1, no index (record order).
class ReadAheadTest : public EngineTest {
 protected:
  TRadeTable* Filled(int32_t count) {
    path_ = dir_.File("walk.dat");
    CreateDatabase(path_, {{"T", {{"ID", ftInteger}, {"N", ftInteger}}, {}}});
    TRadeTable* t = NewTable(path_, "T");
    t->Open();
    std::vector<std::vector<Variant>> rows;
    for (int32_t i = 0; i < count; ++i) rows.push_back({Variant(i), Variant(i)});
    AppendRows(t, rows);
    return t;
  }
  // Runs the change in another process with its own open of the file, and waits for it.
  bool OtherProgram(const std::vector<std::pair<int32_t, int32_t>>& changes) {
    ChildProcess child([&] {
      TOtherOpen other(path_);
      for (auto [position, n] : changes) other.SetN(position, n);
      return true;
    });
    return child.Succeeded();
  }
  static int32_t ID(TRadeTable* t) { return t->FieldByName("ID")->AsInteger(); }
  static int32_t N(TRadeTable* t) { return t->FieldByName("N")->AsInteger(); }

  std::string path_;
};

// Windows of this walk: [0, 16), [16, 48), [48, 112). A change made while a window is current
// shows from the next window on; a change to a record of the current window shows at the next walk.
TEST_F(ReadAheadTest, AnotherProgramsChangeShowsFromTheNextWindow) {
  TRadeTable* t = Filled(120);
  ASSERT_EQ(kFirst, 16);
  t->First();
  // Inside the current window (3), at the start of the next one (16), further on (40).
  ASSERT_TRUE(OtherProgram({{3, 1003}, {16, 1016}, {40, 1040}}));
  std::map<int32_t, int32_t> seen;
  for (; !t->Eof() && ID(t) < 20; t->Next()) seen[ID(t)] = N(t);
  // Now inside [16, 48): a change to 30 waits for the next walk, one to 50 shows at [48, 112).
  ASSERT_TRUE(OtherProgram({{30, 1030}, {50, 1050}}));
  for (; !t->Eof(); t->Next()) seen[ID(t)] = N(t);
  ASSERT_EQ(seen.size(), 120u);
  EXPECT_EQ(seen[3], 3);
  EXPECT_EQ(seen[16], 1016);
  EXPECT_EQ(seen[30], 30);
  EXPECT_EQ(seen[40], 1040);
  EXPECT_EQ(seen[50], 1050);
  EXPECT_EQ(seen[119], 119);
  // A new walk starts a new window; so does a record reached by position or by Locate.
  t->First();
  t->MoveBy(3);
  EXPECT_EQ(N(t), 1003);
  ASSERT_TRUE(OtherProgram({{4, 2004}, {10, 2010}}));
  ASSERT_TRUE(t->Locate("ID", 10, {}));
  EXPECT_EQ(N(t), 2010);
  t->SetRecNo(5);
  EXPECT_EQ(N(t), 2004);
}

// Last and Prior read windows backwards under the same rule.
TEST_F(ReadAheadTest, AnotherProgramsChangeShowsFromTheNextWindowWalkingBack) {
  TRadeTable* t = Filled(60);
  t->Last();
  // Windows going back: [44, 60), [12, 44).
  ASSERT_TRUE(OtherProgram({{50, 1050}, {43, 1043}, {12, 1012}}));
  std::map<int32_t, int32_t> seen;
  for (; !t->Bof(); t->Prior()) seen[ID(t)] = N(t);
  ASSERT_EQ(seen.size(), 60u);
  EXPECT_EQ(seen[50], 50);
  EXPECT_EQ(seen[43], 1043);
  EXPECT_EQ(seen[12], 1012);
}

// The window ends at any write of this program, whichever open of the file makes it.
TEST_F(ReadAheadTest, ThisProgramsWriteEndsTheWindow) {
  TRadeTable* t = Filled(40);
  TRadeTable* other = NewTable(path_, "T");
  other->Open();
  struct Case {
    const char* how;
    std::function<void(int32_t position, int32_t n)> write;
  };
  TOtherOpen second(path_);
  const Case cases[] = {
      {"another dataset of the same database",
       [&](int32_t position, int32_t n) {
         ASSERT_TRUE(other->Locate("ID", position, {}));
         other->Edit();
         other->FieldByName("N")->SetAsInteger(n);
         other->Post();
       }},
      {"a second open of the file", [&](int32_t position, int32_t n) { second.SetN(position, n); }},
  };
  int32_t n = 500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    t->First();
    ++n;
    c.write(5, n);
    t->MoveBy(5);
    EXPECT_EQ(ID(t), 5);
    EXPECT_EQ(N(t), n);
    // Also when the write comes between two records of the window.
    c.write(6, n + 1000);
    t->Next();
    EXPECT_EQ(N(t), n + 1000);
    t->Next();
    EXPECT_EQ(ID(t), 7);
  }
}

// A window is read under the file lock: while another program holds it, the walk goes on inside
// the window it has, and the next window waits for the lock (here no longer than one retry).
TEST_F(ReadAheadTest, EachWindowTakesTheLockOnce) {
  TRadeTable* t = Filled(40);
  TRadeSession& s = DefaultSession();
  const int32_t retries = s.LockRetryCount(), wait = s.LockWaitTime();
  struct Restore {
    TRadeSession& s;
    int32_t r, w;
    ~Restore() {
      s.SetLockRetryCount(r);
      s.SetLockWaitTime(w);
    }
  } restore{s, retries, wait};
  s.SetLockRetryCount(1);
  s.SetLockWaitTime(10);
  t->First();
  ChildProcess holder([&] {
    // Kept, with its lock, until the child exits.
    static std::unique_ptr<TOtherOpen> kept;
    kept = std::make_unique<TOtherOpen>(path_);
    kept->IO.Lock();
    return true;
  });
  ASSERT_TRUE(holder.Succeeded());
  for (int32_t i = 1; i < kFirst; ++i) {
    t->Next();
    ASSERT_EQ(ID(t), i);
  }
  try {
    t->Next();
    FAIL() << "read past the window while another program held the lock";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Wait for unlock time out");
  }
  holder.Release();
  t->Next();
  EXPECT_EQ(ID(t), kFirst);
  EXPECT_FALSE(t->Eof());
}

// Walks across many windows, turning back in the middle, on a view in index order, with edits; on
// records copied whole, with a memo (read from its own area) and in an encrypted file.
TEST_F(ReadAheadTest, WalksAcrossWindowsInBothDirections) {
  SetLoginPromptHook([](const std::string&, std::string& password) {
    password = "walk key";
    return true;
  });
  struct Kind {
    const char* name;
    bool memo, encrypted;
  };
  for (const Kind& kind :
       {Kind{"plain", false, false}, Kind{"memo", true, false}, Kind{"encrypted", false, true}}) {
    SCOPED_TRACE(kind.name);
    path_ = dir_.File(std::string(kind.name) + ".dat");
    TDatabaseCreateOptions options;
    if (kind.encrypted) {
      options.EncryptAlgoName = "Twofish";
      options.EncryptMode = 1;
      options.Password = "walk key";
    }
    std::vector<FieldSpec> fields{{"ID", ftInteger}, {"N", ftInteger}};
    if (kind.memo) fields.push_back({"M", ftMemo});
    CreateDatabase(path_, {{"T", fields, {{"ByN", {1}, {}}}}}, options);
    TRadeTable* t = NewTable(path_, "T");
    t->Open();
    ASSERT_EQ(t->Database()->Encrypted(), kind.encrypted);
    // N descending against the record order, so the index order reads the file backwards.
    std::vector<std::vector<Variant>> rows;
    const int32_t count = 400;
    for (int32_t i = 0; i < count; ++i) {
      rows.push_back({Variant(i), Variant(count - i)});
      if (kind.memo) rows.back().push_back(Variant("m" + std::to_string(i)));
    }
    AppendRows(t, rows);
    for (const char* index : {"", "ByN"}) {
      SCOPED_TRACE(index);
      t->SetIndexName(index);
      std::vector<int32_t> forward, backward;
      for (t->First(); !t->Eof(); t->Next()) {
        forward.push_back(ID(t));
        EXPECT_EQ(N(t), count - ID(t));
        if (kind.memo) {
          EXPECT_EQ(t->FieldByName("M")->AsString(), "m" + std::to_string(ID(t)));
        }
      }
      for (t->Last(); !t->Bof(); t->Prior()) backward.push_back(ID(t));
      ASSERT_EQ(forward.size(), static_cast<size_t>(count));
      EXPECT_TRUE(std::equal(forward.begin(), forward.end(), backward.rbegin(), backward.rend()));
      for (int32_t i = 0; i < count; ++i)
        EXPECT_EQ(forward[static_cast<size_t>(i)], *index ? count - 1 - i : i) << i;
      // Turning back and forth inside and across windows.
      t->First();
      EXPECT_EQ(t->MoveBy(300), 300);
      EXPECT_EQ(t->MoveBy(-290), -290);
      EXPECT_EQ(ID(t), forward[10]);
      EXPECT_EQ(t->MoveBy(80), 80);
      EXPECT_EQ(ID(t), forward[90]);
    }
    // An edit during a walk is read back, and the walk goes on from there.
    t->SetIndexName("");
    t->First();
    t->MoveBy(20);
    t->Edit();
    t->FieldByName("N")->SetAsInteger(-1);
    t->Post();
    EXPECT_EQ(N(t), -1);
    t->Next();
    EXPECT_EQ(ID(t), 21);
    EXPECT_EQ(N(t), count - 21);
    t->Close();
  }
}

}  // namespace lanqi::test
