// Batches of appends: rows checked and held in memory under one hold of the file lock, and written
// in groups, each group with the writes of a single append made once for all its rows.
#include <algorithm>
#include <cstring>
#include <map>

#include "crypto/HashBase.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeTableKeys.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

int32_t BlocksFor(int64_t entries) {
  return static_cast<int32_t>((entries + kBlockEntries - 1) / kBlockEntries);
}
}  // namespace

int32_t TRadeTableIO::BatchWritten() const {
  return batch_ ? batch_->Written : 0;
}

int32_t TRadeTableIO::BatchHeld() const {
  return batch_ ? static_cast<int32_t>(batch_->Rows.size()) : 0;
}

void TRadeTableIO::BeginBatch(int64_t groupBytes) {
  CheckWritable();
  if (batch_)
    throw EDatabaseError(Format("A batch of appends to table '%s' is already open", tableName_.c_str()));
  io_.Lock();
  try {
    RefreshIfChanged();
    LoadAllLists();
    CheckTabsCoverRecords();
  } catch (...) {
    io_.Unlock();
    throw;
  }
  batch_ = std::make_unique<TBatch>();
  batch_->GroupBytes = groupBytes;
  batch_->Counter = header_.AutoIncCounter();
  batch_->FileSize = io_.FileSize();
  const size_t ic = static_cast<size_t>(indexDefs_.Count());
  batch_->Keys.resize(ic);
  batch_->OrderKeys.resize(ic);
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    batch_->Encoded.push_back(HasOrderKeys(k));
    batch_->Order.emplace_back(TBatch::TRowLess{this, batch_.get(), k});
    batch_->Unique.emplace_back(1024, TBatch::TRowHash{batch_.get(), k}, TBatch::TRowEqual{batch_.get(), k});
  }
  batch_->BlobStored = std::vector<TMemoryStream>(static_cast<size_t>(fieldDefs_.Count()));
}

void TRadeTableIO::DropBatch() {
  if (!batch_) return;
  batch_.reset();
  io_.Unlock();
}

void TRadeTableIO::AbandonBatch() {
  DropBatch();
}

void TRadeTableIO::EndBatch() {
  if (!batch_) return;
  CommitBatchGroup();  // drops the batch when it fails
  DropBatch();
}

