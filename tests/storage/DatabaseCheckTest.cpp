// The integrity check against damage that the table readers would trip over: the directory, names,
// definitions and the text stored in records. A file the check passes must read whole; a repair
// reports success only on a file that then checks clean.
#include <gtest/gtest.h>

#include "engine/storage/DatabaseCheck.h"
#include "platform/CodePage.h"
#include "rtl/Exceptions.h"
#include "tests/storage/StorageFixture.h"

namespace lanqi::test {

namespace {
// items: 0 name ftString(10) unique, 1 n ftInteger, 2 memo ftMemo; notes: 0 title ftString(10).
struct TTwoTables {
  TTableSpec items, notes;
  TTwoTables() {
    items.Name = "items";
    items.Fields.Add("name", ftString, 10);
    items.Fields.Add("n", ftInteger);
    items.Fields.Add("memo", ftMemo);
    items.Indexes.Add("byName", {0}, {tiUnique});
    notes.Name = "notes";
    notes.Fields.Add("title", ftString, 10);
  }
};

void PutI32(std::string& f, size_t at, int32_t v) {
  TByteBuffer::StoreInt32(reinterpret_cast<uint8_t*>(&f[at]), v);
}
void PutName(std::string& f, size_t at, const std::string& name) {
  std::memset(&f[at], 0, static_cast<size_t>(kNameSize));
  std::memcpy(&f[at], name.data(), name.size());
}
}  // namespace

class DatabaseCheckTest : public StorageTest {
 protected:
  // A file of two tables with three items and one note; returns the offsets of the two headers.
  std::pair<int32_t, int32_t> Make(const TDatabaseCreateOptions& o = {}) {
    TRadeZIFileIO io(&owner);
    path = MakeDb(io, {&defs.items, &defs.notes}, o);
    {
      TRadeTableIO t(io, "items");
      t.Acquire();
      for (const char* name : {"alpha", "beta", "gamma"}) {
        auto b = Buffers(t);
        SetStr(*b, 0, name);
        SetInt(*b, 1, 7);
        SetBlob(*b, 2, std::string("memo of ") + name);
        t.AppendRecord(*b, false, nullptr);
      }
      TRadeTableIO n(io, "notes");
      n.Acquire();
      auto b = Buffers(n);
      SetStr(*b, 0, "first");
      n.AppendRecord(*b, false, nullptr);
    }
    return {io.TableHeaderOffset(0), io.TableHeaderOffset(1)};
  }
  TCheckResult Check(bool repair, const std::string& password = "") {
    TRadeZIFileIO io(&owner);
    io.OpenFile(path, mtDisk, false);
    if (io.Encrypted()) {
      EXPECT_TRUE(io.CheckPassword(password));
    }
    return CheckDatabase(io, repair);
  }
  // Every table the file lists, read whole: each record with its fields through the table layer.
  std::string ReadEverything(const std::string& password = "") {
    return ErrorOf([&] {
      TRadeZIFileIO io(&owner);
      io.OpenFile(path, mtDisk, false);
      if (io.Encrypted()) io.CheckPassword(password);
      std::vector<std::string> names;
      io.GetTableNames(names);
      for (const std::string& name : names) {
        if (name.empty()) throw EDatabaseError("a table without a name");
        TRadeTableIO t(io, name);
        t.Acquire();
        for (int32_t l = 0; l < t.RecordListCount(); ++l)
          for (int32_t p = 0; p < static_cast<int32_t>(t.RecordLists(l).size()); ++p) {
            auto b = Buffers(t);
            t.LoadRecord(*b, t.RecordLists(l), p);
            for (int32_t i = 0; i < b->Count(); ++i)
              if (IsStringType(b->Items(i)->FieldType)) (void)AnsiToUtf8(GetStr(*b, i));
          }
      }
    });
  }
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
  }

  TTwoTables defs;
  std::string path;
};

