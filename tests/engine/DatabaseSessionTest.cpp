// The database component and sessions: flushing on the virtual clock, encrypted files and the
// login prompt, names, reference counts, kept connections and automatic session names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class DatabaseSessionTest : public EngineTest {
 protected:
  void ExpectError(const std::function<void()>& f, const char* text) {
    try {
      f();
      ADD_FAILURE() << "no error, expected " << text;
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), text);
    }
  }
};

TEST_F(DatabaseSessionTest, FlushTimerForcesWritesToDisk) {
  TRadeTable* t = NewTable(PeopleFile(), "People");
  t->Open();
  TRadeDatabase* db = t->Database();
  AppendRows(t, {{Variant(), "a", 1}});
  EXPECT_FALSE(db->FileIO()->IsFlushed());
  loop_.Advance(1000);  // without AutoFlush: about once a second
  EXPECT_TRUE(db->FileIO()->IsFlushed());

  db->SetAutoFlush(true);
  db->SetAutoFlushInterval(60000);
  AppendRows(t, {{Variant(), "b", 2}});
  loop_.Advance(59000);
  EXPECT_FALSE(db->FileIO()->IsFlushed());
  loop_.Advance(1000);
  EXPECT_TRUE(db->FileIO()->IsFlushed());

  db->SetAutoFlush(false);  // on and then off: never by the timer
  AppendRows(t, {{Variant(), "c", 3}});
  loop_.Advance(120000);
  EXPECT_FALSE(db->FileIO()->IsFlushed());
}

// Durable mode on the real file: every append, change and delete returns with its data synced,
// without waiting for the timer; turned off, writes wait for the timer again.
TEST_F(DatabaseSessionTest, DurableModeSyncsEveryWriteBeforeItReturns) {
  TRadeTable* t = NewTable(PeopleFile({{"ByName", {1}, {tiUnique}}}), "People");
  t->Open();
  TRadeDatabase* db = t->Database();
  EXPECT_FALSE(db->Durable());
  db->SetDurable(true);
  const std::function<void()> writes[] = {[&] {
                                            AppendRows(t, {{Variant(), "a", 1}});
                                          },
                                          [&] {
                                            t->Edit();
                                            t->FieldByName("Name")->SetAsString("b");
                                            t->Post();
                                          },
                                          [&] {
                                            AppendRows(t, {{Variant(), "c", 3}});
                                          },
                                          [&] { t->Delete(); }};
  for (const auto& write : writes) {
    write();
    EXPECT_TRUE(db->FileIO()->IsFlushed());
  }
  db->SetDurable(false);
  AppendRows(t, {{Variant(), "d", 4}});
  EXPECT_FALSE(db->FileIO()->IsFlushed());
  EXPECT_EQ(Column(t, "Name"), (std::vector<std::string>{"b", "d"}));
}

TEST_F(DatabaseSessionTest, EncryptedFilePromptsOnceUntilDisconnect) {
  std::string path = dir_.File("secret.dat");
  TDatabaseCreateOptions options;
  options.EncryptAlgoName = "Blowfish";
  options.Password = "open sesame";
  CreateDatabase(path, {{"A", {{"S", ftString, 10}}, {}}, {"B", {{"S", ftString, 10}}, {}}}, options);
  int prompts = 0;
  std::string answer;
  bool confirm = true;
  SetLoginPromptHook([&](const std::string& fileName, std::string& password) {
    ++prompts;
    EXPECT_EQ(fileName, path);
    password = answer;
    return confirm;
  });
  TRadeTable* a = NewTable(path, "A", "Ta");
  TRadeTable* b = NewTable(path, "B", "Tb");

  confirm = false;  // cancelled: closed, no message
  EXPECT_THROW(a->Open(), EAbort);
  EXPECT_FALSE(a->Active());
  EXPECT_EQ(DefaultSession().FindDatabase(path), nullptr);

  confirm = true;
  answer = "wrong";
  ExpectError([&] { a->Open(); }, "Access denied");
  EXPECT_FALSE(a->Active());

  answer = "open sesame";
  a->Open();
  AppendRows(a, {{"hidden"}});
  b->Open();
  EXPECT_EQ(prompts, 3);
  EXPECT_TRUE(a->Database()->CanAccess());
  a->Close();
  b->Close();  // the last reference: the database goes
  a->Open();
  EXPECT_EQ(prompts, 4);
  EXPECT_EQ(Column(a, "S"), (std::vector<std::string>{"hidden"}));
}

