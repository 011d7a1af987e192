// Appending, inserting, changing and deleting records: the cursor afterwards, the events and
// their order, unique keys, auto-increment values, read-only tables and the error retry rule.
#include <gtest/gtest.h>

#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class TableEditTest : public EngineTest {
 protected:
  // People with a unique index on Name; rows b, d, f (IDs 1, 2, 3).
  TRadeTable* Open(const std::string& indexName) {
    std::string path = PeopleFile({{"ByName", {1}, {tiUnique}}});
    TRadeTable* t = NewTable(path, "People", "People");
    t->SetIndexName(indexName);
    t->Open();
    AppendRows(t, {{Variant(), "d", 2}, {Variant(), "b", 1}, {Variant(), "f", 3}});
    return t;
  }
  static std::string Current(TRadeTable* t) { return t->FieldByName("Name")->AsString(); }
};

TEST_F(TableEditTest, AppendAssignsAutoIncrementAndKeepsALargerValue) {
  TRadeTable* t = Open("");
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_EQ(Current(t), "f");
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);
  AppendRows(t, {{100, "x", 0}});
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 100);
  AppendRows(t, {{Variant(), "y", 0}});
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 101);
  EXPECT_EQ(t->RecordCount(), 5);
  // Written through to the file: a fresh open sees the records.
  std::string path = t->DatabaseName();
  t->Close();
  TRadeTable* again = NewTable(path, "People");
  again->Open();
  EXPECT_EQ(Column(again, "ID"), (std::vector<std::string>{"1", "2", "3", "100", "101"}));
}

TEST_F(TableEditTest, CursorAfterEachOperation) {
  struct Case {
    const char* what;
    std::string index;
    std::function<void(TRadeTable*)> act;
    std::string current;
    std::vector<std::string> order;
  };
  auto insertBeforeD = [](TRadeTable* t) {
    t->First();
    t->Next();  // d in index order, b in record order
    t->Insert();
    t->FieldByName("Name")->SetAsString("c");
    t->Post();
  };
  auto appendA = [](TRadeTable* t) {
    t->Append();
    t->FieldByName("Name")->SetAsString("a");
    t->Post();
  };
  auto editDToZ = [](TRadeTable* t) {
    t->Locate("Name", "d", {});
    t->Edit();
    t->FieldByName("Name")->SetAsString("z");
    t->Post();
  };
  auto editAgeOnly = [](TRadeTable* t) {
    t->Locate("Name", "d", {});
    t->Edit();
    t->FieldByName("Age")->SetAsInteger(9);
    t->Post();
  };
  auto deleteD = [](TRadeTable* t) {
    t->Locate("Name", "d", {});
    t->Delete();
  };
  auto deleteLast = [](TRadeTable* t) {
    t->Last();
    t->Delete();
  };
  auto cancelInsert = [](TRadeTable* t) {
    t->Locate("Name", "d", {});
    t->Insert();
    t->FieldByName("Name")->SetAsString("q");
    t->Cancel();
  };
  auto cancelEdit = [](TRadeTable* t) {
    t->Locate("Name", "d", {});
    t->Edit();
    t->FieldByName("Name")->SetAsString("q");
    t->Cancel();
  };
  for (const Case& c : std::vector<Case>{
           {"insert, index order", "ByName", insertBeforeD, "c", {"b", "c", "d", "f"}},
           {"insert, record order", "", insertBeforeD, "b", {"d", "b", "f", "c"}},
           {"append, index order", "ByName", appendA, "a", {"a", "b", "d", "f"}},
           {"append, record order", "", appendA, "a", {"d", "b", "f", "a"}},
           {"edit moves the key", "ByName", editDToZ, "z", {"b", "f", "z"}},
           {"edit keeps the place", "ByName", editAgeOnly, "d", {"b", "d", "f"}},
           {"edit, record order", "", editDToZ, "z", {"z", "b", "f"}},
           {"delete, index order", "ByName", deleteD, "f", {"b", "f"}},
           {"delete, record order", "", deleteD, "b", {"b", "f"}},
           {"delete the last", "ByName", deleteLast, "d", {"b", "d"}},
           {"cancel an insert", "ByName", cancelInsert, "d", {"b", "d", "f"}},
           {"cancel an edit", "ByName", cancelEdit, "d", {"b", "d", "f"}},
       }) {
    SCOPED_TRACE(c.what);
    TRadeTable* t = Open(c.index);
    c.act(t);
    EXPECT_EQ(t->State(), dsBrowse);
    EXPECT_EQ(Current(t), c.current);
    EXPECT_EQ(Column(t, "Name"), c.order);
    t->Close();
    DestroyComponent(t);
    std::remove(dir_.File("people.dat").c_str());
  }
}

