#include "engine/dataset/Fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/dataset/DataSet.h"
#include "engine/storage/FileFormat.h"
#include "platform/Collation.h"
#include "rtl/AnsiText.h"
#include "rtl/Exceptions.h"
#include "rtl/NumText.h"

namespace lanqi {

int32_t FieldDataSize(TFieldType type, int32_t size) {
  // Texts carry their terminator (also the wide and GUID types the file refuses); blobs live in
  // their streams, not in the buffer; every fixed type takes its stored slot size.
  if (IsStringType(type)) return size + 1;
  if (IsBlobType(type)) return 0;
  return std::max<int32_t>(FieldSlotSize(type, size), 0);
}

TField::TField(TDataSet* dataSet, const std::string& fieldName, TFieldType type, int32_t size,
               TFieldKind kind)
    : dataSet_(dataSet),
      fieldName_(fieldName),
      dataType_(type),
      size_(size),
      kind_(kind),
      dataSize_(FieldDataSize(type, size)) {}

bool TField::GetData(void* dest) {
  return dataSet_ && dataSet_->ReadFieldValue(this, dest);
}

void TField::SetData(const void* source) {
  if (!dataSet_) return;
  TDataSetState s = dataSet_->State();
  if (s == dsBrowse || s == dsInactive) {
    if (s == dsInactive) dataSet_->CheckActive();
    DatabaseError("Dataset not in edit or insert mode", dataSet_->Name());
  }
  dataSet_->WriteFieldValue(this, source);
}

bool TField::ReadBytes(std::vector<uint8_t>& bytes) {
  bytes.assign(static_cast<size_t>(std::max(DataSize(), 8)), 0);
  return GetData(bytes.data());
}

void TField::AccessError(const char* typeName) const {
  DatabaseError(Format("Field '%s' cannot be read or written as type %s", fieldName_.c_str(), typeName));
}

std::string TField::AsString() {
  AccessError("String");
}
void TField::SetAsString(const std::string&) {
  AccessError("String");
}
int32_t TField::AsInteger() {
  AccessError("Integer");
}
void TField::SetAsInteger(int32_t) {
  AccessError("Integer");
}
int64_t TField::AsLargeInt() {
  return AsInteger();
}
void TField::SetAsLargeInt(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) AccessError("Largeint");
  SetAsInteger(static_cast<int32_t>(v));
}
double TField::AsFloat() {
  AccessError("Float");
}
void TField::SetAsFloat(double) {
  AccessError("Float");
}
bool TField::AsBoolean() {
  AccessError("Boolean");
}
void TField::SetAsBoolean(bool) {
  AccessError("Boolean");
}
TDateTime TField::AsDateTime() {
  AccessError("DateTime");
}
void TField::SetAsDateTime(TDateTime) {
  AccessError("DateTime");
}
Variant TField::AsVariant() {
  AccessError("Variant");
}
void TField::SetAsVariant(const Variant&) {
  AccessError("Variant");
}

// ---- strings

std::string TStringField::IntToText(int64_t v) {
  return IntToStr(v);
}

std::string TStringField::AsString() {
  std::vector<uint8_t>& b = ReadBuffer();
  if (!ReadBytes(b)) return {};
  size_t n = static_cast<size_t>(DataSize());
  const char* p = reinterpret_cast<const char*>(b.data());
  return std::string(p, strnlen(p, n));
}

void TStringField::SetAsString(const std::string& v) {
  std::vector<uint8_t> b(static_cast<size_t>(DataSize()), 0);
  size_t n = std::min(v.size(), static_cast<size_t>(Size()));
  // A zero byte inside the text ends it, as it would in the slot.
  n = strnlen(v.data(), n);
  std::memcpy(b.data(), v.data(), n);
  SetData(b.data());
}

int32_t TStringField::AsInteger() {
  return StrToInt(AsString());
}
int64_t TStringField::AsLargeInt() {
  return StrToInt64(AsString());
}
double TStringField::AsFloat() {
  return StrToFloat(AsString());
}
void TStringField::SetAsFloat(double v) {
  SetAsString(FloatToStr(v));
}

bool TStringField::AsBoolean() {
  std::string s = Trim(AsString());
  if (SameTextAnsi(s, "True") || SameTextAnsi(s, "T") || SameTextAnsi(s, "Y") || SameTextAnsi(s, "Yes"))
    return true;
  if (SameTextAnsi(s, "False") || SameTextAnsi(s, "F") || SameTextAnsi(s, "N") || SameTextAnsi(s, "No") ||
      s.empty())
    return false;
  throw EConvertError(Format("'%s' is not a valid boolean value", s.c_str()));
}