TEST_F(DatabaseSessionTest, NamedDatabaseWithFileNameAndItsRules) {
  std::string path = PeopleFile();
  auto* db = owner_->Create<TRadeDatabase>();
  db->SetName("Db");
  db->SetDatabaseName("catalog");
  db->SetFileName(path);
  TRadeTable* t = NewTable("CATALOG", "People");
  t->Open();
  EXPECT_EQ(t->Database(), db);
  EXPECT_FALSE(db->Temporary());
  EXPECT_EQ(db->DatabaseFileName(), path);
  EXPECT_FALSE(db->Compressed());
  ExpectError([&] { db->SetExclusive(true); }, "Db: Cannot perform this operation on an open database");
  ExpectError([&] { db->SetFileName("x"); }, "Db: Cannot perform this operation on an open database");
  auto* twin = owner_->Create<TRadeDatabase>();
  ExpectError([&] { twin->SetDatabaseName("Catalog"); }, "Duplicate database name 'Catalog'");
  // Closing the database closes its datasets, with their close events.
  int closeEvents = 0;
  t->AfterClose = [&](TDataSet*) { ++closeEvents; };
  db->Close();
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(closeEvents, 1);
  ExpectError([&] { db->Encrypted(); }, "Db: Cannot perform this operation on a closed database");
  auto* nameless = owner_->Create<TRadeDatabase>();
  nameless->SetName("N");
  ExpectError([&] { nameless->Open(); }, "N: Database name missing");
}

TEST_F(DatabaseSessionTest, KeptTemporaryDatabaseStaysAndGivesWayToANamedOne) {
  std::string path = PeopleFile();
  DefaultSession().SetKeepConnections(true);
  TRadeTable* t = NewTable(path, "People");
  t->Open();
  TRadeDatabase* temp = t->Database();
  TRadeZIFileIO* file = temp->FileIO();
  t->Close();
  EXPECT_EQ(DefaultSession().FindDatabase(path), temp);
  EXPECT_TRUE(temp->Connected());
  EXPECT_EQ(temp->RefCount(), 0);
  t->Open();
  EXPECT_EQ(t->Database()->FileIO(), file);  // not opened again
  t->Close();
  // A named database takes the name of a temporary one that no dataset holds.
  auto* db = owner_->Create<TRadeDatabase>();
  db->SetDatabaseName(path);
  EXPECT_EQ(DefaultSession().FindDatabase(path), db);
  EXPECT_EQ(DefaultSession().DatabaseCount(), 1);
}

TEST_F(DatabaseSessionTest, SessionsNamesAndSettings) {
  EXPECT_EQ(Sessions().FindSession("dEfAuLt"), &DefaultSession());
  EXPECT_EQ(Sessions().FindSession(""), &DefaultSession());
  ExpectError([] { Sessions().SessionByName("Nope"); }, "Invalid session name Nope");
  auto* s = owner_->Create<TRadeSession>();
  s->SetLockRetryCount(-5);
  s->SetLockWaitTime(-1);
  EXPECT_EQ(s->LockRetryCount(), 0);
  EXPECT_EQ(s->LockWaitTime(), 0);
  s->SetName("S");
  ExpectError([&] { s->SetActive(true); }, "S: Session name missing");
  ExpectError([&] { s->SetSessionName("default"); }, "S: Duplicate session name 'default'");

  // Automatic names take the lowest free number.
  TComponent formA, formB, formC;
  auto* a = formA.Create<TRadeSession>();
  a->SetName("Session");
  auto* b = formB.Create<TRadeSession>();
  b->SetName("Other");
  auto* table = formA.Create<TRadeTable>();
  a->SetAutoSessionName(true);
  b->SetAutoSessionName(true);
  EXPECT_EQ(a->SessionName(), "Session_1");
  EXPECT_EQ(b->SessionName(), "Other_2");
  EXPECT_EQ(table->SessionName(), "Session_1");
  // Components added to the owner later join the session too.
  EXPECT_EQ(formA.Create<TRadeTable>()->SessionName(), "Session_1");
  EXPECT_EQ(formA.Create<TRadeDatabase>()->Session(), a);
  ExpectError([&] { a->SetSessionName("x"); },
              "Session: Cannot modify SessionName while AutoSessionName is enabled");
  a->SetAutoSessionName(false);
  auto* c = formC.Create<TRadeSession>();
  c->SetName("Third");
  c->SetAutoSessionName(true);
  EXPECT_EQ(c->SessionName(), "Third_1");
  ExpectError(
      [&] { formC.Create<TRadeSession>(); },
      "Cannot add a session to the form or data-module while session 'Third' has AutoSessionName enabled");
}

