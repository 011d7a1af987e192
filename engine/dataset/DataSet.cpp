#include "engine/dataset/DataSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/dataset/DataSource.h"
#include "platform/Collation.h"

namespace lanqi {

namespace {
TApplicationExceptionHook& ApplicationExceptionHook() {
  static TApplicationExceptionHook hook;
  return hook;
}
}  // namespace

void SetApplicationExceptionHook(TApplicationExceptionHook hook) {
  ApplicationExceptionHook() = std::move(hook);
}

void HandleApplicationException(const std::exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  if (ApplicationExceptionHook())
    ApplicationExceptionHook()(e);
  else
    std::fprintf(stderr, "%s\n", e.what());
}

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  for (TDataSource* s : std::vector<TDataSource*>(dataSources_)) s->DataSetGone();
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) Error("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) Error("Cannot perform this operation on an open dataset");
}

// ---- open and close

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    if (BeforeOpen) BeforeOpen(this);
    try {
      OpenCursorAndBuffers();
      AfterOpenStep();
    } catch (...) {
      CloseSilently();
      throw;
    }
  } else {
    if (BeforeClose) BeforeClose(this);
    CloseSilently();
    if (AfterClose) AfterClose(this);
  }
}

void TDataSet::OpenCursorAndBuffers() {
  AcquireCursor();
  state_ = dsBrowse;
  activeBuffer_ = AllocateRecordBuffer();
  tempBuffer_ = AllocateRecordBuffer();
  modified_ = false;
  MoveBeforeFirst();
  hasRecord_ = FetchRecord(activeBuffer_.get(), gmNext, false) == grOK;
  bof_ = true;
  eof_ = !hasRecord_;
  DataEvent(deUpdateState);
}

void TDataSet::CloseSilently() {
  if (closing_) return;
  closing_ = true;
  try {
    ReleaseCursor();
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
}

void TDataSet::CloseOnDestroy() {
  try {
    CloseSilently();
  } catch (const std::exception& e) {
    ReportException(e);
  } catch (...) {
  }
}

void TDataSet::CloseCursorAndBuffers() {
  state_ = dsInactive;
  hasRecord_ = false;
  bof_ = eof_ = true;
  modified_ = false;
  calcBuffer_ = nullptr;
  if (activeBuffer_) ReleaseRecordBuffer(activeBuffer_);
  if (tempBuffer_) ReleaseRecordBuffer(tempBuffer_);
  try {
    CloseTable();
  } catch (...) {
    DataEvent(deUpdateState);
    throw;
  }
  DataEvent(deUpdateState);
}

void TDataSet::AcquireCursor() {
  OpenTable();
}

void TDataSet::ReleaseCursor() {
  CloseCursorAndBuffers();
}

void TDataSet::AfterOpenStep() {
  if (AfterOpen) AfterOpen(this);
}

// ---- fields

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& f : fields_)
    if (SameTextAnsi(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (!f) Error(Format("Field '%s' not found", name.c_str()));
  return f;
}

std::vector<TField*> TDataSet::FieldList(const std::string& names) const {
  if (names.find_first_not_of(' ') == std::string::npos) return {FieldByName(names)};
  std::vector<TField*> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    // Blanks around a name are not part of it.
    size_t a = name.find_first_not_of(' '), b = name.find_last_not_of(' ');
    name = a == std::string::npos ? std::string() : name.substr(a, b - a + 1);
    if (!name.empty() || end < names.size()) out.push_back(FieldByName(name));
    start = end + 1;
  }
  return out;
}

TField* TDataSet::CreateField(const std::string& name, TFieldType type, int32_t size, TFieldKind kind) {
  CheckInactive();
  auto f = CreateFieldObject(this, name, type, size, kind);
  f->SetPersistent(true);
  f->SetIndex(static_cast<int32_t>(fields_.size()));
  fields_.push_back(std::move(f));
  return fields_.back().get();
}

bool TDataSet::HasPersistentFields() const {
  return std::any_of(fields_.begin(), fields_.end(), [](const auto& f) { return f->Persistent(); });
}

void TDataSet::CreateFields() {
  if (!HasPersistentFields()) {
    fields_.clear();
    for (const TFieldDef& d : fieldDefs_) {
      auto f = CreateFieldObject(this, d.Name, d.DataType, d.Size, fkData);
      f->SetFieldNo(d.FieldNo);
      fields_.push_back(std::move(f));
    }
  }
  BindFields();
}