TDateTime TStringField::AsDateTime() {
  return StrToDateTime(AsString());
}
void TStringField::SetAsDateTime(TDateTime v) {
  SetAsString(DateTimeToStr(v));
}

Variant TStringField::AsVariant() {
  if (IsNull()) return Variant::Null();
  return Variant(AsString());
}

void TStringField::SetAsVariant(const Variant& v) {
  if (v.IsClear())
    Clear();
  else
    SetAsString(v.AsString());
}

// ---- integers

int64_t TIntegerField::AsLargeInt() {
  std::vector<uint8_t>& b = ReadBuffer();
  if (!ReadBytes(b)) return 0;
  switch (DataType()) {
    case ftSmallint: {
      int16_t v;
      std::memcpy(&v, b.data(), 2);
      return v;
    }
    case ftWord: {
      uint16_t v;
      std::memcpy(&v, b.data(), 2);
      return v;
    }
    case ftLargeint: {
      int64_t v;
      std::memcpy(&v, b.data(), 8);
      return v;
    }
    default: {
      int32_t v;
      std::memcpy(&v, b.data(), 4);
      return v;
    }
  }
}

int32_t TIntegerField::AsInteger() {
  int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) AccessError("Integer");
  return static_cast<int32_t>(v);
}

void TIntegerField::SetAsLargeInt(int64_t v) {
  uint8_t b[8] = {};
  auto range = [&](int64_t lo, int64_t hi) {
    if (v < lo || v > hi)
      throw EDatabaseError(
          Format("%lld is not a valid value for field '%s'. The allowed range is %lld to %lld",
                 static_cast<long long>(v), FieldName().c_str(), static_cast<long long>(lo),
                 static_cast<long long>(hi)));
  };
  switch (DataType()) {
    case ftSmallint: {
      range(INT16_MIN, INT16_MAX);
      int16_t x = static_cast<int16_t>(v);
      std::memcpy(b, &x, 2);
      break;
    }
    case ftWord: {
      range(0, UINT16_MAX);
      uint16_t x = static_cast<uint16_t>(v);
      std::memcpy(b, &x, 2);
      break;
    }
    case ftLargeint:
      std::memcpy(b, &v, 8);
      break;
    default: {
      range(INT32_MIN, INT32_MAX);
      int32_t x = static_cast<int32_t>(v);
      std::memcpy(b, &x, 4);
      break;
    }
  }
  SetData(b);
}

std::string TIntegerField::AsString() {
  return IntToStr(AsLargeInt());
}

void TIntegerField::SetAsString(const std::string& v) {
  if (Trim(v).empty()) {
    Clear();
    return;
  }
  SetAsLargeInt(DataType() == ftLargeint ? StrToInt64(v) : StrToInt(v));
}

void TIntegerField::SetAsFloat(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 9.2e18) AccessError("Float");
  SetAsLargeInt(static_cast<int64_t>(std::llround(v)));
}

Variant TIntegerField::AsVariant() {
  if (IsNull()) return Variant::Null();
  if (DataType() == ftLargeint) return Variant(AsLargeInt());
  return Variant(static_cast<int32_t>(AsLargeInt()));
}

void TIntegerField::SetAsVariant(const Variant& v) {
  if (v.IsClear())
    Clear();
  else if (DataType() == ftLargeint)
    SetAsLargeInt(v.AsInt64());
  else
    SetAsLargeInt(v.AsInteger());
}

// ---- Booleans

bool TBooleanField::AsBoolean() {
  std::vector<uint8_t>& b = ReadBuffer();
  if (!ReadBytes(b)) return false;
  return b[0] != 0 || b[1] != 0;
}

void TBooleanField::SetAsBoolean(bool v) {
  uint8_t b[2] = {static_cast<uint8_t>(v ? 1 : 0), 0};
  SetData(b);
}

std::string TBooleanField::AsString() {
  if (IsNull()) return {};
  return AsBoolean() ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& v) {
  std::string s = Trim(v);
  if (s.empty()) {
    Clear();
    return;
  }
  if (SameTextAnsi(s, "True") || SameTextAnsi(s, "T") || SameTextAnsi(s, "Y") || SameTextAnsi(s, "Yes"))
    SetAsBoolean(true);
  else if (SameTextAnsi(s, "False") || SameTextAnsi(s, "F") || SameTextAnsi(s, "N") || SameTextAnsi(s, "No"))
    SetAsBoolean(false);
  else
    throw EConvertError(Format("'%s' is not a valid boolean value", v.c_str()));
}

Variant TBooleanField::AsVariant() {
  if (IsNull()) return Variant::Null();
  return Variant(AsBoolean());
}

