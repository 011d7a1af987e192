// Appending, modifying and deleting records, with the auto-increment counter, blob areas and the
// index chains. Writes are ordered so that an interrupted operation leaves every earlier record
// intact: new bytes first, then the entries that point at them, the record count last among the
// record's own structures, then the predecessors in the chains. Bytes a record still points at
// are never overwritten: a blob rewritten into its old area goes through a staging copy. In
// durable mode a data sync separates each step whose order matters and ends every operation.
//
// AppendRecord and ModifyRecord read as their steps in that order; each step is one member below
// them, and the steps a batch of appends takes as well are shared with RadeTableBatch.cpp.
#include <algorithm>
#include <cstring>

#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeTableKeys.h"
#include "rtl/Exceptions.h"

namespace lanqi {

// An append worked out before its first write: the record's number, the auto-increment counter,
// the record (plain and as stored) with its blobs encoded, where everything goes in the file and
// where the record goes in each index.
struct TRadeTableIO::TAppendPlan {
  struct TBlob {
    int32_t Field;
    TMemoryStream* Plain;
    TMemoryStream Stored;
    int32_t Offset;
  };
  int32_t RecNo = 0;
  int32_t Counter = 0;
  TFieldBufferItem* AutoItem = nullptr;  // the caller's auto-increment value, when it gave one
  int32_t GivenAuto = 0;
  bool NewBlock = false;  // the record opens a new block of each tab
  int64_t End = 0;        // the file's end before the append: a new record-tab block goes there
  int32_t DataOffset = 0;
  int64_t BlobEnd = 0;
  std::vector<uint8_t> Plain, Stored;
  std::vector<std::unique_ptr<TBlob>> Blobs;
  TMemoryStream Empty;              // the content of a blob field the caller left out
  std::vector<int32_t> IndexBlock;  // per index, the new index-tab block when NewBlock
  std::vector<int32_t> InsertPos;   // per index, the record's place in the index's list
  std::vector<TIndexTabItem> Pred;  // per index, the entry before the record in the chain
  std::vector<int32_t> Next;        // per index, the record's successor in the chain
};

// A modify worked out before its first write: the record's new stored bytes and the final place
// of each blob it rewrites. A blob's new area that overlaps bytes the record still points at
// (rewritten in place, or extended at the end of the file) first gets a staging copy past
// everything: the record points there (Staged) until the area itself holds the new bytes, then
// the file is cut back to FinalSize.
struct TRadeTableIO::TRewritePlan {
  struct TBlob {
    TMemoryStream* Plain;
    TMemoryStream Stored;
    int32_t Field;
    TBlobDescriptor Final;
    int32_t Staging = 0;  // 0: written straight into its final area
  };
  int32_t RecNo = 0;
  int32_t DataOffset = 0;
  std::vector<uint8_t> Record;  // the new stored record
  std::vector<uint8_t> Staged;  // the record pointing at the staging copies; empty when none
  std::vector<std::unique_ptr<TBlob>> Blobs;
  TMemoryStream Empty;
  int64_t StartSize = 0;
  int64_t FinalSize = 0;
  bool CounterChanged = false;
};

void TRadeTableIO::EndWrite(bool flush) {
  if (flush)
    io_.FlushFile();
  else
    io_.SyncData();
}

void TRadeTableIO::AppendRecord(TFieldBuffers& buffers, bool flush, const TOnIndexInsert& onIndexInsert) {
  CheckWritable();
  CommitBatchGroup();  // a batch's held rows go first
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  CheckTabsCoverRecords();
  PrepareStrings(buffers);
  TAppendPlan a;
  a.RecNo = header_.RecordTabCount();
  NumberNewRecord(buffers, a);
  EncodeNewRecord(buffers, a);
  FindChainPlaces(buffers, a);
  try {
    WriteRecordAndBlobs(a);
    WriteNewTabEntries(a);
    if (a.NewBlock && a.RecNo > 0)
      LinkNewBlocks(a.RecNo / kBlockEntries, static_cast<int32_t>(a.End),
                    [&](int32_t k) { return a.IndexBlock[static_cast<size_t>(k)]; });
    // The first record heads every index.
    const std::vector<int32_t> firstHeads(a.RecNo == 0 ? static_cast<size_t>(indexDefs_.Count()) : 0, 0);
    WriteRecordCount(a.RecNo + 1, a.Counter, static_cast<int32_t>(a.End), a.IndexBlock, firstHeads);
    if (a.RecNo > 0) LinkPredecessors(a);
  } catch (...) {
    stale_ = true;
    throw;
  }
  AddAppendedToLists(a, onIndexInsert);
  StoreCachedKeys(a.RecNo, a.Plain);
  EndWrite(flush);
}

void TRadeTableIO::ModifyRecord(TFieldBuffers& buffers, int32_t position, const TOnIndexMove& onIndexMove,
                                bool flush) {
  CheckWritable();
  CommitBatchGroup();  // a batch's held rows go first
  const int32_t recNo = RecNoAtPosition(position);
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  position = FindRecordAgain(position, recNo);
  PrepareStrings(buffers);
  CheckUnique(buffers, position);
  TRewritePlan r;
  r.RecNo = recNo;
  r.DataOffset = List(0)[static_cast<size_t>(position)].DataOffset;
  EncodeRewrittenRecord(buffers, r);
  PlaceStagingCopies(r);
  CountChange();
  try {
    WriteBlobsAndCounter(r);
    WriteRewrittenRecord(r);
    DropCachedKeys(recNo);
    RelinkRewrittenRecord(position, recNo, onIndexMove);
  } catch (...) {
    stale_ = true;
    DropCachedKeys(recNo);
    throw;
  }
  EndWrite(flush);
}

void TRadeTableIO::DeleteRecord(int32_t position, bool flush) {
  CheckWritable();
  CommitBatchGroup();  // a batch's held rows go first
  const int32_t recNo = RecNoAtPosition(position);
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  position = FindRecordAgain(position, recNo);
  CountChange();
  io_.MarkRecordDeleted(RecordTabEntryPos(recordTabBlocks_, recNo));
  recordTab_[static_cast<size_t>(recNo)].Deleted = 1;
  const int32_t indexCount = indexDefs_.Count();
  std::vector<int32_t> pos(static_cast<size_t>(indexCount));
  for (int32_t k = 0; k < indexCount; ++k) pos[static_cast<size_t>(k)] = ConvertListPos(-1, position, k);
  for (int32_t k = 0; k < indexCount; ++k)
    if (pos[static_cast<size_t>(k)] >= 0) {
      TRecordList& list = List(k + 1);
      list.erase(list.begin() + pos[static_cast<size_t>(k)]);
    }
  TRecordList& list0 = List(0);
  list0.erase(list0.begin() + position);
  DropCachedKeys(recNo);
  EndWrite(flush);
}

// ---- Steps shared by single appends and batches.

void TRadeTableIO::CheckTabsCoverRecords() {
  const int32_t n = header_.RecordTabCount();
  if (n != static_cast<int32_t>(recordTab_.size()))
    io_.Corrupt(Format("table '%s' changed its record count", tableName_.c_str()));
  const size_t blocksNeeded =
      static_cast<size_t>((static_cast<int64_t>(n) + kBlockEntries - 1) / kBlockEntries);
  if (recordTabBlocks_.size() < blocksNeeded)
    io_.Corrupt(Format("the record tab of table '%s' is short", tableName_.c_str()));
  for (int32_t k = 0; k < indexDefs_.Count(); ++k)
    if (indexTabBlocks_[static_cast<size_t>(k)].size() < blocksNeeded)
      io_.Corrupt(Format("index '%s' of table '%s' has no index tab for all its records",
                         indexDefs_.Items(k)->Name.c_str(), tableName_.c_str()));
}

TFieldBufferItem* TRadeTableIO::AutoIncItem(TFieldBuffers& buffers) const {
  if (autoIncField_ < 0 || autoIncField_ >= buffers.Count()) return nullptr;
  TFieldBufferItem* item = buffers.Items(autoIncField_);
  return item && item->Buffer && item->BufferSize >= 4 ? item : nullptr;
}

int32_t TRadeTableIO::TakeAutoIncNumber(int32_t counter, int32_t given) const {
  // 0 takes the next number, a higher value raises the counter.
  if (autoIncField_ < 0) return counter;
  if (given == 0) {
    if (counter == INT32_MAX) throw EDatabaseError("Auto-increment counter overflow");
    return counter + 1;
  }
  return given > counter ? given : counter;
}

void TRadeTableIO::EncodePlainRecord(TFieldBuffers& buffers, std::vector<uint8_t>& plain) {
  plain.assign(static_cast<size_t>(recordSize_), 0);
  for (int32_t i = 0; i < fieldDefs_.Count(); ++i)
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType) && i < buffers.Count() && buffers.Items(i))
      EncodeSlot(*buffers.Items(i), i, plain.data());
}

