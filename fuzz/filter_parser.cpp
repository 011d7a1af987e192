// Filter texts against a fixed set of fields: tokenizer, parser and, when the text parses, the
// evaluator over two records (all zero, and bytes taken from the input).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/filter/FilterDataSource.h"
#include "engine/filter/FilterParser.h"
#include "engine/values/FilterValues.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

struct FuzzField {
  const char* name;
  TFieldType type;
  int32_t size;
};

const FuzzField kFields[] = {
    {"Name", ftString, 21},   {"Code", ftFixedChar, 9}, {"Age", ftInteger, 4},   {"Small", ftSmallint, 2},
    {"W", ftWord, 2},         {"Id", ftAutoInc, 4},     {"Big", ftLargeint, 8},  {"Price", ftFloat, 8},
    {"Cost", ftCurrency, 8},  {"Active", ftBoolean, 2}, {"HireDate", ftDate, 4}, {"T", ftTime, 4},
    {"Stamp", ftDateTime, 8}, {"Notes", ftMemo, 0},     {"x", ftInteger, 4},
};

class TFuzzRecord : public TFilterDataSource {
 public:
  TFuzzRecord() {
    int32_t offset = 0;
    for (const FuzzField& f : kFields) {
      offsets_.push_back(offset);
      offset += f.size;
    }
    buffer_.resize(static_cast<size_t>(offset), 0);
  }
  void Fill(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < buffer_.size(); ++i) buffer_[i] = size == 0 ? 0 : data[i % size];
    notes_.assign(reinterpret_cast<const char*>(data), size < 40 ? size : 40);
  }
  void Zero() {
    std::fill(buffer_.begin(), buffer_.end(), 0);
    notes_.clear();
  }

  TFilterField FilterFieldByName(const std::string& name) override {
    for (size_t i = 0; i < std::size(kFields); ++i)
      if (name == kFields[i].name)
        return TFilterField{kFields[i].type, IsBlobType(kFields[i].type), static_cast<int32_t>(i),
                            kFields[i].size};
    throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
  }
  const uint8_t* ActiveRecordBuffer() override { return buffer_.data(); }
  int32_t FieldOffset(int32_t fieldIndex) override { return offsets_[static_cast<size_t>(fieldIndex)]; }
  void BlobFieldText(int32_t, std::string& text) override { text = notes_; }

 private:
  std::vector<int32_t> offsets_;
  std::vector<uint8_t> buffer_;
  std::string notes_;
};

}  // namespace
}  // namespace lanqi

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lanqi;
  static bool ready = [] {
    SetSystemCodePage(936);
    SetCollationLocale("en_US");
    return true;
  }();
  (void)ready;
  static TFuzzRecord record;
  static TFilterParser parser(&record);
  static bool clockSet = [] {
    parser.SetClock([] { return 63900000000000.0; });
    return true;
  }();
  (void)clockSet;

  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    parser.Parse(text);
  } catch (const Exception&) {
    return 0;
  }
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 0)
      record.Zero();
    else
      record.Fill(data, size);
    for (uint8_t options = 0; options < 4; ++options) {
      try {
        parser.Evaluate(options);
      } catch (const Exception&) {
      }
    }
  }
  return 0;
}
