#include "engine/storage/RadeZIFileIO.h"

#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <unordered_set>

#include "platform/FileLock.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

void TStorageOwner::LockSleep(int32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {
std::atomic<uint64_t> gDatabaseWrites{0};
void CountDatabaseWrite() {
  gDatabaseWrites.fetch_add(1, std::memory_order_acq_rel);
}
}  // namespace

uint64_t DatabaseWriteCount() {
  return gDatabaseWrites.load(std::memory_order_acquire);
}

int32_t TRadeZIFileStream::Write(const void* buffer, int32_t count) {
  CountDatabaseWrite();
  int32_t n = TFileStream::Write(buffer, count);
  Flushed = false;
  return n;
}

int32_t TRadeZIFileStream::WriteAt(int64_t offset, const void* buffer, int32_t count) {
  CountDatabaseWrite();
  int32_t n = TFileStream::WriteAt(offset, buffer, count);
  Flushed = false;
  return n;
}

void TRadeZIFileStream::FlushFile() {
  Flush();
  Flushed = true;
}

// The registry of caller streams for memory databases.
namespace {
struct TStreamRegistry {
  std::mutex mutex;
  std::map<uint32_t, TStream*> streams;
  uint32_t next = 1;
};
TStreamRegistry& Registry() {
  static TStreamRegistry r;
  return r;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The stream a memory database name designates; null for a name that designates none.
TStream* LookupDatabaseStream(const std::string& name) {
  if (name.size() < 2 || name.size() > 9 || name[0] != ':') return nullptr;
  uint32_t id = 0;
  for (size_t i = 1; i < name.size(); ++i) {
    if (!IsHexDigit(name[i])) return nullptr;
    char c = name[i];
    uint32_t d = c <= '9' ? static_cast<uint32_t>(c - '0') : static_cast<uint32_t>((c | 0x20) - 'a' + 10);
    id = id * 16 + d;
  }
  TStreamRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.mutex);
  auto it = r.streams.find(id);
  return it == r.streams.end() ? nullptr : it->second;
}
}  // namespace

uint32_t RegisterDatabaseStream(TStream* stream) {
  TStreamRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.mutex);
  uint32_t id = r.next++;
  if (r.next == 0) r.next = 1;
  r.streams[id] = stream;
  return id;
}

void UnregisterDatabaseStream(uint32_t id) {
  TStreamRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.mutex);
  r.streams.erase(id);
}

std::string MemoryDatabaseName(uint32_t id) {
  return Format(":%X", id);
}

int32_t TRadeZIFileIO::TableHeaderOffset(int32_t tableNumber) const {
  if (tableNumber < 0 || tableNumber >= TableCount())
    RaiseCorrupt(fileName_, Format("table %d does not exist", tableNumber));
  return directory_.Offset(tableNumber);
}

