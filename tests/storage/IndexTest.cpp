#include <gtest/gtest.h>

#include "engine/storage/DatabaseCheck.h"
#include "engine/values/CompareValues.h"
#include "platform/CodePage.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

// Fields: 0 name ftString(10), 1 n ftInteger, 2 at ftDateTime.
class IndexTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    tdef.Name = "t";
    tdef.Fields.Add("name", ftString, 10);
    tdef.Fields.Add("n", ftInteger);
    tdef.Fields.Add("at", ftDateTime);
  }
  void Open() {
    path = MakeDb(io, {&tdef});
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
  }
  void Reopen() {
    table.reset();
    io.CloseFile();
    io.OpenFile(path, mtDisk, false);
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
  }
  void Append(const std::string& name, int32_t n = 0, double at = 0) {
    auto b = Buffers(*table);
    SetStr(*b, 0, name);
    SetInt(*b, 1, n);
    SetDouble(*b, 2, at);
    table->AppendRecord(*b, false, [&](int32_t k, int32_t p, const TRecordListEntry&) {
      inserts.push_back({k, p});
    });
  }
  // The records of index k in the order of its stored chain, from IndexHead.
  std::vector<int32_t> Chain(int32_t k) {
    std::string f = TempDir::Read(path);
    TTableHeader h;
    std::memcpy(h.Image().Data(), f.data() + io.TableHeaderOffset(0), kTableHeaderSize);
    std::vector<int32_t> out;
    int32_t cur = h.IndexHead(k);
    for (int i = 0; cur != -1 && i < h.RecordTabCount(); ++i) {
      out.push_back(cur);
      cur = I32(f, static_cast<size_t>(IndexTabEntryPos(table->IndexTabBlocks(k), cur)) + 4);
    }
    out.push_back(cur);
    return out;
  }
  TTableSpec tdef;
  TRadeZIFileIO io{&owner};
  std::string path;
  std::unique_ptr<TRadeTableIO> table;
  std::vector<std::pair<int32_t, int32_t>> inserts;
};

TEST_F(IndexTest, ChainOrderAndDescending) {
  tdef.Indexes.Add("asc", {0});
  tdef.Indexes.Add("desc", {0}, {tiDescending});
  Open();
  Append("beta");
  Append("alpha");
  Append("gamma");
  EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"alpha", "beta", "gamma"}));
  EXPECT_EQ(StrColumn(*table, 2, 0), (std::vector<std::string>{"gamma", "beta", "alpha"}));
  EXPECT_EQ(Chain(0), (std::vector<int32_t>{1, 0, 2, -1})) << "alpha -> beta -> gamma";
  EXPECT_EQ(table->TableHeader().IndexHead(0), 1);
  EXPECT_EQ(Chain(1), (std::vector<int32_t>{2, 0, 1, -1}));
  // The callbacks: list 0 first, then each index with its insertion position.
  EXPECT_EQ(inserts, (std::vector<std::pair<int32_t, int32_t>>{
                         {-1, -1}, {0, 0}, {1, 0}, {-1, -1}, {0, 0}, {1, 1}, {-1, -1}, {0, 2}, {1, 0}}));
  Reopen();
  EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"alpha", "beta", "gamma"}));
  EXPECT_EQ(StrColumn(*table, 2, 0), (std::vector<std::string>{"gamma", "beta", "alpha"}));
  EXPECT_FALSE(table->IndexListRebuilt(0));
  EXPECT_EQ(table->PrimaryIndex(), -1);
}

TEST_F(IndexTest, UniqueViolationsNameTheKey) {
  tdef.Indexes.Add("plain", {1});
  tdef.Indexes.Add("one", {0}, {tiUnique});
  tdef.Indexes.Add("two", {0, 1}, {tiPrimary});
  Open();
  EXPECT_EQ(table->PrimaryIndex(), 2);
  Append("beta", 2);
  const std::string before = TempDir::Read(path);
  EXPECT_EQ(ErrorOf([&] { Append("beta", 3); }), "Invalid unique field value 'beta'");
  EXPECT_EQ(TempDir::Read(path), before) << "nothing is written";
  Append("gamma", 2);
  EXPECT_EQ(ErrorOf([&] { Append("gamma", 2); }), "Invalid unique field value 'gamma'");
  // A modify that keeps its key passes; one that takes another's key fails.
  auto b = Buffers(*table);
  SetStr(*b, 0, "beta");
  SetInt(*b, 1, 2);
  table->ModifyRecord(*b, 0, nullptr, false);
  SetStr(*b, 0, "gamma");
  EXPECT_EQ(ErrorOf([&] { table->ModifyRecord(*b, 0, nullptr, false); }),
            "Invalid unique field value 'gamma'");
}