void TDataSet::BindFields() {
  calcFieldsSize_ = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    TField* f = fields_[i].get();
    f->SetIndex(static_cast<int32_t>(i));
    if (f->Calculated()) {
      f->SetFieldNo(0);
      f->SetCalcOffset(calcFieldsSize_);
      calcFieldsSize_ += 1 + std::max(f->DataSize(), 0);
      continue;
    }
    int32_t no = 0;
    for (const TFieldDef& d : fieldDefs_)
      if (SameTextAnsi(d.Name, f->FieldName())) {
        no = d.FieldNo;
        break;
      }
    if (no == 0) Error(Format("Field '%s' not found", f->FieldName().c_str()));
    f->SetFieldNo(no);
  }
}

void TDataSet::DestroyFields() {
  fields_.erase(
      std::remove_if(fields_.begin(), fields_.end(), [](const auto& f) { return !f->Persistent(); }),
      fields_.end());
  for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->SetIndex(static_cast<int32_t>(i));
}

// ---- buffers and field values

std::unique_ptr<TRecordBuffer> TDataSet::AllocateRecordBuffer() {
  return std::make_unique<TRecordBuffer>(static_cast<size_t>(calcFieldsSize_ + 5));
}

void TDataSet::ReadBookmark(TRecordBuffer* buffer, uint8_t* destination) {
  std::memcpy(destination, buffer->Bytes() + buffer->Data.size() - 5, 4);
}

TBookmarkFlag TDataSet::ReadBookmarkFlag(TRecordBuffer* buffer) {
  return static_cast<TBookmarkFlag>(buffer->Data.back());
}

void TDataSet::WriteBookmarkFlag(TRecordBuffer* buffer, TBookmarkFlag flag) {
  buffer->Data.back() = flag;
}

void TDataSet::WriteBookmark(TRecordBuffer* buffer, const uint8_t* bookmark) {
  std::memcpy(buffer->Bytes() + buffer->Data.size() - 5, bookmark, 4);
}

TRecordBuffer* TDataSet::ActiveRecordBuffer() {
  switch (state_) {
    case dsBrowse:
      return hasRecord_ ? activeBuffer_.get() : nullptr;
    case dsEdit:
    case dsInsert:
    case dsNewValue:
      return activeBuffer_.get();
    case dsCalcFields:
      return calcBuffer_;
    default:
      return nullptr;
  }
}

bool TDataSet::ReadFieldValue(TField* field, void* destination) {
  TRecordBuffer* b = ActiveRecordBuffer();
  if (!b || !field->Calculated()) return false;
  uint8_t* p = b->Bytes() + CalcFieldsOffset() + field->CalcOffset();
  if (!p[0]) return false;
  if (destination) std::memcpy(destination, p + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TDataSet::WriteFieldValue(TField* field, const void* source) {
  TRecordBuffer* b = ActiveRecordBuffer();
  if (!b || !field->Calculated()) return;
  uint8_t* p = b->Bytes() + CalcFieldsOffset() + field->CalcOffset();
  p[0] = source ? 1 : 0;
  if (source) std::memcpy(p + 1, source, static_cast<size_t>(field->DataSize()));
  if (state_ != dsCalcFields && state_ != dsFilter) DataEvent(deFieldChange, field);
}

void TDataSet::ConvertNativeValue(TField*, const void* source, void* destination, bool) {
  std::memcpy(destination, source, 8);
}

void TDataSet::ClearCalcFields(TRecordBuffer* buffer) {
  if (calcFieldsSize_ > 0)
    std::memset(buffer->Bytes() + CalcFieldsOffset(), 0, static_cast<size_t>(calcFieldsSize_));
}

void TDataSet::ComputeCalcFields(TRecordBuffer* buffer) {
  if (calcFieldsSize_ == 0 || !buffer) return;
  TDataSetState saved = state_;
  TRecordBuffer* savedCalc = calcBuffer_;
  state_ = dsCalcFields;
  calcBuffer_ = buffer;
  try {
    ClearCalcFields(buffer);
    if (OnCalcFields) OnCalcFields(this);
  } catch (...) {
    state_ = saved;
    calcBuffer_ = savedCalc;
    throw;
  }
  state_ = saved;
  calcBuffer_ = savedCalc;
}

void TDataSet::SetTempState(TDataSetState s, TRecordBuffer* calcBuffer) {
  state_ = s;
  if (calcBuffer) calcBuffer_ = calcBuffer;
}

// ---- notifications

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(dataSources_.begin(), dataSources_.end(), source) == dataSources_.end())
    dataSources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source), dataSources_.end());
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (event == deFieldChange) {
    if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey || state_ == dsNewValue) {
      modified_ = true;
      if (autoCalcFields_ && field && !field->Calculated() && calcFieldsSize_ > 0 &&
          (state_ == dsEdit || state_ == dsInsert))
        ComputeCalcFields(activeBuffer_.get());
    }
  }
  for (TDataSource* s : std::vector<TDataSource*>(dataSources_)) s->NotifyDataEvent(event, field);
}

