// Appending, modifying and deleting records, with the auto-increment counter, blob areas and the
// index chains. Writes are ordered so that an interrupted operation leaves every earlier record
// intact: new bytes first, then the entries that point at them, the record count last among the
// record's own structures, then the predecessors in the chains. Bytes a record still points at
// are never overwritten: a blob rewritten into its old area goes through a staging copy. In
// durable mode a data sync separates each step whose order matters and ends every operation.
#include <algorithm>
#include <cstring>

#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeTableKeys.h"
#include "rtl/Exceptions.h"

namespace lanqi {

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
  const int32_t fieldCount = fieldDefs_.Count();
  const int32_t indexCount = indexDefs_.Count();
  const int32_t n = header_.RecordTabCount();
  if (n != static_cast<int32_t>(recordTab_.size()))
    io_.Corrupt(Format("table '%s' changed its record count", tableName_.c_str()));
  const bool newBlock = n % kBlockEntries == 0;
  const size_t blocksNeeded = static_cast<size_t>((n + kBlockEntries - 1) / kBlockEntries);
  if (recordTabBlocks_.size() < blocksNeeded)
    io_.Corrupt(Format("the record tab of table '%s' is short", tableName_.c_str()));
  for (int32_t k = 0; k < indexCount; ++k)
    if (indexTabBlocks_[static_cast<size_t>(k)].size() < blocksNeeded)
      io_.Corrupt(Format("index '%s' of table '%s' has no index tab for all its records",
                         indexDefs_.Items(k)->Name.c_str(), tableName_.c_str()));
  PrepareStrings(buffers);

  // Auto-increment: 0 takes the next number, a higher value raises the counter.
  auto item = [&](int32_t i) -> TFieldBufferItem* {
    return i < buffers.Count() ? buffers.Items(i) : nullptr;
  };
  int32_t counter = header_.AutoIncCounter();
  TFieldBufferItem* autoItem = autoIncField_ >= 0 ? item(autoIncField_) : nullptr;
  if (autoItem && (!autoItem->Buffer || autoItem->BufferSize < 4)) autoItem = nullptr;
  const int32_t givenAuto = autoItem ? TByteBuffer::LoadInt32(autoItem->Bytes()) : 0;
  if (autoIncField_ >= 0) {
    if (givenAuto == 0) {
      if (counter == INT32_MAX) throw EDatabaseError("Auto-increment counter overflow");
      ++counter;
      if (autoItem) TByteBuffer::StoreInt32(autoItem->Bytes(), counter);
    } else if (givenAuto > counter) {
      counter = givenAuto;
    }
  }
  try {
    CheckUnique(buffers, -1);
  } catch (...) {
    if (autoItem) TByteBuffer::StoreInt32(autoItem->Bytes(), givenAuto);
    throw;
  }

