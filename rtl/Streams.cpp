#include "rtl/Streams.h"

#include <algorithm>
#include <cstring>

#include "rtl/Exceptions.h"

namespace lanqi {

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t total = count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), 1 << 16)));
  while (count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size())));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

void TMemoryStream::Reserve(size_t n) {
  if (n <= data_.size()) return;
  size_t cap = std::max<size_t>(n, data_.size() + data_.size() / 2 + 64);
  data_.resize(cap);
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || pos_ < 0 || static_cast<size_t>(pos_) >= size_) return 0;
  size_t n = std::min(static_cast<size_t>(count), size_ - static_cast<size_t>(pos_));
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += static_cast<int64_t>(n);
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || pos_ < 0) return 0;
  size_t end = static_cast<size_t>(pos_) + static_cast<size_t>(count);
  Reserve(end);
  if (static_cast<size_t>(pos_) > size_)
    std::memset(data_.data() + size_, 0, static_cast<size_t>(pos_) - size_);
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  size_ = std::max(size_, end);
  pos_ = static_cast<int64_t>(end);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning:
      pos_ = offset;
      break;
    case TSeekOrigin::soCurrent:
      pos_ += offset;
      break;
    case TSeekOrigin::soEnd:
      pos_ = static_cast<int64_t>(size_) + offset;
      break;
  }
  return pos_;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  size_t n = static_cast<size_t>(newSize);
  Reserve(n);
  if (n > size_) std::memset(data_.data() + size_, 0, n - size_);
  size_ = n;
  if (pos_ > newSize) pos_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  pos_ = 0;
}

void TMemoryStream::LoadFromString(const std::string& bytes) {
  Clear();
  Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  pos_ = 0;
}

}  // namespace lanqi