// ---- navigation

void TDataSet::UpdateCursorPos() {
  if (!activeBuffer_ || (!hasRecord_ && state_ != dsInsert)) return;
  switch (ReadBookmarkFlag(activeBuffer_.get())) {
    case bfBOF:
      MoveBeforeFirst();
      break;
    case bfEOF:
      MoveAfterLast();
      break;
    default:
      SyncToBuffer(activeBuffer_.get());
      break;
  }
}

void TDataSet::SyncToBuffer(TRecordBuffer* buffer) {
  uint8_t bm[4];
  ReadBookmark(buffer, bm);
  GotoBookmark(bm);
}

void TDataSet::GotoBookmark(const uint8_t*) {}

bool TDataSet::BookmarkValid(const uint8_t*) {
  return false;
}

void TDataSet::Resync() {
  TRecordBuffer* b = activeBuffer_.get();
  TGetResult r = FetchRecord(b, gmCurrent, false);
  if (r != grOK) {
    r = FetchRecord(b, gmNext, false);
    if (r != grOK) r = FetchRecord(b, gmPrior, false);
  }
  hasRecord_ = r == grOK;
  bof_ = eof_ = !hasRecord_;
  DataEvent(deDataSetChange);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  MoveBeforeFirst();
  hasRecord_ = FetchRecord(activeBuffer_.get(), gmNext, true) == grOK;
  bof_ = true;
  eof_ = !hasRecord_;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  MoveAfterLast();
  hasRecord_ = FetchRecord(activeBuffer_.get(), gmPrior, true) == grOK;
  eof_ = true;
  bof_ = !hasRecord_;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  DoBeforeScroll();
  UpdateCursorPos();
  int moved = 0;
  while (distance > 0) {
    if (FetchRecord(activeBuffer_.get(), gmNext, true) != grOK) {
      eof_ = true;
      break;
    }
    hasRecord_ = true;
    bof_ = false;
    ++moved;
    --distance;
  }
  while (distance < 0) {
    if (FetchRecord(activeBuffer_.get(), gmPrior, true) != grOK) {
      bof_ = true;
      break;
    }
    hasRecord_ = true;
    eof_ = false;
    --moved;
    ++distance;
  }
  DataEvent(deDataSetScroll);
  DoAfterScroll();
  return moved;
}

void TDataSet::Next() {
  MoveBy(1);
}

void TDataSet::Prior() {
  MoveBy(-1);
}

TBookmark TDataSet::Bookmark() {
  CheckActive();
  if (!hasRecord_ || !activeBuffer_) return {};
  TBookmark b(4, '\0');
  ReadBookmark(activeBuffer_.get(), reinterpret_cast<uint8_t*>(b.data()));
  return b;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  if (bookmark.size() < 4) return;
  DoBeforeScroll();
  GotoBookmark(reinterpret_cast<const uint8_t*>(bookmark.data()));
  Resync();
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  return bookmark.size() >= 4 && BookmarkValid(reinterpret_cast<const uint8_t*>(bookmark.data()));
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(this);
  UpdateCursorPos();
  RefreshView();
  Resync();
  if (AfterRefresh) AfterRefresh(this);
}

// ---- editing

