#include "engine/storage/RadeTableIO.h"

#include <algorithm>
#include <cstring>

#include "crypto/HashBase.h"
#include "engine/storage/RadeTableKeys.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

TRadeTableIO::TRadeTableIO(TRadeZIFileIO& fileIO, const std::string& tableName)
    : io_(fileIO), tableName_(tableName) {}

TRadeTableIO::~TRadeTableIO() {
  DropBatch();
  ClearLoaded();
}

void TRadeTableIO::Acquire() {
  if (useCount_ == 0) LoadTable();
  ++useCount_;
}

void TRadeTableIO::Release() {
  if (useCount_ <= 0) return;
  if (--useCount_ > 0) return;
  DropBatch();
  ClearLoaded();
}

void TRadeTableIO::ClearLoaded() {
  fieldDefs_.Clear();
  indexDefs_.Clear();
  recordLists_.clear();
  keyCaches_.clear();
  rebuilt_.clear();
  recordTab_.clear();
  recordTabBlocks_.clear();
  recordTabLoaded_ = false;
  indexTabBlocks_.clear();
  slotOffsets_.clear();
  slotSizes_.clear();
}

void TRadeTableIO::CheckLoaded() const {
  if (recordLists_.empty()) throw EDatabaseError(Format("Table '%s' is not loaded", tableName_.c_str()));
}

