#include <gtest/gtest.h>

#include "engine/storage/DatabaseCheck.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

// Fields: 0 id ftAutoInc, 1 name ftString(10), 2 data ftBlob, 3 n ftInteger; index on name.
class TableIOTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    tdef.Name = "t";
    tdef.Fields.Add("id", ftAutoInc);
    tdef.Fields.Add("name", ftString, 10);
    tdef.Fields.Add("data", ftBlob);
    tdef.Fields.Add("n", ftInteger);
    tdef.Indexes.Add("byName", {1});
  }
  void Open(const TDatabaseCreateOptions& o = {}) {
    path = MakeDb(io, {&tdef}, o);
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
  }
  // Appends and returns the auto-increment value the record received.
  int32_t Append(const std::string& name, const std::string& blob = "", int32_t id = 0, int32_t n = 0) {
    auto b = Buffers(*table);
    SetInt(*b, 0, id);
    SetStr(*b, 1, name);
    SetBlob(*b, 2, blob);
    SetInt(*b, 3, n);
    table->AppendRecord(*b, false, [](int32_t, int32_t, const TRecordListEntry&) {});
    return GetInt(*b, 0);
  }
  void Reopen() {
    table.reset();
    io.CloseFile();
    io.OpenFile(path, mtDisk, false);
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
  }
  TBlobDescriptor Descriptor(int32_t recNo) {
    std::string f = TempDir::Read(path);
    int32_t off = table->RecordTab()[static_cast<size_t>(recNo)].DataOffset + table->SlotOffsets()[2];
    return TBlobDescriptor::Load(reinterpret_cast<const uint8_t*>(f.data()) + off);
  }

  TTableSpec tdef;
  TRadeZIFileIO io{&owner};
  std::string path;
  std::unique_ptr<TRadeTableIO> table;
};

TEST_F(TableIOTest, FirstAppendLayoutByteForByte) {
  Open();
  const int64_t e = io.FileSize();
  ASSERT_EQ(Append("abc", "hello"), 1);
  std::string f = TempDir::Read(path);
  const int32_t rs = table->RecordSize();
  ASSERT_EQ(rs, 4 + 11 + 20 + 4);
  // Record-tab block at E, the record at E + 5124, its blob area, then the index-tab block.
  ASSERT_EQ(static_cast<int64_t>(f.size()), e + 5124 + rs + 64 + 8196);
  EXPECT_EQ(I32(f, e), 0);
  EXPECT_EQ(I32(f, e + 4), e + 5124);
  EXPECT_EQ(f[e + 8], 0);
  EXPECT_EQ(f.find_first_not_of('\0', e + 9), static_cast<size_t>(e + 5124)) << "rest of the block is zero";
  const size_t r = static_cast<size_t>(e + 5124);
  EXPECT_EQ(I32(f, r), 1);
  EXPECT_EQ(f.substr(r + 4, 11), std::string("abc\0\0\0\0\0\0\0\0", 11));
  TBlobDescriptor d = TBlobDescriptor::Load(reinterpret_cast<const uint8_t*>(f.data()) + r + 15);
  EXPECT_EQ(d.DataOffset, r + rs);
  EXPECT_EQ(d.StoredSize, 5);
  EXPECT_EQ(d.AreaSize, 64);
  EXPECT_EQ(f.substr(static_cast<size_t>(d.DataOffset), 5), "hello");
  const size_t ib = r + static_cast<size_t>(rs) + 64;
  EXPECT_EQ(I32(f, ib), 0);
  EXPECT_EQ(I32(f, ib + 4), 0);
  EXPECT_EQ(I32(f, ib + 8), -1);
  const size_t h = 3821;
  EXPECT_EQ(I32(f, h + 33), e);
  EXPECT_EQ(I32(f, h + 37), 1);
  EXPECT_EQ(I32(f, h + 41), 1);
  EXPECT_EQ(I32(f, h + 4181 + 66), static_cast<int32_t>(ib));
  EXPECT_EQ(I32(f, h + 4181 + 70), 0);
  // A second record goes to the end: entry 1 in the block, record, area.
  Append("abd");
  f = TempDir::Read(path);
  EXPECT_EQ(I32(f, e + 4 + 5), static_cast<int32_t>(ib + 8196));
}

