#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/FileLock.h"
#include "platform/FileStream.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

class FileIOTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    tdef.Name = "t";
    tdef.Fields.Add("name", ftString, 20);
    tdef.Fields.Add("n", ftInteger);
  }
  void Append(TRadeTableIO& t, const std::string& name, int32_t n) {
    auto b = Buffers(t);
    SetStr(*b, 0, name);
    SetInt(*b, 1, n);
    t.AppendRecord(*b, false, [](int32_t, int32_t, const TRecordListEntry&) {});
  }
  TTableSpec tdef;
};

TEST_F(FileIOTest, MemoryDatabaseThroughTheRegistry) {
  TMemoryStream image;
  WriteNewDatabase(image, {});
  uint32_t id = RegisterDatabaseStream(&image);
  std::string name = MemoryDatabaseName(id);
  {
    TRadeZIFileIO io(&owner);
    io.OpenFile(name, mtMemory, false);
    EXPECT_FALSE(io.ReadOnly());
    AddTables(io, {&tdef});
    TRadeTableIO t(io, "t");
    t.Acquire();
    Append(t, "x", 7);
    EXPECT_TRUE(io.IsFlushed()) << "a memory database is always flushed";
    io.Lock();  // never locked, never blocks
    io.Lock();
    io.Unlock();
  }
  EXPECT_GT(image.Size(), 3821 + 4821) << "the caller's stream holds the writes and stays alive";
  TRadeZIFileIO io(&owner);
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  io.OpenFile(lower, mtMemory, false);
  TRadeTableIO t(io, "t");
  t.Acquire();
  EXPECT_EQ(StrColumn(t, 0, 0), std::vector<std::string>{"x"});
  UnregisterDatabaseStream(id);

  for (std::string bad : {std::string(":xyz"), std::string(":"), MemoryDatabaseName(id), dir.File("db.dat"),
                          std::string(":123456789")}) {
    TRadeZIFileIO other(&owner);
    EXPECT_EQ(ErrorOf([&] { other.OpenFile(bad, mtMemory, false); }), "Invalid database name '" + bad + "'");
  }
  TMemoryStream junk;
  junk.LoadFromString("not a database at all");
  uint32_t j = RegisterDatabaseStream(&junk);
  TRadeZIFileIO other(&owner);
  EXPECT_EQ(ErrorOf([&] { other.OpenFile(MemoryDatabaseName(j), mtMemory, false); }),
            "Database file '" + MemoryDatabaseName(j) + "' is a invalid RadeZI");
  UnregisterDatabaseStream(j);
}

TEST_F(FileIOTest, LockRetriesThenTimesOut) {
  TRadeZIFileIO io(&owner);
  std::string path = MakeDb(io, {&tdef});
  // Another open of the same file holds the byte, as another program would.
  TFileStream holder(path, fmOpenReadWrite | fmShareDenyNone);
  ASSERT_TRUE(TryLockFileRange(holder.Handle(), 1, 1));
  owner.Retries = 3;
  owner.Wait = 25;
  EXPECT_EQ(ErrorOf([&] { io.Lock(); }), "Wait for unlock time out");
  EXPECT_EQ(owner.Sleeps, (std::vector<int32_t>{25, 25, 25})) << "4 attempts, 3 sleeps";

  // Without a limit the lock waits until the holder lets go.
  owner.Retries = 0;
  owner.Sleeps.clear();
  owner.OnSleep = [&] {
    if (owner.Sleeps.size() == 50) UnlockFileRange(holder.Handle(), 1, 1);
  };
  io.Lock();
  EXPECT_EQ(owner.Sleeps.size(), 50u);
  // Held now: a thread of this process through another file object is kept out too.
  TTestOwner second;
  second.Retries = 2;
  TRadeZIFileIO io2(&second);
  io2.OpenFile(path, mtDisk, false);
  std::string err;
  std::thread th([&] { err = ErrorOf([&] { io2.Lock(); }); });
  th.join();
  EXPECT_EQ(err, "Wait for unlock time out");
  io.Unlock();
  io2.Lock();
  io2.Unlock();
}

// A lock taken around several writes is kept while each write takes and releases it: another
// open stays out until the outermost holder lets go, and closing lets go at any depth.
TEST_F(FileIOTest, LockNests) {
  TRadeZIFileIO io(&owner);
  std::string path = MakeDb(io, {&tdef});
  TTestOwner second;
  second.Retries = 1;
  TRadeZIFileIO io2(&second);
  io2.OpenFile(path, mtDisk, false);
  auto otherGetsIt = [&] {
    if (!ErrorOf([&] { io2.Lock(); }).empty()) return false;
    io2.Unlock();
    return true;
  };
  {
    TFileLockGuard outer(io);
    {
      TRadeTableIO t(io, "t");
      t.Acquire();
      auto b = Buffers(t);
      SetStr(*b, 0, "a");
      t.AppendRecord(*b, true, nullptr);  // takes and releases the lock inside
      TFileLockGuard inner(io);
    }
    EXPECT_FALSE(otherGetsIt()) << "an inner release let the lock go";
    // Nesting belongs to the holding thread: another thread of this process using the same file
    // object waits like anyone else.
    owner.Retries = 1;
    std::string err;
    std::thread th([&] { err = ErrorOf([&] { TFileLockGuard g(io); }); });
    th.join();
    owner.Retries = 20;
    EXPECT_EQ(err, "Wait for unlock time out");
  }
  EXPECT_TRUE(otherGetsIt());
  io.Lock();
  io.Lock();
  io.CloseFile();
  EXPECT_TRUE(otherGetsIt()) << "closing keeps the lock";
}

TEST_F(FileIOTest, FlushStateReadOnlyAndPassword) {
  TRadeZIFileIO io(&owner);
  std::string path = MakeDb(io, {&tdef});
  io.CloseFile();
  io.OpenFile(path, mtDisk, false);
  EXPECT_TRUE(io.IsFlushed());
  EXPECT_TRUE(io.CheckPassword(""));
  EXPECT_TRUE(io.CheckPassword("anything"));
  TRadeTableIO t(io, "t");
  t.Acquire();
  Append(t, "a", 1);
  EXPECT_FALSE(io.IsFlushed());
  io.FlushFile();
  EXPECT_TRUE(io.IsFlushed());
  Append(t, "b", 2);
  EXPECT_FALSE(io.IsFlushed());
  auto b = Buffers(t);
  SetStr(*b, 0, "c");
  t.AppendRecord(*b, true, nullptr);
  EXPECT_TRUE(io.IsFlushed()) << "an append asked to flush leaves the file flushed";
  t.Release();
  io.CloseFile();
  EXPECT_FALSE(io.CheckPassword("x")) << "no stream open";

  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  TRadeZIFileIO ro(&owner);
  ro.OpenFile(path, mtDisk, false);
  EXPECT_TRUE(ro.ReadOnly());
  TRadeTableIO rt(ro, "t");
  rt.Acquire();
  EXPECT_EQ(StrColumn(rt, 0, 0), (std::vector<std::string>{"a", "b", "c"}));
  auto rb = Buffers(rt);
  EXPECT_EQ(ErrorOf([&] { rt.AppendRecord(*rb, false, nullptr); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { rt.DeleteRecord(0, false); }), "Cannot modify a read-only dataset");
}

TEST_F(FileIOTest, ShortReadsAreReported) {
  TRadeZIFileIO io(&owner);
  MakeDb(io, {&tdef});
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(ErrorOf([&] { io.ReadBytesAt(buf.data(), io.FileSize() - 10, 100); }), "Stream read error");
}

}  // namespace lanqi::test