bool TRadeTableIO::FieldEncrypted(int32_t field) const {
  if (!io_.IsFileOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  return io_.Encrypted() && fieldDefs_.Items(field)->NoProcessing == 0;
}

bool TRadeTableIO::FieldCompressed(int32_t field) const {
  if (!io_.IsFileOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  const TRadeFieldDef* f = fieldDefs_.Items(field);
  return io_.Compressed() && IsBlobType(f->FieldType) && f->NoProcessing == 0;
}

void TRadeTableIO::LoadTable() {
  TFileLockGuard lock(io_);
  ClearLoaded();
  try {
    std::vector<std::string> names;
    io_.GetTableNames(names);
    tableNumber_ = -1;
    for (size_t i = 0; i < names.size(); ++i)
      if (SameTextAnsi(names[i], tableName_)) {
        tableNumber_ = static_cast<int32_t>(i);
        break;
      }
    if (tableNumber_ < 0) throw EDatabaseError(Format("Table '%s' not found", tableName_.c_str()));
    io_.ReadTableHeader(tableNumber_, header_);
    LoadDefinitionsAndLists();
  } catch (...) {
    ClearLoaded();
    throw;
  }
}

void TRadeTableIO::LoadDefinitionsAndLists() {
  const std::string& tn = tableName_;
  int32_t fieldCount = header_.FieldCount();
  int32_t indexCount = header_.IndexCount();
  if (fieldCount < 0 || fieldCount > kMaxFields)
    io_.Corrupt(Format("table '%s' has a field count of %d", tn.c_str(), fieldCount));
  if (indexCount < 0 || indexCount > kMaxIndexes)
    io_.Corrupt(Format("table '%s' has an index count of %d", tn.c_str(), indexCount));
  for (int32_t i = 0; i < fieldCount; ++i) {
    TFieldDefRec f = header_.Field(i);
    fieldDefs_.Add(f.Name, f.FieldType, f.DataSize, f.NoProcessing);
  }
  for (int32_t k = 0; k < indexCount; ++k) {
    TIndexDefRec d = header_.Index(k);
    if (d.FieldNumbers.empty())
      io_.Corrupt(Format("index '%s' of table '%s' has no key fields", d.Name.c_str(), tn.c_str()));
    for (int32_t fn : d.FieldNumbers)
      if (fn < 0 || fn >= fieldCount)
        io_.Corrupt(
            Format("index '%s' of table '%s' names the field number %d", d.Name.c_str(), tn.c_str(), fn));
    indexDefs_.Add(d.Name, d.FieldNumbers, d.Options);
  }
  // The layout; a type code the format does not accept is the reader's "General error".
  int64_t total = 0;
  autoIncField_ = -1;
  for (int32_t i = 0; i < fieldCount; ++i) {
    const TRadeFieldDef* f = fieldDefs_.Items(i);
    int32_t slot = FieldSlotSize(f->FieldType, f->DataSize);
    if (slot < 0) {
      if (IsAnsiStringType(f->FieldType))
        io_.Corrupt(
            Format("field '%s' of table '%s' has the size %d", f->Name.c_str(), tn.c_str(), f->DataSize));
      throw EDatabaseError("General error");
    }
    slotOffsets_.push_back(static_cast<int32_t>(total));
    slotSizes_.push_back(slot);
    total += slot;
    if (total > INT32_MAX / 2) io_.Corrupt(Format("records of table '%s' are too large", tn.c_str()));
    if (autoIncField_ < 0 && f->FieldType == ftAutoInc) autoIncField_ = i;
  }
  recordSize_ = static_cast<int32_t>(total);

  indexTabBlocks_.assign(static_cast<size_t>(indexCount), TIntegerAry());
  rebuilt_.assign(static_cast<size_t>(indexCount), false);
  keyCaches_.clear();
  for (int32_t k = 0; k < indexCount; ++k) keyCaches_.push_back(std::make_unique<TKeyCache>());
  // The record tab and the lists follow on first use (List): opening a table reads its header.
  for (int32_t n = 0; n <= indexCount; ++n) recordLists_.push_back(nullptr);
}

// The record tab as the table header describes it; entries below the header's count are complete
// before the count is written, so they are read without the lock.
void TRadeTableIO::LoadRecordTab() {
  recordTabLoaded_ = false;
  io_.ReadRecordTab(header_, recordTab_, recordTabBlocks_);
  const int64_t fileSize = io_.FileSize();
  for (size_t r = 0; r < recordTab_.size(); ++r)
    if (!recordTab_[r].IsDeleted() && static_cast<int64_t>(recordTab_[r].DataOffset) + recordSize_ > fileSize)
      io_.Corrupt(Format("record %d of table '%s' lies outside the file", static_cast<int32_t>(r),
                         tableName_.c_str()));
  recordTabLoaded_ = true;
}

void TRadeTableIO::LoadAllLists() {
  for (size_t n = 0; n < recordLists_.size(); ++n) List(static_cast<int32_t>(n));
}

TRecordList& TRadeTableIO::List(int32_t n) const {
  auto* self = const_cast<TRadeTableIO*>(this);
  if (!recordLists_.at(static_cast<size_t>(n))) self->LoadRecordList(n, false);
  return *recordLists_[static_cast<size_t>(n)];
}

void TRadeTableIO::LoadRecordList(int32_t n, bool reread) {
  if (n < 0 || n >= static_cast<int32_t>(recordLists_.size())) return;
  if (recordLists_[static_cast<size_t>(n)]) return;
  if (reread || !recordTabLoaded_) LoadRecordTab();
  auto list = std::make_unique<TRecordList>();
  if (n == 0) {
    list->reserve(recordTab_.size());
    for (size_t r = 0; r < recordTab_.size(); ++r)
      if (!recordTab_[r].IsDeleted()) list->push_back({recordTab_[r].DataOffset, static_cast<int32_t>(r)});
    recordLists_[0] = std::move(list);
    return;
  }
  recordLists_[static_cast<size_t>(n)] = std::move(list);
  BuildIndexList(n - 1);
}

// Index k's list from its stored chain, guarded against loops, repeats and numbers outside the
// tab; a chain that does not visit every live record exactly once is replaced by a sort.
void TRadeTableIO::BuildIndexList(int32_t k) {
  TRecordList& list = *recordLists_[static_cast<size_t>(k) + 1];
  list.clear();
  const int32_t count = static_cast<int32_t>(recordTab_.size());
  const TRecordList& list0 = List(0);
  TIndexTabItems items;
  bool ok = true;
  if (header_.IndexTabOffset(k) == 0) {
    indexTabBlocks_[static_cast<size_t>(k)].clear();
    ok = list0.empty();
  } else if (count > 0) {
    io_.ReadIndexTab(header_, k, indexTabBlocks_[static_cast<size_t>(k)], items);
    std::vector<bool> visited(static_cast<size_t>(count), false);
    int32_t cur = header_.IndexHead(k);
    for (int32_t steps = 0; cur != -1 && steps < count; ++steps) {
      if (cur < 0 || cur >= count || visited[static_cast<size_t>(cur)] ||
          items[static_cast<size_t>(cur)].RecNo != cur) {
        ok = false;
        break;
      }
      visited[static_cast<size_t>(cur)] = true;
      const TRecordTabItem& e = recordTab_[static_cast<size_t>(cur)];
      if (!e.IsDeleted()) list.push_back({e.DataOffset, cur});
      cur = items[static_cast<size_t>(cur)].Next;
    }
    if (list.size() != list0.size()) ok = false;
  }
  rebuilt_[static_cast<size_t>(k)] = !ok;
  if (ok) return;
  list = list0;
  std::stable_sort(list.begin(), list.end(), [&](const TRecordListEntry& a, const TRecordListEntry& b) {
    return CompareRecords(k, a.RecNo, b.RecNo) < 0;
  });
}

void TRadeTableIO::RefreshIfChanged() {
  // Another program may have appended, moved, changed or deleted records since the lists were
  // built; their numbers, keys, chains and flags must be known before this one writes.
  TTableHeader onDisk;
  io_.ReadTableHeader(tableNumber_, onDisk);
  if (!stale_ && std::memcmp(onDisk.Image().Data(), header_.Image().Data(), kTableHeaderSize) == 0) return;
  stale_ = false;
  header_ = onDisk;
  ClearLoaded();
  LoadDefinitionsAndLists();
}

void TRadeTableIO::LoadRecord(TFieldBuffers& buffers, const TRecordList& list, int32_t position) {
  CheckLoaded();
  if (position < 0 || position >= static_cast<int32_t>(list.size()))
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  TFileLockGuard lock(io_);
  int32_t dataOffset = list[static_cast<size_t>(position)].DataOffset;
  // Kept per thread across reads: a walk over the table allocates nothing per record.
  static thread_local std::vector<uint8_t> record;
  record.resize(static_cast<size_t>(recordSize_));
  io_.ReadBytesAt(record.data(), dataOffset, recordSize_);
  DecodeRecord(buffers, record.data(), dataOffset);
}

void TRadeTableIO::DecodeRecord(TFieldBuffers& buffers, const uint8_t* record, int32_t dataOffset) {
  if (!io_.IsFileOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  const bool encrypted = io_.Encrypted();
  // Plain slots that lie side by side both in the record and in the buffers (a dataset's record
  // buffer lays its fields out as the record does) are copied as one run.
  uint8_t* runTo = nullptr;
  const uint8_t* runFrom = nullptr;
  size_t runLength = 0;
  auto flush = [&] {
    if (runLength) std::memcpy(runTo, runFrom, runLength);
    runLength = 0;
  };
  int32_t n = std::min(buffers.Count(), fieldDefs_.Count());
  for (int32_t i = 0; i < n; ++i) {
    TFieldBufferItem* item = buffers.Items(i);
    if (!item->InUse) continue;
    const TRadeFieldDef* f = fieldDefs_.Items(i);
    int32_t slotPos = slotOffsets_[static_cast<size_t>(i)];
    if (IsBlobType(f->FieldType)) {
      TMemoryStream* s = item->BlobStream();
      if (!s) continue;
      if (auto* lazy = dynamic_cast<TStorageBlobStream*>(s)) {
        lazy->SetFileIO(&io_);
        lazy->SetLocation(dataOffset + slotPos, FieldEncrypted(i), FieldCompressed(i));
      } else {
        io_.ReadFieldDataAt(*s, static_cast<int64_t>(dataOffset) + slotPos, kBlobDescriptorSize, true,
                            FieldEncrypted(i), FieldCompressed(i));
      }
      continue;
    }
    if (!item->Buffer) continue;
    int32_t slot = slotSizes_[static_cast<size_t>(i)];
    auto* to = static_cast<uint8_t*>(item->Buffer);
    if (encrypted && f->NoProcessing == 0) {
      flush();
      // The cipher works on the whole slot.
      static thread_local std::vector<uint8_t> plain;
      plain.assign(static_cast<size_t>(std::max(slot, 0)), 0);
      io_.DecodeBufferData(record + slotPos, plain.data(), true, slot);
      std::memcpy(to, plain.data(), static_cast<size_t>(std::max(std::min(slot, item->BufferSize), 0)));
    } else if (slot > 0 && slot == item->BufferSize) {
      const uint8_t* from = record + slotPos;
      if (runLength && runTo + runLength == to && runFrom + runLength == from) {
        runLength += static_cast<size_t>(slot);
      } else {
        flush();
        runTo = to;
        runFrom = from;
        runLength = static_cast<size_t>(slot);
      }
      continue;
    } else {
      flush();
      std::memcpy(to, record + slotPos, static_cast<size_t>(std::max(std::min(slot, item->BufferSize), 0)));
    }
    if (item->BufferSize > slot)
      std::memset(item->Bytes() + slot, 0, static_cast<size_t>(item->BufferSize - slot));
  }
  flush();
}

void TRadeTableIO::ReadRecordField(TMemoryStream& destination, int32_t recNo, int32_t fieldNumber) {
  CheckLoaded();
  List(0);
  if (recNo < 0 || recNo >= static_cast<int32_t>(recordTab_.size()) || fieldNumber < 0 ||
      fieldNumber >= fieldDefs_.Count())
    throw EDatabaseError(Format("Record %d has no field %d", recNo, fieldNumber));
  bool blob = IsBlobType(fieldDefs_.Items(fieldNumber)->FieldType);
  io_.ReadFieldData(destination, RecordTabEntryPos(recordTabBlocks_, recNo),
                    slotOffsets_[static_cast<size_t>(fieldNumber)],
                    blob ? kBlobDescriptorSize : slotSizes_[static_cast<size_t>(fieldNumber)], blob,
                    FieldEncrypted(fieldNumber), FieldCompressed(fieldNumber));
}

void TRadeTableIO::CheckWritable() const {
  CheckLoaded();
  if (io_.ReadOnly()) throw EDatabaseError("Cannot modify a read-only dataset");
}

void TRadeTableIO::PrepareStrings(TFieldBuffers& buffers) const {
  for (int32_t i = 0; i < buffers.Count(); ++i) {
    TFieldBufferItem* item = buffers.Items(i);
    if (!item->Buffer || item->BufferSize <= 0 || !IsStringType(item->FieldType)) continue;
    uint8_t* p = item->Bytes();
    size_t size = static_cast<size_t>(item->BufferSize);
    size_t len = 0;
    while (len < size && p[len] != 0) ++len;
    if (len >= size) len = size - 1;  // cut to leave room for the terminator
    std::memset(p + len, 0, size - len);
  }
}

// The plain slot of a non-blob field from its item: the value bytes, zeros after them.
void TRadeTableIO::EncodeSlot(const TFieldBufferItem& item, int32_t field, uint8_t* record) {
  int32_t slot = slotSizes_[static_cast<size_t>(field)];
  uint8_t* p = record + slotOffsets_[static_cast<size_t>(field)];
  std::memset(p, 0, static_cast<size_t>(slot));
  if (item.Buffer && item.BufferSize > 0)
    std::memcpy(p, item.Buffer, static_cast<size_t>(std::min(slot, item.BufferSize)));
}

void TRadeTableIO::WriteHeader() {
  io_.WriteTableHeader(tableNumber_, header_);
}

void TRadeTableIO::CountChange() {
  header_.SetChangeCount(header_.ChangeCount() + 1);
  io_.WriteBytesAt(header_.Image().Data() + kThChangeCount,
                   static_cast<int64_t>(io_.TableHeaderOffset(tableNumber_)) + kThChangeCount, 8);
}

void TRadeTableIO::WriteIndexEntry(int32_t k, int32_t recNo, int32_t next) {
  const TIntegerAry& blocks = indexTabBlocks_[static_cast<size_t>(k)];
  if (recNo / kBlockEntries >= static_cast<int32_t>(blocks.size()))
    io_.Corrupt(Format("index '%s' of table '%s' has no index-tab entry for record %d",
                       indexDefs_.Items(k)->Name.c_str(), tableName_.c_str(), recNo));
  uint8_t e[kIndexTabItemSize];
  TByteBuffer::StoreInt32(e + kItiRecNo, recNo);
  TByteBuffer::StoreInt32(e + kItiNext, next);
  io_.WriteBytesAt(e, IndexTabEntryPos(blocks, recNo), kIndexTabItemSize);
}

TIndexTabItem TRadeTableIO::ReadIndexEntry(int32_t k, int32_t recNo) {
  const TIntegerAry& blocks = indexTabBlocks_[static_cast<size_t>(k)];
  if (recNo < 0 || recNo / kBlockEntries >= static_cast<int32_t>(blocks.size()))
    io_.Corrupt(Format("index '%s' of table '%s' has no index-tab entry for record %d",
                       indexDefs_.Items(k)->Name.c_str(), tableName_.c_str(), recNo));
  uint8_t e[kIndexTabItemSize];
  io_.ReadBytesAt(e, IndexTabEntryPos(blocks, recNo), kIndexTabItemSize);
  return {TByteBuffer::LoadInt32(e + kItiRecNo), TByteBuffer::LoadInt32(e + kItiNext)};
}

// Writes the stored bytes of a blob at its offset, checking them by reading back when the
// database asks for it, then the zero bytes that fill the rest of the 64-byte unit.
void TRadeTableIO::WriteBlob(int32_t dataOffset, TMemoryStream& plain, TMemoryStream& stored, int32_t field) {
  int32_t s = static_cast<int32_t>(stored.Size());
  int32_t pad = kBlobAreaUnit - s % kBlobAreaUnit;
  std::vector<uint8_t> bytes(static_cast<size_t>(s + pad), 0);
  if (s) std::memcpy(bytes.data(), stored.Memory(), static_cast<size_t>(s));
  io_.WriteBytesAt(bytes.data(), dataOffset, s + pad);
  if (io_.VerifyWrites()) VerifyBlob(dataOffset, plain, stored, field);
}

void TRadeTableIO::CopyBlobArea(int32_t dataOffset, TMemoryStream& stored) {
  const int32_t s = static_cast<int32_t>(stored.Size());
  std::vector<uint8_t> bytes(static_cast<size_t>(s + kBlobAreaUnit - s % kBlobAreaUnit), 0);
  if (s) std::memcpy(bytes.data(), stored.Memory(), static_cast<size_t>(s));
  io_.WriteBytesAt(bytes.data(), dataOffset, static_cast<int32_t>(bytes.size()));
  if (!io_.VerifyWrites() || s == 0) return;
  std::vector<uint8_t> back(static_cast<size_t>(s));
  io_.ReadBytesAt(back.data(), dataOffset, s);
  if (std::memcmp(back.data(), stored.Memory(), static_cast<size_t>(s)) != 0)
    throw EWriteError("Blob write verification failed");
}

void TRadeTableIO::VerifyBlob(int32_t dataOffset, TMemoryStream& plain, TMemoryStream& stored,
                              int32_t field) {
  const int32_t s = static_cast<int32_t>(stored.Size());
  const uint32_t want = BufferCRC32(plain.Memory(), static_cast<int32_t>(plain.Size()));
  TMemoryStream back, decoded, again;
  for (int pass = 0; pass < 3; ++pass) {
    back.Clear();
    back.SetSize(s);
    io_.ReadBytesAt(back.Memory(), dataOffset, s);
    try {
      io_.DecodeStreamData(back, decoded, FieldEncrypted(field), FieldCompressed(field));
    } catch (const std::exception&) {
      // What was decoded before the failure is compared; a mismatch writes again.
    }
    if (BufferCRC32(decoded.Memory(), static_cast<int32_t>(decoded.Size())) == want) return;
    if (pass == 2) break;
    // Encode again and rewrite; the descriptor keeps the size of the first encoding.
    io_.EncodeStreamData(plain, again, FieldCompressed(field), FieldEncrypted(field));
    int32_t n = std::min<int32_t>(s, static_cast<int32_t>(again.Size()));
    io_.WriteBytesAt(again.Memory(), dataOffset, n);
  }
  throw EWriteError("Blob write verification failed");
}

}  // namespace lanqi
