// TRDEDataSet adds the engine's record buffer layout, field access and filter hooks to the
// database-bound dataset.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/RDBDataSet.h"
#include "engine/filter/FilterParser.h"
#include "engine/storage/RadeTableIO.h"

namespace lanqi {

class TOptimBlobStream;

// A record buffer of the engine: stored fields, calculated fields, bookmark, flag; one lazy blob
// stream per blob slot (the slot holds its index) and the field items that point into it.
class TRDERecordBuffer : public TRecordBuffer {
 public:
  using TRecordBuffer::TRecordBuffer;
  ~TRDERecordBuffer() override;
  std::vector<std::unique_ptr<TOptimBlobStream>> Blobs;
  TFieldBuffers Items;
};

class TRDEDataSet;

// How the filter reaches the dataset's fields and buffers.
class TRDEFilterSource : public TFilterDataSource {
 public:
  explicit TRDEFilterSource(TRDEDataSet* dataSet) : dataSet_(dataSet) {}
  TFilterField FilterFieldByName(const std::string& name) override;
  const uint8_t* ActiveRecordBuffer() override;
  int32_t FieldOffset(int32_t fieldIndex) override;
  void BlobFieldText(int32_t fieldIndex, std::string& text) override;

 private:
  TRDEDataSet* dataSet_;
};

class TRDEDataSet : public TRDBDataSet {
 public:
  explicit TRDEDataSet(TComponent* owner = nullptr);
  ~TRDEDataSet() override;

  TRadeZIMediumType MediumType() const { return mediumType_; }
  void SetMediumType(TRadeZIMediumType value);
  TFilterParser& FilterParser() { return *filterParser_; }

  int32_t CurrentPosition() const { return currentPosition_; }
  int32_t StoredDataSize() const { return storedDataSize_; }
  // A record buffer ends in a trailer after the stored and calculated fields: the bookmark (the
  // record number), then the bookmark flag byte.
  static constexpr int32_t kBookmarkSize = static_cast<int32_t>(sizeof(int32_t));
  static constexpr int32_t kBookmarkFlagOffset = kBookmarkSize;
  static constexpr int32_t kBookmarkTrailerSize = kBookmarkFlagOffset + 1;
  int32_t BookmarkTrailerOffset() const { return storedDataSize_ + CalcFieldsSize(); }
  int32_t RecordBufferSize() const { return BookmarkTrailerOffset() + kBookmarkTrailerSize; }
  const std::vector<int32_t>& FieldOffsets() const { return fieldOffsets_; }
  bool Modifiable() const { return modifiable_; }
  TRDERecordBuffer* FilterBuffer() const { return filterBuffer_; }
  TRDERecordBuffer* KeyBuffer() const { return keyBuffer_; }

  int32_t RecordCount() override { return 0; }
  int32_t RecNo() override;
  void SetRecNo(int32_t n) override;
  void SetFilter(const std::string& text) override { SetFilterData(text, FilterOptions()); }
  void SetFiltered(bool value) override;
  void SetFilterOptions(TFilterOptions options) override { SetFilterData(Filter(), options); }

  TRecordBuffer* ActiveRecordBuffer() override;
  bool ReadFieldValue(TField* field, void* destination) override;
  void WriteFieldValue(TField* field, const void* source) override;
  void ConvertNativeValue(TField* field, const void* source, void* destination, bool toNative) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  // The blob stream in a buffer's slot for field, or null.
  TOptimBlobStream* SlotBlobStream(TRecordBuffer* buffer, TField* field);
  // The field object for a 1-based table field number, or null.
  TField* FieldForNumber(int32_t fieldNo) const;

 protected:
  void AfterOpenStep() override;
  bool FindMatchingRecord(bool restart, bool goForward) override;
  bool CanModify() override { return modifiable_; }
  std::unique_ptr<TRecordBuffer> AllocateRecordBuffer() override;
  void ReadBookmark(TRecordBuffer* buffer, uint8_t* destination) override;
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer* buffer) override;
  uint16_t StoredRecordSize() override { return static_cast<uint16_t>(storedDataSize_); }
  void MoveBeforeFirst() override { currentPosition_ = -1; }
  void InitNewRecord(TRecordBuffer* buffer) override;
  void MoveAfterLast() override { currentPosition_ = RecordCount(); }
  void SyncToBuffer(TRecordBuffer* buffer) override;
  void WriteBookmarkFlag(TRecordBuffer* buffer, TBookmarkFlag flag) override;
  void WriteBookmark(TRecordBuffer* buffer, const uint8_t* bookmark) override;
  int32_t CalcFieldsOffset() const override { return storedDataSize_; }
  virtual void ActivateFilter() {}
  virtual void DeactivateFilter() {}
  virtual void ReadRecord(TRecordBuffer*, int32_t) {}

  // Record acceptance for the record in FilterBuffer.
  bool RecordPasses();
  // Lays out the buffers for the current field objects (field numbers up to tableFieldCount).
  void LayOutBuffers(int32_t tableFieldCount);
  void AllocateKeyBuffers();
  void ReleaseKeyBuffers();
  TRDERecordBuffer* KeyBuffers(int i) const { return keyBuffers_[static_cast<size_t>(i)].get(); }
  void SetKeyBuffer(TRDERecordBuffer* b) { keyBuffer_ = b; }
  void SetFilterBuffer(TRDERecordBuffer* b) { filterBuffer_ = b; }
  void SetModifiable(bool v) { modifiable_ = v; }
  void SetCurrentPosition(int32_t p) { currentPosition_ = p; }

 private:
  void SetFilterData(const std::string& text, TFilterOptions options);

  TRadeZIMediumType mediumType_ = mtDisk;
  TRDEFilterSource filterSource_;
  std::unique_ptr<TFilterParser> filterParser_;
  int32_t currentPosition_ = -1;
  int32_t storedDataSize_ = 0;
  int32_t tableFieldCount_ = 0;
  std::vector<int32_t> fieldOffsets_;
  std::vector<TField*> fieldByNo_;
  std::array<std::unique_ptr<TRDERecordBuffer>, 4> keyBuffers_;
  TRDERecordBuffer* keyBuffer_ = nullptr;
  TRDERecordBuffer* filterBuffer_ = nullptr;
  bool modifiable_ = false;
};

}  // namespace lanqi
