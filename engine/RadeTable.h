// TRadeTable is one table of the file with its view, index order, editing, filtering, locate and
// master-detail range. Its bases are declared beside it: callers include this header for all three.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/RDBDataSet.h"
#include "engine/RDEDataSet.h"
#include "engine/dataset/DataSource.h"
#include "engine/storage/RadeTableIO.h"

namespace lanqi {

class TFileView;
class TRecordWindow;

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
  // The steps of FindKey: only stored, non-blob fields can be keys; the values go into the scratch
  // buffer through the fields; an index on exactly the key fields (and the case rule, for text) is
  // searched, else the view is scanned; the record found is read into the scratch buffer.
  void CheckKeyFields(const std::vector<TField*>& keys);
  void WriteKeyValues(const std::vector<TField*>& keys, const Variant& keyValues);
  int32_t IndexForKeys(const std::vector<TField*>& keys, bool caseInsensitive);
  int32_t FindKeyInIndex(TRDERecordBuffer* scratch, int32_t index, bool partial);
  int32_t FindKeyByScan(TRDERecordBuffer* scratch, const std::vector<TField*>& keys, bool partial,
                        bool caseInsensitive);
  void ReadKeyMatch(TRDERecordBuffer* buffer, int32_t position);
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
