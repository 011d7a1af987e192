// The storage side of one table of a connected database: its header, definitions and record
// tab, one in-memory record list per order (stored order and each index), the record layout,
// and reading, appending, modifying and deleting records with the auto-increment counter, the
// blob areas and the index chains kept in step.
//
// Other programs write the same file between this object's writes. Every write takes the file
// lock and then compares the table header on disk with the image this object's lists were built
// from; when they differ it drops its lists and cached keys and reads them again, under the same
// lock, before it decides anything. An append changes the header through RecordTabCount. Every
// change that keeps the count (a modify, a delete, a chain rewrite) first adds one to the table's
// change count, an int64 kept in the trailing bytes of the table header that readers of the
// format do not interpret, so files stay readable by them; a change that stopped part way has
// already counted. A program that writes the table without counting is not seen this way.
//
// A batch of appends (BeginBatch, BatchAppend, EndBatch) takes the file lock once for all its
// rows and writes them in groups. A row is checked (unique keys against the table and against the
// batch's earlier rows) and numbered when it is handed over, and is then held in memory; a group
// is written when the held rows reach the group size, when the batch ends, or before any other
// write of this table. A group is written as one append of many rows, in the order of a single
// append: the new bytes past the end of the file (the records, their blob areas and the new tab
// blocks) in one write, the entries in the tabs' last blocks and the links to new blocks, a data
// sync in durable mode, the record count and counter, then the chain links of the records that
// now precede new ones, and a data sync in durable mode. Rows held in memory are in no list and
// no other program sees them; a group's rows appear together when its record count is written.
// An interrupted group leaves the file as it was before the group (or with the group's rows whole,
// their chains to repair as after an interrupted append); earlier groups stay.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/Definitions.h"
#include "engine/storage/FieldBuffers.h"
#include "engine/storage/FileFormat.h"
#include "engine/storage/RadeZIFileIO.h"

namespace lanqi {

// Where an index search leaves the key against the list: Found, the entry at the position returned
// holds it; Before or After, the key sorts before or after that entry, the last one compared;
// Empty, the list has no entries and the position is -1.
enum class TKeySearchResult : int8_t { Empty = -2, Before = -1, Found = 0, After = 1 };

// One entry of a record list: the record's data offset and its record number.
struct TRecordListEntry {
  int32_t DataOffset = 0;
  int32_t RecNo = 0;
  bool operator==(const TRecordListEntry&) const = default;
};
using TRecordList = std::vector<TRecordListEntry>;

// indexNumber -1 and position -1: the entry was added at the end of list 0; else the position
// at which it goes into index k's list, counted before the insertion.
using TOnIndexInsert =
    std::function<void(int32_t indexNumber, int32_t position, const TRecordListEntry& entry)>;
using TOnIndexMove = std::function<void(int32_t indexNumber, int32_t oldPosition, int32_t newPosition)>;

class TRadeTableIO {
 public:
  TRadeTableIO(TRadeZIFileIO& fileIO, const std::string& tableName);
  ~TRadeTableIO();
  TRadeTableIO(const TRadeTableIO&) = delete;
  TRadeTableIO& operator=(const TRadeTableIO&) = delete;

