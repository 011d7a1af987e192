#include "engine/RadeTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "engine/RadeBlobStream.h"
#include "engine/RadeDatabase.h"
#include "engine/RadeSession.h"
#include "engine/RecordWindow.h"
#include "engine/values/CompareValues.h"
#include "platform/Collation.h"
#include "platform/FileStream.h"
#include "rtl/AnsiText.h"
#include "rtl/DateTime.h"

namespace lanqi {

// ---- TRDBDataSet

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

// ---- record buffers

TRDERecordBuffer::~TRDERecordBuffer() = default;

// ---- filter binding

TFilterField TRDEFilterSource::FilterFieldByName(const std::string& name) {
  TField* f = dataSet_->FieldByName(name);
  TFilterField r;
  r.DataType = f->DataType();
  r.IsBlob = f->IsBlob();
  r.FieldIndex = f->Index();
  r.DataSize = f->DataSize();
  return r;
}

const uint8_t* TRDEFilterSource::ActiveRecordBuffer() {
  TRecordBuffer* b = dataSet_->ActiveRecordBuffer();
  return b ? b->Bytes() : nullptr;
}

int32_t TRDEFilterSource::FieldOffset(int32_t fieldIndex) {
  TField* f = dataSet_->Fields(fieldIndex);
  if (f->Calculated()) return dataSet_->StoredDataSize() + f->CalcOffset() + 1;
  return dataSet_->FieldOffsets()[static_cast<size_t>(f->FieldNo() - 1)];
}

void TRDEFilterSource::BlobFieldText(int32_t fieldIndex, std::string& text) {
  text.clear();
  TField* f = dataSet_->Fields(fieldIndex);
  TRecordBuffer* b = dataSet_->ActiveRecordBuffer();
  TOptimBlobStream* s = b ? dataSet_->SlotBlobStream(b, f) : nullptr;
  if (!s) return;
  int64_t size = s->Size();
  text.resize(static_cast<size_t>(size));
  s->SetPosition(0);
  if (size > 0) s->ReadBuffer(text.data(), static_cast<int32_t>(size));
}

// ---- TRDEDataSet

TRDEDataSet::TRDEDataSet(TComponent* owner)
    : TRDBDataSet(owner),
      filterSource_(this),
      filterParser_(std::make_unique<TFilterParser>(&filterSource_)) {}

TRDEDataSet::~TRDEDataSet() = default;

void TRDEDataSet::SetMediumType(TRadeZIMediumType value) {
  if (value == mediumType_) return;
  CheckInactive();
  mediumType_ = value;
  TRadeSession* s = DBSession();
  if (TRadeDatabase* db = s ? s->FindDatabase(DatabaseName()) : nullptr) db->SetMediumType(value);
}

TField* TRDEDataSet::FieldForNumber(int32_t fieldNo) const {
  if (fieldNo < 1 || fieldNo > static_cast<int32_t>(fieldByNo_.size())) return nullptr;
  return fieldByNo_[static_cast<size_t>(fieldNo - 1)];
}

void TRDEDataSet::LayOutBuffers(int32_t tableFieldCount) {
  tableFieldCount_ = tableFieldCount;
  int32_t maxNo = tableFieldCount;
  for (int i = 0; i < FieldCount(); ++i) maxNo = std::max(maxNo, Fields(i)->FieldNo());
  fieldOffsets_.assign(static_cast<size_t>(maxNo), -1);
  fieldByNo_.assign(static_cast<size_t>(maxNo), nullptr);
  int32_t offset = 0;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields(i);
    if (f->FieldNo() <= 0) continue;
    fieldOffsets_[static_cast<size_t>(f->FieldNo() - 1)] = offset;
    fieldByNo_[static_cast<size_t>(f->FieldNo() - 1)] = f;
    offset += f->IsBlob() ? 4 : f->DataSize();
  }
  storedDataSize_ = offset;
}

