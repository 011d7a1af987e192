// The one comparison of two values of one field type, shared by filters and index keys.
#pragma once

#include <cstdint>

#include "engine/FieldTypes.h"

namespace lanqi {

// Compares the key value (first) with the record value (second), both in record-buffer form
// (the slot format: strings NUL-terminated within their size, integers and doubles little-endian;
// for blob types the blob's bytes). Returns -1, 0 or 1: the sign of (key - record) under the
// evaluator's rules: locale collation for strings (ignoring case on request; a partial compare of
// a string type compares only as many leading characters as the key has), numbers by value,
// Booleans by their first byte, times and date-times less than 1000 ms apart equal.
int CompareValues(const void* key, int32_t keySize, const void* record, int32_t recordSize,
                  TFieldType fieldType, bool partial, bool caseInsensitive);

}  // namespace lanqi
