#include "engine/dataset/DataSource.h"

#include <algorithm>

namespace lanqi {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->SetDataSource(nullptr);
  if (dataSet_) dataSet_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateActive();
}

void TDataSource::SetEnabled(bool v) {
  enabled_ = v;
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateActive();
}

void TDataSource::NotifyDataEvent(TDataEvent event, TField* field) {
  if (event == deUpdateState) {
    for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateActive();
    return;
  }
  if (!enabled_) return;
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->DataEvent(event, field);
}

void TDataSource::DataSetGone() {
  dataSet_ = nullptr;
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateActive();
}

TDataLink::~TDataLink() {
  if (source_) {
    auto& v = source_->links_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) {
    auto& v = source_->links_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  source_ = source;
  if (source_) source_->links_.push_back(this);
  UpdateActive();
}

void TDataLink::UpdateActive() {
  bool now = source_ && source_->Enabled() && source_->DataSet() && source_->DataSet()->Active();
  if (now == active_) return;
  active_ = now;
  ActiveChanged();
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      RecordChanged(field);
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled();
      break;
    default:
      break;
  }
}

void TMasterDataLink::SetFieldNames(const std::string& names) {
  std::string old = fieldNames_;
  fieldNames_ = names;
  try {
    UpdateFields();
  } catch (...) {
    fieldNames_ = old;
    UpdateFields();
    throw;
  }
}

void TMasterDataLink::UpdateFields() {
  fields_.clear();
  if (Active() && !fieldNames_.empty()) fields_ = DataSet()->FieldList(fieldNames_);
  if (!detail_->Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active() && !fieldNames_.empty()) fields_ = DataSet()->FieldList(fieldNames_);
  // The detail reacts only when it is open itself.
  if (!detail_->Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  // A change of one of the master fields while the master edits moves the detail too. Values a
  // search writes into its scratch record (Locate, Lookup) are not the master's record.
  if (!field || fields_.empty() || !detail_->Active()) return;
  if (DataSet()->State() != dsEdit && DataSet()->State() != dsInsert) return;
  if (std::find(fields_.begin(), fields_.end(), field) != fields_.end() && OnMasterChange) OnMasterChange();
}

void TMasterDataLink::DataSetChanged() {
  if (!fields_.empty() && detail_->Active() && OnMasterChange) OnMasterChange();
}

void TMasterDataLink::DataSetScrolled() {
  if (!fields_.empty() && detail_->Active() && OnMasterChange) OnMasterChange();
}

}  // namespace lanqi