void TRadeTableIO::BatchAppend(TFieldBuffers& buffers) {
  if (!batch_) throw EDatabaseError(Format("No batch of appends to table '%s' is open", tableName_.c_str()));
  TBatch& b = *batch_;
  const int32_t fieldCount = fieldDefs_.Count();
  const int32_t indexCount = indexDefs_.Count();
  PrepareStrings(buffers);
  auto item = [&](int32_t i) -> TFieldBufferItem* {
    return i < buffers.Count() ? buffers.Items(i) : nullptr;
  };

  // The caller's item receives the number once the row is accepted.
  TFieldBufferItem* autoItem = AutoIncItem(buffers);
  const int32_t givenAuto = autoItem ? TByteBuffer::LoadInt32(autoItem->Bytes()) : 0;
  const int32_t counter = TakeAutoIncNumber(b.Counter, givenAuto);

  // The plain record, its blobs encoded, the stored record with its blob areas behind it.
  std::vector<uint8_t>& plain = b.Plain;
  EncodePlainRecord(buffers, plain);
  if (autoIncField_ >= 0 && givenAuto == 0)
    TByteBuffer::StoreInt32(plain.data() + slotOffsets_[static_cast<size_t>(autoIncField_)], counter);
  const int64_t rowStart = static_cast<int64_t>(b.Data.size());
  int64_t pos = rowStart + recordSize_;
  std::vector<TMemoryStream*>& blobPlain = b.BlobPlain;
  blobPlain.assign(static_cast<size_t>(fieldCount), nullptr);
  std::vector<TMemoryStream>& blobStored = b.BlobStored;
  std::vector<TBatch::TBlob>& blobs = b.NewBlobs;
  blobs.clear();
  TMemoryStream empty;
  for (int32_t i = 0; i < fieldCount; ++i) {
    if (!IsBlobType(fieldDefs_.Items(i)->FieldType)) continue;
    TMemoryStream* p = item(i) && item(i)->Buffer ? item(i)->BlobStream() : &empty;
    if (auto* lazy = dynamic_cast<TStorageBlobStream*>(p)) lazy->EnsureLoaded();
    blobPlain[static_cast<size_t>(i)] = p;
    TMemoryStream& stored = blobStored[static_cast<size_t>(i)];
    stored.Clear();
    io_.EncodeStreamData(*p, stored, FieldCompressed(i), FieldEncrypted(i));
    const int32_t s = static_cast<int32_t>(stored.Size());
    io_.CheckGrowth(b.FileSize + pos + BlobAreaSize(s));
    TBlobDescriptor{static_cast<int32_t>(pos), s, BlobAreaSize(s), 0, 0}.Store(
        plain.data() + slotOffsets_[static_cast<size_t>(i)]);
    blobs.push_back({static_cast<int32_t>(b.Rows.size()), i, static_cast<int32_t>(pos), s,
                     io_.VerifyWrites() ? BufferCRC32(p->Memory(), static_cast<int32_t>(p->Size())) : 0u});
    pos += BlobAreaSize(s);
  }
  // What the group's blocks will add, so that the file stays within its limit.
  const int64_t rows = static_cast<int64_t>(b.Rows.size()) + 1;
  io_.CheckGrowth(b.FileSize + pos +
                  (rows / kBlockEntries + 1) *
                      (kRecordTabBlockSize + static_cast<int64_t>(indexCount) * kIndexTabBlockSize));

  // Keys: no record of the table and no earlier row of the batch may hold a unique one.
  std::vector<TSearchKey>& keys = b.NewKeys;
  keys.clear();
  for (int32_t k = 0; k < indexCount; ++k) keys.push_back(MakeRowKey(k, plain, blobPlain));
  const int32_t row = static_cast<int32_t>(b.Rows.size());
  for (int32_t k = 0; k < indexCount; ++k)
    if (b.Encoded[static_cast<size_t>(k)]) {
      auto& orderKeys = b.OrderKeys[static_cast<size_t>(k)];
      orderKeys.emplace_back();
      OrderKey(k, keys[static_cast<size_t>(k)], orderKeys.back());
    }
  auto dropOrderKeys = [&] {
    for (int32_t k = 0; k < indexCount; ++k)
      if (b.Encoded[static_cast<size_t>(k)]) b.OrderKeys[static_cast<size_t>(k)].pop_back();
  };
  for (int32_t k = 0; k < indexCount; ++k) {
    const TRadeIndexDef* d = indexDefs_.Items(k);
    if (!d->Options.Contains(tiPrimary) && !d->Options.Contains(tiUnique)) continue;
    TKeySearchResult result;
    Search(keys[static_cast<size_t>(k)], List(k + 1), k, 0, result);
    bool clash = result == TKeySearchResult::Found;
    if (!clash && b.Encoded[static_cast<size_t>(k)]) {
      clash = b.Unique[static_cast<size_t>(k)].count(row) > 0;
    } else if (!clash) {
      auto& held = b.Keys[static_cast<size_t>(k)];
      held.push_back(std::move(keys[static_cast<size_t>(k)]));
      clash = b.Order[static_cast<size_t>(k)].count(row) > 0;
      keys[static_cast<size_t>(k)] = std::move(held.back());
      held.pop_back();
    }
    if (clash) {
      dropOrderKeys();
      throw EDatabaseError(
          Format("Invalid unique field value '%s'", KeyText(k, keys[static_cast<size_t>(k)]).c_str()));
    }
  }

  // Accepted: from here on nothing fails but memory.
  std::vector<uint8_t>& stored = b.Stored;
  EncryptSlots(plain, stored);
  b.Data.resize(static_cast<size_t>(pos), 0);
  std::memcpy(b.Data.data() + rowStart, stored.data(), stored.size());
  for (const TBatch::TBlob& blob : blobs) {
    TMemoryStream& s = blobStored[static_cast<size_t>(blob.Field)];
    if (s.Size()) std::memcpy(b.Data.data() + blob.Offset, s.Memory(), static_cast<size_t>(s.Size()));
    b.Blobs.push_back(blob);
  }
  b.Rows.push_back(static_cast<int32_t>(rowStart));
  for (int32_t k = 0; k < indexCount; ++k) {
    const size_t u = static_cast<size_t>(k);
    b.Keys[u].push_back(std::move(keys[u]));
    if (!b.Encoded[u])
      b.Order[u].insert(row);
    else if (indexDefs_.Items(k)->Options.Contains(tiPrimary) ||
             indexDefs_.Items(k)->Options.Contains(tiUnique))
      b.Unique[u].insert(row);
  }
  b.Counter = counter;
  if (autoItem && givenAuto == 0) TByteBuffer::StoreInt32(autoItem->Bytes(), counter);
  if (b.GroupBytes > 0 && static_cast<int64_t>(b.Data.size()) >= b.GroupBytes) CommitBatchGroup();
}

