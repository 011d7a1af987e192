// The one helper through which the little-endian packed structures of the database file are read
// and written, field by field. Nothing casts a struct over file bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/ByteOrder.h"

namespace lanqi {

class TByteBuffer {
 public:
  TByteBuffer() = default;
  explicit TByteBuffer(size_t size) : data_(size, 0) {}

  uint8_t* Data() { return data_.data(); }
  const uint8_t* Data() const { return data_.data(); }
  size_t Size() const { return data_.size(); }
  void Zero() { std::fill(data_.begin(), data_.end(), uint8_t{0}); }

  uint8_t GetUInt8(size_t off) const { return data_[off]; }
  int32_t GetInt32(size_t off) const { return LoadInt32(data_.data() + off); }
  int64_t GetInt64(size_t off) const { return LoadInt64(data_.data() + off); }
  // The bytes of a fixed text field up to its first zero byte (the whole field when it has none).
  std::string GetText(size_t off, size_t width) const { return LoadText(data_.data() + off, width); }

  void PutUInt8(size_t off, uint8_t v) { data_[off] = v; }
  void PutInt32(size_t off, int32_t v) { StoreInt32(data_.data() + off, v); }
  void PutInt64(size_t off, int64_t v) { StoreInt64(data_.data() + off, v); }
  // Text cut to width - 1 bytes, a zero byte, zeros to the end of the field.
  void PutText(size_t off, size_t width, std::string_view text) {
    StoreText(data_.data() + off, width, text);
  }
  void PutBytes(size_t off, const void* src, size_t n) {
    if (n) std::memcpy(data_.data() + off, src, n);
  }

  // The same conversions on raw memory, for record slots and the hot paths.
  static int16_t LoadInt16(const uint8_t* p) { return static_cast<int16_t>(LoadLE16(p)); }
  static int32_t LoadInt32(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }
  static int64_t LoadInt64(const uint8_t* p) { return static_cast<int64_t>(LoadLE64(p)); }
  static double LoadDouble(const uint8_t* p) {
    uint64_t u = static_cast<uint64_t>(LoadInt64(p));
    double d;
    std::memcpy(&d, &u, 8);
    return d;
  }
  static std::string LoadText(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
  }
  static void StoreInt16(uint8_t* p, int16_t v) { StoreLE16(p, static_cast<uint16_t>(v)); }
  static void StoreInt32(uint8_t* p, int32_t v) { StoreLE32(p, static_cast<uint32_t>(v)); }
  static void StoreInt64(uint8_t* p, int64_t v) { StoreLE64(p, static_cast<uint64_t>(v)); }
  static void StoreDouble(uint8_t* p, double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    StoreInt64(p, static_cast<int64_t>(u));
  }
  static void StoreText(uint8_t* p, size_t width, std::string_view text) {
    if (width == 0) return;
    size_t n = std::min(text.size(), width - 1);
    if (n) std::memcpy(p, text.data(), n);
    std::memset(p + n, 0, width - n);
  }

 private:
  std::vector<uint8_t> data_;
};

}  // namespace lanqi
