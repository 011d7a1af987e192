#include "engine/RadeBlobStream.h"

#include "engine/RadeTable.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
TRadeTable* TableOf(TField* field) {
  auto* t = field ? dynamic_cast<TRadeTable*>(field->DataSet()) : nullptr;
  if (!t) throw EDatabaseError("Invalid class typecast");
  return t;
}
}  // namespace

TRadeBlobStream::TRadeBlobStream(TField* field, TBlobStreamMode mode)
    : field_(field), table_(TableOf(field)), fieldNumber_(field->FieldNo()), mode_(mode) {
  if (mode_ == bmRead || mode_ == bmReadWrite) {
    TRecordBuffer* b = table_->ActiveRecordBuffer();
    if (TOptimBlobStream* slot = b ? table_->SlotBlobStream(b, field_) : nullptr) {
      Clear();
      slot->EnsureLoaded();
      int64_t size = slot->Size();
      slot->SetPosition(0);
      if (size > 0) {
        SetSize(size);
        slot->ReadBuffer(Memory(), static_cast<int32_t>(size));
      }
      SetPosition(0);
    }
  }
  opened_ = true;
  if (mode_ == bmWrite) {
    Clear();
    WriteBack();
    MarkFieldModified();
    modified_ = true;
  }
}

int32_t TRadeBlobStream::Write(const void* buffer, int32_t count) {
  int32_t n = TMemoryStream::Write(buffer, count);
  if (opened_ && (mode_ == bmWrite || mode_ == bmReadWrite)) {
    modified_ = true;
    WriteBack();
    MarkFieldModified();
  }
  return n;
}

void TRadeBlobStream::WriteBack() {
  TRecordBuffer* b = table_->ActiveRecordBuffer();
  TOptimBlobStream* slot = b ? table_->SlotBlobStream(b, field_) : nullptr;
  if (!slot) return;
  int64_t pos = Position();
  slot->ClearContent();
  if (Size() > 0) slot->WriteBuffer(Memory(), static_cast<int32_t>(Size()));
  slot->SetPosition(0);
  SetPosition(pos);
}

void TRadeBlobStream::MarkFieldModified() {
  if (auto* f = dynamic_cast<TBlobField*>(field_)) f->Modified();
}

}  // namespace lanqi