void TRadeTableIO::CommitBatchGroup() {
  if (!batch_ || batch_->Rows.empty()) return;
  TBatch& b = *batch_;
  const int32_t m = static_cast<int32_t>(b.Rows.size());
  const int32_t indexCount = indexDefs_.Count();
  const size_t ic = static_cast<size_t>(indexCount);
  try {
    // The batch holds the lock, so the table on disk is the one its rows were checked against;
    // a write of this program through another open of the file would show here.
    {
      TTableHeader onDisk;
      io_.ReadTableHeader(tableNumber_, onDisk);
      if (std::memcmp(onDisk.Image().Data(), header_.Image().Data(), kTableHeaderSize) != 0)
        throw EDatabaseError(
            Format("Table '%s' was changed by another writer during a batch of appends", tableName_.c_str()));
    }
    const int32_t n0 = header_.RecordTabCount();
    const int32_t existing = BlocksFor(n0);
    const int32_t newBlocks = BlocksFor(static_cast<int64_t>(n0) + m) - existing;
    const int64_t base = io_.FileSize();
    const int64_t dataBase = base + static_cast<int64_t>(newBlocks) * kRecordTabBlockSize;
    const int64_t indexBase = dataBase + static_cast<int64_t>(b.Data.size());
    const int64_t end = indexBase + static_cast<int64_t>(indexCount) * newBlocks * kIndexTabBlockSize;
    io_.CheckGrowth(end);
    auto dataOffset = [&](int32_t row) {
      return static_cast<int32_t>(dataBase + b.Rows[static_cast<size_t>(row)]);
    };
    auto indexBlockAt = [&](int32_t k, int32_t j) {
      return static_cast<int32_t>(indexBase + (static_cast<int64_t>(k) * newBlocks + j) * kIndexTabBlockSize);
    };

    // The blobs' places in the file.
    for (const TBatch::TBlob& blob : b.Blobs) {
      uint8_t* p = b.Data.data() + b.Rows[static_cast<size_t>(blob.Row)] +
                   slotOffsets_[static_cast<size_t>(blob.Field)];
      TBlobDescriptor d = TBlobDescriptor::Load(p);
      d.DataOffset = static_cast<int32_t>(dataBase + d.DataOffset);
      d.Store(p);
    }

    // Each index's order with the new records, and the links that make its chain: a run of new
    // records after a record (or at the head) takes that record's successor in the stored chain,
    // so the chain keeps what it held between the two, as single appends leave it.
    std::vector<TRecordList> merged(ic);
    std::vector<std::vector<int32_t>> nextOf(ic, std::vector<int32_t>(static_cast<size_t>(m), -1));
    std::vector<std::map<int32_t, int32_t>> relink(ic);  // a record before new ones -> its new successor
    std::vector<int32_t> heads(ic, 0);
    for (int32_t k = 0; k < indexCount && n0 > 0; ++k) heads[static_cast<size_t>(k)] = header_.IndexHead(k);
    bool headChanged = false;
    std::vector<std::map<int32_t, std::vector<uint8_t>>> tabBlocks(ic);  // images of blocks read
    auto tabBlock = [&](int32_t k, int32_t recNo) -> std::vector<uint8_t>& {
      const int32_t blk = recNo / kBlockEntries;
      auto& cache = tabBlocks[static_cast<size_t>(k)];
      auto it = cache.find(blk);
      if (it != cache.end()) return it->second;
      std::vector<uint8_t>& img = cache[blk];
      img.resize(kIndexTabBlockSize);
      io_.ReadBytesAt(img.data(), indexTabBlocks_[static_cast<size_t>(k)][static_cast<size_t>(blk)],
                      kIndexTabBlockSize);
      return img;
    };
    auto storedNext = [&](int32_t k, int32_t recNo) {
      return TByteBuffer::LoadInt32(tabBlock(k, recNo).data() + kTabBlockItems +
                                    static_cast<size_t>(recNo % kBlockEntries) * kIndexTabItemSize +
                                    kItiNext);
    };
    for (int32_t k = 0; k < indexCount; ++k) {
      const TRecordList& old = List(k + 1);
      const auto& keys = b.Keys[static_cast<size_t>(k)];
      TRecordList& out = merged[static_cast<size_t>(k)];
      out.reserve(old.size() + static_cast<size_t>(m));
      const int32_t n = static_cast<int32_t>(old.size());
      int32_t j = 0;
      std::vector<int32_t> order;
      order.reserve(static_cast<size_t>(m));
      if (b.Encoded[static_cast<size_t>(k)]) {
        const auto& orderKeys = b.OrderKeys[static_cast<size_t>(k)];
        for (int32_t row = 0; row < m; ++row) order.push_back(row);
        std::sort(order.begin(), order.end(), [&](int32_t x, int32_t y) {
          const int c = orderKeys[static_cast<size_t>(x)].compare(orderKeys[static_cast<size_t>(y)]);
          return c < 0 || (c == 0 && x < y);
        });
      } else {
        order.assign(b.Order[static_cast<size_t>(k)].begin(), b.Order[static_cast<size_t>(k)].end());
      }
      for (int32_t row : order) {
        // After every stored record whose key is not greater (a single insert goes after the first
        // equal entry its search meets instead; both give a valid chain, and files hold either):
        // a gallop, then a bisection.
        const TSearchKey& key = keys[static_cast<size_t>(row)];
        int32_t lo = j, hi = j, step = 1;
        while (true) {
          hi = lo + step - 1;
          if (hi >= n) {
            hi = n;
            break;
          }
          if (CompareKey(key, k, old[static_cast<size_t>(hi)].RecNo) < 0) break;
          lo = hi + 1;
          step *= 2;
        }
        while (lo < hi) {
          const int32_t mid = lo + (hi - lo) / 2;
          if (CompareKey(key, k, old[static_cast<size_t>(mid)].RecNo) < 0)
            hi = mid;
          else
            lo = mid + 1;
        }
        out.insert(out.end(), old.begin() + j, old.begin() + lo);
        j = lo;
        out.push_back({dataOffset(row), n0 + row});
      }
      out.insert(out.end(), old.begin() + j, old.end());

      std::vector<int32_t>& next = nextOf[static_cast<size_t>(k)];
      int32_t prev = -1;     // the record before, -1 at the head
      int32_t runNext = -1;  // the successor the current run of new records ends with
      for (const TRecordListEntry& e : out) {
        const int32_t r = e.RecNo;
        if (r >= n0) {
          if (prev < 0 || prev < n0) {
            // A run starts.
            if (prev < 0) {
              runNext = n0 > 0 ? header_.IndexHead(k) : -1;
              heads[static_cast<size_t>(k)] = r;
              headChanged = headChanged || n0 > 0;
            } else {
              runNext = storedNext(k, prev);
              relink[static_cast<size_t>(k)][prev] = r;
            }
          } else {
            next[static_cast<size_t>(prev - n0)] = r;
          }
        } else {
          if (prev >= n0) next[static_cast<size_t>(prev - n0)] = runNext;
        }
        prev = r;
      }
      if (prev >= n0) next[static_cast<size_t>(prev - n0)] = runNext;
    }

    // Everything past the end of the file: new record-tab blocks, the records and their blob
    // areas, new index-tab blocks.
    std::vector<uint8_t> tail(static_cast<size_t>(end - base), 0);
    const int32_t inLast = std::min(m, existing * kBlockEntries - n0);  // entries in the last blocks
    for (int32_t j = 0; j < newBlocks; ++j) {
      uint8_t* blk = tail.data() + static_cast<size_t>(j) * kRecordTabBlockSize;
      TByteBuffer::StoreInt32(
          blk + kTabBlockNext,
          j + 1 < newBlocks ? static_cast<int32_t>(base + (j + 1) * kRecordTabBlockSize) : 0);
      for (int32_t k = 0; k < indexCount; ++k) {
        uint8_t* iblk = tail.data() + (indexBlockAt(k, j) - base);
        TByteBuffer::StoreInt32(iblk + kTabBlockNext, j + 1 < newBlocks ? indexBlockAt(k, j + 1) : 0);
      }
    }
    std::vector<uint8_t> lastRec(static_cast<size_t>(inLast) * kRecordTabItemSize, 0);
    std::vector<std::vector<uint8_t>> lastIndex(
        ic, std::vector<uint8_t>(static_cast<size_t>(inLast) * kIndexTabItemSize));
    for (int32_t row = 0; row < m; ++row) {
      const int32_t r = n0 + row;
      uint8_t* rec;
      std::vector<uint8_t*> idx(ic);
      if (row < inLast) {
        rec = lastRec.data() + static_cast<size_t>(row) * kRecordTabItemSize;
        for (size_t k = 0; k < ic; ++k)
          idx[k] = lastIndex[k].data() + static_cast<size_t>(row) * kIndexTabItemSize;
      } else {
        const int32_t j = r / kBlockEntries - existing;
        const size_t e = static_cast<size_t>(r % kBlockEntries);
        rec = tail.data() + static_cast<size_t>(j) * kRecordTabBlockSize + kTabBlockItems +
              e * kRecordTabItemSize;
        for (size_t k = 0; k < ic; ++k)
          idx[k] = tail.data() + (indexBlockAt(static_cast<int32_t>(k), j) - base) + kTabBlockItems +
                   e * kIndexTabItemSize;
      }
      TByteBuffer::StoreInt32(rec + kRtiDataOffset, dataOffset(row));
      rec[kRtiDeleted] = 0;
      for (size_t k = 0; k < ic; ++k) {
        TByteBuffer::StoreInt32(idx[k] + kItiRecNo, r);
        TByteBuffer::StoreInt32(idx[k] + kItiNext, nextOf[k][static_cast<size_t>(row)]);
      }
    }
    std::memcpy(tail.data() + (dataBase - base), b.Data.data(), b.Data.size());

    // 1. The new bytes, blobs read back when the database verifies its writes.
    io_.WriteBytesAt(tail.data(), base, static_cast<int32_t>(tail.size()));
    if (io_.VerifyWrites()) {
      TMemoryStream back, decoded;
      for (const TBatch::TBlob& blob : b.Blobs) {
        const int64_t at = dataBase + blob.Offset;
        for (int pass = 0;; ++pass) {
          back.Clear();
          back.SetSize(blob.Size);
          io_.ReadBytesAt(back.Memory(), at, blob.Size);
          decoded.Clear();
          try {
            io_.DecodeStreamData(back, decoded, FieldEncrypted(blob.Field), FieldCompressed(blob.Field));
          } catch (const std::exception&) {
            // What was decoded before the failure is compared; a mismatch writes again.
          }
          if (BufferCRC32(decoded.Memory(), static_cast<int32_t>(decoded.Size())) == blob.Crc) break;
          if (pass == 2) throw EWriteError("Blob write verification failed");
          io_.WriteBytesAt(b.Data.data() + blob.Offset, at, blob.Size);
        }
      }
    }
    // 2. The entries that go into the tabs' last blocks.
    if (inLast > 0) {
      io_.WriteBytesAt(lastRec.data(), RecordTabEntryPos(recordTabBlocks_, n0),
                       static_cast<int32_t>(lastRec.size()));
      for (int32_t k = 0; k < indexCount; ++k)
        io_.WriteBytesAt(lastIndex[static_cast<size_t>(k)].data(),
                         IndexTabEntryPos(indexTabBlocks_[static_cast<size_t>(k)], n0),
                         static_cast<int32_t>(lastIndex[static_cast<size_t>(k)].size()));
    }
    // 3. New blocks linked from the last blocks of their chains.
    if (newBlocks > 0 && existing > 0)
      LinkNewBlocks(existing, static_cast<int32_t>(base), [&](int32_t k) { return indexBlockAt(k, 0); });
    // 4. The record count: from here on the group's records exist.
    std::vector<int32_t> firstIndexBlocks;
    if (n0 == 0)
      for (int32_t k = 0; k < indexCount; ++k) firstIndexBlocks.push_back(indexBlockAt(k, 0));
    WriteRecordCount(n0 + m, b.Counter, static_cast<int32_t>(base), firstIndexBlocks, heads);
    // 5. The records before new ones point at them, a block's changed entries in one write.
    if (n0 > 0) {
      for (int32_t k = 0; k < indexCount; ++k) {
        const auto& links = relink[static_cast<size_t>(k)];
        auto it = links.begin();
        while (it != links.end()) {
          const int32_t blk = it->first / kBlockEntries;
          std::vector<uint8_t>& img = tabBlock(k, it->first);
          const int32_t first = it->first % kBlockEntries;
          int32_t last = first;
          for (; it != links.end() && it->first / kBlockEntries == blk; ++it) {
            last = it->first % kBlockEntries;
            TByteBuffer::StoreInt32(
                img.data() + kTabBlockItems + static_cast<size_t>(last) * kIndexTabItemSize + kItiNext,
                it->second);
          }
          const size_t from = kTabBlockItems + static_cast<size_t>(first) * kIndexTabItemSize;
          io_.WriteBytesAt(
              img.data() + from,
              static_cast<int64_t>(indexTabBlocks_[static_cast<size_t>(k)][static_cast<size_t>(blk)]) +
                  static_cast<int64_t>(from),
              (last - first + 1) * kIndexTabItemSize);
        }
      }
      if (headChanged) {
        for (int32_t k = 0; k < indexCount; ++k) header_.SetIndexHead(k, heads[static_cast<size_t>(k)]);
        WriteHeader();
      }
    }
    EndWrite(false);

    // The group is written: the lists, tabs and keys follow.
    recordTab_.reserve(recordTab_.size() + static_cast<size_t>(m));
    TRecordList& list0 = List(0);
    for (int32_t row = 0; row < m; ++row) {
      recordTab_.push_back({dataOffset(row), 0});
      list0.push_back({dataOffset(row), n0 + row});
    }
    for (int32_t j = 0; j < newBlocks; ++j) {
      recordTabBlocks_.push_back(static_cast<int32_t>(base + static_cast<int64_t>(j) * kRecordTabBlockSize));
      for (int32_t k = 0; k < indexCount; ++k)
        indexTabBlocks_[static_cast<size_t>(k)].push_back(indexBlockAt(k, j));
    }
    for (int32_t k = 0; k < indexCount; ++k) {
      List(k + 1) = std::move(merged[static_cast<size_t>(k)]);
      auto& keys = b.Keys[static_cast<size_t>(k)];
      for (int32_t row = 0; row < m; ++row) {
        auto c = std::make_unique<TCachedKey>();
        c->Values = std::move(keys[static_cast<size_t>(row)].Values);
        c->SortKeys = std::move(keys[static_cast<size_t>(row)].SortKeys);
        c->SortKeysReady = true;
        keyCaches_[static_cast<size_t>(k)]->Put(n0 + row, std::move(c));
      }
      b.Order[static_cast<size_t>(k)].clear();
      b.Unique[static_cast<size_t>(k)].clear();
      b.OrderKeys[static_cast<size_t>(k)].clear();
      keys.clear();
    }
    b.Written += m;
    b.FileSize = end;
    b.Data.clear();
    b.Rows.clear();
    b.Blobs.clear();
  } catch (...) {
    stale_ = true;
    DropBatch();
    throw;
  }
}

}  // namespace lanqi
