#include "engine/RecordWindow.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/FileStream.h"
#include "rtl/Exceptions.h"

namespace lanqi {

// ---- TFileView

void TFileView::Refresh() {
  TStream* s = io_.Stream();
  if (auto* ms = dynamic_cast<TMemoryStream*>(s)) {
    Release();
    base_ = ms->Memory();
    size_ = ms->Size();
    return;
  }
  auto* fs = dynamic_cast<TFileStream*>(s);
  if (!fs) {
    Release();
    return;
  }
  const int64_t size = io_.FileSize();
  if (map_.Data() && (fs->Handle() != map_.Handle() || size > map_.Length())) Release();
  if (!map_.Data() && size > 0) {
    // Room for the file to grow a while before the view has to be made again; the pages past the
    // end are never touched, since only the bytes the file holds under the lock are read.
    int64_t length = size + size / 8;
    length = (length + 0xFFFF) & ~int64_t{0xFFFF};
    if (map_.Map(fs->Handle(), length)) base_ = map_.Data();
  }
  size_ = map_.Data() ? size : 0;
}

const uint8_t* TFileView::Bytes(int64_t offset, int32_t count) {
  if (base_ && offset >= 0 && count >= 0 && offset + count <= size_) return base_ + offset;
  raw_.resize(static_cast<size_t>(std::max(count, 0)));
  io_.ReadBytesAt(raw_.data(), offset, count);
  return raw_.data();
}

void TFileView::Release() {
  map_.Unmap();
  base_ = nullptr;
  size_ = 0;
}

// ---- TRecordWindow

const uint8_t* TRecordWindow::Find(const TRecordList& list, int32_t position) const {
  if (count_ == 0 || writes_ != DatabaseWriteCount()) return nullptr;
  const int64_t slot = static_cast<int64_t>(position - anchor_) * direction_;
  if (slot < 0 || slot >= count_ || position < 0 || position >= static_cast<int32_t>(list.size()))
    return nullptr;
  if (!(list[static_cast<size_t>(position)] == entries_[static_cast<size_t>(slot)])) return nullptr;
  return bytes_.data() + slot * recordSize_;
}

const uint8_t* TRecordWindow::Fill(const TRecordList& list, int32_t position, int32_t direction,
                                   int32_t rows) {
  count_ = 0;
  recordSize_ = table_.RecordSize();
  const int32_t total = static_cast<int32_t>(list.size());
  if (position < 0 || position >= total)
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  direction = direction < 0 ? -1 : 1;
  rows = std::clamp(rows, 1, kMaxRows);
  rows = std::min(rows, std::max(1, kMaxBytes / std::max(recordSize_, 1)));
  rows = std::min(rows, direction > 0 ? total - position : position + 1);
  entries_.resize(static_cast<size_t>(rows));
  bytes_.resize(static_cast<size_t>(rows) * static_cast<size_t>(recordSize_));
  int32_t n = 0;
  {
    TFileLockGuard lock(table_.FileIO());
    writes_ = DatabaseWriteCount();
    view_.Refresh();
    const auto start = std::chrono::steady_clock::now();
    for (; n < rows; ++n) {
      if (n > 0 && n % 16 == 0 &&
          std::chrono::steady_clock::now() - start > std::chrono::microseconds(kMaxHoldMicroseconds))
        break;
      const TRecordListEntry& e = list[static_cast<size_t>(position + n * direction)];
      std::memcpy(bytes_.data() + static_cast<size_t>(n) * static_cast<size_t>(recordSize_),
                  view_.Bytes(e.DataOffset, recordSize_), static_cast<size_t>(recordSize_));
      entries_[static_cast<size_t>(n)] = e;
    }
  }
  anchor_ = position;
  direction_ = direction;
  count_ = n;
  return bytes_.data();
}

}  // namespace lanqi