std::unique_ptr<TRecordBuffer> TRDEDataSet::AllocateRecordBuffer() {
  auto b = std::make_unique<TRDERecordBuffer>(static_cast<size_t>(RecordBufferSize()));
  // One item per table field, pointing into this buffer, so reads and writes need no setup.
  for (int32_t no = 1; no <= tableFieldCount_; ++no) {
    TField* f = FieldForNumber(no);
    if (!f) {
      b->Items.AddUnused();
      continue;
    }
    uint8_t* slot = b->Bytes() + fieldOffsets_[static_cast<size_t>(no - 1)];
    if (f->IsBlob()) {
      int32_t index = static_cast<int32_t>(b->Blobs.size());
      b->Blobs.push_back(std::make_unique<TOptimBlobStream>(this));
      std::memcpy(slot, &index, 4);
      b->Items.Add(b->Blobs.back().get(), f->DataType(), 0);
    } else {
      b->Items.Add(slot, f->DataType(), f->DataSize());
    }
  }
  return b;
}

TOptimBlobStream* TRDEDataSet::SlotBlobStream(TRecordBuffer* buffer, TField* field) {
  auto* b = dynamic_cast<TRDERecordBuffer*>(buffer);
  if (!b || !field->IsBlob() || field->FieldNo() <= 0) return nullptr;
  int32_t offset = fieldOffsets_[static_cast<size_t>(field->FieldNo() - 1)];
  if (offset < 0) return nullptr;
  int32_t index;
  std::memcpy(&index, b->Bytes() + offset, 4);
  if (index < 0 || index >= static_cast<int32_t>(b->Blobs.size())) return nullptr;
  return b->Blobs[static_cast<size_t>(index)].get();
}

void TRDEDataSet::ReadBookmark(TRecordBuffer* buffer, uint8_t* destination) {
  std::memcpy(destination, buffer->Bytes() + storedDataSize_ + CalcFieldsSize(), 4);
}

TBookmarkFlag TRDEDataSet::ReadBookmarkFlag(TRecordBuffer* buffer) {
  return static_cast<TBookmarkFlag>(buffer->Bytes()[storedDataSize_ + CalcFieldsSize() + 4]);
}

void TRDEDataSet::WriteBookmark(TRecordBuffer* buffer, const uint8_t* bookmark) {
  std::memcpy(buffer->Bytes() + storedDataSize_ + CalcFieldsSize(), bookmark, 4);
}

void TRDEDataSet::WriteBookmarkFlag(TRecordBuffer* buffer, TBookmarkFlag flag) {
  buffer->Bytes()[storedDataSize_ + CalcFieldsSize() + 4] = flag;
}

void TRDEDataSet::SyncToBuffer(TRecordBuffer* buffer) {
  uint8_t bm[4];
  ReadBookmark(buffer, bm);
  GotoBookmark(bm);
}

void TRDEDataSet::InitNewRecord(TRecordBuffer* buffer) {
  auto* b = static_cast<TRDERecordBuffer*>(buffer);
  // The blob slots keep their stream indexes; everything else starts at zero.
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields(i);
    if (f->Calculated()) {
      std::memset(b->Bytes() + storedDataSize_ + f->CalcOffset(), 0, static_cast<size_t>(1 + f->DataSize()));
      continue;
    }
    if (f->FieldNo() <= 0) continue;
    uint8_t* slot = b->Bytes() + fieldOffsets_[static_cast<size_t>(f->FieldNo() - 1)];
    if (f->IsBlob()) {
      if (TOptimBlobStream* s = SlotBlobStream(b, f)) s->ClearContent();
      continue;
    }
    std::memset(slot, 0, static_cast<size_t>(f->DataSize()));
    switch (f->DataType()) {
      case ftDateTime: {
        double v = static_cast<double>(DateDelta) * MSecsPerDay;
        std::memcpy(slot, &v, 8);
        break;
      }
      case ftDate: {
        int32_t d = DateTimeToDayNumber(Date());
        std::memcpy(slot, &d, 4);
        break;
      }
      case ftTime: {
        int32_t ms = DateTimeToTimeStamp(Now()).Time;
        std::memcpy(slot, &ms, 4);
        break;
      }
      default:
        break;
    }
  }
  std::memset(b->Bytes() + storedDataSize_ + CalcFieldsSize(), 0, 5);
}

TRecordBuffer* TRDEDataSet::ActiveRecordBuffer() {
  switch (State()) {
    case dsSetKey:
      return keyBuffer_;
    case dsFilter:
      return filterBuffer_;
    default:
      return TDataSet::ActiveRecordBuffer();
  }
}

