#include "engine/RadeAppendBatch.h"

#include "engine/RadeTable.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
TRadeTableIO& OpenTableIO(TRadeTable& table) {
  if (!table.Active() || !table.TableIO())
    DatabaseError("Cannot perform this operation on a closed dataset", table.Name());
  if (table.ReadOnly()) DatabaseError("Cannot modify a read-only dataset", table.Name());
  table.CheckBrowseMode();
  return *table.TableIO();
}
}  // namespace

TRadeAppendBatch::TRadeAppendBatch(TRadeTable& table, int64_t groupBytes)
    : table_(table), io_(OpenTableIO(table)) {
  io_.BeginBatch(groupBytes);
  open_ = true;
  NewRow();
}

TRadeAppendBatch::~TRadeAppendBatch() {
  if (!open_) return;
  io_.AbandonBatch();
  try {
    Finish();
  } catch (...) {
  }
}

void TRadeAppendBatch::NewRow() {
  row_ = std::make_unique<TFieldBuffers>();
  for (int32_t i = 0; i < io_.FieldDefs().Count(); ++i)
    row_->AddOwned(io_.FieldDefs().Items(i)->FieldType, io_.SlotSize(i), &io_.FileIO());
}

void TRadeAppendBatch::Append() {
  Append(*row_);
  NewRow();
}

void TRadeAppendBatch::Append(TFieldBuffers& row) {
  if (!open_) DatabaseError("The batch of appends has ended", table_.Name());
  try {
    io_.BatchAppend(row);
  } catch (...) {
    // A failed group write ends the batch; a refused row does not.
    if (!io_.InBatch()) Finish();
    throw;
  }
  const int32_t f = io_.AutoIncField();
  lastAutoInc_ = f >= 0 && f < row.Count() && row.Items(f)->Buffer && row.Items(f)->BufferSize >= 4
                     ? TByteBuffer::LoadInt32(row.Items(f)->Bytes())
                     : 0;
  written_ = io_.BatchWritten();
}

void TRadeAppendBatch::Commit() {
  if (!open_) DatabaseError("The batch of appends has ended", table_.Name());
  const int32_t written = io_.BatchWritten() + io_.BatchHeld();
  try {
    io_.EndBatch();
  } catch (...) {
    Finish();
    throw;
  }
  written_ = written;
  Finish();
}

int32_t TRadeAppendBatch::Written() const {
  return open_ ? io_.BatchWritten() : written_;
}

void TRadeAppendBatch::Finish() {
  if (!open_) return;
  open_ = false;
  if (table_.Active()) table_.Refresh();
}

}  // namespace lanqi
