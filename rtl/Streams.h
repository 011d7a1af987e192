// Byte streams: the abstract TStream, the growable TMemoryStream.
// The file stream with sharing modes lives in platform/FileStream.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lanqi {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Transfers up to count bytes; returns how many were moved (0 at the end).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t newSize) = 0;

  // Exact transfers: a short read raises EReadError, a short write EWriteError.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  // Copies count bytes from source's current position (count 0: all of source from its start).
  // Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(size_); }
  void SetSize(int64_t newSize) override;

  // Empties the stream and puts the position at 0 (streams that load lazily mark themselves loaded).
  virtual void Clear();
  // The bytes of the stream; valid until the next write or resize.
  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  std::string ToString() const { return std::string(reinterpret_cast<const char*>(data_.data()), size_); }
  void LoadFromString(const std::string& bytes);

 private:
  void Reserve(size_t n);

  std::vector<uint8_t> data_;
  size_t size_ = 0;
  int64_t pos_ = 0;
};

}  // namespace lanqi