bool TRDEDataSet::ReadFieldValue(TField* field, void* destination) {
  TRecordBuffer* b = ActiveRecordBuffer();
  if (!b) return false;
  if (field->Calculated()) return TDataSet::ReadFieldValue(field, destination);
  if (!destination) return true;
  if (field->IsBlob()) DatabaseError("General error");
  int32_t offset = fieldOffsets_[static_cast<size_t>(field->FieldNo() - 1)];
  std::memcpy(destination, b->Bytes() + offset, static_cast<size_t>(field->DataSize()));
  return true;
}

void TRDEDataSet::WriteFieldValue(TField* field, const void* source) {
  TRecordBuffer* b = ActiveRecordBuffer();
  if (!b) return;
  if (field->Calculated()) {
    TDataSet::WriteFieldValue(field, source);
    return;
  }
  if (source) {
    if (field->IsBlob()) DatabaseError("General error");
    int32_t offset = fieldOffsets_[static_cast<size_t>(field->FieldNo() - 1)];
    std::memcpy(b->Bytes() + offset, source, static_cast<size_t>(field->DataSize()));
    // Raised here and once more below: one write gives two field-change events, as the component
    // always has, so listeners written against it see the count they expect.
    DataEvent(deFieldChange, field);
  }
  if (State() != dsCalcFields && State() != dsFilter) DataEvent(deFieldChange, field);
}

void TRDEDataSet::ConvertNativeValue(TField* field, const void* source, void* destination, bool toNative) {
  switch (field->DataType()) {
    case ftDate:
    case ftTime:
    case ftDateTime:
      break;
    default:
      TDataSet::ConvertNativeValue(field, source, destination, toNative);
      return;
  }
  if (toNative) {
    double dt;
    std::memcpy(&dt, source, 8);
    TTimeStamp ts = DateTimeToTimeStamp(dt);
    if (field->DataType() == ftDate) {
      std::memcpy(destination, &ts.Date, 4);
    } else if (field->DataType() == ftTime) {
      std::memcpy(destination, &ts.Time, 4);
    } else {
      double ms = TimeStampToMSecs(ts);
      std::memcpy(destination, &ms, 8);
    }
    return;
  }
  double result = 0;
  try {
    if (field->DataType() == ftDate) {
      int32_t d;
      std::memcpy(&d, source, 4);
      result = TimeStampToDateTime(TTimeStamp{0, d});
    } else if (field->DataType() == ftTime) {
      int32_t ms;
      std::memcpy(&ms, source, 4);
      result = TimeStampToDateTime(TTimeStamp{ms, DateDelta});
    } else {
      double ms;
      std::memcpy(&ms, source, 8);
      result = TimeStampToDateTime(MSecsToTimeStamp(std::round(ms)));
    }
  } catch (const EConvertError&) {
    // A date-time slot that does not split reads as 1899-12-30 00:00; dates and times propagate.
    if (field->DataType() != ftDateTime) throw;
    result = 0;
  }
  std::memcpy(destination, &result, 8);
}

std::unique_ptr<TStream> TRDEDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TRadeBlobStream>(field, mode);
}

int32_t TRDEDataSet::RecNo() {
  CheckActive();
  UpdateCursorPos();
  if (currentPosition_ == -1 && RecordCount() > 0) return 1;
  return currentPosition_ + 1;
}

void TRDEDataSet::SetRecNo(int32_t n) {
  CheckBrowseMode();
  if (n < 0 || n > RecordCount() || n == RecNo()) return;
  DoBeforeScroll();
  currentPosition_ = n - 1;
  Resync();
  DoAfterScroll();
}

void TRDEDataSet::AllocateKeyBuffers() {
  for (auto& k : keyBuffers_) k.reset();
  try {
    for (auto& k : keyBuffers_) {
      std::unique_ptr<TRecordBuffer> b = AllocateRecordBuffer();
      k.reset(static_cast<TRDERecordBuffer*>(b.release()));
      InitNewRecord(k.get());
    }
  } catch (...) {
    ReleaseKeyBuffers();
    throw;
  }
  keyBuffer_ = keyBuffers_[0].get();
}