TEST_F(TableEditTest, UniqueViolationKeepsInsertStateAndTheFile) {
  TRadeTable* t = Open("ByName");
  t->Append();
  t->FieldByName("Name")->SetAsString("d");
  try {
    t->Post();
    FAIL() << "posted a duplicate";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Invalid unique field value 'd'");
  }
  EXPECT_EQ(t->State(), dsInsert);
  EXPECT_EQ(t->RecordCount(), 3);
  t->Cancel();
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"b", "d", "f"}));
  std::string path = t->DatabaseName();
  t->Close();
  TRadeTable* again = NewTable(path, "People");
  again->Open();
  EXPECT_EQ(again->RecordCount(), 3);
}

TEST_F(TableEditTest, EventsInOrderAndTheErrorRule) {
  TRadeTable* t = Open("ByName");
  std::vector<std::string> log;
  auto note = [&](const char* name) { return [&log, name](TDataSet*) { log.push_back(name); }; };
  t->BeforeInsert = note("BeforeInsert");
  t->OnNewRecord = note("OnNewRecord");
  t->AfterInsert = note("AfterInsert");
  t->BeforePost = note("BeforePost");
  t->AfterPost = note("AfterPost");
  t->BeforeScroll = note("BeforeScroll");
  t->AfterScroll = note("AfterScroll");
  t->BeforeEdit = note("BeforeEdit");
  t->AfterEdit = note("AfterEdit");
  t->BeforeDelete = note("BeforeDelete");
  t->AfterDelete = note("AfterDelete");
  t->Append();
  t->FieldByName("Name")->SetAsString("d");
  // The first attempt fails on the duplicate; the handler fixes the value and retries.
  int calls = 0;
  t->OnPostError = [&](TDataSet* ds, EDatabaseError& e, TDataAction& action) {
    ++calls;
    EXPECT_STREQ(e.what(), "Invalid unique field value 'd'");
    ds->FieldByName("Name")->SetAsString("e");
    action = daRetry;
  };
  t->Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Current(t), "e");
  t->Edit();
  t->Delete();
  EXPECT_EQ(log,
            (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                                      "AfterScroll", "BeforePost", "AfterPost", "BeforeEdit", "AfterEdit",
                                      "BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
  // Abort ends silently; the dataset still edits.
  t->Append();
  t->FieldByName("Name")->SetAsString("b");
  t->OnPostError = [](TDataSet*, EDatabaseError&, TDataAction& action) { action = daAbort; };
  EXPECT_THROW(t->Post(), EAbort);
  EXPECT_EQ(t->State(), dsInsert);
  t->Cancel();
}

TEST_F(TableEditTest, StateErrorsAndEmptyViews) {
  std::string path = PeopleFile();
  TRadeTable* t = NewTable(path, "People", "T");
  t->Open();
  auto expectError = [](const std::function<void()>& f, const char* text) {
    try {
      f();
      ADD_FAILURE() << "no error, expected " << text;
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  expectError([&] { t->Delete(); }, "T: Cannot perform this operation on an empty dataset");
  expectError([&] { t->Post(); }, "T: Dataset not in edit or insert mode");
  t->Edit();  // on an empty view: an insert
  EXPECT_EQ(t->State(), dsInsert);
  t->FieldByName("Name")->SetAsString("only");
  t->Post();
  EXPECT_EQ(t->RecordCount(), 1);
  // Edit then Delete: the edit is not written.
  t->Edit();
  t->FieldByName("Name")->SetAsString("changed");
  t->Delete();
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_TRUE(t->Bof());
  EXPECT_TRUE(t->Eof());
  // A navigation posts a changed record and cancels an unchanged one.
  AppendRows(t, {{Variant(), "a", 1}, {Variant(), "b", 2}});
  t->First();
  t->Edit();
  t->FieldByName("Age")->SetAsInteger(10);
  t->Next();
  t->First();
  EXPECT_EQ(t->FieldByName("Age")->AsInteger(), 10);
  EXPECT_EQ(t->State(), dsBrowse);
}

TEST_F(TableEditTest, ReadOnlyRefusesEditsButDeletes) {
  TRadeTable* t = Open("");
  t->SetReadOnly(true);
  for (auto f :
       std::vector<std::function<void()>>{[&] { t->Append(); }, [&] { t->Insert(); }, [&] { t->Edit(); }}) {
    try {
      f();
      ADD_FAILURE() << "edited";
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "People: Cannot modify a read-only dataset");
    }
    EXPECT_EQ(t->State(), dsBrowse);
  }
  t->First();
  t->Delete();
  EXPECT_EQ(t->RecordCount(), 2);
}

TEST_F(TableEditTest, TwoDatasetsSeeEachOthersAppendsAfterAReload) {
  TRadeTable* a = Open("ByName");
  TRadeTable* b = NewTable(a->DatabaseName(), "People");
  b->SetIndexName("ByName");
  b->Open();
  EXPECT_EQ(b->Database(), a->Database());
  AppendRows(a, {{Variant(), "c", 5}});
  EXPECT_EQ(b->RecordCount(), 3);
  int refreshes = 0;
  b->BeforeRefresh = [&](TDataSet*) { ++refreshes; };
  b->AfterRefresh = [&](TDataSet*) { ++refreshes; };
  b->Refresh();
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(b->RecordCount(), 4);
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"b", "c", "d", "f"}));

  // A view that missed the other's changes still places an edited record by its key, and a
  // record the other deleted cannot be changed or deleted.
  AppendRows(a, {{Variant(), "ca", 6}});  // before d in key order; b does not see it
  ASSERT_TRUE(b->Locate("Name", "d", {}));
  b->Edit();
  b->FieldByName("Name")->SetAsString("a");
  b->Post();
  EXPECT_EQ(Current(b), "a");
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"a", "b", "c", "f"}));
  b->Last();
  ASSERT_EQ(Current(b), "f");
  b->Edit();
  b->FieldByName("Age")->SetAsInteger(1);
  ASSERT_TRUE(a->Locate("Name", "f", {}));
  a->Delete();
  try {
    b->Post();
    FAIL() << "changed a deleted record";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Record not found");
  }
  b->Cancel();
  EXPECT_THROW(b->Delete(), EDatabaseError);
  b->Refresh();
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"a", "b", "c", "ca"}));
}

