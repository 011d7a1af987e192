#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "crypto/HashBase.h"
#include "crypto/Hash_SHA.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

namespace {
// A valid empty database image whose version text is replaced.
std::string ImageWithVersion(const std::string& version, bool terminated = true) {
  TMemoryStream m;
  WriteNewDatabase(m, {});
  std::string s = m.ToString();
  for (int i = 7; i < 12; ++i) s[static_cast<size_t>(i)] = 0;
  std::memcpy(&s[7], version.data(), std::min<size_t>(version.size(), 5));
  if (!terminated) s[6] = 'x';
  return s;
}
}  // namespace

class FileFormatTest : public StorageTest {};

TEST_F(FileFormatTest, VersionRuleAndMagic) {
  struct {
    std::string version;
    std::string error;
  } cases[] = {
      {"2.0", ""},
      {"1.0", ""},
      {"1.5", ""},
      {"10", ""},
      {"", ""},
      {"1.00", "Version 1.00 is not compatible"},
      {"2.1", "Version of database file is too High"},
      {"2.00", "Version of database file is too High"},
  };
  for (auto& c : cases) {
    std::string path = dir.Write("v.dat", ImageWithVersion(c.version));
    TRadeZIFileIO io(&owner);
    EXPECT_EQ(ErrorOf([&] { io.OpenFile(path, mtDisk, false); }), c.error) << c.version;
    EXPECT_EQ(io.IsFileOpen(), c.error.empty());
  }
  std::string path = dir.Write("m.dat", ImageWithVersion("2.0", false));
  TRadeZIFileIO io(&owner);
  EXPECT_EQ(ErrorOf([&] { io.OpenFile(path, mtDisk, false); }),
            "Database file '" + path + "' is a invalid RadeZI");
  EXPECT_FALSE(io.IsFileOpen());
  EXPECT_EQ(ErrorOf([&] { io.OpenFile(dir.File("none.dat"), mtDisk, false); }),
            "Cannot open file " + dir.File("none.dat"));
}

TEST_F(FileFormatTest, NewFileLayout) {
  TMemoryStream plain, packed;
  WriteNewDatabase(plain, {});
  std::string p = plain.ToString();
  ASSERT_EQ(p.size(), 3821u);
  EXPECT_EQ(p.substr(0, 11), std::string("RadeZI\0"
                                         "2.0\0",
                                         11));
  EXPECT_EQ(p.find_first_not_of('\0', 11), std::string::npos) << "headers and directory are zero";

  TDatabaseCreateOptions o;
  o.Compress = true;
  o.EncryptAlgoName = "twofish";
  o.EncryptMode = 3;
  o.Password = "secret";
  WriteNewDatabase(packed, o);
  std::string s = packed.ToString();
  EXPECT_EQ(s[2317], 1);
  EXPECT_EQ(std::string(&s[2319]), "ZLIB");
  EXPECT_EQ(s[2352], 1);
  EXPECT_EQ(s[2353], 3);
  EXPECT_EQ(std::string(&s[2354]), "Twofish") << "the registered name is stored";
  EXPECT_EQ(std::string(&s[2644]), HashString<THash_SHA>("secret"));
  EXPECT_EQ(s.find("secret"), std::string::npos) << "the password itself is never stored";
}

