// The structures of the database file: fixed headers, the table directory, table headers with
// their field and index definitions, record tabs, index tabs and blob descriptors. Every structure
// is little-endian and packed with signed 32-bit file offsets; images are kept as bytes and read
// through TByteBuffer, so uninterpreted bytes survive a rewrite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"
#include "engine/storage/ByteBuffer.h"

namespace lanqi {

constexpr int32_t kFileHeaderSize = 2317;
constexpr int32_t kProcessHeaderOffset = 2317;
constexpr int32_t kProcessHeaderSize = 472;
constexpr int32_t kDirectoryOffset = 2789;
constexpr int32_t kDirectorySize = 1032;
constexpr int32_t kDynamicAreaOffset = 3821;
constexpr int32_t kTableHeaderSize = 4821;
constexpr int32_t kNameSize = 33;
constexpr int32_t kMaxNameLength = 32;
constexpr int32_t kFieldDefSize = 43;
constexpr int32_t kIndexDefSize = 78;
constexpr int32_t kMaxTables = 256;
constexpr int32_t kMaxFields = 96;
constexpr int32_t kMaxIndexes = 8;
constexpr int32_t kMaxKeyFields = 8;
constexpr int32_t kBlockEntries = 1024;
constexpr int32_t kRecordTabItemSize = 5;
constexpr int32_t kIndexTabItemSize = 8;
constexpr int32_t kBlobDescriptorSize = 20;
constexpr int32_t kBlobAreaUnit = 64;
constexpr int32_t kLockOffset = 1;  // the one byte every table operation locks

// Offsets inside the file header.
constexpr int32_t kFhMagic = 0;
constexpr int32_t kMagicSize = 7;
constexpr int32_t kFhVersion = 7;
constexpr int32_t kVersionSize = 5;
constexpr int32_t kFileHeaderProbeSize = kFhVersion + kVersionSize;  // magic and version text

// Offsets inside the table directory.
constexpr int32_t kDirTableCount = 0;
constexpr int32_t kDirHeaderOffsets = 8;  // kMaxTables int32, one per table

// Offsets inside a table header.
constexpr int32_t kThName = 0;
constexpr int32_t kThRecordTabOffset = 33;
constexpr int32_t kThRecordTabCount = 37;
constexpr int32_t kThAutoIncCounter = 41;
constexpr int32_t kThFieldCount = 45;
constexpr int32_t kThFieldDefs = 49;
constexpr int32_t kThIndexCount = 4177;
constexpr int32_t kThIndexDefs = 4181;
// In the 16 trailing bytes that readers do not interpret: the table's change count (int64), see
// TRadeTableIO.
constexpr int32_t kThChangeCount = 4805;

// Offsets inside a field definition; 4 free bytes follow NoProcessing.
constexpr int32_t kFdName = 0;
constexpr int32_t kFdFieldType = 33;
constexpr int32_t kFdDataSize = 34;
constexpr int32_t kFdNoProcessing = 38;

// Offsets inside an index definition; 4 free bytes follow IndexHead.
constexpr int32_t kIxName = 0;
constexpr int32_t kIxOptions = 33;
constexpr int32_t kIxFieldNumbers = 34;  // kMaxKeyFields int32, -1 after the last key field
constexpr int32_t kIxIndexTabOffset = 66;
constexpr int32_t kIxIndexHead = 70;

// A block of the record tab or of an index tab: the next block's offset, then kBlockEntries items.
constexpr int32_t kTabBlockNext = 0;
constexpr int32_t kTabBlockItems = 4;
constexpr int32_t kRecordTabBlockSize = kTabBlockItems + kBlockEntries * kRecordTabItemSize;  // 5124
constexpr int32_t kIndexTabBlockSize = kTabBlockItems + kBlockEntries * kIndexTabItemSize;    // 8196
// Offsets inside a record-tab item and an index-tab item.
constexpr int32_t kRtiDataOffset = 0;
constexpr int32_t kRtiDeleted = 4;
constexpr int32_t kItiRecNo = 0;
constexpr int32_t kItiNext = 4;

// Offsets inside a blob descriptor.
constexpr int32_t kBdDataOffset = 0;
constexpr int32_t kBdStoredSize = 4;
constexpr int32_t kBdAreaSize = 8;
constexpr int32_t kBdReserved1 = 12;
constexpr int32_t kBdReserved2 = 16;

// The structures follow one another without gaps.
static_assert(kProcessHeaderOffset == kFileHeaderSize);
static_assert(kDirectoryOffset == kProcessHeaderOffset + kProcessHeaderSize);
static_assert(kDynamicAreaOffset == kDirectoryOffset + kDirectorySize);
static_assert(kDirectorySize == kDirHeaderOffsets + 4 * kMaxTables);
static_assert(kThRecordTabOffset == kThName + kNameSize && kThFieldDefs == kThFieldCount + 4);
static_assert(kThIndexCount == kThFieldDefs + kMaxFields * kFieldDefSize);
static_assert(kThIndexDefs == kThIndexCount + 4);
static_assert(kThChangeCount == kThIndexDefs + kMaxIndexes * kIndexDefSize);
static_assert(kTableHeaderSize == kThChangeCount + 8 + 8);
static_assert(kFdFieldType == kFdName + kNameSize && kFieldDefSize == kFdNoProcessing + 1 + 4);
static_assert(kIxOptions == kIxName + kNameSize && kIxFieldNumbers == kIxOptions + 1);
static_assert(kIxIndexTabOffset == kIxFieldNumbers + 4 * kMaxKeyFields);
static_assert(kIndexDefSize == kIxIndexHead + 4 + 4);
static_assert(kRecordTabItemSize == kRtiDeleted + 1 && kIndexTabItemSize == kItiNext + 4);
static_assert(kBlobDescriptorSize == kBdReserved2 + 4);

extern const char kMagic[kMagicSize];  // "RadeZI" and a zero byte
extern const char kWriterVersion[];    // "2.0"

using TIntegerAry = std::vector<int32_t>;

// Tests the first 12 bytes of a file: the magic, then the version rule. Raises EDatabaseError
// with the messages of an open that fails; name is the database name for the message.
void CheckMagicAndVersion(const uint8_t* first12, int32_t available, const std::string& name);

// Slot bytes of a field in a stored record; -1 for a type code the format does not accept.
int32_t FieldSlotSize(uint8_t fieldType, int32_t declaredSize);
bool IsAcceptedFieldType(uint8_t fieldType);

// Area reserved for a blob of s stored bytes: the next multiple of 64 strictly above s.
constexpr int32_t BlobAreaSize(int32_t storedSize) {
  return storedSize - storedSize % kBlobAreaUnit + kBlobAreaUnit;
}

// Raises "Database file '%s' is corrupt: %s".
[[noreturn]] void RaiseCorrupt(const std::string& fileName, const std::string& what);

struct TDataProcessHeader {
  bool Compressed = false;
  std::string CompressAlgoName;
  bool Encrypted = false;
  uint8_t EncryptMode = 0;
  std::string EncryptAlgoName;
  bool VerifyWrites = false;
  std::string PasswordCheck;