  // The plain record and the places of everything this append writes.
  std::vector<uint8_t> plain(static_cast<size_t>(recordSize_), 0);
  for (int32_t i = 0; i < fieldCount; ++i)
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType) && item(i)) EncodeSlot(*item(i), i, plain.data());
  if (autoIncField_ >= 0 && !autoItem)
    TByteBuffer::StoreInt32(plain.data() + slotOffsets_[static_cast<size_t>(autoIncField_)], counter);
  const int64_t end = io_.FileSize();
  const int32_t dataOffset = static_cast<int32_t>(newBlock ? end + kRecordTabBlockSize : end);
  int64_t pos = static_cast<int64_t>(dataOffset) + recordSize_;
  struct TBlobWrite {
    int32_t Field;
    TMemoryStream* Plain;
    TMemoryStream Stored;
    int32_t Offset;
  };
  std::vector<std::unique_ptr<TBlobWrite>> blobs;
  TMemoryStream empty;
  for (int32_t i = 0; i < fieldCount; ++i) {
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType)) continue;
    auto b = std::make_unique<TBlobWrite>();
    b->Field = i;
    b->Plain = item(i) && item(i)->Buffer ? item(i)->BlobStream() : &empty;
    io_.EncodeStreamData(*b->Plain, b->Stored, FieldCompressed(i), FieldEncrypted(i));
    int32_t s = static_cast<int32_t>(b->Stored.Size());
    io_.CheckGrowth(pos + BlobAreaSize(s));
    b->Offset = static_cast<int32_t>(pos);
    TBlobDescriptor{b->Offset, s, BlobAreaSize(s), 0, 0}.Store(plain.data() +
                                                               slotOffsets_[static_cast<size_t>(i)]);
    pos += BlobAreaSize(s);
    blobs.push_back(std::move(b));
  }
  const int64_t blobEnd = pos;
  std::vector<int32_t> indexBlock(static_cast<size_t>(indexCount), 0);
  if (newBlock)
    for (int32_t k = 0; k < indexCount; ++k)
      indexBlock[static_cast<size_t>(k)] =
          static_cast<int32_t>(blobEnd + static_cast<int64_t>(k) * kIndexTabBlockSize);
  io_.CheckGrowth(blobEnd + (newBlock ? static_cast<int64_t>(indexCount) * kIndexTabBlockSize : 0));

  std::vector<uint8_t> stored = plain;
  for (int32_t i = 0; i < fieldCount; ++i)
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType) && FieldEncrypted(i))
      io_.EncodeBufferData(plain.data() + slotOffsets_[static_cast<size_t>(i)],
                           stored.data() + slotOffsets_[static_cast<size_t>(i)], true,
                           slotSizes_[static_cast<size_t>(i)]);

  // Where the record goes in each order, and its successor in each chain.
  std::vector<int32_t> insertPos(static_cast<size_t>(indexCount));
  std::vector<TIndexTabItem> pred(static_cast<size_t>(indexCount));
  std::vector<int32_t> next(static_cast<size_t>(indexCount), -1);
  for (int32_t k = 0; k < indexCount; ++k) {
    TSearchKey key = MakeSearchKey(buffers, k, 0, false);
    if (autoIncField_ >= 0 && !autoItem) {
      // The caller gave no auto-increment item: the key takes the number assigned.
      const TRadeIndexDef* d = indexDefs_.Items(k);
      for (size_t j = 0; j < d->FieldNumbers.size(); ++j)
        if (d->FieldNumbers[j] == autoIncField_)
          key.Values[j].assign(
              reinterpret_cast<const char*>(plain.data()) + slotOffsets_[static_cast<size_t>(autoIncField_)],
              4);
    }
    const TRecordList& list = List(k + 1);
    int32_t p = FindInsertPosFor(key, k, list);
    insertPos[static_cast<size_t>(k)] = p;
    if (n == 0) continue;
    if (p == 0) {
      next[static_cast<size_t>(k)] = header_.IndexHead(k);
    } else {
      pred[static_cast<size_t>(k)] = ReadIndexEntry(k, list[static_cast<size_t>(p) - 1].RecNo);
      next[static_cast<size_t>(k)] = pred[static_cast<size_t>(k)].Next;
    }
  }

  try {
    // 1. The record and its blob areas, in one write unless each blob is read back.
    {
      std::vector<uint8_t> bytes(static_cast<size_t>(blobEnd - dataOffset), 0);
      std::memcpy(bytes.data(), stored.data(), stored.size());
      for (auto& b : blobs)
        if (b->Stored.Size())
          std::memcpy(bytes.data() + (b->Offset - dataOffset), b->Stored.Memory(),
                      static_cast<size_t>(b->Stored.Size()));
      io_.WriteBytesAt(bytes.data(), dataOffset, static_cast<int32_t>(bytes.size()));
      if (io_.VerifyWrites())
        for (auto& b : blobs) VerifyBlob(b->Offset, *b->Plain, b->Stored, b->Field);
    }
    // 2. The record's index-tab entries (in a new block when the tab is full).
    for (int32_t k = 0; k < indexCount; ++k) {
      if (newBlock) {
        TByteBuffer block(kIndexTabBlockSize);
        block.PutInt32(4, n);
        block.PutInt32(8, next[static_cast<size_t>(k)]);
        io_.WriteBytesAt(block.Data(), indexBlock[static_cast<size_t>(k)], kIndexTabBlockSize);
      } else {
        WriteIndexEntry(k, n, next[static_cast<size_t>(k)]);
      }
    }
    // 3. The record-tab entry.
    if (newBlock) {
      TByteBuffer block(kRecordTabBlockSize);
      block.PutInt32(4, dataOffset);
      io_.WriteBytesAt(block.Data(), end, kRecordTabBlockSize);
    } else {
      uint8_t e[kRecordTabItemSize] = {};
      TByteBuffer::StoreInt32(e, dataOffset);
      io_.WriteBytesAt(e, RecordTabEntryPos(recordTabBlocks_, n), kRecordTabItemSize);
    }
    // 4. New blocks linked from the last blocks of their chains.
    if (newBlock && n > 0) {
      uint8_t link[4];
      TByteBuffer::StoreInt32(link, static_cast<int32_t>(end));
      io_.WriteBytesAt(link, recordTabBlocks_.back(), 4);
      for (int32_t k = 0; k < indexCount; ++k) {
        TByteBuffer::StoreInt32(link, indexBlock[static_cast<size_t>(k)]);
        io_.WriteBytesAt(link, indexTabBlocks_[static_cast<size_t>(k)].back(), 4);
      }
    }
    // 5. The record count: from here on the record exists. Everything it makes reachable is
    // durable first.
    io_.SyncData();
    if (n == 0) header_.SetRecordTabOffset(static_cast<int32_t>(end));
    header_.SetRecordTabCount(n + 1);
    if (autoIncField_ >= 0) header_.SetAutoIncCounter(counter);
    if (n == 0 && indexCount > 0) {
      for (int32_t k = 0; k < indexCount; ++k) {
        header_.SetIndexTabOffset(k, indexBlock[static_cast<size_t>(k)]);
        header_.SetIndexHead(k, 0);
      }
      WriteHeader();
    } else {
      const int32_t bytes = autoIncField_ >= 0 ? 12 : 8;
      io_.WriteBytesAt(header_.Image().Data() + kThRecordTabOffset,
                       static_cast<int64_t>(io_.TableHeaderOffset(tableNumber_)) + kThRecordTabOffset, bytes);
    }
    // 6. Predecessors point at the new entry.
    if (n > 0) {
      bool headChanged = false;
      for (int32_t k = 0; k < indexCount; ++k) {
        int32_t p = insertPos[static_cast<size_t>(k)];
        if (p == 0) {
          header_.SetIndexHead(k, n);
          headChanged = true;
        } else {
          WriteIndexEntry(k, pred[static_cast<size_t>(k)].RecNo, n);
        }
      }
      if (headChanged) WriteHeader();
    }
  } catch (...) {
    stale_ = true;
    throw;
  }

  // The record is complete: the lists follow.
  recordTab_.push_back({dataOffset, 0});
  if (newBlock) {
    recordTabBlocks_.push_back(static_cast<int32_t>(end));
    for (int32_t k = 0; k < indexCount; ++k)
      indexTabBlocks_[static_cast<size_t>(k)].push_back(indexBlock[static_cast<size_t>(k)]);
  }
  const TRecordListEntry entry{dataOffset, n};
  List(0).push_back(entry);
  if (onIndexInsert) onIndexInsert(-1, -1, entry);
  for (int32_t k = 0; k < indexCount; ++k) {
    int32_t p = insertPos[static_cast<size_t>(k)];
    if (onIndexInsert) onIndexInsert(k, p, entry);
    TRecordList& list = List(k + 1);
    list.insert(list.begin() + p, entry);
  }
  StoreCachedKeys(n, plain);
  EndWrite(flush);
}