TEST_F(TableIOTest, BlockBoundaryAt1024) {
  Open();
  for (int i = 0; i < 1025; ++i) {
    char name[11];
    std::snprintf(name, sizeof name, "k%05d", 1024 - i);
    Append(name);
    if (i == 1023) {
      EXPECT_EQ(table->RecordTabBlocks().size(), 1u);
      EXPECT_EQ(table->IndexTabBlocks(0).size(), 1u);
    }
  }
  EXPECT_EQ(table->RecordTabBlocks().size(), 2u);
  EXPECT_EQ(table->IndexTabBlocks(0).size(), 2u);
  const int32_t second = table->RecordTabBlocks()[1];
  EXPECT_EQ(table->RecordTab()[1024].DataOffset, second + 5124) << "the record follows its new block";
  Reopen();
  ASSERT_EQ(table->RecordLists(0).size(), 1025u);
  EXPECT_FALSE(table->IndexListRebuilt(0));
  std::vector<std::string> names = StrColumn(*table, 1, 1);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(names.front(), "k00000");
  EXPECT_EQ(table->RecordLists(1).front().RecNo, 1024);
  EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
}

TEST_F(TableIOTest, StringSlotsArePaddedAndCut) {
  Open();
  auto b = Buffers(*table);
  std::memset(b->Items(1)->Buffer, 'x', 11);
  std::memcpy(b->Items(1)->Buffer, "abc\0", 4);  // garbage after the terminator
  table->AppendRecord(*b, false, nullptr);
  std::memset(b->Items(1)->Buffer, 'y', 11);  // no terminator: cut to 10 bytes
  SetInt(*b, 0, 0);
  table->AppendRecord(*b, false, nullptr);
  SetStr(*b, 1, "0123456789");
  SetInt(*b, 0, 0);
  table->AppendRecord(*b, false, nullptr);
  std::string f = TempDir::Read(path);
  auto slot = [&](int r) { return f.substr(static_cast<size_t>(table->RecordTab()[r].DataOffset + 4), 11); };
  EXPECT_EQ(slot(0), std::string("abc\0\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(slot(1), std::string("yyyyyyyyyy\0", 11));
  EXPECT_EQ(slot(2), std::string("0123456789\0", 11));
}

TEST_F(TableIOTest, BlobAreasInPlaceExtendedAndMoved) {
  Open();
  struct {
    int32_t stored, area;
  } sizes[] = {{0, 64}, {64, 128}, {100, 128}, {128, 192}, {200, 256}};
  for (auto& s : sizes) {
    Append("b" + std::to_string(s.stored), std::string(static_cast<size_t>(s.stored), 'q'));
    TBlobDescriptor d = Descriptor(static_cast<int32_t>(table->RecordTab().size()) - 1);
    EXPECT_EQ(d.StoredSize, s.stored);
    EXPECT_EQ(d.AreaSize, s.area) << s.stored;
  }
  // Record 2 holds 100 bytes in an area of 128; it is not the last thing in the file.
  auto modifyBlob = [&](int32_t recNo, const std::string& data) {
    auto b = Buffers(*table);
    for (int i = 0; i < 4; ++i) b->Items(i)->InUse = i == 2;
    SetBlob(*b, 2, data);
    table->ModifyRecord(*b, table->FindPhysicalPos(table->RecordLists(0), recNo), nullptr, false);
  };
  TBlobDescriptor before = Descriptor(2);
  modifyBlob(2, std::string(100, 'r'));
  EXPECT_EQ(Descriptor(2).DataOffset, before.DataOffset) << "fits: rewritten in place";
  EXPECT_EQ(Descriptor(2).AreaSize, 128);
  int64_t end = io.FileSize();
  modifyBlob(2, std::string(200, 's'));
  EXPECT_EQ(Descriptor(2).DataOffset, end) << "too big and not last: moved to the end";
  EXPECT_EQ(Descriptor(2).AreaSize, 256);
  EXPECT_EQ(io.FileSize(), end + 256);
  // Now its area is last in the file: growing it extends in place.
  modifyBlob(2, std::string(300, 't'));
  EXPECT_EQ(Descriptor(2).DataOffset, end);
  EXPECT_EQ(Descriptor(2).AreaSize, 320);
  EXPECT_EQ(io.FileSize(), end + 320);
  // The other fields were not in use and kept their values; the blob reads back lazily.
  auto b = Buffers(*table);
  table->LoadRecord(*b, table->RecordLists(0), 2);
  EXPECT_EQ(GetStr(*b, 1), "b100");
  auto* lazy = dynamic_cast<TStorageBlobStream*>(b->Items(2)->BlobStream());
  ASSERT_NE(lazy, nullptr);
  EXPECT_FALSE(lazy->Loaded());
  EXPECT_EQ(GetBlob(*b, 2), std::string(300, 't'));
}

TEST_F(TableIOTest, AutoIncrementCounter) {
  Open();
  for (int i = 0; i < 5; ++i) Append("a" + std::to_string(i));
  EXPECT_EQ(table->TableHeader().AutoIncCounter(), 5);
  EXPECT_EQ(Append("x"), 6);
  EXPECT_EQ(Append("y", "", 10), 10);
  EXPECT_EQ(table->TableHeader().AutoIncCounter(), 10);
  EXPECT_EQ(Append("z", "", 3), 3);
  EXPECT_EQ(table->TableHeader().AutoIncCounter(), 10);
  // Modify with 0 keeps the stored number; a higher one raises the counter on disk at once.
  auto b = Buffers(*table);
  SetStr(*b, 1, "x2");
  table->ModifyRecord(*b, 5, nullptr, false);
  auto r = Buffers(*table);
  table->LoadRecord(*r, table->RecordLists(0), 5);
  EXPECT_EQ(GetInt(*r, 0), 6);
  SetInt(*b, 0, 40);
  table->ModifyRecord(*b, 5, nullptr, false);
  EXPECT_EQ(I32(TempDir::Read(path), 3821 + 41), 40);
  Reopen();
  EXPECT_EQ(Append("w"), 41);
}

TEST_F(TableIOTest, DeleteLeavesBytesAndNumbers) {
  Open();
  Append("beta");
  Append("alpha");
  Append("gamma");
  const std::string before = TempDir::Read(path);
  table->DeleteRecord(1, false);  // alpha, record 1
  const std::string after = TempDir::Read(path);
  ASSERT_EQ(before.size(), after.size());
  // The deleted flag, and the change count that tells other programs to reload.
  const size_t flag = static_cast<size_t>(table->RecordTabBlocks()[0] + 4 + 5 + 4);
  const size_t count = static_cast<size_t>(io.TableHeaderOffset(0) + kThChangeCount);
  std::vector<size_t> diff;
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) diff.push_back(i);
  EXPECT_EQ(diff, (std::vector<size_t>{count, flag})) << "only the flag and the count's low byte change";
  EXPECT_EQ(after[flag], 1);
  EXPECT_EQ(table->TableHeader().ChangeCount(), 1);
  EXPECT_EQ(table->TableHeader().RecordTabCount(), 3);
  EXPECT_EQ(StrColumn(*table, 1, 1), (std::vector<std::string>{"beta", "gamma"}));
  Append("delta");
  EXPECT_EQ(table->RecordLists(0).back().RecNo, 3);
  Reopen();
  EXPECT_EQ(StrColumn(*table, 1, 1), (std::vector<std::string>{"beta", "delta", "gamma"}));
  EXPECT_FALSE(table->IndexListRebuilt(0)) << "the chain still passes through the deleted record";
  EXPECT_EQ(table->TableHeader().IndexHead(0), 1) << "alpha heads the chain on disk";
}

TEST_F(TableIOTest, CompressedAndEncryptedRoundTrips) {
  struct TCase {
    bool compress;
    std::string cipher;
    uint8_t mode;
  };
  std::vector<TCase> cases = {{true, "", 0}};
  for (const char* c : {"Blowfish", "Twofish", "Gost"})
    for (uint8_t m = 0; m <= 4; ++m) cases.push_back({m % 2 == 0, c, m});
  const std::string big(3000, 'z');
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.cipher + " mode " + std::to_string(c.mode) + (c.compress ? " compressed" : ""));
    TDatabaseCreateOptions o;
    o.Compress = c.compress;
    o.EncryptAlgoName = c.cipher;
    o.EncryptMode = c.mode;
    o.Password = "pw";
    o.VerifyWrites = true;
    table.reset();
    io.CloseFile();
    std::remove(dir.File("db.dat").c_str());
    Open(o);
    Append("beta", big);
    Append("alpha", "x");
    Append("gamma", "");
    std::string f = TempDir::Read(path);
    // ECB leaves a final partial block as it is, so a slot shorter than the cipher's block stays
    // readable in that mode; every other mode hides it.
    if (!c.cipher.empty() && c.mode != 4) {
      EXPECT_EQ(f.find("alpha"), std::string::npos) << "text slots are encrypted";
    }
    if (c.compress) {
      EXPECT_LT(Descriptor(0).StoredSize, 100) << "3000 equal bytes shrink";
    }
    // Reopen: a wrong password is refused, the right one reads everything back in key order.
    table.reset();
    io.CloseFile();
    io.OpenFile(path, mtDisk, false);
    EXPECT_EQ(io.CheckPassword("wrong"), c.cipher.empty());
    EXPECT_TRUE(io.CheckPassword("pw"));
    table = std::make_unique<TRadeTableIO>(io, "t");
    table->Acquire();
    EXPECT_EQ(StrColumn(*table, 1, 1), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    auto b = Buffers(*table);
    table->LoadRecord(*b, table->RecordLists(0), 0);
    EXPECT_EQ(GetBlob(*b, 2), big);
    EXPECT_EQ(GetInt(*b, 0), 1);
    EXPECT_TRUE(CheckDatabase(io, false).Violations.empty());
  }
}

