#include "engine/RDEDataSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/RadeBlobStream.h"
#include "engine/RadeDatabase.h"
#include "engine/RadeSession.h"
#include "rtl/DateTime.h"

namespace lanqi {

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
  std::memcpy(destination, buffer->Bytes() + BookmarkTrailerOffset(), kBookmarkSize);
}

TBookmarkFlag TRDEDataSet::ReadBookmarkFlag(TRecordBuffer* buffer) {
  return static_cast<TBookmarkFlag>(buffer->Bytes()[BookmarkTrailerOffset() + kBookmarkFlagOffset]);
}

void TRDEDataSet::WriteBookmark(TRecordBuffer* buffer, const uint8_t* bookmark) {
  std::memcpy(buffer->Bytes() + BookmarkTrailerOffset(), bookmark, kBookmarkSize);
}

void TRDEDataSet::WriteBookmarkFlag(TRecordBuffer* buffer, TBookmarkFlag flag) {
  buffer->Bytes()[BookmarkTrailerOffset() + kBookmarkFlagOffset] = flag;
}

void TRDEDataSet::SyncToBuffer(TRecordBuffer* buffer) {
  uint8_t bm[kBookmarkSize];
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
  std::memset(b->Bytes() + BookmarkTrailerOffset(), 0, kBookmarkTrailerSize);
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

}  // namespace lanqi