void TRadeTableIO::EncryptSlots(const std::vector<uint8_t>& plain, std::vector<uint8_t>& stored) {
  stored = plain;
  for (int32_t i = 0; i < fieldDefs_.Count(); ++i)
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType) && FieldEncrypted(i))
      io_.EncodeBufferData(plain.data() + slotOffsets_[static_cast<size_t>(i)],
                           stored.data() + slotOffsets_[static_cast<size_t>(i)], true,
                           slotSizes_[static_cast<size_t>(i)]);
}

void TRadeTableIO::LinkNewBlocks(int32_t existingBlocks, int32_t recordBlock,
                                 const std::function<int32_t(int32_t)>& indexBlock) {
  uint8_t link[4];
  TByteBuffer::StoreInt32(link, recordBlock);
  io_.WriteBytesAt(link, recordTabBlocks_[static_cast<size_t>(existingBlocks) - 1] + kTabBlockNext, 4);
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    TByteBuffer::StoreInt32(link, indexBlock(k));
    io_.WriteBytesAt(
        link,
        indexTabBlocks_[static_cast<size_t>(k)][static_cast<size_t>(existingBlocks) - 1] + kTabBlockNext, 4);
  }
}

void TRadeTableIO::WriteRecordCount(int32_t count, int32_t counter, int32_t firstRecordBlock,
                                    const std::vector<int32_t>& firstIndexBlocks,
                                    const std::vector<int32_t>& firstHeads) {
  // Everything the new records make reachable is durable first.
  io_.SyncData();
  const bool first = header_.RecordTabCount() == 0;
  const int32_t indexCount = indexDefs_.Count();
  if (first) header_.SetRecordTabOffset(firstRecordBlock);
  header_.SetRecordTabCount(count);
  if (autoIncField_ >= 0) header_.SetAutoIncCounter(counter);
  if (first && indexCount > 0) {
    for (int32_t k = 0; k < indexCount; ++k) {
      header_.SetIndexTabOffset(k, firstIndexBlocks[static_cast<size_t>(k)]);
      header_.SetIndexHead(k, firstHeads[static_cast<size_t>(k)]);
    }
    WriteHeader();
  } else {
    // The offset and the count, and the counter that follows them.
    static_assert(kThRecordTabCount == kThRecordTabOffset + 4 && kThAutoIncCounter == kThRecordTabCount + 4);
    const int32_t bytes = autoIncField_ >= 0 ? kThAutoIncCounter + 4 - kThRecordTabOffset
                                             : kThRecordTabCount + 4 - kThRecordTabOffset;
    io_.WriteBytesAt(header_.Image().Data() + kThRecordTabOffset,
                     static_cast<int64_t>(io_.TableHeaderOffset(tableNumber_)) + kThRecordTabOffset, bytes);
  }
}