TEST_F(IndexTest, TwoFieldKeyText) {
  tdef.Indexes.Add("two", {0, 1}, {tiUnique});
  Open();
  Append("beta", 2);
  Append("beta", 3);
  EXPECT_EQ(ErrorOf([&] { Append("beta", 2); }), "Invalid unique field value 'beta,2'");
}

// Rows to be written together are checked against each other under each unique index's own rules;
// the pair found is where appending them one by one would first be refused, with the same text.
TEST_F(IndexTest, UniqueAmongRowsAgreesWithAppendingThemInTurn) {
  struct TRow {
    std::string name;
    int32_t n;
    double at;
  };
  const double t = 738000.0 * MSecsPerDay + 1000;
  struct {
    const char* what;
    TIntegerAry fields;
    TRDIndexOptions options;
    std::vector<TRow> rows;
    int32_t first, second;  // -1: no clash
    const char* error;
  } cases[] = {
      {"case-insensitive",
       {0},
       {tiUnique, tiCaseInsensitive},
       {{"Beta", 1, 0}, {"alpha", 2, 0}, {"BETA", 3, 0}},
       0,
       2,
       "Invalid unique field value 'BETA'"},
      {"case-sensitive", {0}, {tiUnique}, {{"Beta", 1, 0}, {"BETA", 1, 0}}, -1, -1, ""},
      {"two fields",
       {0, 1},
       {tiPrimary},
       {{"a", 1, 0}, {"a", 2, 0}, {"b", 1, 0}, {"a", 2, 0}},
       1,
       3,
       "Invalid unique field value 'a,2'"},
      {"earliest pair, descending",
       {1},
       {tiUnique, tiDescending},
       {{"a", 3, 0}, {"b", 1, 0}, {"c", 2, 0}, {"d", 1, 0}, {"e", 3, 0}},
       1,
       3,
       "Invalid unique field value '1'"},
      {"a run of three",
       {1},
       {tiUnique},
       {{"a", 5, 0}, {"b", 5, 0}, {"c", 5, 0}},
       0,
       1,
       "Invalid unique field value '5'"},
      {"not unique", {0}, {}, {{"a", 1, 0}, {"a", 1, 0}}, -1, -1, ""},
      {"within a second", {2}, {tiUnique}, {{"a", 1, t}, {"b", 2, t + 400}}, 0, 1, nullptr},
  };
  int made = 0;
  for (auto& c : cases) {
    TTableSpec tdef;
    tdef.Name = "t";
    tdef.Fields.Add("name", ftString, 10);
    tdef.Fields.Add("n", ftInteger);
    tdef.Fields.Add("at", ftDateTime);
    tdef.Indexes.Add("k", c.fields, c.options);
    TRadeZIFileIO cio(&owner);
    MakeDb(cio, {&tdef}, {}, "among" + std::to_string(made++) + ".dat");
    TRadeTableIO ct(cio, "t");
    ct.Acquire();
    std::vector<std::unique_ptr<TFieldBuffers>> owned;
    std::vector<TFieldBuffers*> rows;
    for (const TRow& r : c.rows) {
      owned.push_back(Buffers(ct));
      SetStr(*owned.back(), 0, r.name);
      SetInt(*owned.back(), 1, r.n);
      SetDouble(*owned.back(), 2, r.at);
      rows.push_back(owned.back().get());
    }
    int32_t first = 7, second = 7;
    std::string error = ErrorOf([&] { ct.CheckUniqueAmong(rows, first, second); });
    EXPECT_EQ(first, c.first) << c.what;
    EXPECT_EQ(second, c.second) << c.what;
    if (c.error) {
      EXPECT_EQ(error, c.error) << c.what;
    }
    EXPECT_EQ(ct.RecordLists(0).size(), 0u) << c.what << ": nothing is written";
    // The oracle: append in turn.
    std::string appendError;
    int32_t refused = -1;
    for (size_t i = 0; i < rows.size() && refused < 0; ++i) {
      appendError = ErrorOf([&] { ct.AppendRecord(*rows[i], false, nullptr); });
      if (!appendError.empty()) refused = static_cast<int32_t>(i);
    }
    EXPECT_EQ(refused, c.second) << c.what;
    EXPECT_EQ(appendError, error) << c.what;
  }
}