TEST_F(TableIOTest, IncompressibleBlobIsStoredWithNegativeLength) {
  TDatabaseCreateOptions o;
  o.Compress = true;
  Open(o);
  Append("a", "0123456789");
  TBlobDescriptor d = Descriptor(0);
  EXPECT_EQ(d.StoredSize, 14);
  EXPECT_EQ(d.AreaSize, 64);
  std::string f = TempDir::Read(path);
  EXPECT_EQ(I32(f, static_cast<size_t>(d.DataOffset)), -10);
  EXPECT_EQ(f.substr(static_cast<size_t>(d.DataOffset) + 4, 10), "0123456789");
}

// A stream that garbles what is read back from one region, so the read-back check never matches.
class TGarblingStream : public TMemoryStream {
 public:
  int32_t Read(void* buffer, int32_t count) override {
    int64_t pos = Position();
    int32_t n = TMemoryStream::Read(buffer, count);
    if (GarbleFrom > 0 && pos >= GarbleFrom) {
      static_cast<uint8_t*>(buffer)[0] ^= 0xFF;
      ++GarbledReads;
    }
    return n;
  }
  int64_t GarbleFrom = 0;
  int GarbledReads = 0;
};

TEST_F(TableIOTest, ReadBackCheckGivesUpAfterThreePasses) {
  TGarblingStream image;
  TDatabaseCreateOptions o;
  o.VerifyWrites = true;
  WriteNewDatabase(image, o);
  uint32_t id = RegisterDatabaseStream(&image);
  io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
  AddTables(io, {&tdef});
  table = std::make_unique<TRadeTableIO>(io, "t");
  table->Acquire();
  Append("ok", "fine");  // working stream: one write, one read back
  image.GarbleFrom = image.Size() + table->RecordSize();
  EXPECT_EQ(ErrorOf([&] { Append("bad", "data"); }), "Blob write verification failed");
  EXPECT_EQ(image.GarbledReads, 3);
  EXPECT_EQ(table->RecordLists(0).size(), 1u) << "the failed record was not added";
  table.reset();
  io.CloseFile();
  UnregisterDatabaseStream(id);
}

}  // namespace lanqi::test

