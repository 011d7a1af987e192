// One record's field values as they pass between the dataset layer and the table layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Streams.h"

namespace lanqi {

class TRadeZIFileIO;

// A blob's content in a record buffer. The table layer hands it the file position of its slot
// when a record is read; the bytes are read and decoded only when the stream is first read,
// positioned or measured. Writing, resizing or clearing marks it loaded, so a later read never
// replaces what a caller wrote.
class TStorageBlobStream : public TMemoryStream {
 public:
  explicit TStorageBlobStream(TRadeZIFileIO* fileIO = nullptr) : fileIO_(fileIO) {}

  virtual void SetLocation(int32_t dataPosition, bool encrypt, bool compress);
  void SetFileIO(TRadeZIFileIO* fileIO) { fileIO_ = fileIO; }
  int32_t DataPosition() const { return dataPosition_; }
  bool Loaded() const { return loaded_; }
  // Loads the content now when it is still pending.
  void EnsureLoaded();

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t newSize) override;
  // Emptied content is final: a later read must not bring the stored blob back.
  void Clear() override { ClearContent(); }
  void ClearContent();

 private:
  TRadeZIFileIO* fileIO_;
  int32_t dataPosition_ = 0;
  bool encrypt_ = false;
  bool compress_ = false;
  bool loaded_ = true;
};

class TFieldBufferItem {
 public:
  TFieldBufferItem() = default;
  TFieldBufferItem(const TFieldBufferItem&) = delete;
  TFieldBufferItem& operator=(const TFieldBufferItem&) = delete;

  // Non-blob field: the value bytes in slot form. Blob field: a TMemoryStream holding the data.
  void* Buffer = nullptr;
  uint8_t FieldType = 0;
  int32_t BufferSize = 0;
  bool OwnsBuffer = false;
  bool InUse = true;

  TMemoryStream* BlobStream() const { return static_cast<TMemoryStream*>(Buffer); }
  uint8_t* Bytes() const { return static_cast<uint8_t*>(Buffer); }
  // The value as text for messages; the empty text when it cannot be shown.
  std::string DisplayText() const;

 private:
  friend class TFieldBuffers;
  std::vector<uint8_t> ownedBytes_;
  std::unique_ptr<TMemoryStream> ownedStream_;
};

class TFieldBuffers {
 public:
  // For a blob type, buffer points at the blob stream; otherwise at the slot bytes.
  TFieldBufferItem* Add(void* buffer, uint8_t fieldType, int32_t size);
  // An item that owns its storage: size zeroed bytes, or a fresh blob stream for blob types.
  TFieldBufferItem* AddOwned(uint8_t fieldType, int32_t size, TRadeZIFileIO* fileIO = nullptr);
  // A placeholder for a field the caller does not supply (skipped by reads and modify).
  TFieldBufferItem* AddUnused();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TFieldBufferItem* Items(int32_t i) const { return items_.at(static_cast<size_t>(i)).get(); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TFieldBufferItem>> items_;
};

}  // namespace lanqi
