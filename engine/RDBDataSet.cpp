#include "engine/RDBDataSet.h"

#include "engine/RDEDataSet.h"
#include "engine/RadeDatabase.h"
#include "engine/RadeSession.h"

namespace lanqi {

TRDBDataSet::TRDBDataSet(TComponent* owner) : TDataSet(owner) {
  if (auto* db = dynamic_cast<TRadeDatabase*>(owner)) {
    databaseName_ = db->DatabaseName();
    sessionName_ = db->SessionName();
  }
  // A session naming itself after its owner takes in the datasets added to that owner.
  if (TRadeSession* s = AutoNamedSessionOf(owner)) sessionName_ = s->SessionName();
}

TRDBDataSet::~TRDBDataSet() = default;

void TRDBDataSet::SetDatabaseName(const std::string& value) {
  if (IsLoading()) {
    databaseName_ = value;
    return;
  }
  if (value == databaseName_) return;
  CheckInactive();
  if (database_) Error("Cannot perform this operation on an open database");
  databaseName_ = value;
  DataEvent(dePropertyChange);
}

void TRDBDataSet::SetSessionName(const std::string& value) {
  CheckInactive();
  sessionName_ = value;
  DataEvent(dePropertyChange);
}

TRadeSession* TRDBDataSet::DBSession() const {
  if (database_ && database_->Session()) return database_->Session();
  TRadeSession* s = Sessions().FindSession(sessionName_);
  return s ? s : &DefaultSession();
}

void TRDBDataSet::Disconnect() {
  // A dataset being destroyed closes without its events.
  if (IsDestroying())
    CloseSilently();
  else
    Close();
}

void TRDBDataSet::AcquireCursor() {
  // A database of that name left in the default session moves to the session it names.
  if (!sessionName_.empty() && !databaseName_.empty()) {
    TRadeSession* named = Sessions().FindSession(sessionName_);
    if (named && !named->FindDatabase(databaseName_)) {
      if (TRadeDatabase* d = DefaultSession().FindDatabase(databaseName_)) d->BindSession(false);
    }
  }
  TRadeSession* session = Sessions().SessionByName(sessionName_);
  database_ = session->AcquireDatabase(databaseName_, this, true, dynamic_cast<TRDEDataSet*>(this));
  database_->RegisterDataSet(this);
  database_->TestAccess();
  TDataSet::AcquireCursor();
}

void TRDBDataSet::ReleaseCursor() {
  try {
    TDataSet::ReleaseCursor();
  } catch (...) {
    if (TRadeDatabase* db = database_) {
      database_ = nullptr;
      db->UnregisterDataSet(this);
      if (db->Session()) db->Session()->ReleaseDatabase(db);
    }
    throw;
  }
  if (TRadeDatabase* db = database_) {
    database_ = nullptr;
    db->UnregisterDataSet(this);
    if (db->Session()) db->Session()->ReleaseDatabase(db);
  }
}

}  // namespace lanqi
