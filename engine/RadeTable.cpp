#include "engine/RadeTable.h"

#include <algorithm>
#include <cstring>

#include "engine/RadeDatabase.h"
#include "engine/RecordWindow.h"

namespace lanqi {

TRadeTable::TRadeTable(TComponent* owner) : TRDEDataSet(owner), masterLink_(this) {
  masterLink_.OnMasterChange = [this] { ApplyMasterRange(); };
  masterLink_.OnMasterDisable = [this] {
    if (ranged_) CancelRange();
  };
}

TRadeTable::~TRadeTable() {
  CloseOnDestroy();
  masterLink_.SetDataSource(nullptr);
}

void TRadeTable::SetDatabaseName(const std::string& value) {
  TRDEDataSet::SetDatabaseName(value);
  // Callers set the database first: the table and index names belong to the old one.
  tableName_.clear();
  indexName_.clear();
}

void TRadeTable::SetTableName(const std::string& value) {
  if (value == tableName_) return;
  CheckInactive();
  tableName_ = value;
}

void TRadeTable::SetIndexName(const std::string& value) {
  indexName_ = value;
  if (value.empty()) indexNumber_ = -1;
  if (!Active()) return;
  CheckBrowseMode();
  ChooseIndex();
  LoadView();
  if (MasterRangeWanted()) {
    ApplyMasterRange();
    return;
  }
  First();
}

void TRadeTable::SetMasterSource(TDataSource* source) {
  for (TDataSource* s = source; s && s->DataSet(); s = s->DataSet()->LinkedSource())
    if (s->DataSet() == this) Error("Circular datalinks are not allowed");
  masterLink_.SetDataSource(source);
}

void TRadeTable::SetMasterFields(const std::string& value) {
  masterLink_.SetFieldNames(value);
}

bool TRadeTable::CanModify() {
  return TRDEDataSet::CanModify() && !readOnly_ &&
         !(Database() && Database()->FileIO() && Database()->FileIO()->ReadOnly());
}

void TRadeTable::LoadFieldDefs() {
  FieldDefs().clear();
  TRadeFieldDefs& defs = tableIO_->FieldDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TRadeFieldDef* d = defs.Items(i);
    TFieldDef fd;
    fd.Name = d->Name;
    fd.DataType = static_cast<TFieldType>(d->FieldType);
    bool sized = IsStringType(d->FieldType);
    fd.Size = sized ? d->DataSize : 0;
    fd.Required = false;
    fd.FieldNo = i + 1;
    FieldDefs().push_back(fd);
  }
}

namespace {
std::string QuotedFieldName(const std::string& name) {
  if (name.find_first_of(" ,\"") == std::string::npos) return name;
  return "\"" + name + "\"";
}
}  // namespace

void TRadeTable::OpenTable() {
  tableIO_ = Database()->FindTableIO(tableName_);
  // Another program may have added the table since the database was connected.
  if (!tableIO_) {
    Database()->RefreshTables();
    tableIO_ = Database()->FindTableIO(tableName_);
  }
  if (!tableIO_) Error(Format("Table '%s' not found", tableName_.c_str()));
  tableIO_->Acquire();
  acquired_ = true;
  fileView_ = std::make_unique<TFileView>(tableIO_->FileIO());
  window_ = std::make_unique<TRecordWindow>(*tableIO_, *fileView_);
  lastFetched_ = -1;
  recordList_.clear();
  recordListExists_ = true;
  SetCurrentPosition(-1);
  SetModifiable(true);
  LoadFieldDefs();
  CreateFields();
  indexDefs_.clear();
  TRadeIndexDefs& ix = tableIO_->IndexDefs();
  TRadeFieldDefs& fd = tableIO_->FieldDefs();
  for (int32_t k = 0; k < ix.Count(); ++k) {
    const TRadeIndexDef* d = ix.Items(k);
    TIndexDef def;
    def.Name = d->Name;
    for (size_t j = 0; j < d->FieldNumbers.size(); ++j) {
      if (j) def.Fields += ",";
      int32_t fn = d->FieldNumbers[j];
      if (fn >= 0 && fn < fd.Count()) def.Fields += QuotedFieldName(fd.Items(fn)->Name);
    }
    def.Options = d->Options;
    indexDefs_.push_back(def);
  }
  LayOutBuffers(fd.Count());
  // A record buffer that holds every slot of the record, byte for byte and in the same place, takes
  // a record read ahead in one copy.
  wholeRecords_ = StoredDataSize() == tableIO_->RecordSize();
  for (int32_t i = 0; i < fd.Count() && wholeRecords_; ++i) {
    TField* f = FieldForNumber(i + 1);
    wholeRecords_ = f && !f->IsBlob() && !IsBlobType(fd.Items(i)->FieldType) &&
                    !tableIO_->FieldEncrypted(i) && f->DataSize() == tableIO_->SlotSize(i) &&
                    FieldOffsets()[static_cast<size_t>(i)] == tableIO_->SlotOffsets()[static_cast<size_t>(i)];
  }
  ChooseIndex();
  LoadView();
  AllocateKeyBuffers();
}

