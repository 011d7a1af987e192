// TRadeDatabase: one open database file registered under a name in a session; owns the file
// object, the table objects and their definitions, decides access to encrypted data and flushes
// the file on a timer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/storage/Definitions.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/Timer.h"
#include "rtl/Component.h"

namespace lanqi {

class TRadeSession;
class TRDBDataSet;

class TRadeDatabase : public TComponent, public TStorageOwner {
 public:
  explicit TRadeDatabase(TComponent* owner = nullptr);
  ~TRadeDatabase() override;

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value);
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& value);
  TRadeZIMediumType MediumType() const override { return mediumType_; }
  void SetMediumType(TRadeZIMediumType value);
  bool Connected() const { return fileIO_ != nullptr; }
  void SetConnected(bool value);
  bool Exclusive() const override { return exclusive_; }
  void SetExclusive(bool value);
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool value);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  bool AutoFlush() const { return autoFlush_; }
  void SetAutoFlush(bool value);
  int32_t AutoFlushInterval() const { return autoFlushInterval_; }
  void SetAutoFlushInterval(int32_t value);
  // Durable mode (off by default): each write operation syncs its data between the writes whose
  // order matters and before it returns, so a power loss keeps every operation that returned.
  // Normal mode protects against the program dying, not the machine; the file is flushed on the
  // timer and when it closes. Takes effect at the next write, open or not.
  bool Durable() const override { return durable_; }
  void SetDurable(bool value) { durable_ = value; }
  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
  TOnProgressEvent OnOperationProgress;

  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  TRadeSession* Session() const { return session_; }
  TRadeZIFileIO* FileIO() const { return fileIO_.get(); }
  TRadeTableIO* TableIOs(int i) const { return tableIOs_.at(static_cast<size_t>(i)).get(); }
  TRadeTableDefs& TableDefs() { return tableDefs_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool v) { temporary_ = v; }
  int32_t RefCount() const { return refCount_; }
  void SetRefCount(int32_t v) { refCount_ = v; }
  bool CanAccess() const { return canAccess_; }
  bool PasswordGiven() const { return passwordGiven_; }
  bool Disconnecting() const { return disconnecting_; }
  TTimer* FlushTimer() const { return flushTimer_; }

  virtual TRDBDataSet* DataSet(int index) const { return dataSets_.at(static_cast<size_t>(index)); }
  virtual int DataSetCount() const { return static_cast<int>(dataSets_.size()); }
  virtual void RegisterDataSet(TRDBDataSet* dataSet);
  virtual void UnregisterDataSet(TRDBDataSet* dataSet);
  virtual void TestAccess();
  void CloseDataSets();
  void SetPassword(const std::string& password);
  TRadeTableIO* FindTableIO(const std::string& name) const;
  // Reads the table directory again from the file and adds the tables another program added since
  // the connect (tables are only ever added at the end); the tables already known keep their
  // objects, which open datasets use. Nothing happens while disconnected.
  void RefreshTables();
  // Makes sure the file holds the table: when it does not, adds it empty at the end. The directory
  // on disk decides, under the file lock, so two programs adding the same table end with one. A
  // table of that name that lacks one of the fields (by name and type) is refused, as its rows
  // would not mean what the caller expects.
  void EnsureTable(const std::string& name, const TRadeFieldDefs& fields, const TRadeIndexDefs& indexes);
  void GetTableNames(std::vector<std::string>& list);
  std::string DatabaseFileName() const { return fileName_.empty() ? databaseName_ : fileName_; }
  bool Compressed() const;
  bool Encrypted() const;
  bool VerifyWrites() const;

  // The session binding (Part of connecting and of a session name write).
  void BindSession(bool required);
  // Joins a session directly (automatic session names).
  void AttachSession(TRadeSession* session);

  // Storage owner: the session's lock settings; the wait runs on the main loop's clock.
  int32_t LockRetryCount() const override;
  int32_t LockWaitTime() const override;
  void LockSleep(int32_t milliseconds) override;
  TObject* ProgressSender() override { return this; }

 protected:
  virtual void ConnectDatabase();
  virtual void DisconnectDatabase();
  void Loaded() override;
  void Notification(TComponent* c, TOperation operation) override;

 private:
  void CheckDisconnected() const;
  void CheckDatabaseName(const std::string& name);
  void Flush();

  std::string fileName_;
  std::string databaseName_;
  TRadeZIMediumType mediumType_ = mtDisk;
  bool exclusive_ = false;
  bool keepConnection_ = false;
  std::string sessionName_;
  bool autoFlush_ = false;
  bool durable_ = false;
  int32_t autoFlushInterval_ = 60000;
  TRadeSession* session_ = nullptr;
  std::unique_ptr<TRadeZIFileIO> fileIO_;
  std::vector<TRDBDataSet*> dataSets_;
  std::vector<std::unique_ptr<TRadeTableIO>> tableIOs_;
  TRadeTableDefs tableDefs_;
  bool temporary_ = false;
  int32_t refCount_ = 0;
  bool canAccess_ = false;
  std::string password_;
  bool passwordGiven_ = false;
  bool streamedConnected_ = false;
  bool disconnecting_ = false;
  TTimer* flushTimer_ = nullptr;
};

}  // namespace lanqi
