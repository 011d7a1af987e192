#include "engine/RadeDatabase.h"

#include <algorithm>
#include <exception>

#include "engine/RadeSession.h"
#include "engine/RadeTable.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/FileFormat.h"
#include "platform/Collation.h"
#include "platform/EventLoop.h"
#include "rtl/Exceptions.h"

namespace lanqi {

TRadeDatabase::TRadeDatabase(TComponent* owner) : TComponent(owner) {
  auto* s = dynamic_cast<TRadeSession*>(owner);
  session_ = s ? s : &DefaultSession();
  sessionName_ = session_->SessionName();
  session_->AddDatabase(this);
  session_->FreeNotification(this);
  if (TRadeSession* named = AutoNamedSessionOf(owner); named && named != session_) AttachSession(named);
  flushTimer_ = Create<TTimer>();
  flushTimer_->SetInterval(1000);
  flushTimer_->OnTimer = [this](TObject*) { Flush(); };
  flushTimer_->SetEnabled(true);
}

TRadeDatabase::~TRadeDatabase() {
  if (session_) {
    session_->RemoveDatabase(this);
    session_->RemoveFreeNotification(this);
  }
  try {
    SetConnected(false);
  } catch (const std::exception& e) {
    // Nobody is left to receive it.
    HandleApplicationException(e);
  } catch (...) {
  }
  // The timer is owned; stop it before the loop may go.
  flushTimer_->SetEnabled(false);
}

void TRadeDatabase::CheckDisconnected() const {
  if (fileIO_) DatabaseError("Cannot perform this operation on an open database", Name());
}

void TRadeDatabase::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  CheckDisconnected();
  fileName_ = value;
}

void TRadeDatabase::CheckDatabaseName(const std::string& name) {
  if (name.empty() || !session_) return;
  TRadeDatabase* other = session_->FindDatabase(name);
  if (!other || other == this) return;
  if (!other->Temporary() || other->RefCount() != 0)
    throw EDatabaseError(Format("Duplicate database name '%s'", name.c_str()));
  DestroyComponent(other);
}

void TRadeDatabase::SetDatabaseName(const std::string& value) {
  if (value == databaseName_) return;
  CheckDisconnected();
  CheckDatabaseName(value);
  databaseName_ = value;
}

void TRadeDatabase::SetMediumType(TRadeZIMediumType value) {
  if (value == mediumType_) return;
  CheckDisconnected();
  mediumType_ = value;
}

void TRadeDatabase::SetExclusive(bool value) {
  CheckDisconnected();
  exclusive_ = value;
}

void TRadeDatabase::SetKeepConnection(bool value) {
  if (value == keepConnection_) return;
  keepConnection_ = value;
  if (!value && refCount_ == 0) Close();
}

void TRadeDatabase::SetSessionName(const std::string& value) {
  if (IsLoading()) {
    sessionName_ = value;
    return;
  }
  CheckDisconnected();
  if (value == sessionName_) return;
  sessionName_ = value;
  BindSession(false);
}

void TRadeDatabase::SetAutoFlush(bool value) {
  if (value == autoFlush_) return;
  autoFlush_ = value;
  if (value) flushTimer_->SetInterval(autoFlushInterval_);
  flushTimer_->SetEnabled(value);
}

void TRadeDatabase::SetAutoFlushInterval(int32_t value) {
  if (value == autoFlushInterval_) return;
  autoFlushInterval_ = value;
  if (flushTimer_->Enabled()) flushTimer_->SetInterval(value);
}

void TRadeDatabase::Flush() {
  if (fileIO_ && !fileIO_->IsFlushed()) fileIO_->FlushFile();
}

