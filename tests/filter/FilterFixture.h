// An in-memory record with named fields that a filter parser binds to.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/filter/FilterDataSource.h"
#include "engine/filter/FilterParser.h"
#include "engine/values/FilterValues.h"
#include "rtl/Exceptions.h"

namespace lanqi {

class TMemoryRecord : public TFilterDataSource {
 public:
  struct Field {
    std::string Name;
    TFieldType Type;
    int32_t Size;
    bool Blob;
    int32_t Offset;
  };

  // size: bytes of a string field's slot; other types take their own size; blobs none.
  int32_t AddField(const std::string& name, TFieldType type, int32_t size = 0) {
    Field f{name, type, 0, IsBlobType(type), -1};
    if (!f.Blob) {
      f.Size = TypeClass(type) == tcString ? size : ValueSizeOf(type);
      f.Offset = static_cast<int32_t>(buffer_.size());
      buffer_.resize(buffer_.size() + static_cast<size_t>(f.Size), 0);
    }
    fields_.push_back(f);
    return static_cast<int32_t>(fields_.size() - 1);
  }

  // The fields most tests use.
  static TMemoryRecord Standard();

  void Clear() {
    std::fill(buffer_.begin(), buffer_.end(), 0);
    blobs_.clear();
  }
  void Set(const std::string& name, int64_t v) {
    const Field& f = Find(name);
    uint8_t* p = buffer_.data() + f.Offset;
    switch (f.Type) {
      case ftSmallint:
      case ftWord:
      case ftBoolean:
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        break;
      case ftLargeint:
        StoreLE64(p, static_cast<uint64_t>(v));
        break;
      case ftFloat:
      case ftCurrency:
      case ftDateTime:
        StoreF64(p, static_cast<double>(v));
        break;
      default:
        StoreLE32(p, static_cast<uint32_t>(v));
    }
  }
  void SetFloat(const std::string& name, double v) { StoreF64(buffer_.data() + Find(name).Offset, v); }
  void SetText(const std::string& name, const std::string& text) {
    const Field& f = Find(name);
    if (f.Blob) {
      blobs_[IndexOf(name)] = text;
      return;
    }
    uint8_t* p = buffer_.data() + f.Offset;
    std::memset(p, 0, static_cast<size_t>(f.Size));
    std::memcpy(p, text.data(), std::min(text.size(), static_cast<size_t>(f.Size)));
  }

  // Lets a test take the buffer away, as a dataset without a current record has none.
  void SetHasBuffer(bool has) { hasBuffer_ = has; }
  std::vector<uint8_t>& Buffer() { return buffer_; }
  int BlobReads() const { return blobReads_; }

  TFilterField FilterFieldByName(const std::string& name) override {
    int32_t i = IndexOf(name);
    if (i < 0) throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
    return TFilterField{fields_[i].Type, fields_[i].Blob, i, fields_[i].Size};
  }
  const uint8_t* ActiveRecordBuffer() override { return hasBuffer_ ? buffer_.data() : nullptr; }
  int32_t FieldOffset(int32_t fieldIndex) override {
    return fields_.at(static_cast<size_t>(fieldIndex)).Offset;
  }
  void BlobFieldText(int32_t fieldIndex, std::string& text) override {
    ++blobReads_;
    auto it = blobs_.find(fieldIndex);
    text = it == blobs_.end() ? std::string() : it->second;
  }

 private:
  int32_t IndexOf(const std::string& name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
      if (SameAsciiName(fields_[i].Name, name)) return static_cast<int32_t>(i);
    return -1;
  }
  const Field& Find(const std::string& name) const {
    int32_t i = IndexOf(name);
    if (i < 0) throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
    return fields_[static_cast<size_t>(i)];
  }
  static bool SameAsciiName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
      if (x != y) return false;
    }
    return true;
  }

  std::vector<Field> fields_;
  std::vector<uint8_t> buffer_;
  std::map<int32_t, std::string> blobs_;
  bool hasBuffer_ = true;
  int blobReads_ = 0;
};

// Day numbers and date-times of the fixture's calendar.
int32_t Day(int year, int month, int day);
double Stamp(int year, int month, int day, int hour = 0, int min = 0, int sec = 0, int ms = 0);
constexpr int32_t Ms(int hour, int min, int sec = 0, int ms = 0) {
  return ((hour * 60 + min) * 60 + sec) * 1000 + ms;
}

// A parser on the record with a pinned clock (2026-12-10 10:00).
struct TFilterHarness {
  TMemoryRecord Record = TMemoryRecord::Standard();
  TFilterParser Parser{&Record};
  TFilterHarness() {
    Parser.SetClock([] { return Stamp(2026, 12, 10, 10, 0); });
  }
  bool Passes(const std::string& filter, TFilterOptions options = {}) {
    Parser.Parse(filter);
    return Parser.Evaluate(options);
  }
};

}  // namespace lanqi