void TRDEDataSet::ReleaseKeyBuffers() {
  for (auto& k : keyBuffers_) k.reset();
  keyBuffer_ = nullptr;
  filterBuffer_ = nullptr;
}

void TRDEDataSet::AfterOpenStep() {
  if (Filtered()) ActivateFilter();
  TDataSet::AfterOpenStep();
}

bool TRDEDataSet::RecordPasses() {
  bool accept = true;
  if (OnFilterRecord) OnFilterRecord(this, accept);
  if (accept && !Filter().empty()) accept = filterParser_->Evaluate(FilterOptions());
  return accept;
}

void TRDEDataSet::SetFiltered(bool value) {
  if (!Active()) {
    SetFilteredValue(value);
    return;
  }
  CheckBrowseMode();
  if (value != Filtered()) {
    if (value) {
      SetFilteredValue(true);
      try {
        ActivateFilter();
      } catch (...) {
        SetFilteredValue(false);
        throw;
      }
    } else {
      DeactivateFilter();
      SetFilteredValue(false);
    }
  }
  First();
}

void TRDEDataSet::SetFilterData(const std::string& text, TFilterOptions options) {
  std::string old = Filter();
  bool changed = false;
  if (Active()) {
    CheckBrowseMode();
    if (!text.empty()) filterParser_->Parse(text);
    changed = text != old || options != FilterOptions();
  }
  SetFilterTextValue(text);
  SetFilterOptionsValue(options);
  if (changed && Filtered()) {
    try {
      DeactivateFilter();
      ActivateFilter();
    } catch (...) {
      SetFilterTextValue(old);
      throw;
    }
  }
}

bool TRDEDataSet::FindMatchingRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  int32_t count = RecordCount();
  int32_t start =
      goForward ? (restart ? 0 : currentPosition_ + 1) : (restart ? count - 1 : currentPosition_ - 1);
  if (!Filter().empty()) filterParser_->Parse(Filter());
  int32_t remembered = currentPosition_;
  bool found = false;
  TDataSetState saved = State();
  auto* buffer = static_cast<TRDERecordBuffer*>(CurrentBuffer());
  SetState(dsFilter);
  filterBuffer_ = buffer;
  try {
    for (int32_t i = start; goForward ? i < count : i >= 0; i += goForward ? 1 : -1) {
      if (i < 0 || i >= count) break;
      currentPosition_ = i;
      ReadRecord(buffer, i);
      if (RecordPasses()) {
        found = true;
        break;
      }
    }
  } catch (...) {
    SetState(saved);
    currentPosition_ = remembered;
    Resync();
    throw;
  }
  SetState(saved);
  if (!found) currentPosition_ = remembered;
  SetFound(found);
  Resync();
  if (found) DoAfterScroll();
  return found;
}

// ---- TRadeTable

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

// Field bytes for one pass over the view, read through the table's file view while the pass
// holds the file lock.
class TRadeTable::TPassReader {
 public:
  TPassReader(TRadeTableIO& table, TFileView& view) : io_(table.FileIO()), view_(view) {
    view_.Refresh();
    encrypted_.resize(static_cast<size_t>(table.FieldDefs().Count()));
    for (size_t i = 0; i < encrypted_.size(); ++i)
      encrypted_[i] = table.FieldEncrypted(static_cast<int32_t>(i));
  }
  TPassReader(const TPassReader&) = delete;
  TPassReader& operator=(const TPassReader&) = delete;

  // After the pass let the lock go (a handler ran): a write in between may have grown the file past
  // the view or moved a memory image to a new block, so the view follows what is there now.
  void Refresh() { view_.Refresh(); }

  // Decoded bytes of a field slot, valid until the next call.
  const uint8_t* Read(int64_t offset, int32_t count, int32_t field) {
    const uint8_t* src = view_.Bytes(offset, count);
    if (!encrypted_[static_cast<size_t>(field)]) return src;
    plain_.resize(static_cast<size_t>(count));
    io_.DecodeBufferData(src, plain_.data(), true, count);
    return plain_.data();
  }

 private:
  TRadeZIFileIO& io_;
  TFileView& view_;
  std::vector<bool> encrypted_;
  std::vector<uint8_t> plain_;
};