  void Decode(const TByteBuffer& image);  // image of kProcessHeaderSize bytes
  TByteBuffer Encode() const;
};

// The directory image: table count, one uninterpreted int32, 256 table header offsets.
struct TTableDirectory {
  TByteBuffer Image{static_cast<size_t>(kDirectorySize)};
  int32_t Count() const { return Image.GetInt32(kDirTableCount); }
  void SetCount(int32_t n) { Image.PutInt32(kDirTableCount, n); }
  int32_t Offset(int32_t i) const { return Image.GetInt32(OffsetPos(i)); }
  void SetOffset(int32_t i, int32_t off) { Image.PutInt32(OffsetPos(i), off); }
  // Where table i's header offset lies in the image.
  static size_t OffsetPos(int32_t i) { return kDirHeaderOffsets + 4 * static_cast<size_t>(i); }
};

struct TFieldDefRec {
  std::string Name;
  uint8_t FieldType = 0;
  int32_t DataSize = 0;
  uint8_t NoProcessing = 0;
};

struct TIndexDefRec {
  std::string Name;
  TRDIndexOptions Options;
  TIntegerAry FieldNumbers;  // up to the first -1, at most 8
  int32_t IndexTabOffset = 0;
  int32_t IndexHead = 0;
};

// The in-memory image of one TTableHeader (4821 bytes).
class TTableHeader {
 public:
  TTableHeader() : image_(static_cast<size_t>(kTableHeaderSize)) {}

