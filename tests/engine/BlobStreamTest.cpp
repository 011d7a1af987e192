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

// Posting an edited record re-encodes every blob in use, including those still waiting in their
// record buffer to be read: each state of a blob, under each kind of processing, posts and keeps
// the other blob of the record.
TEST_F(BlobStreamTest, PostEncodesBlobsInEveryLoadState) {
  struct TModules {
    const char* what;
    TDatabaseCreateOptions options;
  };
  auto opts = [](bool compress, const char* cipher, uint8_t mode) {
    TDatabaseCreateOptions o;
    o.Compress = compress;
    o.EncryptAlgoName = cipher;
    o.EncryptMode = mode;
    if (*cipher) o.Password = "pw";
    return o;
  };
  const TModules modules[] = {{"plain", opts(false, "", 0)},
                              {"ZLIB", opts(true, "", 0)},
                              {"Blowfish", opts(false, "Blowfish", 0)},
                              {"Twofish", opts(false, "Twofish", 1)},
                              {"Gost with ZLIB", opts(true, "Gost", 3)}};
  enum TState { kNeverRead, kRead, kReplaced, kCleared };
  const char* const stateNames[] = {"never read", "read", "replaced", "cleared"};
  SetLoginPromptHook([](const std::string&, std::string& password) {
    password = "pw";
    return true;
  });
  int file = 0;
  for (const TModules& m : modules) {
    for (TState state : {kNeverRead, kRead, kReplaced, kCleared}) {
      SCOPED_TRACE(std::string(m.what) + ", body " + stateNames[state]);
      std::string path = dir_.File("notes" + std::to_string(file++) + ".dat");
      CreateDatabase(path, {{"Notes", {{"Name", ftString, 10}, {"Body", ftMemo}, {"Extra", ftBlob}}, {}}},
                     m.options);
      TRadeTable* t = NewTable(path, "Notes");
      t->Open();
      t->Append();
      t->FieldByName("Name")->SetAsString("old");
      WriteBody(t, "the old body");
      {
        auto s = t->CreateBlobStream(t->FieldByName("Extra"), bmWrite);
        s->WriteBuffer("extra", 5);
      }
      t->Post();
      t->Close();
      t->Open();
      t->Edit();
      t->FieldByName("Name")->SetAsString("new");
      std::string want = "the old body";
      switch (state) {
        case kNeverRead:
          break;
        case kRead:
          EXPECT_EQ(ReadBody(t), want);
          break;
        case kReplaced:
          want = "a new body, longer than the old one and moved";
          WriteBody(t, want);
          break;
        case kCleared:
          want.clear();
          t->CreateBlobStream(t->FieldByName("Body"), bmWrite);
          break;
      }
      t->Post();
      t->Close();
      t->Open();
      EXPECT_EQ(t->FieldByName("Name")->AsString(), "new");
      EXPECT_EQ(ReadBody(t), want);
      EXPECT_EQ(t->FieldByName("Extra")->AsString(), "extra");
      t->Close();
      DestroyComponent(t);
    }
  }
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
