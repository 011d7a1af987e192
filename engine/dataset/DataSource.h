// Data sources connect a dataset to the links that follow it; the master link makes a detail
// dataset follow the current record of its master.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/dataset/DataSet.h"
#include "rtl/Component.h"

namespace lanqi {

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  TDataSetState State() const { return dataSet_ ? dataSet_->State() : dsInactive; }

  // Called by the dataset.
  void NotifyDataEvent(TDataEvent event, TField* field);
  void DataSetGone();

 private:
  friend class TDataLink;
  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return source_ ? source_->DataSet() : nullptr; }
  // The source is enabled and its dataset open.
  bool Active() const { return active_; }

  void DataEvent(TDataEvent event, TField* field);
  // Re-tests Active after the source or its dataset changed.
  void UpdateActive();

 protected:
  virtual void ActiveChanged() {}
  virtual void RecordChanged(TField*) {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled() {}

 private:
  TDataSource* source_ = nullptr;
  bool active_ = false;
};

// Follows the master's current record: OnMasterChange when it changes, OnMasterDisable when the
// link goes inactive.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}

  const std::string& FieldNames() const { return fieldNames_; }
  // Resolves the names against the master when it is open ("Field '%s' not found" otherwise).
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;
  void DataSetChanged() override;
  void DataSetScrolled() override;

 private:
  void UpdateFields();
  TDataSet* detail_;
  std::string fieldNames_;
  std::vector<TField*> fields_;
};

}  // namespace lanqi