void TRadeTable::ReadField(TRDERecordBuffer* buffer, int32_t position, TField* f, TPassReader& reader) {
  const TRecordListEntry& e = recordList_[static_cast<size_t>(position)];
  int32_t fn = f->FieldNo() - 1;
  int32_t slot = tableIO_->SlotSize(fn);
  const uint8_t* plain = reader.Read(
      static_cast<int64_t>(e.DataOffset) + tableIO_->SlotOffsets()[static_cast<size_t>(fn)], slot, fn);
  uint8_t* dst = buffer->Bytes() + FieldOffsets()[static_cast<size_t>(fn)];
  int32_t size = f->DataSize();
  std::memcpy(dst, plain, static_cast<size_t>(std::max(std::min(slot, size), 0)));
  if (size > slot) std::memset(dst + slot, 0, static_cast<size_t>(size - slot));
}

void TRadeTable::GotoBookmark(const uint8_t* bookmark) {
  int32_t recNo;
  std::memcpy(&recNo, bookmark, 4);
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
  std::memcpy(&recNo, bookmark, 4);
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
  int32_t code = 0;
  int32_t pos = tableIO_->SearchIndex(buffer->Items, recordList_, false, 0, code, indexNumber_);
  if (code == -2) return 0;
  return code == -1 ? pos : pos + 1;
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

// ---- filtering

void TRadeTable::ActivateFilter() {
  TRecordList passed;
  TDataSetState saved = State();
  TRadeSession* session = Database() ? Database()->Session() : nullptr;
  bool busy = session && session->SQLHourGlass();
  if (busy) SetScreenCursor(true);
  auto finish = [&] {
    SetScreenCursor(false);
    SetState(saved == dsFilter ? dsBrowse : saved);
    SetFilterBuffer(nullptr);
    SetCurrentPosition(-1);
  };
  try {
    SetState(dsFilter);
    if (!Filter().empty()) FilterParser().Parse(Filter());
    auto* buffer = static_cast<TRDERecordBuffer*>(CurrentBuffer());
    SetFilterBuffer(buffer);
    // Only the fields the expression names are read, unless the event may look at any.
    std::vector<TField*> named;
    bool whole = static_cast<bool>(OnFilterRecord);
    if (!whole && !Filter().empty()) {
      for (int32_t i : FilterParser().FieldIndexes()) {
        TField* f = Fields(i);
        if (f->IsBlob() || f->Calculated()) whole = true;
        named.push_back(f);
      }
    }
    int32_t count = RecordCount();
    passed.reserve(static_cast<size_t>(count));
    if (!whole && !named.empty()) {
      TRadeZIFileIO& io = tableIO_->FileIO();
      TFileLockGuard lock(io);
      TPassReader reader(*tableIO_, *fileView_);
      for (int32_t i = 0; i < count; ++i) {
        SetCurrentPosition(i);
        for (TField* f : named) ReadField(buffer, i, f, reader);
        if (RecordPasses()) passed.push_back(recordList_[static_cast<size_t>(i)]);
        if (OnFilterProgress) {
          // The handler may read this file (another table, another dataset), which takes the lock
          // itself: the pass lets it go for the call. Should the handler fail, or the lock not come
          // back in time, the guard has nothing left to release.
          io.Unlock();
          OnFilterProgress(this, static_cast<int>(static_cast<double>(i) / count * 100.0));
          io.Lock();
          reader.Refresh();
        }
      }
    } else {
      for (int32_t i = 0; i < count; ++i) {
        SetCurrentPosition(i);
        if (whole) {
          ReadRecord(buffer, i);
          ComputeCalcFields(buffer);
        }
        if (RecordPasses()) passed.push_back(recordList_[static_cast<size_t>(i)]);
        if (OnFilterProgress)
          OnFilterProgress(this, static_cast<int>(static_cast<double>(i) / count * 100.0));
      }
    }
    if (passed.size() != recordList_.size()) recordList_ = passed;
  } catch (...) {
    finish();
    First();
    throw;
  }
  finish();
  First();
}

void TRadeTable::DeactivateFilter() {
  ChooseIndex();
  LoadView();
  SetCurrentPosition(-1);
  SetModifiable(true);
  First();
}

// ---- locate and lookup

namespace {
bool PrintableAscii(const uint8_t* p, size_t n) {
  return IsPrintableAscii(std::string_view(reinterpret_cast<const char*>(p), n));
}

// Equality of a string key and a stored string where both are printable ASCII: there the
// collation's equality is byte equality (after case folding when asked), so no conversion is
// needed. Returns false when it cannot decide.
bool QuickStringEqual(const uint8_t* key, size_t keyLen, bool keyAscii, const uint8_t* rec, int32_t recSize,
                      bool partial, bool ci, bool& equal) {
  if (!keyAscii) return false;
  size_t recLen = strnlen(reinterpret_cast<const char*>(rec), static_cast<size_t>(recSize));
  size_t n = recLen;
  if (partial) {
    if (recLen < keyLen) {
      if (!PrintableAscii(rec, recLen)) return false;
      equal = false;
      return true;
    }
    n = keyLen;
  }
  if (!PrintableAscii(rec, n)) return false;
  if (!partial && n != keyLen) {
    equal = false;
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    uint8_t a = key[i], b = rec[i];
    if (ci) {
      a = static_cast<uint8_t>(LowerAscii(static_cast<char>(a)));
      b = static_cast<uint8_t>(LowerAscii(static_cast<char>(b)));
    }
    if (a != b) {
      equal = false;
      return true;
    }
  }
  equal = true;
  return true;
}
}  // namespace

int32_t TRadeTable::FindKey(const std::vector<TField*>& keys, const Variant& keyValues,
                            TLocateOptions options) {
  // Keys are compared with stored slots; a calculated or blob field has none to compare with.
  for (TField* f : keys)
    if (f->Calculated() || f->IsBlob() || f->FieldNo() <= 0)
      Error(Format("Field '%s' cannot be a search key", f->FieldName().c_str()));
  auto* scratch = static_cast<TRDERecordBuffer*>(TempBuffer());
  std::fill(scratch->Data.begin(), scratch->Data.begin() + StoredDataSize(), 0);
  TDataSetState saved = State();
  SetState(dsFilter);
  SetFilterBuffer(scratch);
  struct Restore {
    TRadeTable* t;
    TDataSetState s;
    ~Restore() {
      t->SetState(s);
      t->SetFilterBuffer(nullptr);
    }
  } restore{this, saved};
  for (size_t i = 0; i < keys.size(); ++i) {
    const Variant& v = keyValues.IsArray() ? keyValues[static_cast<int>(i)] : keyValues;
    keys[i]->SetAsVariant(v);
  }
  const bool partial = options.Contains(LocatePartialKey);
  const bool ci = options.Contains(LocateCaseInsensitive);
  bool stringKey = std::any_of(keys.begin(), keys.end(), [](TField* f) {
    return IsAnsiStringType(f->DataType()) || f->DataType() == ftWideString;
  });
  int32_t index = -1;
  TRadeIndexDefs& ix = tableIO_->IndexDefs();
  for (int32_t k = 0; k < ix.Count() && index < 0; ++k) {
    const TRadeIndexDef* d = ix.Items(k);
    if (d->FieldNumbers.size() != keys.size()) continue;
    bool same = true;
    for (size_t j = 0; j < keys.size(); ++j)
      if (keys[j]->FieldNo() - 1 != d->FieldNumbers[j]) same = false;
    if (same && stringKey && d->Options.Contains(tiCaseInsensitive) != ci) same = false;
    if (same) index = k;
  }
  int32_t match = -1;
  if (index >= 0) {
    // Several records may hold the key (a partial key, an index that allows equal keys): the one
    // found is the first of them in index order that the view holds.
    int32_t code = 0;
    const TRecordList& list = tableIO_->RecordLists(index + 1);
    int32_t first = tableIO_->SearchIndexBound(scratch->Items, list, index, true, code, 0, partial);
    if (code == 0 && first >= 0) {
      // A view that is the index's whole list holds the record at the same position; record
      // numbers are unique in a view, and no entry before it in the list holds the key.
      if (first < RecordCount() &&
          recordList_[static_cast<size_t>(first)].RecNo == list[static_cast<size_t>(first)].RecNo) {
        match = first;
      } else {
        int32_t last = tableIO_->SearchIndexBound(scratch->Items, list, index, false, code, 0, partial);
        // Rank of each equal entry in index order, then one pass over the view for the best rank.
        std::unordered_map<int32_t, int32_t> rank;
        rank.reserve(static_cast<size_t>(last - first + 1));
        for (int32_t p = first; p <= last; ++p) rank.emplace(list[static_cast<size_t>(p)].RecNo, p - first);
        int32_t best = -1;
        for (size_t i = 0; i < recordList_.size() && best != 0; ++i) {
          auto it = rank.find(recordList_[i].RecNo);
          if (it != rank.end() && (best < 0 || it->second < best)) {
            best = it->second;
            match = static_cast<int32_t>(i);
          }
        }
      }
    }
  } else {
    // Reads only the key fields of each record, and stops at the first match.
    std::vector<const uint8_t*> keyBytes;
    std::vector<size_t> keyLen;
    std::vector<bool> keyAscii;
    for (TField* f : keys) {
      const uint8_t* k = scratch->Bytes() + FieldOffsets()[static_cast<size_t>(f->FieldNo() - 1)];
      keyBytes.push_back(k);
      bool text = IsAnsiStringType(f->DataType());
      size_t len = text ? strnlen(reinterpret_cast<const char*>(k), static_cast<size_t>(f->DataSize())) : 0;
      keyLen.push_back(len);
      keyAscii.push_back(text && PrintableAscii(k, len));
    }
    auto* probe = static_cast<TRDERecordBuffer*>(KeyBuffers(3));
    TFileLockGuard lock(tableIO_->FileIO());
    TPassReader reader(*tableIO_, *fileView_);
    int32_t count = RecordCount();
    for (int32_t i = 0; i < count && match < 0; ++i) {
      bool all = true;
      for (size_t j = 0; j < keys.size() && all; ++j) {
        TField* f = keys[j];
        ReadField(probe, i, f, reader);
        const uint8_t* rec = probe->Bytes() + FieldOffsets()[static_cast<size_t>(f->FieldNo() - 1)];
        bool equal = false;
        if (QuickStringEqual(keyBytes[j], keyLen[j], keyAscii[j], rec, f->DataSize(), partial, ci, equal))
          all = equal;
        else
          all =
              CompareValues(keyBytes[j], f->DataSize(), rec, f->DataSize(), f->DataType(), partial, ci) == 0;
      }
      if (all) match = i;
    }
  }
  if (match >= 0) {
    ReadRecord(scratch, match);
    int32_t recNo = recordList_[static_cast<size_t>(match)].RecNo;
    WriteBookmark(scratch, reinterpret_cast<const uint8_t*>(&recNo));
  }
  return match;
}

bool TRadeTable::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
  DoBeforeScroll();
  CheckBrowseMode();
  std::vector<TField*> keys = FieldList(keyFields);
  int32_t match = FindKey(keys, keyValues, options);
  if (match < 0) return false;
  SetCurrentPosition(match);
  Resync();
  DoAfterScroll();
  return true;
}