// ---- The steps of an append.

void TRadeTableIO::NumberNewRecord(TFieldBuffers& buffers, TAppendPlan& a) {
  a.AutoItem = AutoIncItem(buffers);
  a.GivenAuto = a.AutoItem ? TByteBuffer::LoadInt32(a.AutoItem->Bytes()) : 0;
  a.Counter = TakeAutoIncNumber(header_.AutoIncCounter(), a.GivenAuto);
  if (a.AutoItem && a.GivenAuto == 0) TByteBuffer::StoreInt32(a.AutoItem->Bytes(), a.Counter);
  // A refused record leaves the caller's auto-increment value as it was given.
  try {
    CheckUnique(buffers, -1);
  } catch (...) {
    if (a.AutoItem) TByteBuffer::StoreInt32(a.AutoItem->Bytes(), a.GivenAuto);
    throw;
  }
}

void TRadeTableIO::EncodeNewRecord(TFieldBuffers& buffers, TAppendPlan& a) {
  const int32_t fieldCount = fieldDefs_.Count();
  const int32_t indexCount = indexDefs_.Count();
  EncodePlainRecord(buffers, a.Plain);
  if (autoIncField_ >= 0 && !a.AutoItem)
    TByteBuffer::StoreInt32(a.Plain.data() + slotOffsets_[static_cast<size_t>(autoIncField_)], a.Counter);
  // A new block of the record tab goes first, then the record, its blob areas and the new blocks
  // of the index tabs.
  a.NewBlock = a.RecNo % kBlockEntries == 0;
  a.End = io_.FileSize();
  a.DataOffset = static_cast<int32_t>(a.NewBlock ? a.End + kRecordTabBlockSize : a.End);
  int64_t pos = static_cast<int64_t>(a.DataOffset) + recordSize_;
  for (int32_t i = 0; i < fieldCount; ++i) {
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType)) continue;
    auto b = std::make_unique<TAppendPlan::TBlob>();
    b->Field = i;
    TFieldBufferItem* it = i < buffers.Count() ? buffers.Items(i) : nullptr;
    b->Plain = it && it->Buffer ? it->BlobStream() : &a.Empty;
    io_.EncodeStreamData(*b->Plain, b->Stored, FieldCompressed(i), FieldEncrypted(i));
    int32_t s = static_cast<int32_t>(b->Stored.Size());
    io_.CheckGrowth(pos + BlobAreaSize(s));
    b->Offset = static_cast<int32_t>(pos);
    TBlobDescriptor{b->Offset, s, BlobAreaSize(s), 0, 0}.Store(a.Plain.data() +
                                                               slotOffsets_[static_cast<size_t>(i)]);
    pos += BlobAreaSize(s);
    a.Blobs.push_back(std::move(b));
  }
  a.BlobEnd = pos;
  a.IndexBlock.assign(static_cast<size_t>(indexCount), 0);
  if (a.NewBlock)
    for (int32_t k = 0; k < indexCount; ++k)
      a.IndexBlock[static_cast<size_t>(k)] =
          static_cast<int32_t>(a.BlobEnd + static_cast<int64_t>(k) * kIndexTabBlockSize);
  io_.CheckGrowth(a.BlobEnd + (a.NewBlock ? static_cast<int64_t>(indexCount) * kIndexTabBlockSize : 0));
  EncryptSlots(a.Plain, a.Stored);
}