TEST_F(FileFormatTest, TableHeaderAsWritten) {
  TRadeZIFileIO io(&owner);
  TTableSpec t{"Items"};
  t.Fields.Add("id", ftAutoInc);
  t.Fields.Add("name", ftString, 10);
  t.Fields.Add("data", ftBlob);
  t.Indexes.Add("byName", {1}, {tiUnique, tiCaseInsensitive});
  std::string path = MakeDb(io, {&t});
  std::string f = TempDir::Read(path);
  ASSERT_EQ(f.size(), 3821u + 4821u);
  EXPECT_EQ(I32(f, 2789), 1);
  EXPECT_EQ(I32(f, 2797), 3821);
  const size_t h = 3821;
  EXPECT_EQ(std::string(&f[h]), "Items");
  EXPECT_EQ(I32(f, h + 33), 0);
  EXPECT_EQ(I32(f, h + 37), 0);
  EXPECT_EQ(I32(f, h + 41), 0);
  EXPECT_EQ(I32(f, h + 45), 3);
  EXPECT_EQ(std::string(&f[h + 49 + 43]), "name");
  EXPECT_EQ(f[h + 49 + 43 + 33], ftString);
  EXPECT_EQ(I32(f, h + 49 + 43 + 34), 10);
  EXPECT_EQ(I32(f, h + 4177), 1);
  const size_t x = h + 4181;
  EXPECT_EQ(std::string(&f[x]), "byName");
  EXPECT_EQ(static_cast<uint8_t>(f[x + 33]), 0x0A);
  EXPECT_EQ(I32(f, x + 34), 1);
  EXPECT_EQ(I32(f, x + 38), -1);
  EXPECT_EQ(I32(f, x + 66), 0) << "IndexTabOffset of a table without records";
  EXPECT_EQ(I32(f, x + 70), 0) << "IndexHead of an empty index is 0";

  TRadeTableIO table(io, "ITEMS");
  table.Acquire();
  EXPECT_EQ(table.RecordSize(), 4 + 11 + 20);
  EXPECT_EQ(table.SlotOffsets(), (TIntegerAry{0, 4, 15}));
  EXPECT_EQ(table.AutoIncField(), 0);
  EXPECT_EQ(table.IndexDefs().Items(0)->FieldNumbers, TIntegerAry{1});
  TRadeTableIO missing(io, "Nope");
  EXPECT_EQ(ErrorOf([&] { missing.Acquire(); }), "Table 'Nope' not found");
  EXPECT_EQ(missing.UseCount(), 0);
}

TEST_F(FileFormatTest, WriterRefusesWhatReadersWouldNot) {
  auto fields = [](TRadeFieldDefs& f, int n) {
    f.Clear();
    for (int i = 0; i < n; ++i) f.Add("f" + std::to_string(i), ftInteger);
  };
  struct {
    const char* what;
    std::function<void(std::string&, TRadeFieldDefs&, TRadeIndexDefs&)> setup;
    const char* error;
  } cases[] = {
      {"97 fields", [&](auto&, auto& f, auto&) { fields(f, 97); },
       "Table 't' has 97 fields; at most 96 are allowed"},
      {"9 indexes",
       [](auto&, auto&, auto& x) {
         for (int i = 0; i < 9; ++i) x.Add("i" + std::to_string(i), {0});
       },
       "Table 't' has 9 indexes; at most 8 are allowed"},
      {"9 key fields",
       [&](auto&, auto& f, auto& x) {
         fields(f, 9);
         x.Add("k", {0, 1, 2, 3, 4, 5, 6, 7, 8});
       },
       "Index 'k' needs 1 to 8 key fields"},
      {"long name", [](auto& n, auto&, auto&) { n = std::string(33, 'n'); },
       "Table name 'nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn' is longer than 32 bytes"},
      {"type 8", [](auto&, auto& f, auto&) { f.Add("bcd", ftBCD); },
       "Field 'bcd' has the type code 8, which a table cannot hold"},
      {"type 24", [](auto&, auto& f, auto&) { f.Add("w", ftWideString, 4); },
       "Field 'w' has the type code 24, which a table cannot hold"},
      {"blob key",
       [](auto&, auto& f, auto& x) {
         f.Add("memo", ftMemo);
         x.Add("m", {1});
       },
       "Index 'm' is on the blob field 'memo'; blob fields cannot be indexed"},
      {"unknown field", [](auto&, auto&, auto& x) { x.Add("m", {5}); },
       "Index 'm' names the field number 5, which the table does not have"},
  };
  for (auto& c : cases) {
    std::string name = "t";
    TRadeFieldDefs f;
    fields(f, 1);
    TRadeIndexDefs x;
    c.setup(name, f, x);
    EXPECT_EQ(ErrorOf([&] { ValidateTableDefinition(name, f, x); }), c.error) << c.what;
  }
  // The 257th table.
  TRadeZIFileIO io(&owner);
  MakeDb(io, {});
  TRadeFieldDefs f;
  fields(f, 1);
  TRadeIndexDefs x;
  for (int i = 0; i < 256; ++i) AddTable(io, "t" + std::to_string(i), f, x);
  EXPECT_EQ(ErrorOf([&] { AddTable(io, "one more", f, x); }), "The database already holds 256 tables");
}

