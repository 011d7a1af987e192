// Filtering the view, finding by filter, Locate and Lookup (sequential and through an index) and
// master-detail ranges, on plain files and on encrypted ones.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class FilterLocateTest : public EngineTest {
 protected:
  // A new file with the tables, of the kind the test runs on.
  void Create(const std::string& path, const std::vector<TableSpec>& tables) {
    CreateDatabase(path, tables, options_);
  }
  // Twenty rows: Name "n00".."n19", Age i, Grp i % 4; index ByName on Name.
  TRadeTable* Twenty(const std::string& indexName = "ByName") {
    std::string path = dir_.File("twenty.dat");
    Create(path, {{"T",
                   {{"ID", ftAutoInc}, {"Name", ftString, 10}, {"Age", ftInteger}, {"Grp", ftInteger}},
                   {{"ByName", {1}, {}}, {"ByAgeDown", {2}, {tiDescending}}}}});
    TRadeTable* t = NewTable(path, "T", "T");
    t->Open();
    for (int i = 19; i >= 0; --i) AppendRows(t, {{Variant(), Format("n%02d", i), i, i % 4}});
    t->SetIndexName(indexName);
    return t;
  }

  TDatabaseCreateOptions options_;
};

// The reading paths (the filter pass, the sequential Locate, record reads, index searches) on
// plain files and on encrypted ones: each cipher in the default chaining mode and in CBC.
struct FileKind {
  const char* Cipher;  // empty: plain
  uint8_t Mode;
};

void PrintTo(const FileKind& k, std::ostream* os) {
  *os << (*k.Cipher ? k.Cipher : "plain") << " mode " << static_cast<int>(k.Mode);
}

class FileKindTest : public FilterLocateTest, public ::testing::WithParamInterface<FileKind> {
 protected:
  void SetUp() override {
    FilterLocateTest::SetUp();
    options_.EncryptAlgoName = GetParam().Cipher;
    options_.EncryptMode = GetParam().Mode;
    if (options_.EncryptAlgoName.empty()) return;
    options_.Password = "filter key";
    SetLoginPromptHook([](const std::string&, std::string& password) {
      password = "filter key";
      return true;
    });
  }
};

INSTANTIATE_TEST_SUITE_P(Files, FileKindTest,
                         ::testing::Values(FileKind{"", 0}, FileKind{"Blowfish", 0}, FileKind{"Blowfish", 1},
                                           FileKind{"Twofish", 0}, FileKind{"Twofish", 1},
                                           FileKind{"Gost", 0}, FileKind{"Gost", 1}),
                         [](const ::testing::TestParamInfo<FileKind>& info) {
                           std::string c = info.param.Cipher;
                           return c.empty() ? std::string("Plain")
                                            : c + "Mode" + std::to_string(info.param.Mode);
                         });

TEST_P(FileKindTest, FilterKeepsFiveOfTwentyInIndexOrder) {
  TRadeTable* t = Twenty();
  EXPECT_EQ(t->Database()->Encrypted(), !options_.EncryptAlgoName.empty());
  t->SetFilter("Grp = 1");
  t->SetFiltered(true);
  EXPECT_EQ(t->RecordCount(), 5);
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"n01", "n05", "n09", "n13", "n17"}));
  EXPECT_EQ(t->RecNo(), 5);
  // Another order is not filtered again until the filter is next applied.
  t->SetIndexName("ByAgeDown");
  EXPECT_EQ(t->RecordCount(), 20);
  t->SetFilter("Grp = 2");
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"n18", "n14", "n10", "n06", "n02"}));
  t->SetFiltered(false);
  EXPECT_EQ(t->RecordCount(), 20);
  EXPECT_EQ(t->RecNo(), 1);
}