void TRadeZIFileIO::OpenFile(const std::string& name, TRadeZIMediumType mediumType, bool exclusive) {
  if (stream_) return;
  mediumType_ = mediumType;
  exclusive_ = exclusive;
  uint8_t probe[kFileHeaderProbeSize] = {};
  if (mediumType == mtDisk) {
    if (!FileExists(name)) throw EDatabaseError(Format("Cannot open file %s", name.c_str()));
    {
      TFileStream f(name, fmOpenRead | fmShareDenyNone);
      int32_t n = f.Read(probe, kFileHeaderProbeSize);
      CheckMagicAndVersion(probe, n, name);
    }
    readOnly_ = IsFileReadOnly(name);
    uint16_t mode =
        (readOnly_ ? fmOpenRead : fmOpenReadWrite) | (exclusive ? fmShareExclusive : fmShareDenyNone);
    fileStream_ = std::make_unique<TRadeZIFileStream>(name, mode);
    stream_ = fileStream_.get();
    // Once per open, so that each lock is only the system call itself.
    if (!DescribeLockFile(fileStream_->Handle(), lockFile_)) lockFile_ = TLockFile{};
  } else {
    TStream* s = LookupDatabaseStream(name);
    if (!s) throw EDatabaseError(Format("Invalid database name '%s'", name.c_str()));
    s->SetPosition(0);
    int32_t n = s->Read(probe, kFileHeaderProbeSize);
    CheckMagicAndVersion(probe, n, name);
    readOnly_ = false;
    stream_ = s;
    syncedStream_ = dynamic_cast<TSyncedStream*>(s);
  }
  try {
    fileName_ = name;
    if (FileSize() < kDynamicAreaOffset) Corrupt("the file is shorter than its fixed headers");
    TByteBuffer ph(kProcessHeaderSize);
    ReadBytesAt(ph.Data(), kProcessHeaderOffset, kProcessHeaderSize);
    processHeader_.Decode(ph);
    SelectModules();
    ReadBytesAt(directory_.Image.Data(), kDirectoryOffset, kDirectorySize);
    int32_t count = directory_.Count();
    if (count < 0 || count > kMaxTables)
      Corrupt(Format("table count %d is outside 0 to %d", count, kMaxTables));
    int64_t size = FileSize();
    for (int32_t i = 0; i < count; ++i) {
      int32_t off = directory_.Offset(i);
      if (off < kDynamicAreaOffset || off > size - kTableHeaderSize)
        Corrupt(Format("table header %d at offset %d lies outside the file", i, off));
    }
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TRadeZIFileIO::CloseFile() {
  if (lockHolder_.load() == std::this_thread::get_id()) {
    lockDepth_ = 1;
    Unlock();
  }
  // What was written reaches the disk before the file is let go; a failing flush is reported,
  // the file is closed all the same.
  try {
    if (fileStream_ && !fileStream_->Flushed) fileStream_->FlushFile();
  } catch (...) {
    fileStream_.reset();
    lockFile_ = TLockFile{};
    stream_ = nullptr;
    syncedStream_ = nullptr;
    throw;
  }
  fileStream_.reset();
  lockFile_ = TLockFile{};
  stream_ = nullptr;
  syncedStream_ = nullptr;
  unsynced_ = false;
}

void TRadeZIFileIO::GetTableNames(std::vector<std::string>& list) {
  list.clear();
  TTableHeader h;
  for (int32_t i = 0; i < TableCount(); ++i) {
    ReadTableHeader(i, h);
    list.push_back(h.Name());
  }
}

void TRadeZIFileIO::ReadTableHeader(int32_t tableNumber, TTableHeader& header) {
  ReadBytesAt(header.Image().Data(), TableHeaderOffset(tableNumber), kTableHeaderSize);
}

void TRadeZIFileIO::WriteTableHeader(int32_t tableNumber, const TTableHeader& header) {
  WriteBytesAt(header.Image().Data(), TableHeaderOffset(tableNumber), kTableHeaderSize);
}

void TRadeZIFileIO::ReadTabChain(int32_t firstBlock, int32_t count, int32_t blockSize, const char* what,
                                 TIntegerAry& blockOffsets, int32_t entrySize, const TTabBlockSink& sink) {
  blockOffsets.clear();
  if (count <= 0) return;
  const int32_t blocks =
      static_cast<int32_t>((static_cast<int64_t>(count) + kBlockEntries - 1) / kBlockEntries);
  const int64_t size = FileSize();
  // The count decides the memory taken: it must fit the blocks the file can hold.
  if (static_cast<int64_t>(blocks) * blockSize > size)
    Corrupt(Format("%s count %d needs more blocks than the file holds", what, count));
  blockOffsets.reserve(static_cast<size_t>(blocks));
  std::vector<uint8_t> block(static_cast<size_t>(blockSize));
  std::unordered_set<int32_t> seen;
  int32_t off = firstBlock;
  for (int32_t b = 0; b < blocks; ++b) {
    if (off < kDynamicAreaOffset || off > size - blockSize)
      Corrupt(Format("%s block %d at offset %d lies outside the file", what, b, off));
    if (!seen.insert(off).second) Corrupt(Format("%s block chain loops at offset %d", what, off));
    blockOffsets.push_back(off);
    // Only the entries in use are read from the last block.
    const int32_t inBlock = std::min(kBlockEntries, count - b * kBlockEntries);
    ReadBytesAt(block.data(), off, kTabBlockItems + inBlock * entrySize);
    sink(b * kBlockEntries, block.data() + kTabBlockItems, inBlock);
    off = TByteBuffer::LoadInt32(block.data() + kTabBlockNext);
  }
}

void TRadeZIFileIO::ReadRecordTab(const TTableHeader& header, TRecordTabItems& items,
                                  TIntegerAry& blockOffsets) {
  const int32_t count = header.RecordTabCount();
  if (count < 0) Corrupt(Format("table '%s' has a negative record count", header.Name().c_str()));
  items.clear();
  const int64_t size = FileSize();
  ReadTabChain(header.RecordTabOffset(), count, kRecordTabBlockSize, "record-tab", blockOffsets,
               kRecordTabItemSize, [&](int32_t first, const uint8_t* p, int32_t n) {
                 if (first == 0) items.reserve(static_cast<size_t>(count));
                 for (int32_t i = 0; i < n; ++i, p += kRecordTabItemSize) {
                   TRecordTabItem it{TByteBuffer::LoadInt32(p + kRtiDataOffset), p[kRtiDeleted]};
                   if (it.DataOffset < kDynamicAreaOffset || it.DataOffset > size)
                     Corrupt(Format("record %d of table '%s' lies outside the file", first + i,
                                    header.Name().c_str()));
                   items.push_back(it);
                 }
               });
}

void TRadeZIFileIO::ReadIndexTab(const TTableHeader& header, int32_t indexNumber, TIntegerAry& blockOffsets,
                                 TIndexTabItems& items) {
  const int32_t count = header.RecordTabCount();
  items.clear();
  ReadTabChain(
      header.IndexTabOffset(indexNumber), count, kIndexTabBlockSize, "index-tab", blockOffsets,
      kIndexTabItemSize, [&](int32_t first, const uint8_t* p, int32_t n) {
        if (first == 0) items.reserve(static_cast<size_t>(count));
        for (int32_t i = 0; i < n; ++i, p += kIndexTabItemSize)
          items.push_back({TByteBuffer::LoadInt32(p + kItiRecNo), TByteBuffer::LoadInt32(p + kItiNext)});
      });
}

void TRadeZIFileIO::ReadFieldData(TMemoryStream& destination, int64_t entryPos, int32_t slotOffset,
                                  int32_t slotSize, bool isBlob, bool encrypt, bool compress) {
  uint8_t entry[kRecordTabItemSize];
  ReadBytesAt(entry, entryPos, kRecordTabItemSize);
  ReadFieldDataAt(destination, static_cast<int64_t>(TByteBuffer::LoadInt32(entry)) + slotOffset, slotSize,
                  isBlob, encrypt, compress);
}

void TRadeZIFileIO::ReadFieldDataAt(TMemoryStream& destination, int64_t dataPos, int32_t slotSize,
                                    bool isBlob, bool encrypt, bool compress) {
  TMemoryStream raw;
  if (isBlob) {
    uint8_t slot[kBlobDescriptorSize];
    ReadBytesAt(slot, dataPos, kBlobDescriptorSize);
    TBlobDescriptor d = TBlobDescriptor::Load(slot);
    int64_t size = FileSize();
    if (d.StoredSize < 0 || d.DataOffset < 0 || d.DataOffset > size || d.StoredSize > size - d.DataOffset)
      Corrupt(Format("a blob descriptor at offset %lld points outside the file",
                     static_cast<long long>(dataPos)));
    raw.SetSize(d.StoredSize);
    ReadBytesAt(raw.Memory(), d.DataOffset, d.StoredSize);
    DecodeStreamData(raw, destination, encrypt, compress);
  } else {
    raw.SetSize(slotSize);
    ReadBytesAt(raw.Memory(), dataPos, slotSize);
    destination.Clear();
    destination.SetSize(slotSize);
    DecodeBufferData(raw.Memory(), destination.Memory(), encrypt, slotSize);
    destination.SetPosition(0);
  }
}

void TRadeZIFileIO::MarkRecordDeleted(int64_t entryPos) {
  uint8_t entry[kRecordTabItemSize];
  ReadBytesAt(entry, entryPos, kRecordTabItemSize);
  entry[kRtiDeleted] = 1;
  WriteBytesAt(entry, entryPos, kRecordTabItemSize);
}

void TRadeZIFileIO::ReadBytesAt(void* buffer, int64_t offset, int32_t count) {
  if (count <= 0) return;
  if (!stream_) throw EReadError();
  int32_t n;
  errno = 0;
  if (fileStream_) {
    n = fileStream_->ReadAt(offset, buffer, count);
  } else {
    stream_->SetPosition(offset);
    n = stream_->Read(buffer, count);
  }
  if (n != count) {
    int e = errno;
    throw EReadError(n < 0 && e != 0 ? "Stream read error. " + SysErrorMessage(e)
                                     : std::string("Stream read error"));
  }
}

void TRadeZIFileIO::WriteBytesAt(const void* buffer, int64_t offset, int32_t count) {
  if (count <= 0) return;
  if (!stream_) throw EWriteError();
  CountDatabaseWrite();
  int32_t n;
  errno = 0;
  if (fileStream_) {
    n = fileStream_->WriteAt(offset, buffer, count);
  } else {
    stream_->SetPosition(offset);
    n = stream_->Write(buffer, count);
  }
  unsynced_ = true;
  if (n != count) {
    int e = errno;
    throw EWriteError(e != 0 ? "Stream write error. " + SysErrorMessage(e)
                             : std::string("Stream write error"));
  }
}

void TRadeZIFileIO::TruncateFile(int64_t size) {
  if (!stream_) throw EWriteError();
  CountDatabaseWrite();
  unsynced_ = true;
  stream_->SetSize(size);
  if (fileStream_) fileStream_->Flushed = false;
}

void TRadeZIFileIO::CheckGrowth(int64_t end) const {
  if (end > INT32_MAX)
    throw EDatabaseError(Format("Database file '%s' would grow beyond 2147483647 bytes", fileName_.c_str()));
}

int64_t TRadeZIFileIO::FileSize() {
  return stream_ ? stream_->Size() : 0;
}

void TRadeZIFileIO::Lock() {
  if (!stream_ || mediumType_ == mtMemory || !fileStream_) return;
  // Only the holding thread nests; another thread of this process waits for the lock like any
  // other user of the file.
  if (lockHolder_.load() == std::this_thread::get_id()) {
    ++lockDepth_;
    return;
  }
  int32_t retries = owner_ ? owner_->LockRetryCount() : 20;
  int32_t wait = owner_ ? owner_->LockWaitTime() : 100;
  int32_t failures = 0;
  while (!(lockFile_.fd >= 0 ? TryLockFileRange(lockFile_, kLockOffset, 1)
                             : TryLockFileRange(fileStream_->Handle(), kLockOffset, 1))) {
    ++failures;
    if (retries != 0 && failures > retries) throw EDatabaseError("Wait for unlock time out");
    if (owner_)
      owner_->LockSleep(wait);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
  lockHolder_.store(std::this_thread::get_id());
  lockDepth_ = 1;
}

void TRadeZIFileIO::Unlock() {
  if (!stream_ || mediumType_ == mtMemory || !fileStream_ || lockHolder_.load() != std::this_thread::get_id())
    return;
  if (--lockDepth_ > 0) return;
  lockHolder_.store(std::thread::id());
  if (lockFile_.fd >= 0)
    UnlockFileRange(lockFile_, kLockOffset, 1);
  else
    UnlockFileRange(fileStream_->Handle(), kLockOffset, 1);
}

void TRadeZIFileIO::FlushFile() {
  if (fileStream_) fileStream_->FlushFile();
  if (syncedStream_ && unsynced_) syncedStream_->SyncData();
  unsynced_ = false;
}

bool TRadeZIFileIO::IsFlushed() const {
  return fileStream_ ? fileStream_->Flushed : true;
}

void TRadeZIFileIO::SyncData() {
  if (!unsynced_ || !Durable()) return;
  if (fileStream_) {
    // The data and the size that reaches it; the other metadata waits for the next full flush.
    if (fdatasync(fileStream_->Handle()) != 0) {
      int e = errno;
      throw EWriteError("Stream write error. " + SysErrorMessage(e));
    }
    fileStream_->Flushed = true;
  } else if (syncedStream_) {
    syncedStream_->SyncData();
  }
  unsynced_ = false;
}

}  // namespace lanqi
