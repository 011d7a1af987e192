// File-level access to one database: the disk or memory medium, the magic and version test, the
// process header and directory images, module selection, the password check, positioned reads
// and writes, the one-byte inter-process lock and the flush state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/storage/DataProcessMgr.h"
#include "engine/storage/FileFormat.h"
#include "platform/FileLock.h"
#include "platform/FileStream.h"
#include "rtl/Component.h"
#include "rtl/Streams.h"

namespace lanqi {

// What the storage layer needs from the database that owns it (the database component implements
// it; tests implement it directly).
class TStorageOwner {
 public:
  virtual ~TStorageOwner() = default;
  // The session's lock settings: retries after the first failed attempt (0 = without limit) and
  // the wait between attempts in milliseconds.
  virtual int32_t LockRetryCount() const { return 20; }
  virtual int32_t LockWaitTime() const { return 100; }
  // Waits between lock attempts; tests replace it with a virtual clock.
  virtual void LockSleep(int32_t milliseconds);
  // The medium and sharing the database asks for when its file object is made.
  virtual TRadeZIMediumType MediumType() const { return mtDisk; }
  virtual bool Exclusive() const { return false; }
  // Durable mode: the writes of an operation whose order matters are separated by data syncs and
  // the operation ends synced, so a power loss keeps every finished operation and leaves an
  // unfinished one undone or whole. Read at every sync point, so it can change while open.
  virtual bool Durable() const { return false; }
  // The database component: the sender of progress events (may be null).
  virtual TObject* ProgressSender() { return nullptr; }
  TOnProgressEvent OnCompressProgress, OnUncompressProgress, OnEncryptProgress, OnDecryptProgress;
};

// The file stream of disk databases: remembers whether anything was written since the last flush.
class TRadeZIFileStream : public TFileStream {
 public:
  using TFileStream::TFileStream;
  int32_t Write(const void* buffer, int32_t count) override;
  // Positioned write through the base that also clears Flushed.
  int32_t WriteAt(int64_t offset, const void* buffer, int32_t count);
  void FlushFile();
  bool Flushed = true;
};

// A caller's stream of a memory database that takes part in durable mode: it is told at each
// point where a disk database would sync its data.
class TSyncedStream {
 public:
  virtual ~TSyncedStream() = default;
  virtual void SyncData() = 0;
};

// Memory databases: a caller registers a stream holding a database image and opens the name
// MemoryDatabaseName(id), ":" and the number in hexadecimal. The caller keeps the stream alive
// until it unregisters it; the engine never frees it.
uint32_t RegisterDatabaseStream(TStream* stream);
void UnregisterDatabaseStream(uint32_t id);
std::string MemoryDatabaseName(uint32_t id);

// How many writes this program has begun on database files, any file, any thread. Bytes read
// ahead before the count moved may have been replaced by this program since.
uint64_t DatabaseWriteCount();

class TRadeZIFileIO {
 public:
  explicit TRadeZIFileIO(TStorageOwner* owner);
  ~TRadeZIFileIO();
  TRadeZIFileIO(const TRadeZIFileIO&) = delete;
  TRadeZIFileIO& operator=(const TRadeZIFileIO&) = delete;