TEST_P(FileKindTest, ReadingOnlyTheNamedFieldsGivesTheWholeRecordResult) {
  TRadeTable* t = Twenty();
  const std::string filter = "(Age > 3 and Grp <> 2) or Name like 'n1%'";
  t->SetFilter(filter);
  t->SetFiltered(true);
  std::vector<std::string> partial = Column(t, "Name");
  t->SetFiltered(false);
  // The event makes the pass read whole records.
  t->OnFilterRecord = [](TDataSet*, bool& accept) { accept = true; };
  t->SetFiltered(true);
  EXPECT_EQ(Column(t, "Name"), partial);
  EXPECT_EQ(partial.size(), 15u);
  // The event decides first.
  t->OnFilterRecord = [](TDataSet* ds, bool& accept) { accept = ds->FieldByName("Age")->AsInteger() < 12; };
  t->SetFilter(filter + " ");
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"n04", "n05", "n07", "n08", "n09", "n10", "n11"}));
}

TEST_F(FilterLocateTest, ProgressAndBusyCursor) {
  std::string path = PeopleFile();
  TRadeTable* t = NewTable(path, "People");
  t->Open();
  AppendRows(t, {{Variant(), "a", 1}, {Variant(), "b", 2}, {Variant(), "c", 3}, {Variant(), "d", 4}});
  std::vector<int> progress;
  t->OnFilterProgress = [&](TObject* sender, int percent) {
    EXPECT_EQ(sender, t);
    progress.push_back(percent);
  };
  std::vector<bool> cursor;
  SetScreenCursorHook([&](bool busy) { cursor.push_back(busy); });
  t->SetFilter("Age > 2");
  t->SetFiltered(true);
  EXPECT_EQ(progress, (std::vector<int>{0, 25, 50, 75}));
  EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
  cursor.clear();
  DefaultSession().SetSQLHourGlass(false);
  t->SetFilter("Age > 1");
  DefaultSession().SetSQLHourGlass(true);
  EXPECT_EQ(cursor, (std::vector<bool>{false}));
  EXPECT_EQ(t->RecordCount(), 3);
}

TEST_P(FileKindTest, ProgressHandlerReadsAndWritesTheSameFile) {
  std::string path = dir_.File("two.dat");
  Create(path, {{"T", {{"Name", ftString, 10}, {"N", ftInteger}}, {}},
                {"Log", {{"Percent", ftInteger}, {"Seen", ftString, 10}}, {}}});
  TRadeTable* t = NewTable(path, "T", "T");
  t->Open();
  AppendRows(t, {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  // A table of the same database, and one through a second database component on the same file
  // (an open of its own).
  TRadeTable* log = NewTable(path, "Log", "Log");
  log->Open();
  AppendRows(log, {{-1, "start"}});
  auto* second = owner_->Create<TRadeDatabase>();
  second->SetDatabaseName("second");
  second->SetFileName(path);
  TRadeTable* other = NewTable("second", "Log", "Other");
  t->OnFilterProgress = [&](TObject*, int percent) {
    log->First();
    EXPECT_EQ(log->FieldByName("Seen")->AsString(), "start");
    EXPECT_TRUE(log->Locate("Seen", "start", {}));  // no index: reads the field of each record
    AppendRows(log, {{percent, Format("p%d", percent)}});
    if (!other->Active()) other->Open();  // reads the table's lists
    other->First();
    EXPECT_EQ(other->FieldByName("Seen")->AsString(), "start");
  };
  t->SetFilter("N > 1");  // names a field: the pass reads it straight from the file
  t->SetFiltered(true);
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_EQ(Column(log, "Seen"), (std::vector<std::string>{"start", "p0", "p25", "p50", "p75"}));
  EXPECT_EQ(t->State(), dsBrowse);
  // The lock is free again after the pass.
  AppendRows(t, {{"e", 5}});
  EXPECT_EQ(t->RecordCount(), 4);
}

TEST_F(FilterLocateTest, FilterWritesRebuildOnlyOnChange) {
  TRadeTable* t = Twenty();
  t->SetFilter("Grp = 1");
  t->SetFiltered(true);
  // A new record that fails the filter stays in the view until the filter is applied again.
  AppendRows(t, {{Variant(), "n05a", 50, 0}});
  EXPECT_EQ(t->RecordCount(), 6);
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n05a");
  t->SetFilter("Grp = 1");  // same text: no rebuild, no move
  EXPECT_EQ(t->RecordCount(), 6);
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n05a");
  t->SetFiltered(true);  // same value: only to the first record
  EXPECT_EQ(t->RecordCount(), 6);
  EXPECT_EQ(t->RecNo(), 1);
  t->SetFilterOptions({foCaseInsensitive});  // options count as a change
  EXPECT_EQ(t->RecordCount(), 5);

  // A syntax error fails the write before anything is stored.
  t->Last();
  try {
    t->SetFilter("Grp = = 2");
    FAIL() << "parsed";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Expression expected but '=' found");
  }
  EXPECT_EQ(t->Filter(), "Grp = 1");
  EXPECT_EQ(t->RecordCount(), 5);
  try {
    t->SetFilter("Nope = 2");
    FAIL() << "parsed";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "T: Field 'Nope' not found");
  }
  // An application that fails keeps the old text.
  t->OnFilterRecord = [](TDataSet*, bool&) { throw EDatabaseError("refused"); };
  EXPECT_THROW(t->SetFilter("Grp = 3"), EDatabaseError);
  EXPECT_EQ(t->Filter(), "Grp = 1");
  EXPECT_EQ(t->State(), dsBrowse);
  t->OnFilterRecord = nullptr;
}

TEST_P(FileKindTest, FindByFilterWithoutFiltering) {
  TRadeTable* t = Twenty();
  t->SetFilter("Grp = 3");
  EXPECT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n03");
  EXPECT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n07");
  EXPECT_TRUE(t->FindLast());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n19");
  EXPECT_FALSE(t->FindNext());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n19");
  EXPECT_TRUE(t->FindPrior());
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "n15");
  EXPECT_EQ(t->RecordCount(), 20);
}