void TRadeDatabase::SetConnected(bool value) {
  if (IsLoading()) {
    streamedConnected_ = value;
    return;
  }
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(this);
    ConnectDatabase();
    for (TRDBDataSet* d : std::vector<TRDBDataSet*>(dataSets_)) d->DataEvent(deConnectChange);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    for (TRDBDataSet* d : std::vector<TRDBDataSet*>(dataSets_)) d->DataEvent(deConnectChange);
    DisconnectDatabase();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

void TRadeDatabase::BindSession(bool required) {
  TRadeSession* s = required ? Sessions().SessionByName(sessionName_) : Sessions().FindSession(sessionName_);
  if (s && s != session_) {
    if (session_) {
      session_->RemoveDatabase(this);
      session_->RemoveFreeNotification(this);
    }
    session_ = s;
    session_->FreeNotification(this);
    session_->AddDatabase(this);
    try {
      CheckDatabaseName(databaseName_);
    } catch (...) {
      databaseName_.clear();
      throw;
    }
  }
  if (required && session_) session_->SetActive(true);
}

void TRadeDatabase::AttachSession(TRadeSession* session) {
  if (session == session_) return;
  if (session_) {
    session_->RemoveDatabase(this);
    session_->RemoveFreeNotification(this);
  }
  session_ = session;
  if (session_) {
    session_->FreeNotification(this);
    session_->AddDatabase(this);
    sessionName_ = session_->SessionName();
  }
}

void TRadeDatabase::ConnectDatabase() {
  if (databaseName_.empty() && !temporary_) DatabaseError("Database name missing", Name());
  BindSession(true);
  if (!fileIO_) fileIO_ = std::make_unique<TRadeZIFileIO>(this);
  try {
    fileIO_->OpenFile(DatabaseFileName(), mediumType_, exclusive_);
    canAccess_ = !fileIO_->Encrypted();
    if (fileIO_->Encrypted() && passwordGiven_) canAccess_ = fileIO_->CheckPassword(password_);
    std::vector<std::string> names;
    fileIO_->GetTableNames(names);
    tableDefs_.Clear();
    for (size_t i = 0; i < names.size(); ++i) {
      TRadeTableDef* d = tableDefs_.Add();
      d->Name = names[i];
      d->TableNumber = static_cast<int32_t>(i);
    }
    tableIOs_.clear();
    for (const std::string& n : names) tableIOs_.push_back(std::make_unique<TRadeTableIO>(*fileIO_, n));
  } catch (...) {
    tableIOs_.clear();
    tableDefs_.Clear();
    try {
      fileIO_->CloseFile();
    } catch (...) {
    }
    fileIO_.reset();
    canAccess_ = false;
    throw;
  }
}

void TRadeDatabase::DisconnectDatabase() {
  if (fileIO_) {
    disconnecting_ = true;
    try {
      CloseDataSets();
    } catch (...) {
      disconnecting_ = false;
      throw;
    }
    // The datasets have given their tables back; the table objects go before the file object.
    tableIOs_.clear();
    tableDefs_.Clear();
    // A final flush that fails means the last writes may not be on the disk: the database is
    // closed all the same, and the caller learns of it.
    std::exception_ptr closeError;
    try {
      fileIO_->CloseFile();
    } catch (...) {
      closeError = std::current_exception();
    }
    fileIO_.reset();
    refCount_ = 0;
    password_.clear();
    passwordGiven_ = false;
    disconnecting_ = false;
    canAccess_ = false;
    if (closeError) std::rethrow_exception(closeError);
  }
  canAccess_ = false;
}

void TRadeDatabase::RegisterDataSet(TRDBDataSet* dataSet) {
  if (!dataSet) return;
  if (std::find(dataSets_.begin(), dataSets_.end(), dataSet) == dataSets_.end()) dataSets_.push_back(dataSet);
}

void TRadeDatabase::UnregisterDataSet(TRDBDataSet* dataSet) {
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), dataSet), dataSets_.end());
}

void TRadeDatabase::CloseDataSets() {
  while (!dataSets_.empty()) {
    TRDBDataSet* d = dataSets_.back();
    d->Disconnect();
    // A dataset that did not leave the list on close must not keep the loop going.
    UnregisterDataSet(d);
  }
}

void TRadeDatabase::TestAccess() {
  if (canAccess_) return;
  if (passwordGiven_) {
    SetPassword(password_);
  } else {
    std::string password;
    if (!ShowLoginPrompt(DatabaseFileName(), password)) Abort();
    SetPassword(password);
  }
  if (!canAccess_) throw EDatabaseError("Access denied");
}

void TRadeDatabase::SetPassword(const std::string& password) {
  passwordGiven_ = true;
  password_ = password;
  if (fileIO_) canAccess_ = fileIO_->CheckPassword(password);
}

