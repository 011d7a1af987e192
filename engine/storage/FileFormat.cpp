#include "engine/storage/FileFormat.h"

#include <algorithm>
#include <cstring>

#include "engine/values/FilterValues.h"
#include "rtl/Exceptions.h"

namespace lanqi {

const char kMagic[kMagicSize] = {'R', 'a', 'd', 'e', 'Z', 'I', 0};
const char kWriterVersion[] = "2.0";

void CheckMagicAndVersion(const uint8_t* first12, int32_t available, const std::string& name) {
  if (available < kMagicSize || std::memcmp(first12 + kFhMagic, kMagic, kMagicSize) != 0)
    throw EDatabaseError(Format("Database file '%s' is a invalid RadeZI", name.c_str()));
  // A file cut inside the version text reads the bytes it has.
  size_t width = static_cast<size_t>(std::clamp<int32_t>(available - kFhVersion, 0, kVersionSize));
  std::string version = TByteBuffer::LoadText(first12 + kFhVersion, width);
  if (version == "1.00") throw EDatabaseError("Version 1.00 is not compatible");
  // Byte-wise, a shorter text being smaller when it is a prefix of the other.
  if (version.compare(kWriterVersion) > 0) throw EDatabaseError("Version of database file is too High");
}

int32_t FieldSlotSize(uint8_t fieldType, int32_t declaredSize) {
  if (IsAnsiStringType(fieldType))
    return declaredSize < 0 || declaredSize >= (1 << 30) ? -1 : declaredSize + 1;
  if (int32_t size = ValueSizeOf(fieldType)) return size;
  return IsBlobType(fieldType) ? kBlobDescriptorSize : -1;
}

bool IsAcceptedFieldType(uint8_t fieldType) {
  return FieldSlotSize(fieldType, 0) > 0;
}

void RaiseCorrupt(const std::string& fileName, const std::string& what) {
  throw EDatabaseError(Format("Database file '%s' is corrupt: %s", fileName.c_str(), what.c_str()));
}

// TDataProcessHeader: relative offsets inside the 472-byte image.
namespace {
constexpr size_t kPhCompressed = 0;
constexpr size_t kPhCompressName = 2;
constexpr size_t kPhEncrypted = 35;
constexpr size_t kPhEncryptMode = 36;
constexpr size_t kPhEncryptName = 37;
constexpr size_t kPhVerifyWrites = 70;
constexpr size_t kPhPasswordCheck = 327;
constexpr size_t kPasswordCheckSize = 129;
static_assert(kPhPasswordCheck + kPasswordCheckSize + 16 == kProcessHeaderSize);  // 16 free bytes end it
}  // namespace

void TDataProcessHeader::Decode(const TByteBuffer& image) {
  Compressed = image.GetUInt8(kPhCompressed) != 0;
  CompressAlgoName = image.GetText(kPhCompressName, kNameSize);
  Encrypted = image.GetUInt8(kPhEncrypted) != 0;
  EncryptMode = image.GetUInt8(kPhEncryptMode);
  EncryptAlgoName = image.GetText(kPhEncryptName, kNameSize);
  VerifyWrites = image.GetUInt8(kPhVerifyWrites) != 0;
  PasswordCheck = image.GetText(kPhPasswordCheck, kPasswordCheckSize);
}

TByteBuffer TDataProcessHeader::Encode() const {
  TByteBuffer b(kProcessHeaderSize);
  b.PutUInt8(kPhCompressed, Compressed ? 1 : 0);
  if (Compressed) b.PutText(kPhCompressName, kNameSize, CompressAlgoName);
  b.PutUInt8(kPhEncrypted, Encrypted ? 1 : 0);
  if (Encrypted) {
    b.PutUInt8(kPhEncryptMode, EncryptMode);
    b.PutText(kPhEncryptName, kNameSize, EncryptAlgoName);
    b.PutText(kPhPasswordCheck, kPasswordCheckSize, PasswordCheck);
  }
  b.PutUInt8(kPhVerifyWrites, VerifyWrites ? 1 : 0);
  return b;
}

TFieldDefRec TTableHeader::Field(int32_t i) const {
  size_t p = FieldPos(i);
  TFieldDefRec f;
  f.Name = image_.GetText(p + kFdName, kNameSize);
  f.FieldType = image_.GetUInt8(p + kFdFieldType);
  f.DataSize = image_.GetInt32(p + kFdDataSize);
  f.NoProcessing = image_.GetUInt8(p + kFdNoProcessing);
  return f;
}

void TTableHeader::SetField(int32_t i, const TFieldDefRec& f) {
  size_t p = FieldPos(i);
  image_.PutText(p + kFdName, kNameSize, f.Name);
  image_.PutUInt8(p + kFdFieldType, f.FieldType);
  image_.PutInt32(p + kFdDataSize, f.DataSize);
  image_.PutUInt8(p + kFdNoProcessing, f.NoProcessing);
}

TIndexDefRec TTableHeader::Index(int32_t i) const {
  size_t p = IndexPos(i);
  TIndexDefRec d;
  d.Name = image_.GetText(p + kIxName, kNameSize);
  d.Options = TRDIndexOptions::FromBits(image_.GetUInt8(p + kIxOptions));
  for (int32_t k = 0; k < kMaxKeyFields; ++k) {
    int32_t f = image_.GetInt32(KeyFieldPos(i, k));
    if (f == -1) break;
    d.FieldNumbers.push_back(f);
  }
  d.IndexTabOffset = image_.GetInt32(p + kIxIndexTabOffset);
  d.IndexHead = image_.GetInt32(p + kIxIndexHead);
  return d;
}

void TTableHeader::SetIndex(int32_t i, const TIndexDefRec& d) {
  size_t p = IndexPos(i);
  image_.PutText(p + kIxName, kNameSize, d.Name);
  image_.PutUInt8(p + kIxOptions, static_cast<uint8_t>(d.Options.Bits()));
  for (int32_t k = 0; k < kMaxKeyFields; ++k) {
    int32_t f = k < static_cast<int32_t>(d.FieldNumbers.size()) ? d.FieldNumbers[static_cast<size_t>(k)] : -1;
    image_.PutInt32(KeyFieldPos(i, k), f);
  }
  image_.PutInt32(p + kIxIndexTabOffset, d.IndexTabOffset);
  image_.PutInt32(p + kIxIndexHead, d.IndexHead);
}

TBlobDescriptor TBlobDescriptor::Load(const uint8_t* p) {
  TBlobDescriptor d;
  d.DataOffset = TByteBuffer::LoadInt32(p + kBdDataOffset);
  d.StoredSize = TByteBuffer::LoadInt32(p + kBdStoredSize);
  d.AreaSize = TByteBuffer::LoadInt32(p + kBdAreaSize);
  d.Reserved1 = TByteBuffer::LoadInt32(p + kBdReserved1);
  d.Reserved2 = TByteBuffer::LoadInt32(p + kBdReserved2);
  return d;
}

void TBlobDescriptor::Store(uint8_t* p) const {
  TByteBuffer::StoreInt32(p + kBdDataOffset, DataOffset);
  TByteBuffer::StoreInt32(p + kBdStoredSize, StoredSize);
  TByteBuffer::StoreInt32(p + kBdAreaSize, AreaSize);
  TByteBuffer::StoreInt32(p + kBdReserved1, Reserved1);
  TByteBuffer::StoreInt32(p + kBdReserved2, Reserved2);
}

}  // namespace lanqi
