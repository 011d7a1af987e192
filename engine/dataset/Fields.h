// Field objects of a dataset, one class per value kind, with their text, number, date and variant
// conversions; the dataset's field and index descriptions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "rtl/DateTime.h"
#include "rtl/Variant.h"

namespace lanqi {

class TDataSet;

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

// The bytes of a field's value in a record buffer for a declared type and size.
int32_t FieldDataSize(TFieldType type, int32_t size);

class TField {
 public:
  TField(TDataSet* dataSet, const std::string& fieldName, TFieldType type, int32_t size, TFieldKind kind);
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return fieldName_; }
  TFieldType DataType() const { return dataType_; }
  // The declared size (text length for string types, 0 otherwise).
  int32_t Size() const { return size_; }
  // Bytes of the value in a record buffer.
  int32_t DataSize() const { return dataSize_; }
  TFieldKind FieldKind() const { return kind_; }
  bool Calculated() const { return kind_ != fkData; }
  bool IsBlob() const { return IsBlobType(dataType_); }
  // 1-based position in the table's field list; 0 for calculated fields.
  int32_t FieldNo() const { return fieldNo_; }
  void SetFieldNo(int32_t n) { fieldNo_ = n; }
  // Position in the dataset's field list.
  int32_t Index() const { return index_; }
  void SetIndex(int32_t i) { index_ = i; }
  // Offset of a calculated field's presence byte inside the calculated-field area.
  int32_t CalcOffset() const { return calcOffset_; }
  void SetCalcOffset(int32_t o) { calcOffset_ = o; }
  // Created by the caller before open (kept at close) rather than made from the definitions.
  bool Persistent() const { return persistent_; }
  void SetPersistent(bool p) { persistent_ = p; }

  // Copies the value in buffer form into dest (dest may be null to test presence).
  bool GetData(void* dest);
  // Stores the value from buffer form; null clears it.
  void SetData(const void* source);
  bool IsNull() { return !GetData(nullptr); }
  void Clear() { SetData(nullptr); }

  virtual std::string AsString();
  virtual void SetAsString(const std::string& v);
  virtual int32_t AsInteger();
  virtual void SetAsInteger(int32_t v);
  virtual int64_t AsLargeInt();
  virtual void SetAsLargeInt(int64_t v);
  virtual double AsFloat();
  virtual void SetAsFloat(double v);
  virtual bool AsBoolean();
  virtual void SetAsBoolean(bool v);
  virtual TDateTime AsDateTime();
  virtual void SetAsDateTime(TDateTime v);
  virtual Variant AsVariant();
  virtual void SetAsVariant(const Variant& v);
  Variant Value() { return AsVariant(); }
  void SetValue(const Variant& v) { SetAsVariant(v); }

 protected:
  [[noreturn]] void AccessError(const char* typeName) const;
  // Reads the value bytes into a local buffer; false when the field has no value.
  bool ReadBytes(std::vector<uint8_t>& bytes);
  // The buffer the typed reads pass to ReadBytes: kept, so that reading a field row after row
  // allocates nothing.
  std::vector<uint8_t>& ReadBuffer() { return readBuffer_; }

 private:
  TDataSet* dataSet_;
  std::string fieldName_;
  TFieldType dataType_;
  int32_t size_;
  TFieldKind kind_;
  int32_t dataSize_;  // the type and size never change
  int32_t fieldNo_ = 0;
  int32_t index_ = -1;
  int32_t calcOffset_ = 0;
  bool persistent_ = false;
  std::vector<uint8_t> readBuffer_;
};

// ftString and ftFixedChar: NUL-terminated code-page text, cut at the declared size.
class TStringField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t v) override { SetAsString(IntToText(v)); }
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t v) override { SetAsString(IntToText(v)); }
  double AsFloat() override;
  void SetAsFloat(double v) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool v) override { SetAsString(v ? "True" : "False"); }
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime v) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;

 private:
  static std::string IntToText(int64_t v);
};

// ftSmallint, ftInteger, ftWord, ftAutoInc and ftLargeint.
class TIntegerField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t v) override { SetAsLargeInt(v); }
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() override { return static_cast<double>(AsLargeInt()); }
  void SetAsFloat(double v) override;
  bool AsBoolean() override { return AsLargeInt() != 0; }
  void SetAsBoolean(bool v) override { SetAsLargeInt(v ? 1 : 0); }
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;
};

class TBooleanField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool v) override;
  int32_t AsInteger() override { return AsBoolean() ? 1 : 0; }
  void SetAsInteger(int32_t v) override { SetAsBoolean(v != 0); }
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;
};

// ftFloat and ftCurrency.
class TFloatField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  double AsFloat() override;
  void SetAsFloat(double v) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t v) override { SetAsFloat(v); }
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t v) override { SetAsFloat(static_cast<double>(v)); }
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;
};

// ftDate, ftTime and ftDateTime; the slot form is the dataset's (ConvertNativeValue).
class TDateTimeField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime v) override;
  double AsFloat() override { return AsDateTime(); }
  void SetAsFloat(double v) override { SetAsDateTime(v); }
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;
};

// Blob types: contents only through blob streams; plain value access fails with "General error".
class TBlobField : public TField {
 public:
  using TField::TField;
  std::string AsString() override;
  void SetAsString(const std::string& v) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& v) override;
  // Marks the record modified after a blob stream changed the content.
  void Modified();
};

// Makes the field object for a type.
std::unique_ptr<TField> CreateFieldObject(TDataSet* dataSet, const std::string& name, TFieldType type,
                                          int32_t size, TFieldKind kind);

// The dataset's description of one table field.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;
  bool Required = false;
  int32_t FieldNo = 0;
};

// The dataset's description of one index: the field names joined by commas (a name holding a
// space, comma or double quote in double quotes) and the option bits.
struct TIndexDef {
  std::string Name;
  std::string Fields;
  TRDIndexOptions Options;
};

}  // namespace lanqi
