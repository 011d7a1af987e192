// Sessions: the namespaces in which databases are registered by name, the process-wide session
// list with the default session "Default", the session lock, and the login prompt hook.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtl/Component.h"

namespace lanqi {

class TRadeDatabase;
class TRDEDataSet;

// Only the session list makes the default session.
class TDefaultSessionKey {
  friend class TRadeSessionList;
  TDefaultSessionKey() = default;
};

class TRadeSession : public TComponent {
 public:
  explicit TRadeSession(TComponent* owner = nullptr);
  explicit TRadeSession(TDefaultSessionKey);
  ~TRadeSession() override;

  bool Active() const { return active_; }
  void SetActive(bool value);
  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool v) { keepConnections_ = v; }
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  bool SQLHourGlass() const { return sqlHourGlass_; }
  void SetSQLHourGlass(bool v) { sqlHourGlass_ = v; }
  int32_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(int32_t v) { lockRetryCount_ = v < 0 ? 0 : v; }
  int32_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(int32_t v) { lockWaitTime_ = v < 0 ? 0 : v; }
  // The component name; while AutoSessionName is on, renaming assigns the automatic name again.
  void SetName(const std::string& name);
  TNotifyEvent OnStartup;

  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TRadeDatabase* Databases(int i) const { return databases_.at(static_cast<size_t>(i)); }
  TRadeDatabase* FindDatabase(const std::string& name) const;
  TRadeDatabase* AcquireDatabase(const std::string& name, TComponent* owner, bool addReference,
                                 TRDEDataSet* dataSet);
  void ReleaseDatabase(TRadeDatabase* database);
  void AddDatabase(TRadeDatabase* database);
  void RemoveDatabase(TRadeDatabase* database);
  void EnterSession();
  void LeaveSession();
  int32_t LockCount() const { return lockCount_; }
  int32_t AutoSessionNumber() const { return autoSessionNumber_; }

 protected:
  void Loaded() override;
  void Notification(TComponent* c, TOperation operation) override;

 private:
  friend class TRadeSessionList;
  void AssignAutoName();
  void CheckOwnerSessions(bool enabling);
  void PassOnName();

  bool active_ = false;
  bool autoSessionName_ = false;
  bool keepConnections_ = false;
  std::string sessionName_;
  bool sqlHourGlass_ = true;
  int32_t lockRetryCount_ = 20;
  int32_t lockWaitTime_ = 100;
  std::vector<TRadeDatabase*> databases_;
  int32_t lockCount_ = 0;
  bool streamedActive_ = false;
  int32_t autoSessionNumber_ = -1;
  bool updatingAutoName_ = false;
};

class TRadeSessionList {
 public:
  TRadeSessionList();
  ~TRadeSessionList();
  TRadeSessionList(const TRadeSessionList&) = delete;
  TRadeSessionList& operator=(const TRadeSessionList&) = delete;

  // The default session for an empty name, else the first whose name matches without regard to
  // case, or null.
  TRadeSession* FindSession(const std::string& name);
  // As FindSession; none raises "Invalid session name %s".
  TRadeSession* SessionByName(const std::string& name);
  void AddSession(TRadeSession* session);
  void RemoveSession(TRadeSession* session);
  int Count();
  TRadeSession* Sessions(int i);
  TRadeSession* DefaultSession() const { return default_; }

  // Automatic session numbers: the lowest free one is reserved and later freed.
  int32_t ReserveNumber();
  void FreeNumber(int32_t n);
  // The process-wide recursive session lock.
  std::recursive_mutex& SessionLock() { return sessionLock_; }

 private:
  std::recursive_mutex listLock_;
  std::recursive_mutex sessionLock_;
  std::vector<TRadeSession*> sessions_;
  std::vector<bool> numbers_;
  TRadeSession* default_ = nullptr;
  std::unique_ptr<TRadeSession> ownedDefault_;
};

TRadeSessionList& Sessions();
TRadeSession& DefaultSession();

// The password prompt for an encrypted database: true with the password when confirmed. With no
// hook nobody is asked (false); the programs install theirs (radezi the terminal, lanqi its dialog).
using TLoginPromptHook = std::function<bool(const std::string& fileName, std::string& password)>;
bool ShowLoginPrompt(const std::string& fileName, std::string& password);
// An empty hook removes the prompt.
void SetLoginPromptHook(TLoginPromptHook hook);

// The mouse cursor while a filter is applied: true the busy cursor, false the default one. The
// application installs its own; the default does nothing.
using TScreenCursorHook = std::function<void(bool busy)>;
void SetScreenCursorHook(TScreenCursorHook hook);
void SetScreenCursor(bool busy);

// The session owned by owner that has AutoSessionName on, or null.
TRadeSession* AutoNamedSessionOf(TComponent* owner);

// Destroys a component made with owner->Create<T>() before its owner goes.
void DestroyComponent(TComponent* component);

}  // namespace lanqi