void TRadeTable::CloseTable() {
  if (acquired_ && tableIO_) {
    acquired_ = false;
    tableIO_->Release();
  }
  window_.reset();
  fileView_.reset();
  lastFetched_ = -1;
  tableIO_ = nullptr;
  recordList_.clear();
  recordListExists_ = false;
  ReleaseKeyBuffers();
  DestroyFields();
  SetCurrentPosition(-1);
  SetModifiable(false);
  ranged_ = false;
  rangeFieldCount_ = 0;
}

void TRadeTable::ChooseIndex() {
  indexNumber_ = tableIO_->IndexDefs().IndexOf(indexName_);
  if (indexName_.empty()) indexNumber_ = -1;
  if (indexNumber_ < 0) indexNumber_ = tableIO_->PrimaryIndex();
}

void TRadeTable::LoadView() {
  tableIO_->LoadRecordList(indexNumber_ + 1, false);
  recordList_ = tableIO_->RecordLists(indexNumber_ + 1);
  SetModifiable(true);
}

void TRadeTable::AfterOpenStep() {
  if (MasterRangeWanted()) ApplyMasterRange();
  if (Filtered()) ActivateFilter();
  TDataSet::AfterOpenStep();
}

TGetResult TRadeTable::FetchRecord(TRecordBuffer* buffer, TGetMode mode, bool report) {
  int32_t count = RecordCount();
  if (count <= 0) return grEOF;
  int32_t pos = CurrentPosition();
  TGetResult r = grOK;
  switch (mode) {
    case gmCurrent:
      r = pos >= 0 && pos < count ? grOK : grError;
      break;
    case gmNext:
      if (pos < count - 1)
        SetCurrentPosition(pos + 1);
      else
        r = grEOF;
      break;
    case gmPrior:
      if (pos > 0)
        SetCurrentPosition(pos - 1);
      else
        r = grBOF;
      break;
  }
  // A walk that ran off its end lets the file's mapping go (the window holds copies), so a program
  // idle after reading a table does not keep the file's pages counted as its own memory.
  if ((r == grEOF || r == grBOF) && fileView_) fileView_->Release();
  if (r == grOK) {
    // Next and Prior read on through the window of records read ahead; anything else starts one.
    pos = CurrentPosition();
    const bool continues = lastFetched_ >= 0 && ((mode == gmNext && pos == lastFetched_ + 1) ||
                                                 (mode == gmPrior && pos == lastFetched_ - 1));
    lastFetched_ = -1;
    const uint8_t* record = continues ? window_->Find(recordList_, pos) : nullptr;
    if (!record) {
      int32_t rows = continues ? 2 * window_->Count() : mode == gmCurrent ? 1 : TRecordWindow::kFirstRows;
      record = window_->Fill(recordList_, pos, mode == gmPrior ? -1 : 1, rows);
    }
    if (wholeRecords_)
      std::memcpy(buffer->Bytes(), record, static_cast<size_t>(StoredDataSize()));
    else
      tableIO_->DecodeRecord(static_cast<TRDERecordBuffer*>(buffer)->Items, record,
                             recordList_[static_cast<size_t>(pos)].DataOffset);
    lastFetched_ = pos;
    WriteBookmarkFlag(buffer, bfCurrent);
    int32_t recNo = recordList_[static_cast<size_t>(CurrentPosition())].RecNo;
    WriteBookmark(buffer, reinterpret_cast<const uint8_t*>(&recNo));
    ComputeCalcFields(buffer);
  } else if (r == grError && report) {
    DatabaseError("No records");
  }
  return r;
}

void TRadeTable::ReadRecord(TRecordBuffer* buffer, int32_t position) {
  if (position < 0 || position >= RecordCount()) return;
  auto* b = static_cast<TRDERecordBuffer*>(buffer);
  tableIO_->LoadRecord(b->Items, recordList_, position);
}