TEST_F(IndexTest, DateTimesWithinASecondAreEqual) {
  tdef.Indexes.Add("at", {2}, {tiUnique});
  Open();
  const double t = 738000.0 * MSecsPerDay + 1000;
  Append("a", 0, t);
  EXPECT_EQ(ErrorOf([&] { Append("b", 0, t + 400); }).substr(0, 28), "Invalid unique field value '");
  Append("c", 0, t + 1000);
}

TEST_F(IndexTest, MovingTheFirstRecordLast) {
  tdef.Indexes.Add("byName", {0});
  Open();
  Append("b");
  Append("a");
  Append("c");
  ASSERT_EQ(Chain(0), (std::vector<int32_t>{1, 0, 2, -1}));
  std::vector<std::tuple<int32_t, int32_t, int32_t>> moves;
  auto b = Buffers(*table);
  SetStr(*b, 0, "z");
  b->Items(1)->InUse = false;
  b->Items(2)->InUse = false;
  table->ModifyRecord(
      *b, 1, [&](int32_t k, int32_t o, int32_t n) { moves.emplace_back(k, o, n); }, false);
  EXPECT_EQ(moves, (std::vector<std::tuple<int32_t, int32_t, int32_t>>{{0, 0, 3}}));
  EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"b", "c", "z"}));
  EXPECT_EQ(Chain(0), (std::vector<int32_t>{0, 2, 1, -1}));
  EXPECT_EQ(table->TableHeader().IndexHead(0), 0);
  // And back to the front.
  SetStr(*b, 0, "0");
  moves.clear();
  table->ModifyRecord(
      *b, 1, [&](int32_t k, int32_t o, int32_t n) { moves.emplace_back(k, o, n); }, false);
  EXPECT_EQ(moves, (std::vector<std::tuple<int32_t, int32_t, int32_t>>{{0, 2, 0}}));
  EXPECT_EQ(Chain(0), (std::vector<int32_t>{1, 0, 2, -1}));
  Reopen();
  EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"0", "b", "c"}));
  EXPECT_FALSE(table->IndexListRebuilt(0));
}

TEST_F(IndexTest, SearchesAndConversions) {
  tdef.Indexes.Add("byName", {0});
  Open();
  for (const char* s : {"abd", "b", "ab", "aa", "abc"}) Append(s);
  // List order: aa ab abc abd b.
  auto key = Buffers(*table);
  SetStr(*key, 0, "ab");
  TKeySearchResult result;
  const TRecordList& l = table->RecordLists(1);
  EXPECT_EQ(table->SearchIndexBound(*key, l, 0, true, result, 0, true), 1);
  EXPECT_EQ(result, TKeySearchResult::Found);
  EXPECT_EQ(table->SearchIndexBound(*key, l, 0, false, result, 0, true), 3);
  EXPECT_EQ(table->SearchIndexBound(*key, l, 0, false, result, 0, false), 1) << "whole-text compare: only ab";
  SetStr(*key, 0, "abb");
  table->SearchIndex(*key, l, false, 0, result, 0);
  EXPECT_NE(result, TKeySearchResult::Found);
  EXPECT_EQ(table->FindInsertPos(*key, 0), 2);
  TRecordList empty;
  EXPECT_EQ(table->SearchIndex(*key, empty, false, 0, result, 0), -1);
  EXPECT_EQ(result, TKeySearchResult::Empty);
  // Record numbers: abd 0, b 1, ab 2, aa 3, abc 4.
  EXPECT_EQ(table->ConvertListPos(0, 0, -1), 3);
  EXPECT_EQ(table->ConvertListPos(-1, 3, 0), 0);
  EXPECT_EQ(table->ConvertListPos(0, 9, -1), -1);
  EXPECT_EQ(table->ConvertListPos(0, 2, 0), 2);
  EXPECT_EQ(table->FindPhysicalPos(l, 4), 1);
  EXPECT_EQ(table->ConvertListPos(table->RecordLists(0), 0, 1), 2);
}