TEST_P(FileKindTest, LocateSequentialAndIndexed) {
  std::string path = dir_.File("loc.dat");
  Create(path, {{"L",
                 {{"Name", ftString, 6}, {"Code", ftString, 6}, {"N", ftInteger}},
                 {{"ByCode", {1}, {}}, {"ByN", {2}, {tiUnique}}}}});
  TRadeTable* t = NewTable(path, "L", "L");
  t->Open();
  AppendRows(t, {{"xyz", "xyz", 1}, {"abcdef", "abcdef", 2}, {"ABCDEF", "ABCDEF", 3}, {"abc", "abc", 4}});
  struct Case {
    const char* field;  // Name: no index; Code: a case-sensitive index
    Variant key;
    TLocateOptions options;
    int found;  // N of the record found, 0 for none
  };
  for (const Case& c : std::vector<Case>{
           {"Name", "abc", {LocatePartialKey}, 2},
           {"Name", "abc", {}, 4},
           {"Name", "abcd", {}, 0},
           {"Name", "ABCDEF", {LocateCaseInsensitive}, 2},
           {"Name", "abcdefgh", {}, 2},  // cut at the declared size before comparing
           {"Name", "", {LocatePartialKey}, 1},
           {"Code", "abc", {}, 4},
           {"Code", "ABCDEF", {}, 3},
           {"Code", "abcd", {LocatePartialKey}, 2},
           {"Code", "q", {}, 0},
           {"N", 3, {}, 3},
           {"N", "3", {}, 3},
           {"N", 9, {}, 0},
       }) {
    SCOPED_TRACE(std::string(c.field) + " " + c.key.AsString());
    t->First();
    bool scrolled = false;
    t->AfterScroll = [&](TDataSet*) { scrolled = true; };
    bool found = t->Locate(c.field, c.key, c.options);
    t->AfterScroll = nullptr;
    EXPECT_EQ(found, c.found != 0);
    EXPECT_EQ(scrolled, c.found != 0);
    EXPECT_EQ(t->FieldByName("N")->AsInteger(), c.found ? c.found : 1);
  }
  EXPECT_TRUE(t->Locate("Name;N", Variant(std::vector<Variant>{"abc", 4}), {}));
  EXPECT_FALSE(t->Locate("Name;N", Variant(std::vector<Variant>{"abc", 2}), {}));
  try {
    t->Locate("Nope", 1, {});
    FAIL() << "located";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "L: Field 'Nope' not found");
  }
  EXPECT_THROW(t->Locate("N", "x", {}), EConvertError);
  EXPECT_THROW(t->Locate("", "abc", {}), EDatabaseError);
  EXPECT_EQ(t->State(), dsBrowse);

  // Through an index, a record outside the view is not found even when it exists.
  t->SetFilter("N <> 3");
  t->SetFiltered(true);
  EXPECT_FALSE(t->Locate("N", 3, {}));
  EXPECT_FALSE(t->Locate("Code", "ABCDEF", {}));
  EXPECT_TRUE(t->Locate("Code", "xyz", {}));

  // Lookup does not move the cursor.
  t->First();
  EXPECT_EQ(t->Lookup("N", 4, "Name").AsString(), "abc");
  Variant both = t->Lookup("Code", "abcdef", "Name;N");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[1].AsInteger(), 2);
  EXPECT_TRUE(t->Lookup("N", 3, "Name").IsNull());
  EXPECT_EQ(t->RecNo(), 1);
}