TRadeTableIO* TRadeDatabase::FindTableIO(const std::string& name) const {
  for (const auto& t : tableIOs_)
    if (SameTextAnsi(t->TableName(), name)) return t.get();
  return nullptr;
}

void TRadeDatabase::RefreshTables() {
  if (!fileIO_) return;
  TFileLockGuard lock(*fileIO_);
  TTableDirectory& dir = fileIO_->Directory();
  fileIO_->ReadBytesAt(dir.Image.Data(), kDirectoryOffset, kDirectorySize);
  int32_t n = dir.Count();
  if (n < static_cast<int32_t>(tableIOs_.size()) || n > kMaxTables)
    fileIO_->Corrupt(
        Format("table count %d is outside %d to %d", n, static_cast<int32_t>(tableIOs_.size()), kMaxTables));
  std::vector<std::string> names;
  fileIO_->GetTableNames(names);
  for (size_t i = tableIOs_.size(); i < names.size(); ++i) {
    TRadeTableDef* d = tableDefs_.Add();
    d->Name = names[i];
    d->TableNumber = static_cast<int32_t>(i);
    tableIOs_.push_back(std::make_unique<TRadeTableIO>(*fileIO_, names[i]));
  }
}

void TRadeDatabase::EnsureTable(const std::string& name, const TRadeFieldDefs& fields,
                                const TRadeIndexDefs& indexes) {
  if (!fileIO_) DatabaseError("Cannot perform this operation on a closed database", Name());
  TFileLockGuard lock(*fileIO_);
  RefreshTables();
  if (!FindTableIO(name)) {
    AddTable(*fileIO_, name, fields, indexes);
    RefreshTables();
    return;
  }
  // The stored definition, read from the table's header.
  TTableHeader h;
  for (int32_t t = 0; t < fileIO_->TableCount(); ++t) {
    fileIO_->ReadTableHeader(t, h);
    if (!SameTextAnsi(h.Name(), name)) continue;
    for (int32_t i = 0; i < fields.Count(); ++i) {
      const TRadeFieldDef* want = fields.Items(i);
      bool found = false;
      for (int32_t k = 0; k < h.FieldCount() && !found; ++k) {
        TFieldDefRec f = h.Field(k);
        found = SameTextAnsi(f.Name, want->Name) && f.FieldType == want->FieldType;
      }
      if (!found)
        DatabaseError(
            Format("Table '%s' has no field '%s' of the expected type", name.c_str(), want->Name.c_str()),
            Name());
    }
    return;
  }
}

void TRadeDatabase::GetTableNames(std::vector<std::string>& list) {
  if (!fileIO_) return;
  list.clear();
  fileIO_->GetTableNames(list);
}

bool TRadeDatabase::Compressed() const {
  if (!fileIO_) DatabaseError("Cannot perform this operation on a closed database", Name());
  return fileIO_->Compressed();
}

bool TRadeDatabase::Encrypted() const {
  if (!fileIO_) DatabaseError("Cannot perform this operation on a closed database", Name());
  return fileIO_->Encrypted();
}

bool TRadeDatabase::VerifyWrites() const {
  if (!fileIO_) DatabaseError("Cannot perform this operation on a closed database", Name());
  return fileIO_->VerifyWrites();
}

int32_t TRadeDatabase::LockRetryCount() const {
  return session_ ? session_->LockRetryCount() : 20;
}

int32_t TRadeDatabase::LockWaitTime() const {
  return session_ ? session_->LockWaitTime() : 100;
}

void TRadeDatabase::LockSleep(int32_t milliseconds) {
  MainLoop().Sleep(milliseconds);
}

void TRadeDatabase::Loaded() {
  if (streamedConnected_)
    SetConnected(true);
  else
    BindSession(false);
}

void TRadeDatabase::Notification(TComponent* c, TOperation operation) {
  TComponent::Notification(c, operation);
  if (operation == TOperation::opRemove && c == session_) {
    bool isDefault = session_ == &DefaultSession();
    session_ = nullptr;
    if (!isDefault) {
      try {
        Close();
      } catch (const std::exception& e) {
        // The session is going away: nobody is left to receive it.
        HandleApplicationException(e);
      } catch (...) {
      }
      sessionName_.clear();
      session_ = &DefaultSession();
      session_->AddDatabase(this);
      session_->FreeNotification(this);
    }
  }
}

}  // namespace lanqi