TEST_F(DatabaseSessionTest, DatasetsOfAnotherSessionAndDeactivation) {
  std::string path = PeopleFile();
  auto* s = owner_->Create<TRadeSession>();
  s->SetSessionName("Work");
  TRadeTable* t = NewTable(path, "People");
  t->SetSessionName("work");
  t->Open();
  EXPECT_EQ(t->Database()->Session(), s);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(DefaultSession().FindDatabase(path), nullptr);
  ExpectError([&] { s->SetSessionName("Else"); }, "Cannot perform this operation on an active session");
  s->SetActive(false);  // destroys its temporary database and closes the dataset
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(s->DatabaseCount(), 0);
  t->SetSessionName("Missing");
  ExpectError([&] { t->Open(); }, "Invalid session name Missing");
}

TEST_F(DatabaseSessionTest, ADestroyedSessionReportsWhatFailsToClose) {
  std::string path = PeopleFile();
  std::vector<std::string> reported;
  SetApplicationExceptionHook([&](const std::exception& e) { reported.push_back(e.what()); });
  auto* s = owner_->Create<TRadeSession>();
  s->SetSessionName("Work");
  std::vector<TRadeDatabase*> dbs;
  for (const char* name : {"first", "second"}) {
    auto* db = owner_->Create<TRadeDatabase>();
    db->SetSessionName("Work");
    db->SetDatabaseName(name);
    db->SetFileName(path);
    db->Open();
    db->AfterDisconnect = [name](TObject*) { throw EDatabaseError(std::string(name) + " not now"); };
    dbs.push_back(db);
  }
  // Deactivating the session stops at the second; the first closes when it learns that its
  // session is gone. Both failures reach the application's handler.
  DestroyComponent(s);
  EXPECT_EQ(reported, (std::vector<std::string>{"second not now", "first not now"}));
  for (TRadeDatabase* db : dbs) {
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->Session(), &DefaultSession());
    db->AfterDisconnect = nullptr;
  }
}

TEST_F(DatabaseSessionTest, AFinalFlushThatFailsReachesTheCaller) {
  // The file's descriptor is pointed at a device that cannot be synced, after writes that the
  // close must flush.
  auto breakSync = [](TRadeDatabase* db) {
    auto* fs = dynamic_cast<TFileStream*>(db->FileIO()->Stream());
    ASSERT_NE(fs, nullptr);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(null, 0);
    ASSERT_EQ(dup2(null, fs->Handle()), fs->Handle());
    close(null);
  };
  auto expectWriteError = [](const std::function<void()>& f) {
    try {
      f();
      ADD_FAILURE() << "closed without an error";
    } catch (const EWriteError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Stream write error. ", 0), 0u) << e.what();
    }
  };
  std::string path = PeopleFile();
  auto* db = owner_->Create<TRadeDatabase>();
  db->SetDatabaseName("named");
  db->SetFileName(path);
  TRadeTable* t = NewTable("named", "People");
  t->Open();
  AppendRows(t, {{Variant(), "a", 1}});
  ASSERT_FALSE(db->FileIO()->IsFlushed());
  breakSync(db);
  expectWriteError([&] { db->Close(); });
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(t->Active());

  // A temporary database goes with its last dataset; the dataset's close reports the failure.
  TRadeTable* u = NewTable(path, "People");
  u->Open();
  AppendRows(u, {{Variant(), "b", 2}});
  breakSync(u->Database());
  expectWriteError([&] { u->Close(); });
  EXPECT_FALSE(u->Active());
  EXPECT_EQ(DefaultSession().FindDatabase(path), nullptr);
}

}  // namespace
}  // namespace lanqi::test
