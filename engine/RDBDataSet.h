// TRDBDataSet binds a dataset by name to a database of a session.
#pragma once

#include <string>

#include "engine/dataset/DataSet.h"

namespace lanqi {

class TRadeDatabase;
class TRadeSession;

class TRDBDataSet : public TDataSet {
 public:
  explicit TRDBDataSet(TComponent* owner = nullptr);
  ~TRDBDataSet() override;

  const std::string& DatabaseName() const { return databaseName_; }
  virtual void SetDatabaseName(const std::string& value);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  TRadeDatabase* Database() const { return database_; }
  // The bound database's session, else the session named by SessionName, else the default.
  TRadeSession* DBSession() const;
  // Closes the dataset because its database disconnects.
  virtual void Disconnect();

 protected:
  void AcquireCursor() override;
  void ReleaseCursor() override;

 private:
  std::string databaseName_;
  std::string sessionName_;
  TRadeDatabase* database_ = nullptr;
};

}  // namespace lanqi
