#include "engine/RadeSession.h"

#include <algorithm>
#include <exception>

#include "engine/RadeDatabase.h"
#include "engine/RadeTable.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

void DestroyComponent(TComponent* component) {
  if (!component) return;
  if (TComponent* owner = component->Owner()) owner->RemoveComponent(component);
  std::unique_ptr<TComponent> gone(component);
}

TRadeSession* AutoNamedSessionOf(TComponent* owner) {
  if (!owner) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i)
    if (auto* s = dynamic_cast<TRadeSession*>(owner->Components(i)); s && s->AutoSessionName()) return s;
  return nullptr;
}

// ---- session list

namespace {
TRadeSessionList* gList = nullptr;  // set while the list exists
}

TRadeSessionList& Sessions() {
  static TRadeSessionList list;
  return list;
}

TRadeSession& DefaultSession() {
  return *Sessions().DefaultSession();
}

TRadeSessionList::TRadeSessionList() {
  gList = this;
  ownedDefault_ = std::make_unique<TRadeSession>(TDefaultSessionKey{});
  default_ = ownedDefault_.get();
  sessions_.insert(sessions_.begin(), default_);
  default_->sessionName_ = "Default";
}

TRadeSessionList::~TRadeSessionList() {
  std::lock_guard<std::recursive_mutex> g(listLock_);
  // Last created first; the default session, created first, goes last.
  while (sessions_.size() > 1) {
    TRadeSession* s = sessions_.back();
    if (s->Owner()) {
      sessions_.pop_back();
      continue;
    }
    DestroyComponent(s);
  }
  ownedDefault_.reset();
  sessions_.clear();
  gList = nullptr;
}

TRadeSession* TRadeSessionList::FindSession(const std::string& name) {
  if (name.empty()) return default_;
  std::lock_guard<std::recursive_mutex> g(listLock_);
  for (TRadeSession* s : sessions_)
    if (SameTextAnsi(s->SessionName(), name)) return s;
  return nullptr;
}

TRadeSession* TRadeSessionList::SessionByName(const std::string& name) {
  TRadeSession* s = FindSession(name);
  if (!s) throw EDatabaseError(Format("Invalid session name %s", name.c_str()));
  return s;
}

void TRadeSessionList::AddSession(TRadeSession* session) {
  std::lock_guard<std::recursive_mutex> g(listLock_);
  sessions_.push_back(session);
}

void TRadeSessionList::RemoveSession(TRadeSession* session) {
  std::lock_guard<std::recursive_mutex> g(listLock_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

int TRadeSessionList::Count() {
  std::lock_guard<std::recursive_mutex> g(listLock_);
  return static_cast<int>(sessions_.size());
}

TRadeSession* TRadeSessionList::Sessions(int i) {
  std::lock_guard<std::recursive_mutex> g(listLock_);
  return sessions_.at(static_cast<size_t>(i));
}

int32_t TRadeSessionList::ReserveNumber() {
  std::lock_guard<std::recursive_mutex> g(sessionLock_);
  for (size_t i = 0; i < numbers_.size(); ++i)
    if (!numbers_[i]) {
      numbers_[i] = true;
      return static_cast<int32_t>(i);
    }
  numbers_.push_back(true);
  return static_cast<int32_t>(numbers_.size() - 1);
}

void TRadeSessionList::FreeNumber(int32_t n) {
  std::lock_guard<std::recursive_mutex> g(sessionLock_);
  if (n >= 0 && static_cast<size_t>(n) < numbers_.size()) numbers_[static_cast<size_t>(n)] = false;
}

// ---- session

TRadeSession::TRadeSession(TComponent* owner) : TComponent(owner) {
  if (owner) CheckOwnerSessions(false);
  Sessions().AddSession(this);
}

TRadeSession::TRadeSession(TDefaultSessionKey) : TComponent(nullptr) {}

TRadeSession::~TRadeSession() {
  try {
    SetActive(false);
  } catch (const std::exception& e) {
    // Nobody is left to receive it.
    HandleApplicationException(e);
  } catch (...) {
  }
  if (gList) {
    if (autoSessionNumber_ >= 0) gList->FreeNumber(autoSessionNumber_);
    if (this != gList->DefaultSession()) gList->RemoveSession(this);
  }
  // Databases that stay (not owned here) are told through the removal notification.
  for (TRadeDatabase* d : std::vector<TRadeDatabase*>(databases_))
    if (d->Owner() == this) DestroyComponent(d);
}

void TRadeSession::CheckOwnerSessions(bool enabling) {
  TComponent* owner = Owner();
  if (!owner) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* other = dynamic_cast<TRadeSession*>(owner->Components(i));
    if (!other || other == this) continue;
    if (enabling)
      DatabaseError(
          "Cannot enable AutoSessionName property with more than one session on a form or data-module",
          Name());
    if (other->AutoSessionName())
      throw EDatabaseError(Format(
          "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled",
          other->Name().c_str()));
  }
}

void TRadeSession::SetActive(bool value) {
  if (IsLoading()) {
    streamedActive_ = value;
    return;
  }
  if (value == active_) return;
  std::lock_guard<std::recursive_mutex> g(gList->SessionLock());
  if (value) {
    if (OnStartup) OnStartup(this);
    if (sessionName_.empty()) DatabaseError("Session name missing", Name());
    if (Sessions().DefaultSession() && this != Sessions().DefaultSession()) DefaultSession().SetActive(true);
    active_ = true;
  } else {
    for (size_t i = databases_.size(); i-- > 0;) {
      if (i >= databases_.size()) continue;
      TRadeDatabase* d = databases_[i];
      if (d->Temporary())
        DestroyComponent(d);
      else
        d->Close();
    }
    active_ = false;
  }
}

void TRadeSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  if (value) {
    if (active_) DatabaseError("Cannot perform this operation on an active session", Name());
    CheckOwnerSessions(true);
    autoSessionNumber_ = -1;
    autoSessionNumber_ = Sessions().ReserveNumber();
    autoSessionName_ = true;
    AssignAutoName();
  } else {
    if (autoSessionNumber_ >= 0) {
      Sessions().FreeNumber(autoSessionNumber_);
      autoSessionNumber_ = -1;
    }
    autoSessionName_ = false;
  }
}