// A create is built under a temporary name and given its name only when whole: a failure while the
// tables are added leaves nothing, and a name taken meanwhile by someone else is not overwritten.
TEST_F(FileFormatTest, CreateLeavesNothingUnlessComplete) {
  TRadeFieldDefs f;
  f.Add("x", ftInteger);
  const std::string path = dir.File("new.dat");
  auto folder = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  bool sawTemporary = false;
  EXPECT_EQ(ErrorOf([&] {
              CreateDatabaseFile(path, {}, [&](TRadeZIFileIO& io) {
                AddTable(io, "a", f, {});
                sawTemporary = folder().size() == 1 && !FileExists(path);
                AddTable(io, "", f, {});
              });
            }),
            "Table name is empty");
  EXPECT_TRUE(sawTemporary);
  EXPECT_TRUE(folder().empty());

  EXPECT_EQ(ErrorOf([&] {
              CreateDatabaseFile(path, {}, [&](TRadeZIFileIO& io) {
                AddTable(io, "a", f, {});
                dir.Write("new.dat", "another program's file");
              });
            }),
            "File '" + path + "' already exists");
  EXPECT_EQ(TempDir::Read(path), "another program's file");
  EXPECT_EQ(folder(), std::vector<std::string>{"new.dat"});

  std::filesystem::remove(path);
  CreateDatabaseFile(path, {}, [&](TRadeZIFileIO& io) { AddTable(io, "a", f, {}); });
  EXPECT_EQ(folder(), std::vector<std::string>{"new.dat"});
  TRadeZIFileIO io(&owner);
  io.OpenFile(path, mtDisk, false);
  std::vector<std::string> names;
  io.GetTableNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"a"});
}

TEST_F(FileFormatTest, CorruptCountsAndOffsetsAreRefused) {
  TMemoryStream m;
  WriteNewDatabase(m, {});
  std::string base = m.ToString();
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* error;
  } cases[] = {
      {"table count",
       [](std::string& s) { TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&s[2789]), 300); },
       "table count 300 is outside 0 to 256"},
      {"header offset",
       [](std::string& s) {
         TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&s[2789]), 1);
         TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&s[2797]), 999999);
       },
       "table header 0 at offset 999999 lies outside the file"},
      {"short file", [](std::string& s) { s.resize(3000); }, "the file is shorter than its fixed headers"},
  };
  for (auto& c : cases) {
    std::string s = base;
    c.damage(s);
    std::string path = dir.Write("c.dat", s);
    TRadeZIFileIO io(&owner);
    EXPECT_EQ(ErrorOf([&] { io.OpenFile(path, mtDisk, false); }),
              "Database file '" + path + "' is corrupt: " + c.error)
        << c.what;
  }
}

TEST_F(FileFormatTest, DefinitionsNamesAndAssign) {
  TRadeFieldDefs f;
  EXPECT_EQ(f.Add()->Name, "RadeF1");
  f.Add("Title", ftString, 5);
  EXPECT_EQ(f.Add()->Name, "RadeF3");
  EXPECT_EQ(f.IndexOf("tITLE"), 1);
  EXPECT_EQ(f.IndexOf("none"), -1);
  TRadeIndexDefs x;
  TRadeIndexDef* i = x.Add();
  EXPECT_EQ(i->Name, "RadeI1");
  EXPECT_TRUE(i->Options.Empty());
  TRadeIndexDef copy;
  x.Add("k", {2, 0}, {tiDescending});
  copy.Assign(*x.Items(1));
  EXPECT_EQ(copy.FieldNumbers, (TIntegerAry{2, 0}));
  EXPECT_TRUE(copy.Options.Contains(tiDescending));
  EXPECT_EQ(ErrorOf([&] { copy.Assign(*f.Items(1)); }), "Cannot assign a TRadeFieldDef to a TRadeIndexDef");
  TRadeTableDefs t;
  EXPECT_EQ(t.Add()->Name, "");
}

}  // namespace lanqi::test