void TDataSet::CheckCanModify() {
  if (!CanModify()) Error("Cannot modify a read-only dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deUpdateRecord);
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::RunWithRetry(const std::function<void()>& operation, const TDataSetErrorEvent& onError) {
  for (;;) {
    try {
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (onError) onError(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::StartInsert(bool append) {
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(this);
  DoBeforeScroll();
  bool hadRecord = hasRecord_;
  insertReturn_ = hadRecord ? Bookmark() : TBookmark();
  TRecordBuffer* b = activeBuffer_.get();
  InitNewRecord(b);
  ClearCalcFields(b);
  if (append) {
    WriteBookmarkFlag(b, bfEOF);
  } else if (hadRecord) {
    WriteBookmark(b, reinterpret_cast<const uint8_t*>(insertReturn_.data()));
    WriteBookmarkFlag(b, bfInserted);
  } else {
    WriteBookmarkFlag(b, bfBOF);
  }
  state_ = dsInsert;
  modified_ = false;
  try {
    if (OnNewRecord) OnNewRecord(this);
  } catch (...) {
    state_ = dsBrowse;
    if (!insertReturn_.empty()) {
      try {
        GotoBookmark(reinterpret_cast<const uint8_t*>(insertReturn_.data()));
      } catch (const EDatabaseError&) {
      }
    }
    Resync();
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange);
  if (AfterInsert) AfterInsert(this);
  DoAfterScroll();
}

void TDataSet::Append() {
  StartInsert(true);
}

void TDataSet::Insert() {
  StartInsert(false);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (!hasRecord_) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeEdit) BeforeEdit(this);
  // The edit starts from the record as stored, which another dataset may have changed or deleted
  // since it was fetched; a start that fails goes through the retry rule.
  RunWithRetry(
      [this] {
        UpdateCursorPos();
        StartEdit(activeBuffer_.get());
      },
      OnEditError);
  ComputeCalcFields(activeBuffer_.get());
  state_ = dsEdit;
  modified_ = false;
  DataEvent(deRecordChange);
  if (AfterEdit) AfterEdit(this);
}

void TDataSet::Post() {
  DataEvent(deUpdateRecord);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deCheckBrowseMode);
      if (BeforePost) BeforePost(this);
      RunWithRetry(
          [this] {
            UpdateCursorPos();
            PostBuffer();
          },
          OnPostError);
      state_ = dsBrowse;
      modified_ = false;
      Resync();
      if (AfterPost) AfterPost(this);
      break;
    case dsSetKey:
      DataEvent(deCheckBrowseMode);
      state_ = dsBrowse;
      DataEvent(deDataSetChange);
      break;
    default:
      CheckActive();
      Error("Dataset not in edit or insert mode");
  }
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  bool wasInsert = state_ == dsInsert;
  if (BeforeCancel) BeforeCancel(this);
  if (wasInsert) DoBeforeScroll();
  state_ = dsBrowse;
  modified_ = false;
  if (wasInsert) {
    if (!insertReturn_.empty()) {
      try {
        GotoBookmark(reinterpret_cast<const uint8_t*>(insertReturn_.data()));
      } catch (const EDatabaseError&) {
      }
    } else {
      MoveBeforeFirst();
    }
  }
  Resync();
  if (AfterCancel) AfterCancel(this);
  if (wasInsert) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (!hasRecord_ || RecordCount() == 0) Error("Cannot perform this operation on an empty dataset");
  DataEvent(deCheckBrowseMode);
  if (BeforeDelete) BeforeDelete(this);
  DoBeforeScroll();
  RunWithRetry(
      [this] {
        UpdateCursorPos();
        DeleteCurrent();
      },
      OnDeleteError);
  state_ = dsBrowse;
  modified_ = false;
  Resync();
  if (AfterDelete) AfterDelete(this);
  DoAfterScroll();
}

void TDataSet::InitNewRecord(TRecordBuffer* buffer) {
  std::fill(buffer->Data.begin(), buffer->Data.end(), 0);
}

void TDataSet::AddRecordFromBuffer(TRecordBuffer*, bool) {}

void TDataSet::AddRecordFromValues(const std::vector<Variant>& values, bool append) {
  StartInsert(append);
  try {
    for (size_t i = 0; i < values.size() && i < fields_.size(); ++i)
      if (!fields_[i]->Calculated()) fields_[i]->SetAsVariant(values[i]);
    if (BeforePost) BeforePost(this);
    RunWithRetry([this, append] { AddRecordFromBuffer(activeBuffer_.get(), append); }, OnPostError);
  } catch (...) {
    Cancel();
    throw;
  }
  state_ = dsBrowse;
  modified_ = false;
  Resync();
  if (AfterPost) AfterPost(this);
}

// ---- fetching, find and locate

TGetResult TDataSet::FetchRecord(TRecordBuffer*, TGetMode, bool) {
  return grEOF;
}

bool TDataSet::FindMatchingRecord(bool, bool) {
  return false;
}

bool TDataSet::Locate(const std::string&, const Variant&, TLocateOptions) {
  return false;
}

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) {
  return Variant::Null();
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

void TDataSet::ReportException(const std::exception& e) {
  HandleApplicationException(e);
}

}  // namespace lanqi
