// Batches of appends through a table component: rows numbered and checked as they are handed over,
// the view refreshed when the batch is committed, rows not written dropped with the batch.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class AppendBatchTest : public EngineTest {
 protected:
  // People with a unique index on Name, viewed in name order; rows d, b, f (IDs 1, 2, 3).
  TRadeTable* Open() {
    std::string path = PeopleFile({{"ByName", {1}, {tiUnique}}});
    TRadeTable* t = NewTable(path, "People", "People");
    t->SetIndexName("ByName");
    t->Open();
    AppendRows(t, {{Variant(), "d", 2}, {Variant(), "b", 1}, {Variant(), "f", 3}});
    return t;
  }
  static void Fill(TRadeAppendBatch& batch, const std::string& name, int32_t age) {
    TFieldBufferItem* n = batch.Row().Items(1);
    std::memset(n->Buffer, 0, static_cast<size_t>(n->BufferSize));
    std::memcpy(n->Buffer, name.data(), name.size());
    TByteBuffer::StoreInt32(batch.Row().Items(2)->Bytes(), age);
  }
};

TEST_F(AppendBatchTest, CommitShowsTheRowsInTheView) {
  TRadeTable* t = Open();
  {
    TRadeAppendBatch batch(*t);
    std::vector<int32_t> numbers;
    for (const char* name : {"c", "a", "d", "e"}) {
      Fill(batch, name, 7);
      try {
        batch.Append();
        numbers.push_back(batch.LastAutoInc());
      } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Invalid unique field value 'd'");
      }
    }
    EXPECT_EQ(numbers, (std::vector<int32_t>{4, 5, 6}));
    EXPECT_EQ(t->RecordCount(), 3) << "the view waits for the commit";
    batch.Commit();
    EXPECT_EQ(batch.Written(), 3);
  }
  EXPECT_EQ(t->RecordCount(), 6);
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"5", "2", "4", "1", "6", "3"}));
  // Written through: a fresh open sees them.
  TRadeTable* again = NewTable(t->DatabaseName(), "People");
  again->Open();
  EXPECT_EQ(again->RecordCount(), 6);
}

TEST_F(AppendBatchTest, ABatchLeftUncommittedWritesNothingAndLetsTheTableGo) {
  TRadeTable* t = Open();
  {
    TRadeAppendBatch batch(*t);
    Fill(batch, "z", 1);
    batch.Append();
  }
  EXPECT_EQ(t->RecordCount(), 3);
  AppendRows(t, {{Variant(), "y", 0}});  // the lock was given back
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 4) << "the dropped row's number is free again";
  TRadeTable* again = NewTable(t->DatabaseName(), "People");
  again->Open();
  EXPECT_EQ(Column(again, "Name"), (std::vector<std::string>{"d", "b", "f", "y"}));

  t->SetReadOnly(true);
  try {
    TRadeAppendBatch refused(*t);
    ADD_FAILURE() << "a batch on a read-only table";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Cannot modify a read-only dataset");
  }
}

}  // namespace
}  // namespace lanqi::test
