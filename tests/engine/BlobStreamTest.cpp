// Blob streams: lazy loading of a record buffer's blob, and the caller's stream in each mode.
#include <gtest/gtest.h>

#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class BlobStreamTest : public EngineTest {
 protected:
  TRadeTable* OpenNotes() {
    std::string path = dir_.File("notes.dat");
    CreateDatabase(path, {{"Notes", {{"Name", ftString, 10}, {"Body", ftMemo}}, {}}});
    TRadeTable* t = NewTable(path, "Notes");
    t->Open();
    return t;
  }
  static void WriteBody(TRadeTable* t, const std::string& bytes) {
    std::unique_ptr<TStream> s = t->CreateBlobStream(t->FieldByName("Body"), bmWrite);
    s->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  static std::string ReadBody(TRadeTable* t) { return t->FieldByName("Body")->AsString(); }
};

TEST_F(BlobStreamTest, RecordReadLeavesTheBlobUnreadUntilUsed) {
  TRadeTable* t = OpenNotes();
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  t->Append();
  t->FieldByName("Name")->SetAsString("big");
  WriteBody(t, big);
  t->Post();
  t->Close();
  t->Open();
  TOptimBlobStream* slot = t->SlotBlobStream(t->CurrentBuffer(), t->FieldByName("Body"));
  ASSERT_NE(slot, nullptr);
  EXPECT_NE(slot->DataPosition(), 0);
  EXPECT_FALSE(slot->Loaded());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "big");
  EXPECT_FALSE(slot->Loaded());
  EXPECT_EQ(ReadBody(t), big);
  EXPECT_TRUE(slot->Loaded());
  // Plain value access to a blob field is refused.
  try {
    uint8_t b[4];
    t->FieldByName("Body")->GetData(b);
    FAIL() << "read";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "General error");
  }
}

TEST_F(BlobStreamTest, ModesOfTheCallersStream) {
  TRadeTable* t = OpenNotes();
  t->Append();
  WriteBody(t, "some text");
  t->Post();
  t->Edit();
  {
    // Write mode truncates at once.
    auto s = t->CreateBlobStream(t->FieldByName("Body"), bmWrite);
    EXPECT_EQ(ReadBody(t), "");
  }
  {
    auto s = t->CreateBlobStream(t->FieldByName("Body"), bmReadWrite);
    s->WriteBuffer("abc", 3);
    s->WriteBuffer("def", 3);
  }
  EXPECT_TRUE(t->Modified());
  t->Post();
  EXPECT_EQ(ReadBody(t), "abcdef");
  t->Edit();
  {
    // Read mode: the content is there, writes stay in the caller's stream.
    auto s = t->CreateBlobStream(t->FieldByName("Body"), bmRead);
    EXPECT_EQ(s->Size(), 6);
    s->SetPosition(6);
    s->WriteBuffer("ghi", 3);
  }
  t->Post();
  EXPECT_EQ(ReadBody(t), "abcdef");
  t->Close();
  t->Open();
  EXPECT_EQ(ReadBody(t), "abcdef");
}

TEST_F(BlobStreamTest, OnlyTablesHaveBlobStreams) {
  TDataSet other;
  TField field(&other, "X", ftBlob, 0, fkData);
  try {
    TRadeBlobStream s(&field, bmRead);
    FAIL() << "made";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Invalid class typecast");
  }
}

}  // namespace
}  // namespace lanqi::test