  TRadeZIFileIO& FileIO() const { return io_; }
  const std::string& TableName() const { return tableName_; }
  int32_t TableNumber() const { return tableNumber_; }
  int32_t UseCount() const { return useCount_; }
  TRadeFieldDefs& FieldDefs() { return fieldDefs_; }
  TRadeIndexDefs& IndexDefs() { return indexDefs_; }
  int32_t RecordSize() const { return recordSize_; }
  const TIntegerAry& SlotOffsets() const { return slotOffsets_; }
  int32_t SlotSize(int32_t field) const { return slotSizes_[static_cast<size_t>(field)]; }
  int32_t AutoIncField() const { return autoIncField_; }
  const TTableHeader& TableHeader() const { return header_; }
  // The record tab is read with list 0, on first use.
  const TRecordTabItems& RecordTab() const {
    List(0);
    return recordTab_;
  }
  const TIntegerAry& RecordTabBlocks() const {
    List(0);
    return recordTabBlocks_;
  }
  const TIntegerAry& IndexTabBlocks(int32_t k) const {
    List(k + 1);  // read with the index's list
    return indexTabBlocks_.at(static_cast<size_t>(k));
  }
  int32_t RecordListCount() const { return static_cast<int32_t>(recordLists_.size()); }
  // List 0: live records in record-number order; list k + 1: index k's key order.
  // An index's list is built from its chain the first time it is asked for.
  const TRecordList& RecordLists(int32_t n) const { return List(n); }
  // True when index k's stored chain did not visit every live record exactly once and its list
  // was rebuilt by sorting.
  bool IndexListRebuilt(int32_t k) const {
    List(k + 1);
    return rebuilt_.at(static_cast<size_t>(k));
  }

  void Acquire();
  void Release();
  void LoadTable();
  void LoadRecordList(int32_t n, bool reread);
  void LoadRecord(TFieldBuffers& buffers, const TRecordList& list, int32_t position);
  // Fills buffers from a record's stored bytes (RecordSize of them, read under the file lock from
  // dataOffset); a blob field's stream is pointed at its slot there and reads when first used.
  void DecodeRecord(TFieldBuffers& buffers, const uint8_t* record, int32_t dataOffset);
  void AppendRecord(TFieldBuffers& buffers, bool flush, const TOnIndexInsert& onIndexInsert);
  void ModifyRecord(TFieldBuffers& buffers, int32_t position, const TOnIndexMove& onIndexMove, bool flush);
  void DeleteRecord(int32_t position, bool flush);
  void ReadRecordField(TMemoryStream& destination, int32_t recNo, int32_t fieldNumber);

  // Field processing flags; "Cannot perform this operation on a closed database" when closed.
  bool FieldEncrypted(int32_t field) const;
  bool FieldCompressed(int32_t field) const;

  // Index operations. Where a list is named by number, -1 is list 0 and k is index k's list.
  int32_t SearchIndex(TFieldBuffers& key, const TRecordList& list, bool partial, int32_t fieldCount,
                      TKeySearchResult& result, int32_t indexNumber);
  int32_t SearchIndexBound(TFieldBuffers& key, const TRecordList& list, int32_t indexNumber, bool toFirst,
                           TKeySearchResult& result, int32_t fieldCount, bool partial);
  int32_t FindInsertPos(TFieldBuffers& key, int32_t indexNumber);
  int32_t PrimaryIndex() const;
  int32_t ConvertListPos(int32_t listA, int32_t position, int32_t listB) const;
  // The position in list 0 of the record at position of list (binary search by record number).
  int32_t FindPhysicalPos(const TRecordList& list, int32_t position) const;
  // The position in list of the record at position of index k's list (a scan of list).
  int32_t ConvertListPos(const TRecordList& list, int32_t indexNumber, int32_t position) const;
  bool CheckUniqueForAppend(TFieldBuffers& buffers);
  bool CheckUniqueForModify(TFieldBuffers& buffers, int32_t position);
  // Among records about to be written together (whole buffers, one per record): when two of them
  // have equal keys under a primary or unique index, first and second receive their positions in
  // rows (the earliest such pair) and "Invalid unique field value '%s'" is raised as the unique
  // check raises it. Records already in the table are not looked at.
  void CheckUniqueAmong(const std::vector<TFieldBuffers*>& rows, int32_t& first, int32_t& second);