void TRadeTableIO::FindChainPlaces(TFieldBuffers& buffers, TAppendPlan& a) {
  const int32_t indexCount = indexDefs_.Count();
  a.InsertPos.assign(static_cast<size_t>(indexCount), 0);
  a.Pred.assign(static_cast<size_t>(indexCount), TIndexTabItem{});
  a.Next.assign(static_cast<size_t>(indexCount), -1);
  for (int32_t k = 0; k < indexCount; ++k) {
    TSearchKey key = MakeSearchKey(buffers, k, 0, false);
    if (autoIncField_ >= 0 && !a.AutoItem) {
      // The caller gave no auto-increment item: the key takes the number assigned.
      const TRadeIndexDef* d = indexDefs_.Items(k);
      for (size_t j = 0; j < d->FieldNumbers.size(); ++j)
        if (d->FieldNumbers[j] == autoIncField_)
          key.Values[j].assign(reinterpret_cast<const char*>(a.Plain.data()) +
                                   slotOffsets_[static_cast<size_t>(autoIncField_)],
                               4);
    }
    const TRecordList& list = List(k + 1);
    const int32_t p = FindInsertPosFor(key, k, list);
    a.InsertPos[static_cast<size_t>(k)] = p;
    if (a.RecNo == 0) continue;
    if (p == 0) {
      a.Next[static_cast<size_t>(k)] = header_.IndexHead(k);
    } else {
      a.Pred[static_cast<size_t>(k)] = ReadIndexEntry(k, list[static_cast<size_t>(p) - 1].RecNo);
      a.Next[static_cast<size_t>(k)] = a.Pred[static_cast<size_t>(k)].Next;
    }
  }
}

