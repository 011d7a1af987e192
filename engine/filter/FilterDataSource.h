// What a filter needs of the dataset it belongs to. The table dataset implements it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/FieldTypes.h"

namespace lanqi {

// A field as the filter sees it.
struct TFilterField {
  TFieldType DataType = ftUnknown;
  bool IsBlob = false;
  int32_t FieldIndex = -1;  // position in the dataset's field list
  // Bytes of a non-blob field's value in the record buffer; bounds the read of a string whose
  // slot is full (0: read up to the zero byte).
  int32_t DataSize = 0;
};

class TFilterDataSource {
 public:
  virtual ~TFilterDataSource() = default;
  // The field of that name; a name that is no field raises the dataset's "Field '%s' not found".
  virtual TFilterField FilterFieldByName(const std::string& name) = 0;
  // The record buffer of the current state (the filter buffer during a filtering pass), or null
  // when there is none.
  virtual const uint8_t* ActiveRecordBuffer() = 0;
  // Offset of a non-blob field's value inside a record buffer.
  virtual int32_t FieldOffset(int32_t fieldIndex) = 0;
  // The current record's content of a blob field as text, into text (reused between calls).
  virtual void BlobFieldText(int32_t fieldIndex, std::string& text) = 0;
};

}  // namespace lanqi