TEST_P(FileKindTest, LocateThroughAnIndexFindsTheFirstOfEqualKeys) {
  // Runs of equal keys and of keys sharing a prefix at the start, in the middle and at the end of
  // the index, added out of order so that equal keys do not lie in record order.
  const std::vector<std::string> keys = {"b",  "zc", "abd", "c", "d",  "b", "ab", "zz", "cy", "b",
                                         "zb", "d",  "abc", "b", "cx", "m", "za", "zz", "ab", "zz"};
  struct Case {
    const char* key;
    bool partial;
  };
  const std::vector<Case> cases = {{"ab", true},  {"ab", false}, {"a", true},  {"b", false},
                                   {"c", true},   {"d", false},  {"m", false}, {"z", true},
                                   {"zz", false}, {"zz", true},  {"", true}};
  // The view in the index's order and in record order, whole and filtered so that the first
  // record of most runs is hidden.
  const std::string hide = "N <> 7 and N <> 1 and N <> 18 and N <> 5 and N <> 2";
  for (TRDIndexOptions order : {TRDIndexOptions{}, TRDIndexOptions{tiDescending}}) {
    std::string path = dir_.File(order.Contains(tiDescending) ? "down.dat" : "up.dat");
    Create(path, {{"R", {{"S", ftString, 6}, {"N", ftInteger}}, {{"ByS", {0}, order}}}});
    TRadeTable* t = NewTable(path, "R");
    t->Open();
    for (size_t i = 0; i < keys.size(); ++i) AppendRows(t, {{keys[i], static_cast<int>(i + 1)}});
    // The expected record: the first whose key matches, read off the index's order.
    auto firstInIndexOrder = [&](const std::string& key, bool partial, const std::string& filter) {
      TRadeTable* v = NewTable(path, "R");
      v->SetIndexName("ByS");
      v->SetFilter(filter);
      v->SetFiltered(!filter.empty());
      v->Open();
      int found = 0;
      for (v->First(); !v->Eof() && !found; v->Next()) {
        std::string s = v->FieldByName("S")->AsString();
        if (partial ? s.rfind(key, 0) == 0 : s == key) found = v->FieldByName("N")->AsInteger();
      }
      v->Close();
      return found;
    };
    for (const std::string viewIndex : {"ByS", ""})
      for (const std::string& filter : {std::string(), hide}) {
        t->SetIndexName(viewIndex);
        t->SetFilter(filter);
        t->SetFiltered(!filter.empty());
        for (const Case& c : cases) {
          SCOPED_TRACE(std::string(order.Contains(tiDescending) ? "descending" : "ascending") + " view '" +
                       viewIndex + "' filter '" + filter + "' key '" + c.key +
                       (c.partial ? "' partial" : "'"));
          int expected = firstInIndexOrder(c.key, c.partial, filter);
          ASSERT_NE(expected, 0);
          t->Last();
          TLocateOptions options;
          if (c.partial) options.Include(LocatePartialKey);
          EXPECT_TRUE(t->Locate("S", c.key, options));
          EXPECT_EQ(t->FieldByName("N")->AsInteger(), expected);
          if (!c.partial) {
            EXPECT_EQ(t->Lookup("S", c.key, "N").AsInteger(), expected);
          }
        }
      }
    t->Close();
  }
}

