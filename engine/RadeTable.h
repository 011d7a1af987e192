// The table datasets: TRDBDataSet binds by name to a database of a session, TRDEDataSet adds the
// engine's record buffer layout, field access and filter hooks, TRadeTable is one table of the
// file with its view, index order, editing, filtering, locate and master-detail range.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/dataset/DataSet.h"
#include "engine/dataset/DataSource.h"
#include "engine/filter/FilterParser.h"
#include "engine/storage/RadeTableIO.h"

namespace lanqi {

class TRadeDatabase;
class TRadeSession;
class TOptimBlobStream;
class TFileView;
class TRecordWindow;

class TRDBDataSet : public TDataSet {
 public:
  explicit TRDBDataSet(TComponent* owner = nullptr);
  ~TRDBDataSet() override;

  const std::string& DatabaseName() const { return databaseName_; }
  virtual void SetDatabaseName(const std::string& value);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  // Stores the session name without the property rules (automatic session names).
  void AttachSessionName(const std::string& value) { sessionName_ = value; }
  TRadeDatabase* Database() const { return database_; }
  // The bound database's session, else the session named by SessionName, else the default.
  TRadeSession* DBSession() const;
  // Closes the dataset because its database disconnects.
  virtual void Disconnect();

 protected:
  void AcquireCursor() override;
  void ReleaseCursor() override;

 private:
  std::string databaseName_;
  std::string sessionName_;
  TRadeDatabase* database_ = nullptr;
};

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
  int32_t RecordBufferSize() const { return storedDataSize_ + CalcFieldsSize() + 5; }
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
  int32_t TableFieldCount() const { return tableFieldCount_; }

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

// What a table dataset reads while other programs write the file. A record's bytes are read only
// under the file lock, so no record is ever read while another program writes it. A walk reads
// ahead in windows: the Next (Prior) that needs a record the window does not hold copies that
// record and the ones after (before) it out of the file under one hold of the lock, up to 1024
// records, 256 KiB or one millisecond of holding the lock, whichever comes first. The first window
// of a walk from First (Last) holds 16 records, one from a record reached any other way holds that
// record alone, and each window that follows on holds twice as many as the one before. The
// records of a window show the file as it was when the window was read: another program's change
// to one of them shows from the next window on. A record reached any other way (First, Last,
// Locate, RecNo, a bookmark, Resync, Refresh, Edit) is read afresh, and a window ends at any write
// this program makes to a database file (through any dataset, open or thread), so the program
// always reads back its own writes. Which records the view holds, and in which order, is decided
// when the view is loaded (open, an index change, Refresh, a filter, a range), as ever; a blob
// field's content is read when it is first used.
class TRadeTable : public TRDEDataSet {
 public:
  explicit TRadeTable(TComponent* owner = nullptr);
  ~TRadeTable() override;

  using TDataSet::BookmarkValid;
  using TDataSet::GotoBookmark;

  void SetDatabaseName(const std::string& value) override;
  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& value);
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  const std::string& MasterFields() const { return masterLink_.FieldNames(); }
  void SetMasterFields(const std::string& value);
  TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  void SetMasterSource(TDataSource* source);
  TDataSource* LinkedSource() const override { return MasterSource(); }
  const std::vector<TIndexDef>& IndexDefs() const { return indexDefs_; }

  TRadeTableIO* TableIO() const { return tableIO_; }
  const TRecordList& RecordList() const { return recordList_; }
  int32_t IndexNumber() const { return indexNumber_; }
  bool Ranged() const { return ranged_; }
  int32_t RangeFieldCount() const { return rangeFieldCount_; }

  int32_t RecordCount() override { return IsOpen() ? static_cast<int32_t>(recordList_.size()) : 0; }
  bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) override;
  Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                 const std::string& resultFields) override;
  void Post() override { TDataSet::Post(); }

  TOnProgressEvent OnFilterProgress;

 protected:
  void AfterOpenStep() override;
  bool CanModify() override;
  void RefreshView() override;
  void AddRecordFromBuffer(TRecordBuffer* buffer, bool append) override;
  void DeleteCurrent() override;
  void GotoBookmark(const uint8_t* bookmark) override;
  void PostBuffer() override;
  void StartEdit(TRecordBuffer* buffer) override;
  TGetResult FetchRecord(TRecordBuffer* buffer, TGetMode mode, bool report) override;
  void CloseTable() override;
  void LoadFieldDefs() override;
  void OpenTable() override;
  bool IsOpen() override { return static_cast<bool>(recordListExists_); }
  bool BookmarkValid(const uint8_t* bookmark) override;
  void ActivateFilter() override;
  void DeactivateFilter() override;
  void ReadRecord(TRecordBuffer* buffer, int32_t position) override;

 private:
  void ChooseIndex();
  void LoadView();
  // Reads only the named fields of the record at a view position into buffer.
  class TPassReader;
  void ReadField(TRDERecordBuffer* buffer, int32_t position, TField* field, TPassReader& reader);
  int32_t ViewPositionByBisection(TRDERecordBuffer* buffer);
  void OnIndexInsert(int32_t indexNumber, int32_t position, const TRecordListEntry& entry);
  void OnIndexMove(int32_t indexNumber, int32_t oldPosition, int32_t newPosition);
  void AppendFromBuffer(TRDERecordBuffer* buffer);
  // Finds the view position of the first record whose key fields equal the scratch buffer's.
  int32_t FindKey(const std::vector<TField*>& keys, const Variant& keyValues, TLocateOptions options);
  void ApplyMasterRange();
  void CancelRange();
  void RangeWithin(const TRecordList& list);
  bool MasterRangeWanted() const { return masterLink_.Active() && !masterLink_.Fields().empty(); }

  std::string tableName_;
  std::string indexName_;
  bool readOnly_ = false;
  TRadeTableIO* tableIO_ = nullptr;
  bool acquired_ = false;
  TRecordList recordList_;
  bool recordListExists_ = false;
  int32_t indexNumber_ = -1;
  bool ranged_ = false;
  int32_t rangeFieldCount_ = 0;
  TMasterDataLink masterLink_;
  std::vector<TIndexDef> indexDefs_;
  std::unique_ptr<TFileView> fileView_;
  std::unique_ptr<TRecordWindow> window_;
  int32_t lastFetched_ = -1;   // the view position FetchRecord read last, -1 when none
  bool wholeRecords_ = false;  // the record buffer lays out the stored record as it is
};

}  // namespace lanqi