namespace lanqi::test {

TEST_F(TableIOTest, CorruptTablesFailCleanly) {
  TDatabaseCreateOptions o;
  o.Compress = true;
  Open(o);
  Append("a", std::string(500, 'x'));
  Append("b", "yy");
  Append("c");
  const int32_t rec1 = table->RecordTab()[1].DataOffset;
  const int32_t tab = table->RecordTabBlocks()[0];
  const int32_t blob0 = Descriptor(0).DataOffset;
  table.reset();
  io.CloseFile();
  const std::string good = TempDir::Read(path);
  const size_t h = 3821;
  auto put = [](std::string& s, size_t off, int32_t v) {
    TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&s[off]), v);
  };
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string error;  // after "is corrupt: ", or the whole text when it starts with '='
  } cases[] = {
      {"field count", [&](std::string& s) { put(s, h + 45, 200); }, "table 't' has a field count of 200"},
      {"index count", [&](std::string& s) { put(s, h + 4177, 9); }, "table 't' has an index count of 9"},
      {"type code", [&](std::string& s) { s[h + 49 + 43 + 33] = 8; }, "=General error"},
      {"key field", [&](std::string& s) { put(s, h + 4181 + 34, 50); },
       "index 'byName' of table 't' names the field number 50"},
      {"record count", [&](std::string& s) { put(s, h + 37, 1000000); },
       "record-tab count 1000000 needs more blocks than the file holds"},
      {"record-tab offset", [&](std::string& s) { put(s, h + 33, 77); },
       "record-tab block 0 at offset 77 lies outside the file"},
      {"record offset", [&](std::string& s) { put(s, static_cast<size_t>(tab) + 4 + 5, 2000000000); },
       "record 1 of table 't' lies outside the file"},
      {"blob offset", [&](std::string& s) { put(s, static_cast<size_t>(rec1) + 15, 2000000000); },
       "a blob descriptor at offset " + std::to_string(rec1 + 15) + " points outside the file"},
      {"packed length", [&](std::string& s) { put(s, static_cast<size_t>(blob0), 2000000000); },
       "a compressed blob of 1"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string s = good;
    c.damage(s);
    dir.Write("db.dat", s);
    std::string err;
    try {
      io.OpenFile(path, mtDisk, false);
      TRadeTableIO t(io, "t");
      t.Acquire();
      for (int32_t p = 0; p < 3; ++p) {
        auto b = Buffers(t);
        t.LoadRecord(*b, t.RecordLists(1), p);
        GetBlob(*b, 2);
      }
    } catch (const EDatabaseError& e) {
      err = e.what();
    }
    io.CloseFile();
    if (c.error[0] == '=') {
      EXPECT_EQ(err, c.error.substr(1));
    } else {
      const std::string prefix = "Database file '" + path + "' is corrupt: ";
      EXPECT_EQ(err.substr(0, prefix.size() + c.error.size()), prefix + c.error);
    }
  }
}

}  // namespace lanqi::test

namespace lanqi::test {

TEST_F(TableIOTest, CheckReportsUnreadableBlobsAndLowCounter) {
  TDatabaseCreateOptions o;
  o.Compress = true;
  Open(o);
  Append("a", std::string(500, 'x'));
  Append("b", "", 7);
  const int32_t blob = Descriptor(0).DataOffset;
  table.reset();
  io.CloseFile();
  std::string s = TempDir::Read(path);
  s[static_cast<size_t>(blob + 4)] ^= 0x5A;  // the zlib stream's header
  TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&s[3821 + 41]), 3);
  dir.Write("db.dat", s);
  io.OpenFile(path, mtDisk, false);
  TCheckResult r = CheckDatabase(io, true);
  ASSERT_EQ(r.Violations.size(), 2u);
  EXPECT_EQ(r.Violations[0], "table 't', record 0, field 'data': the blob cannot be read: error");
  EXPECT_EQ(r.Violations[1], "table 't': AutoIncCounter 3 is below the stored value 7");
  EXPECT_TRUE(r.Repairs.empty()) << "repair rewrites index chains only";
}

}  // namespace lanqi::test