// b's view misses a's appends and deletes; b's own appends still go into its view in key order.
TEST_F(TableEditTest, AnAppendKeepsAViewThatMissedOtherWritesInOrder) {
  TRadeTable* a = Open("ByName");
  TRadeTable* b = NewTable(a->DatabaseName(), "People");
  b->SetIndexName("ByName");
  b->Open();
  AppendRows(a, {{Variant(), "c", 4}, {Variant(), "e", 5}});
  AppendRows(b, {{Variant(), "cc", 6}});
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"b", "cc", "d", "f"}));
  ASSERT_TRUE(a->Locate("Name", "b", {}));
  a->Delete();
  AppendRows(b, {{Variant(), "a", 7}, {Variant(), "g", 8}});
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"a", "b", "cc", "d", "f", "g"}));
  b->Refresh();
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"a", "c", "cc", "d", "e", "f", "g"}));
}

TEST_F(TableEditTest, EditStartsFromTheStoredRecordUnderTheErrorRule) {
  TRadeTable* a = Open("ByName");
  TRadeTable* b = NewTable(a->DatabaseName(), "People");
  b->SetIndexName("ByName");
  b->Open();
  ASSERT_TRUE(b->Locate("Name", "d", {}));
  // The other dataset changes the record after this one read it: the edit starts from the stored
  // values, so Post keeps the other's change.
  ASSERT_TRUE(a->Locate("Name", "d", {}));
  a->Edit();
  a->FieldByName("Age")->SetAsInteger(40);
  a->Post();
  EXPECT_EQ(b->FieldByName("Age")->AsInteger(), 2);
  b->Edit();
  EXPECT_EQ(b->FieldByName("Age")->AsInteger(), 40);
  b->FieldByName("Name")->SetAsString("e");
  b->Post();
  a->Refresh();
  ASSERT_TRUE(a->Locate("Name", "e", {}));
  EXPECT_EQ(a->FieldByName("Age")->AsInteger(), 40);

  // A record the other deleted: each action of OnEditError.
  ASSERT_TRUE(b->Locate("Name", "f", {}));
  ASSERT_TRUE(a->Locate("Name", "f", {}));
  a->Delete();
  std::vector<TDataAction> actions;
  int calls = 0;
  bool afterEdit = false;
  b->AfterEdit = [&](TDataSet*) { afterEdit = true; };
  b->OnEditError = [&](TDataSet* ds, EDatabaseError& e, TDataAction& action) {
    EXPECT_EQ(ds, b);
    EXPECT_STREQ(e.what(), "Record not found");
    action = actions[static_cast<size_t>(calls++)];
  };
  actions = {daRetry, daFail};  // a retry runs the start again
  try {
    b->Edit();
    FAIL() << "edited a deleted record";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Record not found");
  }
  EXPECT_EQ(calls, 2);
  calls = 0;
  actions = {daAbort};
  EXPECT_THROW(b->Edit(), EAbort);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(b->State(), dsBrowse);
  EXPECT_FALSE(afterEdit);
  // Without a handler the error propagates.
  b->OnEditError = nullptr;
  EXPECT_THROW(b->Edit(), EDatabaseError);
  EXPECT_EQ(b->State(), dsBrowse);
  // After a reload the view no longer holds it.
  b->Refresh();
  EXPECT_EQ(Column(b, "Name"), (std::vector<std::string>{"b", "e"}));
}

