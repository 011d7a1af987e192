// Reading many records under one hold of the file lock: a read-only view of a database file's
// bytes, and the window of stored records a table dataset reads ahead while it walks.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/RadeTableIO.h"
#include "platform/FileMapping.h"

namespace lanqi {

// The bytes of an open database file, straight from a read-only shared mapping (or the memory
// image) while the caller holds the file lock, else by positioned reads. The mapping is kept
// across lock holds and made again only when the file has grown past it.
class TFileView {
 public:
  explicit TFileView(TRadeZIFileIO& io) : io_(io) {}
  ~TFileView() { Release(); }
  TFileView(const TFileView&) = delete;
  TFileView& operator=(const TFileView&) = delete;

  // Under the file lock: takes the file's size as it is now and makes the view reach it (a write
  // may have grown the file, a memory image may have moved to a new block).
  void Refresh();
  // Bytes [offset, offset + count) of the file, valid until the next call or Refresh; from the
  // view where it reaches them, else read into a buffer of this object.
  const uint8_t* Bytes(int64_t offset, int32_t count);
  void Release();

 private:
  TRadeZIFileIO& io_;
  TFileMapping map_;
  const uint8_t* base_ = nullptr;
  int64_t size_ = 0;  // the bytes of the view that the file holds
  std::vector<uint8_t> raw_;
};

// The stored bytes of a run of a view's records, copied out of the file under one hold of the
// lock. It answers for a record only while the view still holds that record (same number and
// data offset) at the position it was read for, and while this program has written nothing to
// any database file since the copy. Runs grow while a walk goes on in one direction, up to a
// bound in rows, in bytes and in the time the lock is held.
class TRecordWindow {
 public:
  static constexpr int32_t kFirstRows = 16;
  static constexpr int32_t kMaxRows = 1024;
  static constexpr int32_t kMaxBytes = 256 * 1024;
  static constexpr int64_t kMaxHoldMicroseconds = 1000;

  TRecordWindow(TRadeTableIO& table, TFileView& view) : table_(table), view_(view) {}

  // The stored bytes of the record at position of list, or null when the window does not hold
  // them (or holds them no longer).
  const uint8_t* Find(const TRecordList& list, int32_t position) const;
  // Starts a new window at position going in direction (+1 or -1), of up to rows records within
  // the bounds (at least the one), and returns the record's bytes.
  const uint8_t* Fill(const TRecordList& list, int32_t position, int32_t direction, int32_t rows);
  void Clear() { count_ = 0; }
  int32_t Count() const { return count_; }

 private:
  TRadeTableIO& table_;
  TFileView& view_;
  int32_t anchor_ = 0;     // the position the window was filled from
  int32_t direction_ = 1;  // the slot of position p is (p - anchor_) * direction_
  int32_t count_ = 0;
  int32_t recordSize_ = 0;
  uint64_t writes_ = 0;  // DatabaseWriteCount at the fill
  std::vector<TRecordListEntry> entries_;
  std::vector<uint8_t> bytes_;
};

}  // namespace lanqi