TEST_P(FileKindTest, MasterDetailRange) {
  std::string path = dir_.File("md.dat");
  Create(path, {{"Areas", {{"AreaNo", ftInteger}, {"Name", ftString, 10}}, {}},
                {"Files",
                 {{"FileNo", ftAutoInc}, {"AreaNo", ftInteger}, {"Path", ftString, 20}},
                 {{"ByArea", {1}, {}}}}});
  TRadeTable* areas = NewTable(path, "Areas", "Areas");
  areas->Open();
  AppendRows(areas, {{1, "one"}, {2, "two"}, {3, "three"}});
  TRadeTable* files = NewTable(path, "Files", "Files");
  files->SetIndexName("ByArea");
  files->Open();
  AppendRows(files, {{Variant(), 2, "b1"},
                     {Variant(), 1, "a1"},
                     {Variant(), 2, "b2"},
                     {Variant(), 1, "a2"},
                     {Variant(), 2, "b3"}});
  auto* source = owner_->Create<TDataSource>();
  source->SetDataSet(areas);
  files->SetMasterSource(source);
  files->SetMasterFields("AreaNo");
  areas->First();
  EXPECT_TRUE(files->Ranged());
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(Column(files, "Path")), (std::vector<std::string>{"a1", "a2"}));
  areas->Next();
  EXPECT_EQ(sorted(Column(files, "Path")), (std::vector<std::string>{"b1", "b2", "b3"}));
  areas->Next();
  EXPECT_EQ(files->RecordCount(), 0);
  EXPECT_TRUE(files->Eof());
  // A refresh keeps the range.
  areas->First();
  files->Refresh();
  EXPECT_EQ(files->RecordCount(), 2);
  // A range replaces an active filter.
  files->SetFilter("Path = 'a2'");
  files->SetFiltered(true);
  EXPECT_EQ(files->RecordCount(), 1);
  areas->Next();
  EXPECT_FALSE(files->Filtered());
  EXPECT_EQ(files->RecordCount(), 3);
  // Closing the master ends the range.
  areas->Close();
  EXPECT_FALSE(files->Ranged());
  EXPECT_EQ(files->RecordCount(), 5);

  auto* back = owner_->Create<TDataSource>();
  back->SetDataSet(files);
  try {
    areas->SetMasterSource(back);
    FAIL() << "linked in a circle";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Areas: Circular datalinks are not allowed");
  }
}

TEST_F(FilterLocateTest, SearchingTheMasterMovesTheDetailOnlyWithTheMaster) {
  std::string path = dir_.File("md2.dat");
  Create(path, {{"Areas", {{"AreaNo", ftInteger}, {"Name", ftString, 10}}, {{"ByNo", {0}, {}}}},
                {"Files", {{"AreaNo", ftInteger}, {"Path", ftString, 20}}, {{"ByArea", {0}, {}}}}});
  TRadeTable* areas = NewTable(path, "Areas", "Areas");
  areas->Open();
  AppendRows(areas, {{1, "one"}, {2, "two"}, {3, "three"}});
  TRadeTable* files = NewTable(path, "Files", "Files");
  files->SetIndexName("ByArea");
  files->Open();
  AppendRows(files, {{1, "a1"}, {2, "b1"}, {2, "b2"}, {3, "c1"}});
  auto* source = owner_->Create<TDataSource>();
  source->SetDataSet(areas);
  files->SetMasterSource(source);
  files->SetMasterFields("AreaNo");
  areas->First();
  ASSERT_EQ(Column(files, "Path"), (std::vector<std::string>{"a1"}));
  // The searched key is written into a scratch record, not the master's current one: the detail
  // follows the record the search ends on, and stays when nothing is found.
  ASSERT_TRUE(areas->Locate("AreaNo", 2, {}));
  EXPECT_EQ(Column(files, "Path"), (std::vector<std::string>{"b1", "b2"}));
  // No such key, or one outside the master's filtered view: both stay where they are.
  areas->SetFilter("AreaNo <> 1");
  areas->SetFiltered(true);
  for (const Variant& missing : {Variant(9), Variant(1)}) {
    SCOPED_TRACE(missing.AsString());
    areas->Last();
    EXPECT_FALSE(areas->Locate("AreaNo", missing, {}));
    EXPECT_TRUE(areas->Lookup("AreaNo", missing, "Name").IsNull());
    EXPECT_EQ(areas->FieldByName("AreaNo")->AsInteger(), 3);
    EXPECT_EQ(Column(files, "Path"), (std::vector<std::string>{"c1"}));
  }
  // An edit of the master's key moves the detail at once.
  areas->Edit();
  areas->FieldByName("AreaNo")->SetAsInteger(2);
  EXPECT_EQ(files->RecordCount(), 2);
  areas->Cancel();
  EXPECT_EQ(Column(files, "Path"), (std::vector<std::string>{"c1"}));
}

}  // namespace
}  // namespace lanqi::test