void TRadeTableIO::WriteRecordAndBlobs(TAppendPlan& a) {
  // In one write unless each blob is read back.
  std::vector<uint8_t> bytes(static_cast<size_t>(a.BlobEnd - a.DataOffset), 0);
  std::memcpy(bytes.data(), a.Stored.data(), a.Stored.size());
  for (auto& b : a.Blobs)
    if (b->Stored.Size())
      std::memcpy(bytes.data() + (b->Offset - a.DataOffset), b->Stored.Memory(),
                  static_cast<size_t>(b->Stored.Size()));
  io_.WriteBytesAt(bytes.data(), a.DataOffset, static_cast<int32_t>(bytes.size()));
  if (io_.VerifyWrites())
    for (auto& b : a.Blobs) VerifyBlob(b->Offset, *b->Plain, b->Stored, b->Field);
}

void TRadeTableIO::WriteNewTabEntries(const TAppendPlan& a) {
  // The record's index-tab entries (in a new block when the tab is full), then its record-tab
  // entry.
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    if (a.NewBlock) {
      TByteBuffer block(kIndexTabBlockSize);
      block.PutInt32(kTabBlockItems + kItiRecNo, a.RecNo);
      block.PutInt32(kTabBlockItems + kItiNext, a.Next[static_cast<size_t>(k)]);
      io_.WriteBytesAt(block.Data(), a.IndexBlock[static_cast<size_t>(k)], kIndexTabBlockSize);
    } else {
      WriteIndexEntry(k, a.RecNo, a.Next[static_cast<size_t>(k)]);
    }
  }
  if (a.NewBlock) {
    TByteBuffer block(kRecordTabBlockSize);
    block.PutInt32(kTabBlockItems + kRtiDataOffset, a.DataOffset);
    io_.WriteBytesAt(block.Data(), a.End, kRecordTabBlockSize);
  } else {
    uint8_t e[kRecordTabItemSize] = {};
    TByteBuffer::StoreInt32(e + kRtiDataOffset, a.DataOffset);
    io_.WriteBytesAt(e, RecordTabEntryPos(recordTabBlocks_, a.RecNo), kRecordTabItemSize);
  }
}

void TRadeTableIO::LinkPredecessors(const TAppendPlan& a) {
  // Until this ends a chain may miss the record; the table's next read rebuilds that order.
  bool headChanged = false;
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    if (a.InsertPos[static_cast<size_t>(k)] == 0) {
      header_.SetIndexHead(k, a.RecNo);
      headChanged = true;
    } else {
      WriteIndexEntry(k, a.Pred[static_cast<size_t>(k)].RecNo, a.RecNo);
    }
  }
  if (headChanged) WriteHeader();
}

void TRadeTableIO::AddAppendedToLists(const TAppendPlan& a, const TOnIndexInsert& onIndexInsert) {
  const int32_t indexCount = indexDefs_.Count();
  recordTab_.push_back({a.DataOffset, 0});
  if (a.NewBlock) {
    recordTabBlocks_.push_back(static_cast<int32_t>(a.End));
    for (int32_t k = 0; k < indexCount; ++k)
      indexTabBlocks_[static_cast<size_t>(k)].push_back(a.IndexBlock[static_cast<size_t>(k)]);
  }
  const TRecordListEntry entry{a.DataOffset, a.RecNo};
  List(0).push_back(entry);
  if (onIndexInsert) onIndexInsert(-1, -1, entry);
  for (int32_t k = 0; k < indexCount; ++k) {
    const int32_t p = a.InsertPos[static_cast<size_t>(k)];
    if (onIndexInsert) onIndexInsert(k, p, entry);
    TRecordList& list = List(k + 1);
    list.insert(list.begin() + p, entry);
  }
}

// ---- The steps of a modify and a delete.