// Damage to what the readers find tables by: each case is reported, and the repair either
// mends it (the file then checks clean and reads whole) or leaves it reported.
TEST_F(DatabaseCheckTest, DirectoryNamesAndDefinitions) {
  struct TCase {
    const char* what;
    std::function<void(std::string&, int32_t, int32_t)> damage;
    const char* reported;
    bool repaired;
  } cases[] = {
      {"the count leaves out the second table",
       [](std::string& f, int32_t, int32_t) { PutI32(f, kDirectoryOffset, 1); },
       "the table directory: its count 1 leaves out the table 'notes' in slot 1", true},
      {"the count is zero", [](std::string& f, int32_t, int32_t) { PutI32(f, kDirectoryOffset, 0); },
       "the table directory: its count 0 leaves out the table 'items' in slot 0", true},
      {"both slots name the first header",
       [](std::string& f, int32_t first, int32_t) { PutI32(f, kDirectoryOffset + 12, first); },
       "the table directory: the headers of tables 0 and 1 overlap", false},
      {"a slot points into the middle of another header",
       [](std::string& f, int32_t first, int32_t) { PutI32(f, kDirectoryOffset + 12, first + 1000); },
       "the table directory: the headers of tables 0 and 1 overlap", false},
      {"a name is emptied",
       [](std::string& f, int32_t, int32_t second) { f[static_cast<size_t>(second)] = 0; },
       "the table directory: table 1 has an empty name", false},
      {"two tables share a name",
       [](std::string& f, int32_t, int32_t second) { PutName(f, static_cast<size_t>(second), "ITEMS"); },
       "the table directory: tables 0 and 1 have the same name 'ITEMS'", false},
      {"a name is not code-page text",
       [](std::string& f, int32_t, int32_t second) {
         PutName(f, static_cast<size_t>(second), "no\x81\x7Fte");
       },
       "the table directory: the name of table 1 cannot be read: Invalid byte sequence", false},
      {"a field name is emptied",
       [](std::string& f, int32_t first, int32_t) { f[static_cast<size_t>(first + kThFieldDefs)] = 0; },
       "table 'items': field 0 has an empty name", false},
      {"two fields share a name",
       [](std::string& f, int32_t first, int32_t) {
         PutName(f, static_cast<size_t>(first + kThFieldDefs + kFieldDefSize), "NAME");
       },
       "table 'items': Field name 'NAME' is used twice", false},
      {"an index name is not code-page text",
       [](std::string& f, int32_t first, int32_t) {
         PutName(f, static_cast<size_t>(first + kThIndexDefs), "by\x81\x7F");
       },
       "table 'items': the name of index 0 cannot be read", false},
      {"an index is on the blob field",
       [](std::string& f, int32_t first, int32_t) {
         PutI32(f, static_cast<size_t>(first + kThIndexDefs + 34), 2);
       },
       "table 'items': Index 'byName' is on the blob field 'memo'", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(dir.File("db.dat").c_str());
    auto [first, second] = Make();
    ASSERT_TRUE(Check(false).Violations.empty());
    std::string f = TempDir::Read(path);
    c.damage(f, first, second);
    dir.Write("db.dat", f);
    TCheckResult r = Check(false);
    EXPECT_NE(Joined(r.Violations).find(c.reported), std::string::npos) << Joined(r.Violations);
    r = Check(true);
    if (c.repaired) {
      EXPECT_TRUE(r.Violations.empty()) << Joined(r.Violations);
      EXPECT_FALSE(r.Repairs.empty());
      EXPECT_TRUE(Check(false).Violations.empty());
      EXPECT_EQ(ReadEverything(), "");
      TRadeZIFileIO io(&owner);
      io.OpenFile(path, mtDisk, false);
      std::vector<std::string> names;
      io.GetTableNames(names);
      EXPECT_EQ(names, (std::vector<std::string>{"items", "notes"}));
    } else {
      EXPECT_FALSE(r.Violations.empty()) << "a repair that mends nothing reports no success";
    }
  }
}

// A text slot holding a byte pair with no code-page form (damage, or another program's bytes):
// the check names the record and the field, plain and through each cipher, and repair cannot
// make it readable. The other records still read.
TEST_F(DatabaseCheckTest, UnreadableTextIsReportedWithRecordAndField) {
  struct TSetup {
    const char* cipher;
    uint8_t mode;
  } setups[] = {{"", 0}, {"Blowfish", 2}, {"Twofish", 1}, {"Gost", 0}};
  for (const TSetup& s : setups) {
    SCOPED_TRACE(*s.cipher ? s.cipher : "plain");
    std::remove(dir.File("db.dat").c_str());
    TDatabaseCreateOptions o;
    o.EncryptAlgoName = s.cipher;
    o.EncryptMode = s.mode;
    o.Password = "pw";
    Make(o);
    {
      TRadeZIFileIO io(&owner);
      io.OpenFile(path, mtDisk, false);
      if (io.Encrypted()) {
        ASSERT_TRUE(io.CheckPassword("pw"));
      }
      TRadeTableIO t(io, "items");
      t.Acquire();
      auto b = Buffers(t);
      SetStr(*b, 0, "d\x81\x7F");
      t.AppendRecord(*b, false, nullptr);
    }
    TCheckResult r = Check(false, "pw");
    ASSERT_EQ(r.Violations.size(), 1u) << Joined(r.Violations);
    EXPECT_EQ(r.Violations[0],
              "table 'items', record 3, field 'name': the text cannot be read: Invalid byte sequence 0x81 "
              "in code page 936");
    r = Check(true, "pw");
    EXPECT_EQ(r.Violations.size(), 1u);
    EXPECT_TRUE(r.Repairs.empty());
  }
}

}  // namespace lanqi::test