TEST_F(IndexTest, SortKeyRouteAgreesWithCompareValues) {
  tdef.Indexes.Add("cs", {0});
  tdef.Indexes.Add("ci", {0}, {tiCaseInsensitive});
  tdef.Fields.Items(0)->DataSize = 10;
  Open();
  std::vector<std::string> words = {"b",   "B",   "a", "A", "ab", "aB", "Ab", "",
                                    "a-b", "ab ", "é", "e", "Z",  "10", "9"};
  words.push_back(Ansi(u8"中文"));
  words.push_back(Ansi(u8"中"));
  for (const std::string& w : words) Append(w);
  for (int32_t k = 0; k < 2; ++k) {
    const bool ci = k == 1;
    const TRecordList& l = table->RecordLists(k + 1);
    std::vector<std::string> order = StrColumn(*table, k + 1, 0);
    for (size_t i = 1; i < order.size(); ++i) {
      std::string a = order[i - 1], b = order[i];
      a.resize(11, '\0');
      b.resize(11, '\0');
      EXPECT_LE(CompareValues(a.data(), 11, b.data(), 11, ftString, false, ci), 0)
          << order[i - 1] << " " << order[i];
    }
    for (const std::string& w : words) {
      std::string kw = w;
      kw.resize(11, '\0');
      auto key = Buffers(*table);
      SetStr(*key, 0, w);
      for (size_t p = 0; p < l.size(); ++p) {
        auto r = Buffers(*table);
        table->LoadRecord(*r, l, static_cast<int32_t>(p));
        std::string rv(static_cast<const char*>(r->Items(0)->Buffer), 11);
        int want = CompareValues(kw.data(), 11, rv.data(), 11, ftString, false, ci);
        TKeySearchResult result;
        TRecordList one{l[p]};
        table->SearchIndex(*key, one, false, 0, result, k);
        // Against a single entry the result is the sign of the comparison.
        EXPECT_EQ(static_cast<int>(result), want) << w << " vs " << GetStr(*r, 0) << (ci ? " ci" : "");
      }
    }
  }
}

TEST_F(IndexTest, DamagedChainIsRebuiltReportedAndRepaired) {
  tdef.Indexes.Add("byName", {0});
  Open();
  for (const char* s : {"d", "b", "a", "c"}) Append(s);
  // Make the chain loop: a -> b -> a.
  table.reset();
  io.CloseFile();
  {
    std::string f = TempDir::Read(path);
    TRadeZIFileIO tmp(&owner);
    tmp.OpenFile(path, mtDisk, false);
    TRadeTableIO t(tmp, "t");
    t.Acquire();
    size_t bPos = static_cast<size_t>(IndexTabEntryPos(t.IndexTabBlocks(0), 1)) + 4;
    TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&f[bPos]), 2);
    t.Release();
    tmp.CloseFile();
    dir.Write("db.dat", f);
  }
  io.OpenFile(path, mtDisk, false);
  table = std::make_unique<TRadeTableIO>(io, "t");
  table->Acquire();
  EXPECT_TRUE(table->IndexListRebuilt(0));
  EXPECT_EQ(StrColumn(*table, 1, 0), (std::vector<std::string>{"a", "b", "c", "d"}))
      << "sorted from the records";
  table.reset();
  TCheckResult r = CheckDatabase(io, false);
  ASSERT_EQ(r.Violations.size(), 1u);
  EXPECT_EQ(r.Violations[0],
            "table 't', index 'byName': the stored chain does not visit every live record exactly once");
  r = CheckDatabase(io, true);
  EXPECT_TRUE(r.Violations.empty());
  EXPECT_EQ(r.Repairs.size(), 1u);
  Reopen();
  EXPECT_FALSE(table->IndexListRebuilt(0));
  EXPECT_EQ(Chain(0), (std::vector<int32_t>{2, 1, 3, 0, -1}));
  Append("bb");
  EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
}

}  // namespace lanqi::test