int32_t TRadeTableIO::RecNoAtPosition(int32_t position) {
  const TRecordList& list0 = List(0);
  if (position < 0 || position >= static_cast<int32_t>(list0.size()))
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  return list0[static_cast<size_t>(position)].RecNo;
}

int32_t TRadeTableIO::FindRecordAgain(int32_t position, int32_t recNo) {
  // The lists may have been read again under the lock: the record is found by its number.
  const TRecordList& list0 = List(0);
  if (position < static_cast<int32_t>(list0.size()) && list0[static_cast<size_t>(position)].RecNo == recNo)
    return position;
  position = -1;
  for (size_t i = 0; i < list0.size(); ++i)
    if (list0[i].RecNo == recNo) position = static_cast<int32_t>(i);
  if (position < 0) throw EDatabaseError("Record not found");
  return position;
}

void TRadeTableIO::EncodeRewrittenRecord(TFieldBuffers& buffers, TRewritePlan& r) {
  r.Record.resize(static_cast<size_t>(recordSize_));
  io_.ReadBytesAt(r.Record.data(), r.DataOffset, recordSize_);
  r.StartSize = io_.FileSize();
  r.FinalSize = r.StartSize;
  std::vector<uint8_t> slot;
  for (int32_t i = 0; i < fieldDefs_.Count() && i < buffers.Count(); ++i) {
    TFieldBufferItem* it = buffers.Items(i);
    if (!it->InUse) continue;
    const uint8_t type = fieldDefs_.Items(i)->FieldType;
    uint8_t* p = r.Record.data() + slotOffsets_[static_cast<size_t>(i)];
    const int32_t size = slotSizes_[static_cast<size_t>(i)];
    if (IsBlobType(type)) {
      PlaceRewrittenBlob(it, i, p, r);
      continue;
    }
    slot.assign(static_cast<size_t>(size), 0);
    if (it->Buffer && it->BufferSize > 0)
      std::memcpy(slot.data(), it->Buffer, static_cast<size_t>(std::min(size, it->BufferSize)));
    if (type == ftAutoInc) {
      const int32_t v = TByteBuffer::LoadInt32(slot.data());
      if (v == 0) continue;  // 0 keeps the stored number
      if (v > header_.AutoIncCounter()) {
        header_.SetAutoIncCounter(v);
        r.CounterChanged = true;
      }
    }
    io_.EncodeBufferData(slot.data(), p, FieldEncrypted(i), size);
  }
}

void TRadeTableIO::PlaceRewrittenBlob(TFieldBufferItem* it, int32_t field, uint8_t* slot, TRewritePlan& r) {
  // New stored bytes that fit the old area go there; larger ones to a new area at the end of the
  // file, or in place when the old area ends the file.
  auto b = std::make_unique<TRewritePlan::TBlob>();
  b->Field = field;
  b->Plain = it->Buffer ? it->BlobStream() : &r.Empty;
  io_.EncodeStreamData(*b->Plain, b->Stored, FieldCompressed(field), FieldEncrypted(field));
  const int32_t s = static_cast<int32_t>(b->Stored.Size());
  TBlobDescriptor old = TBlobDescriptor::Load(slot);
  const bool oldValid = old.DataOffset >= kDynamicAreaOffset && old.AreaSize >= 0 &&
                        static_cast<int64_t>(old.DataOffset) + old.AreaSize <= r.StartSize;
  if (!oldValid && (old.DataOffset != 0 || old.AreaSize != 0))
    io_.Corrupt(Format("a blob descriptor of record %d of table '%s' points outside the file", r.RecNo,
                       tableName_.c_str()));
  int32_t offset, area;
  if (oldValid && old.AreaSize > s) {
    offset = old.DataOffset;
    area = old.AreaSize;
  } else {
    area = BlobAreaSize(s);
    offset = oldValid && static_cast<int64_t>(old.DataOffset) + old.AreaSize == r.FinalSize
                 ? old.DataOffset
                 : static_cast<int32_t>(r.FinalSize);
    io_.CheckGrowth(static_cast<int64_t>(offset) + area);
    r.FinalSize = std::max(r.FinalSize, static_cast<int64_t>(offset) + area);
  }
  b->Final = TBlobDescriptor{offset, s, area, old.Reserved1, old.Reserved2};
  b->Final.Store(slot);
  r.Blobs.push_back(std::move(b));
}