void TRadeTable::GotoBookmark(const uint8_t* bookmark) {
  int32_t recNo;
  std::memcpy(&recNo, bookmark, kBookmarkSize);
  int32_t cp = CurrentPosition();
  // The cursor usually already stands on the record.
  if (cp >= 0 && cp < RecordCount() && recordList_[static_cast<size_t>(cp)].RecNo == recNo) return;
  for (size_t i = 0; i < recordList_.size(); ++i)
    if (recordList_[i].RecNo == recNo) {
      SetCurrentPosition(static_cast<int32_t>(i));
      return;
    }
  DatabaseError("Bookmark not found");
}

bool TRadeTable::BookmarkValid(const uint8_t* bookmark) {
  if (!IsOpen()) return false;
  int32_t recNo;
  std::memcpy(&recNo, bookmark, kBookmarkSize);
  return std::any_of(recordList_.begin(), recordList_.end(), [&](const auto& e) { return e.RecNo == recNo; });
}

void TRadeTable::RefreshView() {
  ChooseIndex();
  LoadView();
  if (ranged_) {
    if (indexNumber_ == -1) Error("No index currently active");
    if (!recordList_.empty()) {
      TRecordList view = recordList_;
      RangeWithin(view);
    }
  }
  if (Filtered()) ActivateFilter();
}

// ---- editing

int32_t TRadeTable::ViewPositionByBisection(TRDERecordBuffer* buffer) {
  if (recordList_.empty()) return 0;
  TKeySearchResult result = TKeySearchResult::Found;
  int32_t pos = tableIO_->SearchIndex(buffer->Items, recordList_, false, 0, result, indexNumber_);
  if (result == TKeySearchResult::Empty) return 0;
  return result == TKeySearchResult::Before ? pos : pos + 1;
}

void TRadeTable::OnIndexInsert(int32_t indexNumber, int32_t position, const TRecordListEntry& entry) {
  if (indexNumber != indexNumber_) return;
  if (indexNumber_ == -1) {
    recordList_.push_back(entry);
    return;
  }
  // The storage position holds for the view only where the view has the same neighbours there;
  // a view that missed other writers' records places the record by bisection instead.
  const TRecordList& stored = tableIO_->RecordLists(indexNumber_ + 1);  // before the insertion
  auto same = [&](int32_t p) {
    const bool inView = p >= 0 && p < RecordCount();
    const bool inStore = p >= 0 && p < static_cast<int32_t>(stored.size());
    return inView == inStore &&
           (!inView || recordList_[static_cast<size_t>(p)] == stored[static_cast<size_t>(p)]);
  };
  int32_t pos = position;
  if (Filtered() || ranged_ || pos < 0 || pos > RecordCount() || !same(pos - 1) || !same(pos))
    pos = ViewPositionByBisection(static_cast<TRDERecordBuffer*>(CurrentBuffer()));
  recordList_.insert(recordList_.begin() + pos, entry);
  SetCurrentPosition(pos);
}

void TRadeTable::OnIndexMove(int32_t indexNumber, int32_t oldPosition, int32_t newPosition) {
  if (indexNumber != indexNumber_ || indexNumber_ == -1) return;
  int32_t count = RecordCount();
  int32_t cp = CurrentPosition();
  // The storage positions hold for the view only while it is a copy of the index's list; a view
  // that missed another dataset's changes places the record by bisection instead.
  bool plain =
      !Filtered() && !ranged_ && oldPosition >= 0 && oldPosition < count && newPosition >= 0 &&
      newPosition <= count && cp >= 0 && cp < count &&
      recordList_[static_cast<size_t>(oldPosition)].RecNo == recordList_[static_cast<size_t>(cp)].RecNo;
  if (!plain) {
    if (cp < 0 || cp >= count) return;
    TRecordListEntry e = recordList_[static_cast<size_t>(cp)];
    recordList_.erase(recordList_.begin() + cp);
    int32_t pos = ViewPositionByBisection(static_cast<TRDERecordBuffer*>(CurrentBuffer()));
    recordList_.insert(recordList_.begin() + pos, e);
    SetCurrentPosition(pos);
    return;
  }
  TRecordListEntry e = recordList_[static_cast<size_t>(oldPosition)];
  recordList_.erase(recordList_.begin() + oldPosition);
  if (oldPosition < newPosition) --newPosition;
  recordList_.insert(recordList_.begin() + newPosition, e);
  SetCurrentPosition(newPosition);
}

void TRadeTable::AppendFromBuffer(TRDERecordBuffer* buffer) {
  tableIO_->AppendRecord(buffer->Items, false, [this](int32_t k, int32_t pos, const TRecordListEntry& e) {
    OnIndexInsert(k, pos, e);
  });
}