void TRadeSession::AssignAutoName() {
  updatingAutoName_ = true;
  try {
    SetSessionName(Format("%s_%d", Name().c_str(), autoSessionNumber_ + 1));
  } catch (...) {
    updatingAutoName_ = false;
    throw;
  }
  updatingAutoName_ = false;
  PassOnName();
}

void TRadeSession::PassOnName() {
  TComponent* owner = Owner();
  if (!owner) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* c = owner->Components(i);
    if (auto* ds = dynamic_cast<TRDBDataSet*>(c)) {
      if (!SameTextAnsi(ds->SessionName(), sessionName_)) ds->SetSessionName(sessionName_);
    } else if (auto* db = dynamic_cast<TRadeDatabase*>(c)) {
      if (!SameTextAnsi(db->SessionName(), sessionName_)) db->SetSessionName(sessionName_);
    }
  }
}

void TRadeSession::SetSessionName(const std::string& value) {
  if (autoSessionName_ && !updatingAutoName_)
    DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", Name());
  if (active_) DatabaseError("Cannot perform this operation on an active session", Name());
  if (!value.empty()) {
    TRadeSession* other = gList ? gList->FindSession(value) : nullptr;
    if (other && other != this) DatabaseError(Format("Duplicate session name '%s'", value.c_str()), Name());
  }
  sessionName_ = value;
}

void TRadeSession::SetName(const std::string& name) {
  TComponent::SetName(name);
  if (autoSessionName_) AssignAutoName();
}

void TRadeSession::Loaded() {
  try {
    if (autoSessionName_) PassOnName();
    if (streamedActive_) SetActive(true);
  } catch (...) {
    throw;
  }
}

void TRadeSession::Notification(TComponent* c, TOperation operation) {
  TComponent::Notification(c, operation);
  if (operation == TOperation::opRemove) {
    auto* d = dynamic_cast<TRadeDatabase*>(c);
    if (d) RemoveDatabase(d);
  }
}

TRadeDatabase* TRadeSession::FindDatabase(const std::string& name) const {
  for (TRadeDatabase* d : databases_)
    if ((!d->DatabaseName().empty() || d->Temporary()) && SameTextAnsi(d->DatabaseName(), name)) return d;
  return nullptr;
}

void TRadeSession::EnterSession() {
  if (lockCount_ > 0) {
    ++lockCount_;
    return;
  }
  Sessions().SessionLock().lock();
  lockCount_ = 1;
  if (!active_) {
    try {
      SetActive(true);
    } catch (...) {
      lockCount_ = 0;
      Sessions().SessionLock().unlock();
      throw;
    }
  }
}

void TRadeSession::LeaveSession() {
  if (lockCount_ <= 0) return;
  if (--lockCount_ == 0) Sessions().SessionLock().unlock();
}

TRadeDatabase* TRadeSession::AcquireDatabase(const std::string& name, TComponent*, bool addReference,
                                             TRDEDataSet* dataSet) {
  EnterSession();
  TRadeDatabase* db = nullptr;
  bool created = false;
  try {
    db = FindDatabase(name);
    if (!db) {
      db = Create<TRadeDatabase>();
      created = true;
      if (dataSet) db->SetMediumType(dataSet->MediumType());
      db->SetTemporary(true);
      db->SetDatabaseName(name);
      db->SetKeepConnection(keepConnections_);
    }
    db->Open();
    if (addReference) db->SetRefCount(db->RefCount() + 1);
  } catch (...) {
    if (created) DestroyComponent(db);
    LeaveSession();
    throw;
  }
  LeaveSession();
  return db;
}

void TRadeSession::ReleaseDatabase(TRadeDatabase* database) {
  if (!database) return;
  if (database->RefCount() > 0) database->SetRefCount(database->RefCount() - 1);
  if (database->RefCount() != 0 || database->KeepConnection()) return;
  if (!database->Temporary()) {
    if (!database->Disconnecting()) database->Close();
  } else if (!database->IsDestroying() && !database->Disconnecting()) {
    // Closed before it goes, so that a failing final flush reaches the caller.
    std::exception_ptr closeError;
    try {
      database->Close();
    } catch (...) {
      closeError = std::current_exception();
    }
    DestroyComponent(database);
    if (closeError) std::rethrow_exception(closeError);
  }
}

void TRadeSession::AddDatabase(TRadeDatabase* database) {
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end())
    databases_.push_back(database);
}

void TRadeSession::RemoveDatabase(TRadeDatabase* database) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), database), databases_.end());
}

// ---- login prompt and screen cursor

namespace {
TLoginPromptHook& LoginHook() {
  static TLoginPromptHook hook;
  return hook;
}
TScreenCursorHook& CursorHook() {
  static TScreenCursorHook hook;
  return hook;
}

}  // namespace

bool ShowLoginPrompt(const std::string& fileName, std::string& password) {
  return LoginHook() && LoginHook()(fileName, password);
}

void SetLoginPromptHook(TLoginPromptHook hook) {
  LoginHook() = std::move(hook);
}

void SetScreenCursorHook(TScreenCursorHook hook) {
  CursorHook() = std::move(hook);
}

void SetScreenCursor(bool busy) {
  if (CursorHook()) CursorHook()(busy);
}

}  // namespace lanqi
