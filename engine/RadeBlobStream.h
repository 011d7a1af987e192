// Blob streams: TOptimBlobStream holds a blob field's content inside a record buffer and reads it
// from the file only when first used; TRadeBlobStream is what a caller reads or writes a blob
// field of the current record through.
#pragma once

#include <cstdint>

#include "engine/dataset/DataSet.h"
#include "engine/storage/FieldBuffers.h"
#include "rtl/Streams.h"

namespace lanqi {

class TRDEDataSet;
class TRadeTable;

class TOptimBlobStream : public TStorageBlobStream {
 public:
  explicit TOptimBlobStream(TRDEDataSet* ownerDataSet) : ownerDataSet_(ownerDataSet) {}
  TRDEDataSet* OwnerDataSet() const { return ownerDataSet_; }

 private:
  TRDEDataSet* ownerDataSet_;
};

class TRadeBlobStream : public TMemoryStream {
 public:
  // "Invalid class typecast" when the field's dataset is not a table.
  TRadeBlobStream(TField* field, TBlobStreamMode mode);

  int32_t Write(const void* buffer, int32_t count) override;

  TField* Field() const { return field_; }
  TRadeTable* Table() const { return table_; }
  int32_t FieldNumber() const { return fieldNumber_; }
  TBlobStreamMode Mode() const { return mode_; }
  bool Opened() const { return opened_; }
  bool Modified() const { return modified_; }

 private:
  void WriteBack();
  void MarkFieldModified();

  TField* field_;
  TRadeTable* table_;
  int32_t fieldNumber_;
  TBlobStreamMode mode_;
  bool opened_ = false;
  bool modified_ = false;
};

}  // namespace lanqi