Variant TRadeTable::Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields) {
  CheckBrowseMode();
  std::vector<TField*> keys = FieldList(keyFields);
  int32_t match = FindKey(keys, keyValues, {});
  if (match < 0) return Variant::Null();
  TRecordBuffer* scratch = TempBuffer();
  ComputeCalcFields(scratch);
  std::vector<TField*> results = FieldList(resultFields);
  TDataSetState saved = State();
  SetTempState(dsCalcFields, scratch);
  Variant r;
  try {
    if (results.size() == 1) {
      r = results[0]->AsVariant();
    } else {
      std::vector<Variant> items;
      for (TField* f : results) items.push_back(f->AsVariant());
      r = Variant(std::move(items));
    }
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return r;
}

// ---- master-detail range

void TRadeTable::RangeWithin(const TRecordList& list) {
  if (list.empty()) return;
  int32_t n = rangeFieldCount_;
  int32_t code = 0;
  int32_t first = tableIO_->SearchIndexBound(KeyBuffers(1)->Items, list, indexNumber_, true, code, n, false);
  if (code != 0) first = code == -2 ? 0 : (code == -1 ? first : first + 1);
  int32_t last = tableIO_->SearchIndexBound(KeyBuffers(2)->Items, list, indexNumber_, false, code, n, false);
  if (code != 0) last = code == -2 ? -1 : (code == -1 ? last - 1 : last);
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
