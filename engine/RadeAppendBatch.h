// Many rows appended to an open table under one hold of the file lock, their writes made once per
// group instead of once per row (TRadeTableIO's batch). While the batch is open no other program
// writes the file, and this program should not wait on anything slow between rows. The table's
// view does not follow each row: Commit (or the end of the batch) refreshes it.
//
//   TRadeAppendBatch batch(table);
//   for (...) { fill batch.Row() by field number; batch.Append(); }
//   batch.Commit();
//
// Rows are checked as they are handed over (unique keys against the table and the batch's earlier
// rows: "Invalid unique field value '%s'", and nothing of that row is kept) and written when
// the held rows reach groupBytes (0: the whole batch as one group) or at Commit. Other programs,
// and this program's other datasets, see a group's rows once its record count is written.
// Interrupted, the file holds every row before the batch and every group written whole. In
// durable mode each group costs one set of syncs. A batch destroyed without Commit drops the rows
// not yet written.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/storage/FieldBuffers.h"
#include "engine/storage/RadeTableIO.h"

namespace lanqi {

class TRadeTable;

class TRadeAppendBatch {
 public:
  explicit TRadeAppendBatch(TRadeTable& table, int64_t groupBytes = TRadeTableIO::kDefaultBatchGroupBytes);
  ~TRadeAppendBatch();
  TRadeAppendBatch(const TRadeAppendBatch&) = delete;
  TRadeAppendBatch& operator=(const TRadeAppendBatch&) = delete;

  // The next row: one item per table field in slot form (blob fields as streams), all zero.
  TFieldBuffers& Row() { return *row_; }
  // Hands Row() to the batch and starts the next one; an auto-increment field left 0 receives its
  // number first, so the caller may read it before the next Row().
  void Append();
  // Hands over a row laid out as Row() is.
  void Append(TFieldBuffers& row);
  // The number the last appended row received in the auto-increment field (0 without one).
  int32_t LastAutoInc() const { return lastAutoInc_; }
  // Writes what is held and ends the batch; the table's view then shows the rows.
  void Commit();
  // Rows written so far.
  int32_t Written() const;

 private:
  void NewRow();
  void Finish();

  TRadeTable& table_;
  TRadeTableIO& io_;
  std::unique_ptr<TFieldBuffers> row_;
  int32_t lastAutoInc_ = 0;
  int32_t written_ = 0;
  bool open_ = false;
};

}  // namespace lanqi