void TRadeTable::PostBuffer() {
  auto* b = static_cast<TRDERecordBuffer*>(CurrentBuffer());
  if (!b) return;
  if (State() == dsEdit) {
    int32_t cp = CurrentPosition();
    if (cp < 0 || cp >= RecordCount()) return;
    int32_t phys = tableIO_->FindPhysicalPos(recordList_, cp);
    // Another dataset of this table may have deleted it since our view was loaded.
    if (phys < 0) DatabaseError("Record not found");
    tableIO_->ModifyRecord(
        b->Items, phys, [this](int32_t k, int32_t o, int32_t n) { OnIndexMove(k, o, n); }, false);
  } else if (State() == dsInsert) {
    AppendFromBuffer(b);
  }
}

void TRadeTable::StartEdit(TRecordBuffer* buffer) {
  int32_t cp = CurrentPosition();
  // Another dataset of this table may have deleted the record or changed it since the view read
  // it: an edit of a deleted record fails here, and one of a changed record starts from the
  // stored values, so that Post does not write back what this view read before.
  if (cp < 0 || cp >= RecordCount() || tableIO_->FindPhysicalPos(recordList_, cp) < 0)
    DatabaseError("Record not found");
  ReadRecord(buffer, cp);
}

void TRadeTable::AddRecordFromBuffer(TRecordBuffer* buffer, bool append) {
  if (append) MoveAfterLast();
  AppendFromBuffer(static_cast<TRDERecordBuffer*>(buffer));
}

void TRadeTable::DeleteCurrent() {
  int32_t cp = CurrentPosition();
  if (cp < 0 || cp >= RecordCount()) return;
  int32_t phys = tableIO_->FindPhysicalPos(recordList_, cp);
  if (phys < 0) DatabaseError("Record not found");
  tableIO_->DeleteRecord(phys, false);
  recordList_.erase(recordList_.begin() + cp);
  if (cp == RecordCount()) SetCurrentPosition(cp - 1);
}

// ---- master-detail range

void TRadeTable::RangeWithin(const TRecordList& list) {
  if (list.empty()) return;
  int32_t n = rangeFieldCount_;
  TKeySearchResult result = TKeySearchResult::Found;
  int32_t first =
      tableIO_->SearchIndexBound(KeyBuffers(1)->Items, list, indexNumber_, true, result, n, false);
  if (result != TKeySearchResult::Found)
    first = result == TKeySearchResult::Empty ? 0 : (result == TKeySearchResult::Before ? first : first + 1);
  int32_t last =
      tableIO_->SearchIndexBound(KeyBuffers(2)->Items, list, indexNumber_, false, result, n, false);
  if (result != TKeySearchResult::Found)
    last = result == TKeySearchResult::Empty ? -1 : (result == TKeySearchResult::Before ? last - 1 : last);
  TRecordList view;
  if (last >= first && first >= 0)
    view.assign(list.begin() + first,
                list.begin() + std::min<int32_t>(last + 1, static_cast<int32_t>(list.size())));
  recordList_ = std::move(view);
  ranged_ = true;
}

void TRadeTable::ApplyMasterRange() {
  if (!Active() || indexNumber_ == -1) return;
  if (Filtered()) SetFiltered(false);
  CheckBrowseMode();
  const std::vector<TField*>& masters = masterLink_.Fields();
  const TRadeIndexDef* d = tableIO_->IndexDefs().Items(indexNumber_);
  int32_t n = static_cast<int32_t>(std::min(masters.size(), d->FieldNumbers.size()));
  TDataSetState saved = State();
  for (int kb = 1; kb <= 2; ++kb) {
    SetKeyBuffer(KeyBuffers(kb));
    InitNewRecord(KeyBuffers(kb));
    SetState(dsSetKey);
    try {
      for (int32_t i = 0; i < n; ++i)
        if (TField* f = FieldForNumber(d->FieldNumbers[static_cast<size_t>(i)] + 1))
          f->SetAsVariant(masters[static_cast<size_t>(i)]->AsVariant());
    } catch (...) {
      SetState(saved);
      throw;
    }
    SetState(saved);
  }
  rangeFieldCount_ = n;
  const TRecordList& list = tableIO_->RecordLists(indexNumber_ + 1);
  if (list.empty()) {
    recordList_.clear();
    ranged_ = true;
    First();
    return;
  }
  RangeWithin(list);
  First();
}

void TRadeTable::CancelRange() {
  if (!Active()) {
    ranged_ = false;
    rangeFieldCount_ = 0;
    return;
  }
  CheckBrowseMode();
  UpdateCursorPos();
  ChooseIndex();
  LoadView();
  Resync();
  First();
  SetModifiable(true);
  ranged_ = false;
  rangeFieldCount_ = 0;
  if (Filtered()) ActivateFilter();
}

}  // namespace lanqi
