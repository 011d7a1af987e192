#include "engine/storage/FieldBuffers.h"

#include <cmath>

#include "engine/FieldTypes.h"
#include "engine/storage/ByteBuffer.h"
#include "engine/storage/FileFormat.h"
#include "engine/storage/RadeZIFileIO.h"
#include "rtl/DateTime.h"
#include "rtl/NumText.h"

namespace lanqi {

void TStorageBlobStream::SetLocation(int32_t dataPosition, bool encrypt, bool compress) {
  dataPosition_ = dataPosition;
  encrypt_ = encrypt;
  compress_ = compress;
  loaded_ = false;
}

void TStorageBlobStream::EnsureLoaded() {
  if (loaded_ || dataPosition_ == 0 || !fileIO_) return;
  // Marked first: a load that fails is not retried by the next read.
  loaded_ = true;
  TMemoryStream tmp;
  fileIO_->ReadFieldDataAt(tmp, dataPosition_, kBlobDescriptorSize, true, encrypt_, compress_);
  TMemoryStream::Clear();
  TMemoryStream::Write(tmp.Memory(), static_cast<int32_t>(tmp.Size()));
  TMemoryStream::Seek(0, TSeekOrigin::soBeginning);
}

int32_t TStorageBlobStream::Read(void* buffer, int32_t count) {
  EnsureLoaded();
  return TMemoryStream::Read(buffer, count);
}

int32_t TStorageBlobStream::Write(const void* buffer, int32_t count) {
  loaded_ = true;
  return TMemoryStream::Write(buffer, count);
}

int64_t TStorageBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  EnsureLoaded();
  return TMemoryStream::Seek(offset, origin);
}

int64_t TStorageBlobStream::Size() {
  EnsureLoaded();
  return TMemoryStream::Size();
}

void TStorageBlobStream::SetSize(int64_t newSize) {
  loaded_ = true;
  TMemoryStream::SetSize(newSize);
}

void TStorageBlobStream::ClearContent() {
  loaded_ = true;
  TMemoryStream::Clear();
}

std::string TFieldBufferItem::DisplayText() const {
  if (!Buffer) return {};
  try {
    const uint8_t* p = Bytes();
    auto need = [&](int32_t n) { return BufferSize >= n; };
    switch (FieldType) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftGuid:
        return TByteBuffer::LoadText(p, static_cast<size_t>(std::max(BufferSize, 0)));
      case ftSmallint:
        return need(2) ? IntToStr(TByteBuffer::LoadInt16(p)) : std::string();
      case ftWord:
        return need(2) ? IntToStr(static_cast<uint16_t>(TByteBuffer::LoadInt16(p))) : std::string();
      case ftInteger:
      case ftAutoInc:
        return need(4) ? IntToStr(TByteBuffer::LoadInt32(p)) : std::string();
      case ftLargeint:
        return need(8) ? IntToStr(TByteBuffer::LoadInt64(p)) : std::string();
      case ftBoolean:
        return need(2) ? (TByteBuffer::LoadInt16(p) != 0 ? "True" : "False") : std::string();
      case ftFloat:
      case ftCurrency:
        return need(8) ? FloatToStr(TByteBuffer::LoadDouble(p)) : std::string();
      case ftDate:
        return need(4) ? DateToStr(DayNumberToDateTime(TByteBuffer::LoadInt32(p))) : std::string();
      case ftTime: {
        if (!need(4)) return {};
        TTimeStamp ts{TByteBuffer::LoadInt32(p), DateTimeToDayNumber(Date())};
        return TimeToStr(TimeStampToDateTime(ts));
      }
      case ftDateTime: {
        if (!need(8)) return {};
        double ms = TByteBuffer::LoadDouble(p);
        // Beyond the calendar's days (about 10 000 years each way) nothing can be shown.
        if (!std::isfinite(ms) || std::fabs(ms) > 4e6 * MSecsPerDay) return {};
        double days = std::floor(ms / MSecsPerDay);
        TTimeStamp ts{static_cast<int32_t>(ms - days * MSecsPerDay), static_cast<int32_t>(days)};
        return DateTimeToStr(TimeStampToDateTime(ts));
      }
      default:
        if (IsBlobType(FieldType)) {
          TMemoryStream* s = BlobStream();
          int64_t size = s->Size();
          return TByteBuffer::LoadText(s->Memory(), static_cast<size_t>(size));
        }
        return {};
    }
  } catch (...) {
    return {};
  }
}

TFieldBufferItem* TFieldBuffers::Add(void* buffer, uint8_t fieldType, int32_t size) {
  auto item = std::make_unique<TFieldBufferItem>();
  item->Buffer = buffer;
  item->FieldType = fieldType;
  item->BufferSize = size;
  items_.push_back(std::move(item));
  return items_.back().get();
}

TFieldBufferItem* TFieldBuffers::AddOwned(uint8_t fieldType, int32_t size, TRadeZIFileIO* fileIO) {
  auto item = std::make_unique<TFieldBufferItem>();
  item->FieldType = fieldType;
  item->OwnsBuffer = true;
  if (IsBlobType(fieldType)) {
    item->ownedStream_ = std::make_unique<TStorageBlobStream>(fileIO);
    item->Buffer = item->ownedStream_.get();
    item->BufferSize = 0;
  } else {
    item->ownedBytes_.assign(static_cast<size_t>(std::max(size, 0)) + 1, 0);
    item->Buffer = item->ownedBytes_.data();
    item->BufferSize = size;
  }
  items_.push_back(std::move(item));
  return items_.back().get();
}

TFieldBufferItem* TFieldBuffers::AddUnused() {
  TFieldBufferItem* item = Add(nullptr, 0, 0);
  item->InUse = false;
  return item;
}

}  // namespace lanqi