void TRadeTableIO::PlaceStagingCopies(TRewritePlan& r) {
  // A blob going into bytes the file held before (its old area, or an area extended from it)
  // is staged past the final end.
  int64_t stagingEnd = r.FinalSize;
  for (auto& b : r.Blobs)
    if (b->Final.DataOffset < r.StartSize) {
      b->Staging = static_cast<int32_t>(stagingEnd);
      stagingEnd += BlobAreaSize(b->Final.StoredSize);
      io_.CheckGrowth(stagingEnd);
    }
  if (stagingEnd > r.FinalSize) {
    r.Staged = r.Record;
    for (auto& b : r.Blobs)
      if (b->Staging)
        TBlobDescriptor{b->Staging, b->Final.StoredSize, BlobAreaSize(b->Final.StoredSize),
                        b->Final.Reserved1, b->Final.Reserved2}
            .Store(r.Staged.data() + slotOffsets_[static_cast<size_t>(b->Field)]);
  }
}

void TRadeTableIO::WriteBlobsAndCounter(TRewritePlan& r) {
  // New bytes, and the counter that must cover the record's number, before the record.
  if (r.CounterChanged)
    io_.WriteBytesAt(header_.Image().Data() + kThAutoIncCounter,
                     static_cast<int64_t>(io_.TableHeaderOffset(tableNumber_)) + kThAutoIncCounter, 4);
  for (auto& b : r.Blobs) {
    WriteBlob(b->Staging ? b->Staging : b->Final.DataOffset, *b->Plain, b->Stored, b->Field);
    // The copy that goes into the final area is what the staging area verified as.
    if (b->Staging && io_.VerifyWrites() && b->Stored.Size() > 0)
      io_.ReadBytesAt(b->Stored.Memory(), b->Staging, static_cast<int32_t>(b->Stored.Size()));
  }
  // The change count alone need not precede the record: a power loss leaves no lists to refresh.
  if (r.CounterChanged || !r.Blobs.empty()) io_.SyncData();
}

void TRadeTableIO::WriteRewrittenRecord(TRewritePlan& r) {
  if (r.Staged.empty()) {
    io_.WriteBytesAt(r.Record.data(), r.DataOffset, recordSize_);
    return;
  }
  // Pointed at the staging copies, then at the final areas once they hold the new bytes.
  io_.WriteBytesAt(r.Staged.data(), r.DataOffset, recordSize_);
  io_.SyncData();
  for (auto& b : r.Blobs)
    if (b->Staging) CopyBlobArea(b->Final.DataOffset, b->Stored);
  io_.SyncData();
  io_.WriteBytesAt(r.Record.data(), r.DataOffset, recordSize_);
  io_.SyncData();
  // The record no longer points at the staging copies; a cut that fails only leaves them.
  try {
    io_.TruncateFile(r.FinalSize);
  } catch (const EStreamError&) {
  }
}

void TRadeTableIO::RelinkRewrittenRecord(int32_t position, int32_t recNo, const TOnIndexMove& onIndexMove) {
  // Every index: the record's place before anything changes, then each move.
  const int32_t indexCount = indexDefs_.Count();
  std::vector<int32_t> oldPos(static_cast<size_t>(indexCount));
  for (int32_t k = 0; k < indexCount; ++k) oldPos[static_cast<size_t>(k)] = ConvertListPos(-1, position, k);
  for (int32_t k = 0; k < indexCount; ++k) {
    TRecordList& list = List(k + 1);
    const int32_t o = oldPos[static_cast<size_t>(k)];
    if (o < 0) continue;
    TSearchKey key = MakeRecordKey(k, recNo);
    const TRecordListEntry entry = list[static_cast<size_t>(o)];
    list.erase(list.begin() + o);
    const int32_t j = FindInsertPosFor(key, k, list);
    list.insert(list.begin() + o, entry);
    const int32_t nw = o < j ? j + 1 : j;
    if (nw == o) continue;
    if (onIndexMove) onIndexMove(k, o, nw);
    UnlinkFromChain(k, recNo, o, list);
    LinkIntoChain(k, recNo, nw, list);
    list.erase(list.begin() + o);
    list.insert(list.begin() + j, entry);
  }
}