void TBooleanField::SetAsVariant(const Variant& v) {
  if (v.IsClear())
    Clear();
  else
    SetAsBoolean(v.AsBoolean());
}

// ---- floating point

double TFloatField::AsFloat() {
  std::vector<uint8_t>& b = ReadBuffer();
  if (!ReadBytes(b)) return 0;
  double v;
  std::memcpy(&v, b.data(), 8);
  return v;
}

void TFloatField::SetAsFloat(double v) {
  uint8_t b[8];
  std::memcpy(b, &v, 8);
  SetData(b);
}

int32_t TFloatField::AsInteger() {
  double v = AsFloat();
  if (!std::isfinite(v) || v < INT32_MIN || v > INT32_MAX) AccessError("Integer");
  return static_cast<int32_t>(std::lround(v));
}

int64_t TFloatField::AsLargeInt() {
  double v = AsFloat();
  if (!std::isfinite(v) || std::fabs(v) > 9.2e18) AccessError("Largeint");
  return static_cast<int64_t>(std::llround(v));
}

std::string TFloatField::AsString() {
  if (IsNull()) return {};
  return FloatToStr(AsFloat());
}

void TFloatField::SetAsString(const std::string& v) {
  if (Trim(v).empty()) {
    Clear();
    return;
  }
  SetAsFloat(StrToFloat(v));
}

Variant TFloatField::AsVariant() {
  if (IsNull()) return Variant::Null();
  return Variant(AsFloat());
}

void TFloatField::SetAsVariant(const Variant& v) {
  if (v.IsClear())
    Clear();
  else
    SetAsFloat(v.AsFloat());
}

// ---- dates and times

TDateTime TDateTimeField::AsDateTime() {
  std::vector<uint8_t>& b = ReadBuffer();
  if (!ReadBytes(b)) return 0;
  double dt = 0;
  DataSet()->ConvertNativeValue(this, b.data(), &dt, false);
  return dt;
}

void TDateTimeField::SetAsDateTime(TDateTime v) {
  uint8_t b[8] = {};
  DataSet()->ConvertNativeValue(this, &v, b, true);
  SetData(b);
}

std::string TDateTimeField::AsString() {
  if (IsNull()) return {};
  TDateTime v = AsDateTime();
  switch (DataType()) {
    case ftDate:
      return DateToStr(v);
    case ftTime:
      return TimeToStr(v);
    default:
      return DateTimeToStr(v);
  }
}

void TDateTimeField::SetAsString(const std::string& v) {
  if (Trim(v).empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(v));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(v));
      break;
    default:
      SetAsDateTime(StrToDateTime(v));
      break;
  }
}

Variant TDateTimeField::AsVariant() {
  if (IsNull()) return Variant::Null();
  return Variant::FromDateTime(AsDateTime());
}

void TDateTimeField::SetAsVariant(const Variant& v) {
  if (v.IsClear())
    Clear();
  else
    SetAsDateTime(v.AsDateTime());
}

// ---- blobs

std::string TBlobField::AsString() {
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmRead);
  if (!s) return {};
  std::string out(static_cast<size_t>(s->Size()), '\0');
  s->SetPosition(0);
  if (!out.empty()) s->ReadBuffer(out.data(), static_cast<int32_t>(out.size()));
  return out;
}

void TBlobField::SetAsString(const std::string& v) {
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
  if (s && !v.empty()) s->WriteBuffer(v.data(), static_cast<int32_t>(v.size()));
}

Variant TBlobField::AsVariant() {
  return Variant(AsString());
}

void TBlobField::SetAsVariant(const Variant& v) {
  SetAsString(v.IsClear() ? std::string() : v.AsString());
}

void TBlobField::Modified() {
  if (DataSet()) DataSet()->DataEvent(deFieldChange, this);
}

std::unique_ptr<TField> CreateFieldObject(TDataSet* dataSet, const std::string& name, TFieldType type,
                                          int32_t size, TFieldKind kind) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid:
      return std::make_unique<TStringField>(dataSet, name, type, size, kind);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return std::make_unique<TIntegerField>(dataSet, name, type, 0, kind);
    case ftBoolean:
      return std::make_unique<TBooleanField>(dataSet, name, type, 0, kind);
    case ftFloat:
    case ftCurrency:
      return std::make_unique<TFloatField>(dataSet, name, type, 0, kind);
    case ftDate:
    case ftTime:
    case ftDateTime:
      return std::make_unique<TDateTimeField>(dataSet, name, type, 0, kind);
    default:
      if (IsBlobType(type)) return std::make_unique<TBlobField>(dataSet, name, type, 0, kind);
      return std::make_unique<TField>(dataSet, name, type, size, kind);
  }
}

}  // namespace lanqi