  TStorageOwner* Owner() const { return owner_; }
  const std::string& FileName() const { return fileName_; }
  TRadeZIMediumType MediumType() const { return mediumType_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  TStream* Stream() const { return stream_; }

  void OpenFile(const std::string& name, TRadeZIMediumType mediumType, bool exclusive);
  void CloseFile();
  bool IsFileOpen() const { return stream_ != nullptr; }
  bool CheckPassword(const std::string& password);

  bool Compressed() const { return processHeader_.Compressed; }
  bool Encrypted() const { return processHeader_.Encrypted; }
  bool VerifyWrites() const { return processHeader_.VerifyWrites; }

  // The directory image as read at open (and as changed by this object's own table creation).
  int32_t TableCount() const { return directory_.Count(); }
  int32_t TableHeaderOffset(int32_t tableNumber) const;
  TTableDirectory& Directory() { return directory_; }
  void GetTableNames(std::vector<std::string>& list);
  void ReadTableHeader(int32_t tableNumber, TTableHeader& header);
  void WriteTableHeader(int32_t tableNumber, const TTableHeader& header);
  // All RecordTabCount entries and every block offset; a chain that leaves the file, loops or
  // ends early raises the corrupt-file error.
  void ReadRecordTab(const TTableHeader& header, TRecordTabItems& items, TIntegerAry& blockOffsets);
  void ReadIndexTab(const TTableHeader& header, int32_t indexNumber, TIntegerAry& blockOffsets,
                    TIndexTabItems& items);
  // Reads the record-tab entry at entryPos, then the field at its record offset + slotOffset.
  void ReadFieldData(TMemoryStream& destination, int64_t entryPos, int32_t slotOffset, int32_t slotSize,
                     bool isBlob, bool encrypt, bool compress);
  // The same entered with the slot's file position.
  void ReadFieldDataAt(TMemoryStream& destination, int64_t dataPos, int32_t slotSize, bool isBlob,
                       bool encrypt, bool compress);
  void MarkRecordDeleted(int64_t entryPos);

  // Exact positioned transfers: a short read raises "Stream read error", a failed write
  // "Stream write error" with the system's reason.
  void ReadBytesAt(void* buffer, int64_t offset, int32_t count);
  void WriteBytesAt(const void* buffer, int64_t offset, int32_t count);
  int64_t FileSize();
  // Refuses a write that would take the file past the 2147483647 bytes its offsets can reach.
  void CheckGrowth(int64_t end) const;
  [[noreturn]] void Corrupt(const std::string& what) const { RaiseCorrupt(fileName_, what); }

  // Cuts the file back to size (the end of a staging copy that is no longer referenced).
  void TruncateFile(int64_t size);

  // The file lock nests: an operation that holds it across several writes (a command's whole batch
  // of rows) keeps it while each write takes and releases it; only the outermost Unlock lets it go.
  void Lock();
  void Unlock();
  void FlushFile();
  bool IsFlushed() const;
  bool Durable() const { return owner_ && owner_->Durable(); }
  // In durable mode, makes every write so far durable before the next one (fdatasync on disk);
  // nothing otherwise, or when nothing was written since the last sync.
  void SyncData();

  // Blob data (compress, then encrypt on write; the reverse on read) and non-blob slots.
  void EncodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool compress, bool encrypt);
  void DecodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool encrypt, bool compress);
  void EncodeBufferData(const void* source, void* destination, bool encrypt, int32_t size);
  void DecodeBufferData(const void* source, void* destination, bool encrypt, int32_t size);

  TCompressMgr* CompressMgr() const { return compressMgr_.get(); }
  TEncryptMgr* EncryptMgr() const { return encryptMgr_.get(); }

 private:
  // Follows a tab's block chain for count entries, handing each block's entries to sink.
  using TTabBlockSink = std::function<void(int32_t firstEntry, const uint8_t* entries, int32_t n)>;
  void ReadTabChain(int32_t firstBlock, int32_t count, int32_t blockSize, const char* what,
                    TIntegerAry& blockOffsets, int32_t entrySize, const TTabBlockSink& sink);
  void SelectModules();
  void CheckPackedLength(TMemoryStream& packed);

  TStorageOwner* owner_;
  std::string fileName_;
  TRadeZIMediumType mediumType_ = mtDisk;
  bool exclusive_ = false;
  TStream* stream_ = nullptr;
  std::unique_ptr<TRadeZIFileStream> fileStream_;
  TSyncedStream* syncedStream_ = nullptr;
  bool unsynced_ = false;  // written since the last data sync
  bool readOnly_ = false;
  TDataProcessOwner processOwner_;
  std::unique_ptr<TCompressMgr> compressMgr_;
  std::unique_ptr<TEncryptMgr> encryptMgr_;
  TDataProcessHeader processHeader_;
  TTableDirectory directory_;
  class TProcessingGuard;
  std::mutex processingLock_;
  std::atomic<std::thread::id> processingThread_{};
  std::atomic<std::thread::id> lockHolder_{};  // the thread holding the file lock, if any
  int32_t lockDepth_ = 0;
  TLockFile lockFile_;
};

// Holds the file lock for one scope.
class TFileLockGuard {
 public:
  explicit TFileLockGuard(TRadeZIFileIO& io) : io_(io) { io_.Lock(); }
  ~TFileLockGuard() { io_.Unlock(); }
  TFileLockGuard(const TFileLockGuard&) = delete;
  TFileLockGuard& operator=(const TFileLockGuard&) = delete;

 private:
  TRadeZIFileIO& io_;
};

}  // namespace lanqi