  // Batches of appends (see the top of this file). The file lock is held from BeginBatch to
  // EndBatch or AbandonBatch, so a batch should not wait on anything slow between its rows.
  // groupBytes: a group is written once the held records and blobs take this many bytes; 0 writes
  // the whole batch as one group (all or nothing up to the record count).
  static constexpr int64_t kDefaultBatchGroupBytes = 16 << 20;
  void BeginBatch(int64_t groupBytes = kDefaultBatchGroupBytes);
  // Checks and holds one row: "Invalid unique field value '%s'" for a key that a record of the
  // table or an earlier row of the batch holds, in which case nothing of the row is kept. An
  // auto-increment item of 0 receives the number assigned, as with AppendRecord.
  void BatchAppend(TFieldBuffers& buffers);
  // Writes the rows held so far as one group.
  void CommitBatchGroup();
  // Writes what is held and ends the batch. A failed write ends it too: the rows of groups written
  // before stay, the others are dropped.
  void EndBatch();
  // Drops the rows not yet written and ends the batch.
  void AbandonBatch();
  bool InBatch() const { return batch_ != nullptr; }
  // Rows of the current batch written, and held in memory.
  int32_t BatchWritten() const;
  int32_t BatchHeld() const;

  // Compares the key fields of two stored records under index k's rules (-1, 0, 1).
  int32_t CompareRecords(int32_t indexNumber, int32_t recNoA, int32_t recNoB);
  // Rewrites index k's stored chain and IndexHead from its in-memory list (the repair of a chain
  // that did not match the live records).
  void RewriteIndexChain(int32_t indexNumber, bool flush);

  // Inside the table layer (RadeTableKeys.h).
  struct TCachedKey;
  struct TSearchKey;
  class TKeyCache;
  struct TBatch;

 private:
  void ClearLoaded();
  void LoadDefinitionsAndLists();
  TRecordList& List(int32_t n) const;
  void LoadAllLists();
  void LoadRecordTab();
  void CheckLoaded() const;
  void RefreshIfChanged();
  void BuildIndexList(int32_t k);
  TSearchKey MakeSearchKey(TFieldBuffers& key, int32_t k, int32_t fieldCount, bool partial);
  TSearchKey MakeRecordKey(int32_t k, int32_t recNo);
  // The key of index k of a plain record about to be written; blobs holds each blob field's plain
  // content (null for the others).
  TSearchKey MakeRowKey(int32_t k, const std::vector<uint8_t>& plain,
                        const std::vector<TMemoryStream*>& blobs);
  void DropBatch();
  // Whether index k's keys have order keys, and the order key of a key of index k.
  bool HasOrderKeys(int32_t k) const;
  void OrderKey(int32_t k, const TSearchKey& key, std::string& out) const;
  const TCachedKey& CachedKey(int32_t k, int32_t recNo);
  int32_t CompareKey(const TSearchKey& key, int32_t k, int32_t recNo);
  int32_t CompareSearchKeys(const TSearchKey& a, const TSearchKey& b, int32_t k) const;
  std::string KeyText(int32_t k, const TSearchKey& key) const;
  int32_t Search(const TSearchKey& key, const TRecordList& list, int32_t k, int32_t mode,
                 TKeySearchResult& result);
  int32_t FindInsertPosFor(const TSearchKey& key, int32_t k, const TRecordList& list);
  void CheckUnique(TFieldBuffers& buffers, int32_t modifyPosition);
  void DropCachedKeys(int32_t recNo);
  void StoreCachedKeys(int32_t recNo, const std::vector<uint8_t>& record);
  void PrepareStrings(TFieldBuffers& buffers) const;
  void EncodeSlot(const TFieldBufferItem& item, int32_t field, uint8_t* record);
  void WriteBlob(int32_t dataOffset, TMemoryStream& plain, TMemoryStream& stored, int32_t field);
  void VerifyBlob(int32_t dataOffset, TMemoryStream& plain, TMemoryStream& stored, int32_t field);
  // Writes stored bytes that were verified elsewhere into their area, compared byte for byte
  // when the database verifies its writes.
  void CopyBlobArea(int32_t dataOffset, TMemoryStream& stored);
  // The end of every write: a flush when asked for, else the durable mode's sync.
  void EndWrite(bool flush);