namespace lanqi::test {
namespace {

// A database image in memory holding table M (Name of nameSize bytes, N) and, when logSize is not
// 0, table Log (Text of logSize bytes); returns the registered image's name.
std::string NewMemoryDatabase(TMemoryStream& image, uint32_t& id, int32_t nameSize, int32_t logSize = 0) {
  WriteNewDatabase(image, {});
  id = RegisterDatabaseStream(&image);
  std::string name = MemoryDatabaseName(id);
  TStorageOwner owner;
  TRadeZIFileIO io(&owner);
  io.OpenFile(name, mtMemory, false);
  TRadeFieldDefs fields;
  fields.Add("Name", ftString, nameSize);
  fields.Add("N", ftInteger);
  AddTable(io, "M", fields, TRadeIndexDefs());
  if (logSize > 0) {
    TRadeFieldDefs log;
    log.Add("Text", ftString, logSize);
    AddTable(io, "Log", log, TRadeIndexDefs());
  }
  io.CloseFile();
  return name;
}

TEST_F(FilterLocateTest, FilterSetBeforeOpenAppliesAtOpenOnAMemoryDatabase) {
  // A database image in memory: the filtering pass reads its fields from the image.
  TMemoryStream image;
  uint32_t id;
  std::string name = NewMemoryDatabase(image, id, 10);
  TRadeTable* t = NewTable(name, "M");
  t->SetMediumType(mtMemory);
  t->SetFilter("N > 1 and Name <> 'c'");  // stored unparsed while closed
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(t->Database()->MediumType(), mtMemory);
  EXPECT_EQ(t->RecordCount(), 0);
  t->SetFiltered(false);
  AppendRows(t, {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  t->Close();
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"b", "d"}));
  EXPECT_TRUE(t->Locate("N", 4, {}));
  EXPECT_TRUE(t->Locate("Name", "b", {}));
  EXPECT_FALSE(t->Locate("Name", "c", {}));
  t->Close();
  DefaultSession().SetActive(false);
  UnregisterDatabaseStream(id);
}

TEST_F(FilterLocateTest, AProgressHandlerThatGrowsAMemoryImageLeavesThePassReadingTheNewImage) {
  // The handler's appends move the image to a larger block; a pass still reading the old block
  // would read freed memory.
  TMemoryStream image;
  uint32_t id;
  std::string name = NewMemoryDatabase(image, id, 200, 200);
  TRadeTable* t = NewTable(name, "M", "M");
  t->SetMediumType(mtMemory);
  t->Open();
  std::vector<std::vector<Variant>> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back({Format("r%d", i), i % 3});
  AppendRows(t, rows);
  TRadeTable* log = NewTable(name, "Log", "Log");
  log->SetMediumType(mtMemory);
  log->Open();
  const uint8_t* before = image.Memory();
  t->OnFilterProgress = [&](TObject*, int) { AppendRows(log, {{std::string(150, 'x')}}); };
  t->SetFilter("N = 1");
  t->SetFiltered(true);
  EXPECT_NE(image.Memory(), before);  // the image did move during the pass
  std::vector<std::string> expected;
  for (int i = 1; i < 1000; i += 3) expected.push_back(Format("r%d", i));
  EXPECT_EQ(Column(t, "Name"), expected);
  t->Close();
  log->Close();
  DefaultSession().SetActive(false);
  UnregisterDatabaseStream(id);
}

}  // namespace
}  // namespace lanqi::test