  TByteBuffer& Image() { return image_; }
  const TByteBuffer& Image() const { return image_; }

  std::string Name() const { return image_.GetText(kThName, kNameSize); }
  void SetName(const std::string& n) { image_.PutText(kThName, kNameSize, n); }
  int32_t RecordTabOffset() const { return image_.GetInt32(kThRecordTabOffset); }
  void SetRecordTabOffset(int32_t v) { image_.PutInt32(kThRecordTabOffset, v); }
  int32_t RecordTabCount() const { return image_.GetInt32(kThRecordTabCount); }
  void SetRecordTabCount(int32_t v) { image_.PutInt32(kThRecordTabCount, v); }
  int32_t AutoIncCounter() const { return image_.GetInt32(kThAutoIncCounter); }
  void SetAutoIncCounter(int32_t v) { image_.PutInt32(kThAutoIncCounter, v); }
  int32_t FieldCount() const { return image_.GetInt32(kThFieldCount); }
  void SetFieldCount(int32_t v) { image_.PutInt32(kThFieldCount, v); }
  int32_t IndexCount() const { return image_.GetInt32(kThIndexCount); }
  void SetIndexCount(int32_t v) { image_.PutInt32(kThIndexCount, v); }
  int64_t ChangeCount() const { return image_.GetInt64(kThChangeCount); }
  void SetChangeCount(int64_t v) { image_.PutInt64(kThChangeCount, v); }

  TFieldDefRec Field(int32_t i) const;
  void SetField(int32_t i, const TFieldDefRec& f);
  TIndexDefRec Index(int32_t i) const;
  // Writes name, options and key fields (-1 after the last), IndexTabOffset and IndexHead.
  void SetIndex(int32_t i, const TIndexDefRec& d);
  int32_t IndexTabOffset(int32_t i) const { return image_.GetInt32(IndexPos(i) + kIxIndexTabOffset); }
  void SetIndexTabOffset(int32_t i, int32_t v) { image_.PutInt32(IndexPos(i) + kIxIndexTabOffset, v); }
  int32_t IndexHead(int32_t i) const { return image_.GetInt32(IndexPos(i) + kIxIndexHead); }
  void SetIndexHead(int32_t i, int32_t v) { image_.PutInt32(IndexPos(i) + kIxIndexHead, v); }

 private:
  static size_t FieldPos(int32_t i) { return kThFieldDefs + static_cast<size_t>(i) * kFieldDefSize; }
  static size_t IndexPos(int32_t i) { return kThIndexDefs + static_cast<size_t>(i) * kIndexDefSize; }
  static size_t KeyFieldPos(int32_t i, int32_t k) {
    return IndexPos(i) + kIxFieldNumbers + 4 * static_cast<size_t>(k);
  }
  TByteBuffer image_;
};

struct TRecordTabItem {
  int32_t DataOffset = 0;
  uint8_t Deleted = 0;
  bool IsDeleted() const { return Deleted != 0; }
};
using TRecordTabItems = std::vector<TRecordTabItem>;

struct TIndexTabItem {
  int32_t RecNo = 0;
  int32_t Next = -1;
};
using TIndexTabItems = std::vector<TIndexTabItem>;

struct TBlobDescriptor {
  int32_t DataOffset = 0;
  int32_t StoredSize = 0;
  int32_t AreaSize = 0;
  int32_t Reserved1 = 0;
  int32_t Reserved2 = 0;

  static TBlobDescriptor Load(const uint8_t* p);
  void Store(uint8_t* p) const;
};

// File position of record-tab entry n / index-tab entry n, given the chain's block offsets.
inline int64_t RecordTabEntryPos(const TIntegerAry& blocks, int32_t n) {
  return static_cast<int64_t>(blocks[static_cast<size_t>(n / kBlockEntries)]) +
         (n % kBlockEntries) * kRecordTabItemSize + kTabBlockItems;
}
inline int64_t IndexTabEntryPos(const TIntegerAry& blocks, int32_t n) {
  return static_cast<int64_t>(blocks[static_cast<size_t>(n / kBlockEntries)]) +
         (n % kBlockEntries) * kIndexTabItemSize + kTabBlockItems;
}

}  // namespace lanqi