void TRadeTableIO::ModifyRecord(TFieldBuffers& buffers, int32_t position, const TOnIndexMove& onIndexMove,
                                bool flush) {
  CheckWritable();
  CommitBatchGroup();  // a batch's held rows go first
  TRecordList* list0 = &List(0);
  if (position < 0 || position >= static_cast<int32_t>(list0->size()))
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  const int32_t recNo = (*list0)[static_cast<size_t>(position)].RecNo;
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  list0 = &List(0);
  if (position >= static_cast<int32_t>(list0->size()) ||
      (*list0)[static_cast<size_t>(position)].RecNo != recNo) {
    position = -1;
    for (size_t i = 0; i < list0->size(); ++i)
      if ((*list0)[i].RecNo == recNo) position = static_cast<int32_t>(i);
    if (position < 0) throw EDatabaseError("Record not found");
  }
  PrepareStrings(buffers);
  CheckUnique(buffers, position);

  const int32_t dataOffset = (*list0)[static_cast<size_t>(position)].DataOffset;
  std::vector<uint8_t> record(static_cast<size_t>(recordSize_));
  io_.ReadBytesAt(record.data(), dataOffset, recordSize_);
  const int64_t headerPos = io_.TableHeaderOffset(tableNumber_);

  // The new record and the final place of each blob, before anything is written. A blob's new
  // area that overlaps bytes the record still points at (rewritten in place, or extended at the
  // end of the file) first gets a staging copy past everything: the record points there until the
  // area itself holds the new bytes, then the file is cut back. Interrupted after any write, the
  // record reads as its old value or its new one, whole.
  struct TBlobPlace {
    TMemoryStream* Plain;
    TMemoryStream Stored;
    int32_t Field;
    TBlobDescriptor Final;
    int32_t Staging = 0;  // 0: written straight into its final area
  };
  std::vector<std::unique_ptr<TBlobPlace>> blobs;
  TMemoryStream empty;
  const int64_t startSize = io_.FileSize();
  int64_t finalSize = startSize;
  bool counterChanged = false;
  std::vector<uint8_t> slot;
  for (int32_t i = 0; i < fieldDefs_.Count() && i < buffers.Count(); ++i) {
    TFieldBufferItem* it = buffers.Items(i);
    if (!it->InUse) continue;
    const uint8_t type = fieldDefs_.Items(i)->FieldType;
    uint8_t* p = record.data() + slotOffsets_[static_cast<size_t>(i)];
    const int32_t size = slotSizes_[static_cast<size_t>(i)];
    if (IsBlobType(type)) {
      auto b = std::make_unique<TBlobPlace>();
      b->Field = i;
      b->Plain = it->Buffer ? it->BlobStream() : &empty;
      io_.EncodeStreamData(*b->Plain, b->Stored, FieldCompressed(i), FieldEncrypted(i));
      const int32_t s = static_cast<int32_t>(b->Stored.Size());
      TBlobDescriptor old = TBlobDescriptor::Load(p);
      const bool oldValid = old.DataOffset >= kDynamicAreaOffset && old.AreaSize >= 0 &&
                            static_cast<int64_t>(old.DataOffset) + old.AreaSize <= startSize;
      if (!oldValid && (old.DataOffset != 0 || old.AreaSize != 0))
        io_.Corrupt(Format("a blob descriptor of record %d of table '%s' points outside the file", recNo,
                           tableName_.c_str()));
      int32_t offset, area;
      if (oldValid && old.AreaSize > s) {
        offset = old.DataOffset;
        area = old.AreaSize;
      } else {
        area = BlobAreaSize(s);
        offset = oldValid && static_cast<int64_t>(old.DataOffset) + old.AreaSize == finalSize
                     ? old.DataOffset
                     : static_cast<int32_t>(finalSize);
        io_.CheckGrowth(static_cast<int64_t>(offset) + area);
        finalSize = std::max(finalSize, static_cast<int64_t>(offset) + area);
      }
      b->Final = TBlobDescriptor{offset, s, area, old.Reserved1, old.Reserved2};
      b->Final.Store(p);
      blobs.push_back(std::move(b));
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
        counterChanged = true;
      }
    }
    io_.EncodeBufferData(slot.data(), p, FieldEncrypted(i), size);
  }
  int64_t stagingEnd = finalSize;
  for (auto& b : blobs)
    if (b->Final.DataOffset < startSize) {
      b->Staging = static_cast<int32_t>(stagingEnd);
      stagingEnd += BlobAreaSize(b->Final.StoredSize);
      io_.CheckGrowth(stagingEnd);
    }
  std::vector<uint8_t> staged;
  if (stagingEnd > finalSize) {
    staged = record;
    for (auto& b : blobs)
      if (b->Staging)
        TBlobDescriptor{b->Staging, b->Final.StoredSize, BlobAreaSize(b->Final.StoredSize),
                        b->Final.Reserved1, b->Final.Reserved2}
            .Store(staged.data() + slotOffsets_[static_cast<size_t>(b->Field)]);
  }

  CountChange();
  try {
    // New bytes, and the counter that must cover the record's number, before the record.
    if (counterChanged)
      io_.WriteBytesAt(header_.Image().Data() + kThAutoIncCounter, headerPos + kThAutoIncCounter, 4);
    for (auto& b : blobs) {
      WriteBlob(b->Staging ? b->Staging : b->Final.DataOffset, *b->Plain, b->Stored, b->Field);
      // The copy that goes into the final area is what the staging area verified as.
      if (b->Staging && io_.VerifyWrites() && b->Stored.Size() > 0)
        io_.ReadBytesAt(b->Stored.Memory(), b->Staging, static_cast<int32_t>(b->Stored.Size()));
    }
    // The change count alone need not precede the record: a power loss leaves no lists to refresh.
    if (counterChanged || !blobs.empty()) io_.SyncData();
    if (staged.empty()) {
      io_.WriteBytesAt(record.data(), dataOffset, recordSize_);
    } else {
      io_.WriteBytesAt(staged.data(), dataOffset, recordSize_);
      io_.SyncData();
      for (auto& b : blobs)
        if (b->Staging) CopyBlobArea(b->Final.DataOffset, b->Stored);
      io_.SyncData();
      io_.WriteBytesAt(record.data(), dataOffset, recordSize_);
      io_.SyncData();
      // The record no longer points at the staging copies; a cut that fails only leaves them.
      try {
        io_.TruncateFile(finalSize);
      } catch (const EStreamError&) {
      }
    }
    DropCachedKeys(recNo);

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
      int32_t j = FindInsertPosFor(key, k, list);
      list.insert(list.begin() + o, entry);
      const int32_t nw = o < j ? j + 1 : j;
      if (nw == o) continue;
      if (onIndexMove) onIndexMove(k, o, nw);
      // Unlink.
      TIndexTabItem r = ReadIndexEntry(k, recNo);
      if (o == 0) {
        header_.SetIndexHead(k, r.Next);
        WriteHeader();
      } else {
        TIndexTabItem q = ReadIndexEntry(k, list[static_cast<size_t>(o) - 1].RecNo);
        WriteIndexEntry(k, q.RecNo, r.Next);
      }
      // Link: the record's own entry first, then its predecessor.
      if (nw == 0) {
        WriteIndexEntry(k, recNo, header_.IndexHead(k));
        header_.SetIndexHead(k, recNo);
        WriteHeader();
      } else {
        TIndexTabItem q = ReadIndexEntry(k, list[static_cast<size_t>(nw) - 1].RecNo);
        WriteIndexEntry(k, recNo, q.Next);
        WriteIndexEntry(k, q.RecNo, recNo);
      }
      list.erase(list.begin() + o);
      list.insert(list.begin() + j, entry);
    }
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
  TRecordList* list0 = &List(0);
  if (position < 0 || position >= static_cast<int32_t>(list0->size()))
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  const int32_t recNo = (*list0)[static_cast<size_t>(position)].RecNo;
  TFileLockGuard lock(io_);
  RefreshIfChanged();
  LoadAllLists();
  list0 = &List(0);
  position = -1;
  for (size_t i = 0; i < list0->size(); ++i)
    if ((*list0)[i].RecNo == recNo) position = static_cast<int32_t>(i);
  if (position < 0) throw EDatabaseError("Record not found");
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
  list0->erase(list0->begin() + position);
  DropCachedKeys(recNo);
  EndWrite(flush);
}

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
      io_.WriteBytesAt(link, blocks.back(), 4);
    blocks.push_back(static_cast<int32_t>(end));
  }
  for (size_t b = 0; b < needed; ++b) {
    int32_t first = static_cast<int32_t>(b) * kBlockEntries;
    int32_t inBlock = std::min(kBlockEntries, count - first);
    TByteBuffer entries(static_cast<size_t>(inBlock) * kIndexTabItemSize);
    for (int32_t e = 0; e < inBlock; ++e) {
      entries.PutInt32(static_cast<size_t>(e) * 8, first + e);
      entries.PutInt32(static_cast<size_t>(e) * 8 + 4, next[static_cast<size_t>(first + e)]);
    }
    io_.WriteBytesAt(entries.Data(), static_cast<int64_t>(blocks[b]) + 4,
                     static_cast<int32_t>(entries.Size()));
  }
  header_.SetIndexHead(k, list.empty() ? 0 : list.front().RecNo);
  WriteHeader();
  rebuilt_[static_cast<size_t>(k)] = false;
  EndWrite(flush);
}

}  // namespace lanqi