TEST_F(TableEditTest, ErrorsNoCallerCanReceiveGoToTheApplicationsHandler) {
  std::string path = dir_.File("md.dat");
  CreateDatabase(path, {{"Areas", {{"AreaNo", ftInteger}}, {}},
                        {"Files",
                         {{"AreaNo", ftInteger}, {"Path", ftString, 10}},
                         {{"ByArea", {0}, {}}, {"ByPath", {1}, {tiUnique}}}}});
  std::vector<std::string> reported;
  SetApplicationExceptionHook([&](const std::exception& e) { reported.push_back(e.what()); });
  TRadeTable* areas = NewTable(path, "Areas", "Areas");
  areas->Open();
  AppendRows(areas, {{1}});
  TRadeTable* files = NewTable(path, "Files", "Files");
  files->SetIndexName("ByArea");
  files->Open();
  AppendRows(files, {{1, "a"}, {1, "b"}});
  auto* source = owner_->Create<TDataSource>();
  source->SetDataSet(areas);
  files->SetMasterSource(source);
  files->SetMasterFields("AreaNo");
  ASSERT_EQ(files->RecordCount(), 2);
  // The master going away ends the detail's range, which posts the detail's pending change; the
  // store refuses it, and the master's destruction has nobody to pass the error to.
  files->First();
  std::string taken = files->FieldByName("Path")->AsString() == "a" ? "b" : "a";
  files->Edit();
  files->FieldByName("Path")->SetAsString(taken);
  DestroyComponent(areas);
  EXPECT_EQ(reported, (std::vector<std::string>{"Invalid unique field value '" + taken + "'"}));
  EXPECT_EQ(files->State(), dsEdit);  // the change is still there to be corrected
  files->Cancel();
  // An abort stays silent.
  reported.clear();
  HandleApplicationException(EAbort());
  EXPECT_TRUE(reported.empty());

  // A database destroyed while its handlers fail.
  auto* db = owner_->Create<TRadeDatabase>();
  db->SetDatabaseName("named");
  db->SetFileName(path);
  db->Open();
  db->AfterDisconnect = [](TObject*) { throw EDatabaseError("not now"); };
  DestroyComponent(db);
  EXPECT_EQ(reported, (std::vector<std::string>{"not now"}));

  // Without a handler the text goes to standard error.
  SetApplicationExceptionHook({});
  ::testing::internal::CaptureStderr();
  HandleApplicationException(EDatabaseError("to the terminal"));
  HandleApplicationException(EAbort());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "to the terminal\n");
}

TEST_F(TableEditTest, AppendRecordFromValues) {
  TRadeTable* t = Open("ByName");
  t->AppendRecord({Variant(), "e", 7});
  EXPECT_EQ(Current(t), "e");
  EXPECT_EQ(t->FieldByName("Age")->AsInteger(), 7);
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 4);
  EXPECT_THROW(t->AppendRecord({Variant(), "e", 8}), EDatabaseError);
  EXPECT_EQ(t->State(), dsBrowse);
  EXPECT_EQ(t->RecordCount(), 4);
}

}  // namespace
}  // namespace lanqi::test