void TRadeTableIO::UnlinkFromChain(int32_t k, int32_t recNo, int32_t listPos, const TRecordList& list) {
  TIndexTabItem r = ReadIndexEntry(k, recNo);
  if (listPos == 0) {
    header_.SetIndexHead(k, r.Next);
    WriteHeader();
  } else {
    TIndexTabItem q = ReadIndexEntry(k, list[static_cast<size_t>(listPos) - 1].RecNo);
    WriteIndexEntry(k, q.RecNo, r.Next);
  }
}

void TRadeTableIO::LinkIntoChain(int32_t k, int32_t recNo, int32_t listPos, const TRecordList& list) {
  // The record's own entry first, then its predecessor.
  if (listPos == 0) {
    WriteIndexEntry(k, recNo, header_.IndexHead(k));
    header_.SetIndexHead(k, recNo);
    WriteHeader();
  } else {
    TIndexTabItem q = ReadIndexEntry(k, list[static_cast<size_t>(listPos) - 1].RecNo);
    WriteIndexEntry(k, recNo, q.Next);
    WriteIndexEntry(k, q.RecNo, recNo);
  }
}

// ---- Repair.

void TRadeTableIO::RewriteIndexChain(int32_t indexNumber, bool flush) {
  CheckWritable();
  CommitBatchGroup();  // a batch's held rows go first
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  CountChange();
  const int32_t k = indexNumber;
  TRecordList& list = List(k + 1);
  // Re-sort: the repair also restores key order.
  list = List(0);
  std::stable_sort(list.begin(), list.end(), [&](const TRecordListEntry& a, const TRecordListEntry& b) {
    return CompareRecords(k, a.RecNo, b.RecNo) < 0;
  });
  const int32_t count = static_cast<int32_t>(recordTab_.size());
  TIntegerAry& blocks = indexTabBlocks_[static_cast<size_t>(k)];
  const size_t needed = static_cast<size_t>((count + kBlockEntries - 1) / kBlockEntries);
  std::vector<int32_t> next(static_cast<size_t>(count), -1);
  for (size_t i = 0; i + 1 < list.size(); ++i) next[static_cast<size_t>(list[i].RecNo)] = list[i + 1].RecNo;
  // Missing blocks are added at the end of the file; the entries are then written whole.
  while (blocks.size() < needed) {
    int64_t end = io_.FileSize();
    io_.CheckGrowth(end + kIndexTabBlockSize);
    TByteBuffer zero(kIndexTabBlockSize);
    io_.WriteBytesAt(zero.Data(), end, kIndexTabBlockSize);
    uint8_t link[4];
    TByteBuffer::StoreInt32(link, static_cast<int32_t>(end));
    if (blocks.empty())
      header_.SetIndexTabOffset(k, static_cast<int32_t>(end));
    else
      io_.WriteBytesAt(link, blocks.back() + kTabBlockNext, 4);
    blocks.push_back(static_cast<int32_t>(end));
  }
  for (size_t b = 0; b < needed; ++b) {
    int32_t first = static_cast<int32_t>(b) * kBlockEntries;
    int32_t inBlock = std::min(kBlockEntries, count - first);
    TByteBuffer entries(static_cast<size_t>(inBlock) * kIndexTabItemSize);
    for (int32_t e = 0; e < inBlock; ++e) {
      entries.PutInt32(static_cast<size_t>(e) * kIndexTabItemSize + kItiRecNo, first + e);
      entries.PutInt32(static_cast<size_t>(e) * kIndexTabItemSize + kItiNext,
                       next[static_cast<size_t>(first + e)]);
    }
    io_.WriteBytesAt(entries.Data(), static_cast<int64_t>(blocks[b]) + kTabBlockItems,
                     static_cast<int32_t>(entries.Size()));
  }
  header_.SetIndexHead(k, list.empty() ? 0 : list.front().RecNo);
  WriteHeader();
  rebuilt_[static_cast<size_t>(k)] = false;
  EndWrite(flush);
}

}  // namespace lanqi