  // The steps of the writes (RadeTableWrite.cpp), in the order the operations take them.
  struct TAppendPlan;
  struct TRewritePlan;
  // Shared by single appends and batches: the record tab and the index tabs have a block for every
  // record; the caller's auto-increment item, when it holds a value; the counter after a record
  // whose auto-increment value is given (0 takes the next number); the plain record's non-blob
  // slots; the record as stored; the new last blocks linked from the existing last blocks; and,
  // after a sync, the record count that makes new records exist.
  void CheckTabsCoverRecords();
  TFieldBufferItem* AutoIncItem(TFieldBuffers& buffers) const;
  int32_t TakeAutoIncNumber(int32_t counter, int32_t given) const;
  void EncodePlainRecord(TFieldBuffers& buffers, std::vector<uint8_t>& plain);
  void EncryptSlots(const std::vector<uint8_t>& plain, std::vector<uint8_t>& stored);
  void LinkNewBlocks(int32_t existingBlocks, int32_t recordBlock,
                     const std::function<int32_t(int32_t)>& indexBlock);
  // firstIndexBlocks and firstHeads (per index) are written only for a table's first records.
  void WriteRecordCount(int32_t count, int32_t counter, int32_t firstRecordBlock,
                        const std::vector<int32_t>& firstIndexBlocks, const std::vector<int32_t>& firstHeads);
  // An append.
  void NumberNewRecord(TFieldBuffers& buffers, TAppendPlan& a);
  void EncodeNewRecord(TFieldBuffers& buffers, TAppendPlan& a);
  void FindChainPlaces(TFieldBuffers& buffers, TAppendPlan& a);
  void WriteRecordAndBlobs(TAppendPlan& a);
  void WriteNewTabEntries(const TAppendPlan& a);
  void LinkPredecessors(const TAppendPlan& a);
  void AddAppendedToLists(const TAppendPlan& a, const TOnIndexInsert& onIndexInsert);
  // A modify (the first two a delete's as well).
  int32_t RecNoAtPosition(int32_t position);
  int32_t FindRecordAgain(int32_t position, int32_t recNo);
  void EncodeRewrittenRecord(TFieldBuffers& buffers, TRewritePlan& r);
  void PlaceRewrittenBlob(TFieldBufferItem* item, int32_t field, uint8_t* slot, TRewritePlan& r);
  void PlaceStagingCopies(TRewritePlan& r);
  void WriteBlobsAndCounter(TRewritePlan& r);
  void WriteRewrittenRecord(TRewritePlan& r);
  void RelinkRewrittenRecord(int32_t position, int32_t recNo, const TOnIndexMove& onIndexMove);
  void UnlinkFromChain(int32_t k, int32_t recNo, int32_t listPos, const TRecordList& list);
  void LinkIntoChain(int32_t k, int32_t recNo, int32_t listPos, const TRecordList& list);
  void WriteIndexEntry(int32_t k, int32_t recNo, int32_t next);
  TIndexTabItem ReadIndexEntry(int32_t k, int32_t recNo);
  void WriteHeader();
  void CountChange();
  void CheckWritable() const;

  TRadeZIFileIO& io_;
  int32_t useCount_ = 0;
  std::string tableName_;
  int32_t tableNumber_ = -1;
  TRadeFieldDefs fieldDefs_;
  TRadeIndexDefs indexDefs_;
  int32_t recordSize_ = 0;
  TIntegerAry slotOffsets_;
  TIntegerAry slotSizes_;
  int32_t autoIncField_ = -1;
  TTableHeader header_;
  TRecordTabItems recordTab_;
  TIntegerAry recordTabBlocks_;
  bool recordTabLoaded_ = false;
  std::vector<TIntegerAry> indexTabBlocks_;
  std::vector<std::unique_ptr<TRecordList>> recordLists_;
  std::vector<bool> rebuilt_;
  std::vector<std::unique_ptr<TKeyCache>> keyCaches_;
  bool stale_ = false;  // a write failed part way: reload before the next write
  std::unique_ptr<TBatch> batch_;
};

}  // namespace lanqi
