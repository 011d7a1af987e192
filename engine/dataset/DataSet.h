// The generic dataset: states, the current record buffer, Bof/Eof, navigation, bookmarks, field
// objects, editing with its events and error retry, find by filter, and the notifications that
// data sources pass on. It keeps one current buffer (no display window); the engine supplies the
// record operations through the protected virtual operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/dataset/Fields.h"
#include "rtl/Component.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"
#include "rtl/Variant.h"

namespace lanqi {

class TDataSource;

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue
};
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction : uint8_t { daFail, daAbort, daRetry };
enum TBlobStreamMode : uint8_t { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deConnectChange,
};

// One record as the dataset holds it; the engine decides the layout.
class TRecordBuffer {
 public:
  explicit TRecordBuffer(size_t size) : Data(size, 0) {}
  virtual ~TRecordBuffer() = default;
  uint8_t* Bytes() { return Data.data(); }
  std::vector<uint8_t> Data;
};

// Bookmark bytes (the engine's record number).
using TBookmark = std::string;

// The host application's handler for an error that no caller can receive, such as one raised
// while a dataset is being destroyed. The desktop program shows it as it shows any error its
// handlers let through; without a handler the text goes to standard error. EAbort is silent and
// never reaches it.
using TApplicationExceptionHook = std::function<void(const std::exception& e)>;
// An empty hook restores the default.
void SetApplicationExceptionHook(TApplicationExceptionHook hook);
void HandleApplicationException(const std::exception& e);

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return Active() && !hasRecord_ && state_ != dsInsert; }
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  virtual int32_t RecordCount() { return 0; }
  virtual int32_t RecNo() { return -1; }
  virtual void SetRecNo(int32_t) {}

  TBookmark Bookmark();
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  void Refresh();

  void Append();
  void Insert();
  void Edit();
  virtual void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  // Adds a record from values (one per field object, in field order; fewer leave the rest).
  void AppendRecord(const std::vector<Variant>& values) { AddRecordFromValues(values, true); }
  bool Modified() const { return modified_; }

  // Field objects in dataset order.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int i) const { return fields_.at(static_cast<size_t>(i)).get(); }
  TField* FindField(const std::string& name) const;
  // "Field '%s' not found", prefixed with the dataset's name.
  TField* FieldByName(const std::string& name) const;
  // Resolves "F1;F2" into field objects (FieldByName for each).
  std::vector<TField*> FieldList(const std::string& names) const;
  // A persistent field object, made before open and kept at close (calculated fields included).
  TField* CreateField(const std::string& name, TFieldType type, int32_t size = 0, TFieldKind kind = fkData);
  std::vector<TFieldDef>& FieldDefs() { return fieldDefs_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool v) { autoCalcFields_ = v; }
  int32_t CalcFieldsSize() const { return calcFieldsSize_; }

  // Filtering; the engine overrides the writes.
  const std::string& Filter() const { return filterText_; }
  virtual void SetFilter(const std::string& text) { filterText_ = text; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  TFilterOptions FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(TFilterOptions options) { filterOptions_ = options; }
  bool FindFirst() { return FindMatchingRecord(true, true); }
  bool FindLast() { return FindMatchingRecord(true, false); }
  bool FindNext() { return FindMatchingRecord(false, true); }
  bool FindPrior() { return FindMatchingRecord(false, false); }
  bool Found() const { return found_; }

  virtual bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
  virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields);
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // The data source this dataset follows as a detail, if any (for the circular-link test).
  virtual TDataSource* LinkedSource() const { return nullptr; }
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  // Passes a notification to the data sources; a field change also marks the record modified.
  void DataEvent(TDataEvent event, TField* field = nullptr);

  // Field value access in the current state's buffer (engine).
  virtual TRecordBuffer* ActiveRecordBuffer();
  virtual bool ReadFieldValue(TField* field, void* destination);
  virtual void WriteFieldValue(TField* field, const void* source);
  // Date and time slot conversion: toNative from a TDateTime (double) to the slot, else back.
  virtual void ConvertNativeValue(TField* field, const void* source, void* destination, bool toNative);
  // Computes the calculated fields of buffer with OnCalcFields.
  void ComputeCalcFields(TRecordBuffer* buffer);
  TRecordBuffer* CurrentBuffer() const { return activeBuffer_.get(); }
  // Raises "Cannot perform this operation on a closed dataset" (prefixed) when closed.
  void CheckActive() const;
  void CheckInactive() const;

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll,
      AfterScroll, BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  TFilterRecordEvent OnFilterRecord;

 protected:
  // The engine's operations, in the order the engine supplies them.
  virtual void AcquireCursor();
  virtual void ReleaseCursor();
  virtual void AfterOpenStep();
  virtual bool FindMatchingRecord(bool restart, bool goForward);
  virtual bool CanModify() { return false; }
  virtual void RefreshView() {}
  virtual std::unique_ptr<TRecordBuffer> AllocateRecordBuffer();
  virtual void ReleaseRecordBuffer(std::unique_ptr<TRecordBuffer>& buffer) { buffer.reset(); }
  virtual void ReadBookmark(TRecordBuffer* buffer, uint8_t* destination);
  virtual TBookmarkFlag ReadBookmarkFlag(TRecordBuffer* buffer);
  virtual uint16_t StoredRecordSize() { return 0; }
  virtual void AddRecordFromBuffer(TRecordBuffer* buffer, bool append);
  virtual void DeleteCurrent() {}
  virtual void MoveBeforeFirst() {}
  virtual void GotoBookmark(const uint8_t* bookmark);
  virtual void InitNewRecord(TRecordBuffer* buffer);
  virtual void MoveAfterLast() {}
  virtual void PostBuffer() {}
  // Brings the current record, about to be edited, into buffer as the engine holds it.
  virtual void StartEdit(TRecordBuffer*) {}
  virtual void SyncToBuffer(TRecordBuffer* buffer);
  virtual void WriteBookmarkFlag(TRecordBuffer* buffer, TBookmarkFlag flag);
  virtual void WriteBookmark(TRecordBuffer* buffer, const uint8_t* bookmark);
  virtual TGetResult FetchRecord(TRecordBuffer* buffer, TGetMode mode, bool report);
  virtual void CloseTable() {}
  // Hands an error no caller can receive to the application's handler.
  virtual void ReportException(const std::exception& e);
  virtual void LoadFieldDefs() {}
  virtual void OpenTable() {}
  virtual bool IsOpen() { return false; }
  virtual bool BookmarkValid(const uint8_t* bookmark);

  // Helpers for the engine.
  void SetState(TDataSetState s) { state_ = s; }
  void SetFilterTextValue(const std::string& text) { filterText_ = text; }
  void SetFilteredValue(bool v) { filtered_ = v; }
  void SetFilterOptionsValue(TFilterOptions v) { filterOptions_ = v; }
  void SetFound(bool v) { found_ = v; }
  // Field objects from FieldDefs when there are no persistent ones, then the calculated layout.
  void CreateFields();
  void BindFields();
  void DestroyFields();
  bool HasPersistentFields() const;
  // Brings the engine cursor to the current record (per the buffer's bookmark flag).
  void UpdateCursorPos();
  // Fetches the record at the engine cursor again into the current buffer (or a neighbour).
  void Resync();
  // The scratch buffer (Locate and Lookup).
  TRecordBuffer* TempBuffer() const { return tempBuffer_.get(); }
  void SetTempState(TDataSetState s, TRecordBuffer* calcBuffer = nullptr);
  void RestoreState(TDataSetState s) { state_ = s; }
  void DoBeforeScroll() {
    if (BeforeScroll) BeforeScroll(this);
  }
  void DoAfterScroll() {
    if (AfterScroll) AfterScroll(this);
  }
  void ClearCalcFields(TRecordBuffer* buffer);
  // Closes without the close events (destruction, disconnect).
  void CloseSilently();
  // The same for a dataset being destroyed: no caller is left to receive an error, so it goes to
  // ReportException.
  void CloseOnDestroy();
  // Offset of the calculated-field area in a buffer (the engine decides).
  virtual int32_t CalcFieldsOffset() const { return 0; }
  void RunWithRetry(const std::function<void()>& operation, const TDataSetErrorEvent& onError);
  [[noreturn]] void Error(const std::string& message) const { DatabaseError(message, Name()); }

 private:
  void OpenCursorAndBuffers();
  void CloseCursorAndBuffers();
  void StartInsert(bool append);
  void AddRecordFromValues(const std::vector<Variant>& values, bool append);
  void CheckCanModify();

  TDataSetState state_ = dsInactive;
  bool bof_ = true;
  bool eof_ = true;
  bool hasRecord_ = false;
  bool modified_ = false;
  bool found_ = false;
  bool autoCalcFields_ = true;
  bool closing_ = false;
  std::unique_ptr<TRecordBuffer> activeBuffer_;
  std::unique_ptr<TRecordBuffer> tempBuffer_;
  TRecordBuffer* calcBuffer_ = nullptr;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TFieldDef> fieldDefs_;
  int32_t calcFieldsSize_ = 0;
  std::string filterText_;
  bool filtered_ = false;
  TFilterOptions filterOptions_;
  std::vector<TDataSource*> dataSources_;
  TBookmark insertReturn_;  // the record that was current when an insert started
};

}  // namespace lanqi
