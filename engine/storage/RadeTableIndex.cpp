// Index keys, searches, insert positions, list conversions and the unique checks.
#include <algorithm>
#include <cstring>

#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeTableKeys.h"
#include "engine/values/CompareValues.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
// Sort keys give the collation's order of whole texts; they are used for ftString and
// ftFixedChar keys compared whole. Equal sort keys are settled by CompareValues itself.
bool SortKeyType(uint8_t t) {
  return IsAnsiStringType(t);
}

int Sign(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

std::string ItemValue(const TFieldBufferItem* item, int32_t slotSize) {
  if (!item || !item->Buffer) return std::string(static_cast<size_t>(slotSize), '\0');
  if (IsBlobType(item->FieldType)) {
    TMemoryStream* s = item->BlobStream();
    if (auto* lazy = dynamic_cast<TStorageBlobStream*>(s)) lazy->EnsureLoaded();
    return std::string(reinterpret_cast<const char*>(s->Memory()), static_cast<size_t>(s->Size()));
  }
  return std::string(static_cast<const char*>(item->Buffer),
                     static_cast<size_t>(std::max(item->BufferSize, 0)));
}
}  // namespace

const TRadeTableIO::TCachedKey& TRadeTableIO::CachedKey(int32_t k, int32_t recNo) {
  TKeyCache& cache = *keyCaches_[static_cast<size_t>(k)];
  if (TCachedKey* c = cache.Find(recNo)) return *c;
  const TRadeIndexDef* d = indexDefs_.Items(k);
  List(0);
  if (recNo < 0 || recNo >= static_cast<int32_t>(recordTab_.size()))
    io_.Corrupt(
        Format("index '%s' of table '%s' refers to record %d", d->Name.c_str(), tableName_.c_str(), recNo));
  const int32_t dataOffset = recordTab_[static_cast<size_t>(recNo)].DataOffset;
  // One read over the span of the key's slots.
  int32_t lo = INT32_MAX, hi = 0;
  for (int32_t fn : d->FieldNumbers) {
    lo = std::min(lo, slotOffsets_[static_cast<size_t>(fn)]);
    hi = std::max(hi, slotOffsets_[static_cast<size_t>(fn)] + slotSizes_[static_cast<size_t>(fn)]);
  }
  std::vector<uint8_t> span(static_cast<size_t>(hi - lo));
  io_.ReadBytesAt(span.data(), static_cast<int64_t>(dataOffset) + lo, hi - lo);
  auto key = std::make_unique<TCachedKey>();
  for (int32_t fn : d->FieldNumbers) {
    int32_t slot = slotSizes_[static_cast<size_t>(fn)];
    int32_t rel = slotOffsets_[static_cast<size_t>(fn)] - lo;
    if (IsBlobType(fieldDefs_.Items(fn)->FieldType)) {
      TMemoryStream blob;
      io_.ReadFieldDataAt(blob, static_cast<int64_t>(dataOffset) + slotOffsets_[static_cast<size_t>(fn)],
                          kBlobDescriptorSize, true, FieldEncrypted(fn), FieldCompressed(fn));
      key->Values.emplace_back(reinterpret_cast<const char*>(blob.Memory()),
                               static_cast<size_t>(blob.Size()));
    } else {
      std::string v(static_cast<size_t>(slot), '\0');
      io_.DecodeBufferData(span.data() + rel, v.data(), FieldEncrypted(fn), slot);
      key->Values.push_back(std::move(v));
    }
  }
  return cache.Put(recNo, std::move(key));
}

void TRadeTableIO::DropCachedKeys(int32_t recNo) {
  for (auto& c : keyCaches_) c->Drop(recNo);
}

// Keys of a record just appended, taken from its plain slots instead of the file.
void TRadeTableIO::StoreCachedKeys(int32_t recNo, const std::vector<uint8_t>& record) {
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    const TRadeIndexDef* d = indexDefs_.Items(k);
    bool blobKey = false;
    for (int32_t fn : d->FieldNumbers) blobKey = blobKey || IsBlobType(fieldDefs_.Items(fn)->FieldType);
    if (blobKey) continue;
    auto key = std::make_unique<TCachedKey>();
    for (int32_t fn : d->FieldNumbers)
      key->Values.emplace_back(
          reinterpret_cast<const char*>(record.data()) + slotOffsets_[static_cast<size_t>(fn)],
          static_cast<size_t>(slotSizes_[static_cast<size_t>(fn)]));
    keyCaches_[static_cast<size_t>(k)]->Put(recNo, std::move(key));
  }
}

TRadeTableIO::TSearchKey TRadeTableIO::MakeSearchKey(TFieldBuffers& key, int32_t k, int32_t fieldCount,
                                                     bool partial) {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  const bool ci = d->Options.Contains(tiCaseInsensitive);
  TSearchKey s;
  int32_t n = static_cast<int32_t>(d->FieldNumbers.size());
  s.FieldCount = fieldCount > 0 ? std::min(fieldCount, n) : n;
  s.Partial = partial;
  for (int32_t j = 0; j < s.FieldCount; ++j) {
    int32_t fn = d->FieldNumbers[static_cast<size_t>(j)];
    const TFieldBufferItem* item = fn < key.Count() ? key.Items(fn) : nullptr;
    s.Values.push_back(ItemValue(item, slotSizes_[static_cast<size_t>(fn)]));
    bool useSk = !partial && SortKeyType(fieldDefs_.Items(fn)->FieldType);
    s.HasSortKey.push_back(useSk);
    s.SortKeys.push_back(
        useSk
            ? CollationSortKey(TByteBuffer::LoadText(reinterpret_cast<const uint8_t*>(s.Values.back().data()),
                                                     s.Values.back().size()),
                               ci)
            : std::string());
  }
  return s;
}

TRadeTableIO::TSearchKey TRadeTableIO::MakeRecordKey(int32_t k, int32_t recNo) {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  const bool ci = d->Options.Contains(tiCaseInsensitive);
  const TCachedKey& c = CachedKey(k, recNo);
  TSearchKey s;
  s.FieldCount = static_cast<int32_t>(d->FieldNumbers.size());
  for (int32_t j = 0; j < s.FieldCount; ++j) {
    int32_t fn = d->FieldNumbers[static_cast<size_t>(j)];
    s.Values.push_back(c.Values[static_cast<size_t>(j)]);
    bool useSk = SortKeyType(fieldDefs_.Items(fn)->FieldType);
    s.HasSortKey.push_back(useSk);
    s.SortKeys.push_back(
        useSk
            ? CollationSortKey(TByteBuffer::LoadText(reinterpret_cast<const uint8_t*>(s.Values.back().data()),
                                                     s.Values.back().size()),
                               ci)
            : std::string());
  }
  return s;
}

TRadeTableIO::TSearchKey TRadeTableIO::MakeRowKey(int32_t k, const std::vector<uint8_t>& plain,
                                                  const std::vector<TMemoryStream*>& blobs) {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  const bool ci = d->Options.Contains(tiCaseInsensitive);
  TSearchKey s;
  s.FieldCount = static_cast<int32_t>(d->FieldNumbers.size());
  for (int32_t fn : d->FieldNumbers) {
    const size_t f = static_cast<size_t>(fn);
    if (blobs[f])
      s.Values.emplace_back(reinterpret_cast<const char*>(blobs[f]->Memory()),
                            static_cast<size_t>(blobs[f]->Size()));
    else
      s.Values.emplace_back(reinterpret_cast<const char*>(plain.data()) + slotOffsets_[f],
                            static_cast<size_t>(slotSizes_[f]));
    const bool useSk = SortKeyType(fieldDefs_.Items(fn)->FieldType);
    s.HasSortKey.push_back(useSk);
    s.SortKeys.push_back(
        useSk
            ? CollationSortKey(TByteBuffer::LoadText(reinterpret_cast<const uint8_t*>(s.Values.back().data()),
                                                     s.Values.back().size()),
                               ci)
            : std::string());
  }
  return s;
}

namespace {
// Bytes of an integer key field whose order is the number's: big-endian, the sign bit flipped.
int32_t OrderedIntegerSize(uint8_t type, bool& isSigned) {
  isSigned = type != ftWord;
  switch (type) {
    case ftSmallint:
    case ftWord:
      return 2;
    case ftInteger:
    case ftAutoInc:
      return 4;
    case ftLargeint:
      return 8;
    default:
      return 0;
  }
}
}  // namespace

bool TRadeTableIO::HasOrderKeys(int32_t k) const {
  for (int32_t fn : indexDefs_.Items(k)->FieldNumbers) {
    const uint8_t type = fieldDefs_.Items(fn)->FieldType;
    bool isSigned;
    if (!SortKeyType(type) && OrderedIntegerSize(type, isSigned) == 0) return false;
  }
  return true;
}

// A text's part is its sort key, which orders texts as the compare does and is equal only for
// equal texts, with each zero byte written as 0 255 and 0 1 after it, so that no part is the
// start of another; an integer's part is its bytes in the number's order. A descending index
// inverts every byte.
void TRadeTableIO::OrderKey(int32_t k, const TSearchKey& key, std::string& out) const {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  out.clear();
  for (int32_t j = 0; j < key.FieldCount; ++j) {
    const size_t u = static_cast<size_t>(j);
    const uint8_t type = fieldDefs_.Items(d->FieldNumbers[u])->FieldType;
    if (key.HasSortKey[u]) {
      for (char c : key.SortKeys[u]) {
        out.push_back(c);
        if (c == 0) out.push_back(static_cast<char>(0xFF));
      }
      out.push_back(0);
      out.push_back(1);
      continue;
    }
    bool isSigned;
    const int32_t size = OrderedIntegerSize(type, isSigned);
    const std::string& v = key.Values[u];
    for (int32_t b = size - 1; b >= 0; --b) {
      uint8_t c = static_cast<size_t>(b) < v.size() ? static_cast<uint8_t>(v[static_cast<size_t>(b)]) : 0;
      if (isSigned && b == size - 1) c ^= 0x80;
      out.push_back(static_cast<char>(c));
    }
  }
  if (d->Options.Contains(tiDescending))
    for (char& c : out) c = static_cast<char>(~c);
}

int32_t TRadeTableIO::CompareKey(const TSearchKey& key, int32_t k, int32_t recNo) {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  const bool ci = d->Options.Contains(tiCaseInsensitive);
  TCachedKey& rec = const_cast<TCachedKey&>(CachedKey(k, recNo));
  for (int32_t j = 0; j < key.FieldCount; ++j) {
    int32_t fn = d->FieldNumbers[static_cast<size_t>(j)];
    uint8_t type = fieldDefs_.Items(fn)->FieldType;
    const std::string& kv = key.Values[static_cast<size_t>(j)];
    const std::string& rv = rec.Values[static_cast<size_t>(j)];
    int c = 0;
    if (key.HasSortKey[static_cast<size_t>(j)]) {
      if (!rec.SortKeysReady) {
        rec.SortKeys.resize(rec.Values.size());
        for (size_t m = 0; m < rec.Values.size(); ++m)
          if (SortKeyType(fieldDefs_.Items(d->FieldNumbers[m])->FieldType))
            rec.SortKeys[m] =
                CollationSortKey(TByteBuffer::LoadText(reinterpret_cast<const uint8_t*>(rec.Values[m].data()),
                                                       rec.Values[m].size()),
                                 ci);
        rec.SortKeysReady = true;
      }
      c = Sign(key.SortKeys[static_cast<size_t>(j)].compare(rec.SortKeys[static_cast<size_t>(j)]));
    }
    if (c == 0)
      c = CompareValues(kv.data(), static_cast<int32_t>(kv.size()), rv.data(),
                        static_cast<int32_t>(rv.size()), static_cast<TFieldType>(type), key.Partial, ci);
    if (c != 0) return d->Options.Contains(tiDescending) ? -c : c;
  }
  return 0;
}

int32_t TRadeTableIO::CompareRecords(int32_t indexNumber, int32_t recNoA, int32_t recNoB) {
  TSearchKey a = MakeRecordKey(indexNumber, recNoA);
  return CompareKey(a, indexNumber, recNoB);
}

// mode 0: stop at the first equal entry met; 1: the first equal entry; 2: the last one.
int32_t TRadeTableIO::Search(const TSearchKey& key, const TRecordList& list, int32_t k, int32_t mode,
                             TKeySearchResult& result) {
  result = TKeySearchResult::Empty;
  int32_t lo = 0, hi = static_cast<int32_t>(list.size()) - 1, pos = -1;
  bool seenEqual = false;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int32_t c = CompareKey(key, k, list[static_cast<size_t>(mid)].RecNo);
    if (c == 0) {
      result = TKeySearchResult::Found;
      pos = mid;
      if (mode == 0) break;
      seenEqual = true;
      if (mode == 1)
        hi = mid - 1;
      else
        lo = mid + 1;
      continue;
    }
    if (!seenEqual) {
      result = c > 0 ? TKeySearchResult::After : TKeySearchResult::Before;
      pos = mid;
    }
    if (c > 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return pos;
}

int32_t TRadeTableIO::SearchIndex(TFieldBuffers& key, const TRecordList& list, bool partial,
                                  int32_t fieldCount, TKeySearchResult& result, int32_t indexNumber) {
  CheckLoaded();
  TSearchKey s = MakeSearchKey(key, indexNumber, fieldCount, partial);
  return Search(s, list, indexNumber, 0, result);
}

int32_t TRadeTableIO::SearchIndexBound(TFieldBuffers& key, const TRecordList& list, int32_t indexNumber,
                                       bool toFirst, TKeySearchResult& result, int32_t fieldCount,
                                       bool partial) {
  CheckLoaded();
  TSearchKey s = MakeSearchKey(key, indexNumber, fieldCount, partial);
  return Search(s, list, indexNumber, toFirst ? 1 : 2, result);
}

int32_t TRadeTableIO::FindInsertPosFor(const TSearchKey& key, int32_t k, const TRecordList& list) {
  TKeySearchResult result;
  int32_t pos = Search(key, list, k, 0, result);
  if (result == TKeySearchResult::Empty) return 0;
  // An equal key goes right after the equal entry the search met, not after the last one: stored
  // indexes already hold their equal keys in this order, and readers take a chain as it is.
  return result == TKeySearchResult::Before ? pos : pos + 1;
}

int32_t TRadeTableIO::FindInsertPos(TFieldBuffers& key, int32_t indexNumber) {
  CheckLoaded();
  TSearchKey s = MakeSearchKey(key, indexNumber, 0, false);
  return FindInsertPosFor(s, indexNumber, List(indexNumber + 1));
}

int32_t TRadeTableIO::PrimaryIndex() const {
  for (int32_t k = 0; k < indexDefs_.Count(); ++k)
    if (indexDefs_.Items(k)->Options.Contains(tiPrimary)) return k;
  return -1;
}

namespace {
int32_t FindRecNo(const TRecordList& list0, int32_t recNo) {
  auto it = std::lower_bound(list0.begin(), list0.end(), recNo,
                             [](const TRecordListEntry& e, int32_t r) { return e.RecNo < r; });
  if (it == list0.end() || it->RecNo != recNo) return -1;
  return static_cast<int32_t>(it - list0.begin());
}
int32_t ScanRecNo(const TRecordList& list, int32_t recNo) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].RecNo == recNo) return static_cast<int32_t>(i);
  return -1;
}
}  // namespace

int32_t TRadeTableIO::ConvertListPos(int32_t listA, int32_t position, int32_t listB) const {
  if (recordLists_.empty()) return -1;
  auto listOf = [&](int32_t n) -> const TRecordList* {
    return n >= -1 && static_cast<size_t>(n + 1) < recordLists_.size() ? &List(n + 1) : nullptr;
  };
  const TRecordList* a = listOf(listA);
  const TRecordList* b = listOf(listB);
  if (!a || !b || position < 0 || position >= static_cast<int32_t>(a->size())) return -1;
  if (listA == listB) return position;
  int32_t recNo = (*a)[static_cast<size_t>(position)].RecNo;
  return listB == -1 ? FindRecNo(*b, recNo) : ScanRecNo(*b, recNo);
}

int32_t TRadeTableIO::FindPhysicalPos(const TRecordList& list, int32_t position) const {
  if (recordLists_.empty() || position < 0 || position >= static_cast<int32_t>(list.size())) return -1;
  return FindRecNo(List(0), list[static_cast<size_t>(position)].RecNo);
}

int32_t TRadeTableIO::ConvertListPos(const TRecordList& list, int32_t indexNumber, int32_t position) const {
  size_t i = static_cast<size_t>(indexNumber + 1);
  if (indexNumber < -1 || i >= recordLists_.size()) return -1;
  const TRecordList& a = List(indexNumber + 1);
  if (position < 0 || position >= static_cast<int32_t>(a.size())) return -1;
  return ScanRecNo(list, a[static_cast<size_t>(position)].RecNo);
}

// modifyPosition -1: an append; else the list 0 position of the record being changed, whose
// stored values stand in for items the caller does not supply.
void TRadeTableIO::CheckUnique(TFieldBuffers& buffers, int32_t modifyPosition) {
  const int32_t self = modifyPosition >= 0 ? List(0)[static_cast<size_t>(modifyPosition)].RecNo : -1;
  for (int32_t k = 0; k < indexDefs_.Count(); ++k) {
    const TRadeIndexDef* d = indexDefs_.Items(k);
    if (!d->Options.Contains(tiPrimary) && !d->Options.Contains(tiUnique)) continue;
    TSearchKey s = MakeSearchKey(buffers, k, 0, false);
    if (self >= 0) {
      const TCachedKey& stored = CachedKey(k, self);
      for (size_t j = 0; j < d->FieldNumbers.size(); ++j) {
        int32_t fn = d->FieldNumbers[j];
        const TFieldBufferItem* item = fn < buffers.Count() ? buffers.Items(fn) : nullptr;
        if (item && item->InUse && item->Buffer) continue;
        s.Values[j] = stored.Values[j];
        if (s.HasSortKey[j])
          s.SortKeys[j] = CollationSortKey(
              TByteBuffer::LoadText(reinterpret_cast<const uint8_t*>(s.Values[j].data()), s.Values[j].size()),
              d->Options.Contains(tiCaseInsensitive));
      }
    }
    const TRecordList& list = List(k + 1);
    TKeySearchResult result;
    int32_t first = Search(s, list, k, 1, result);
    if (result != TKeySearchResult::Found) continue;
    // Every equal entry other than the record being changed is a violation.
    bool clash = false;
    for (int32_t p = first; p < static_cast<int32_t>(list.size()); ++p) {
      int32_t r = list[static_cast<size_t>(p)].RecNo;
      if (CompareKey(s, k, r) != 0) break;
      if (r != self) {
        clash = true;
        break;
      }
    }
    if (!clash) continue;
    throw EDatabaseError(Format("Invalid unique field value '%s'", KeyText(k, s).c_str()));
  }
}

// The key values as text joined by ",", as the unique check's message shows them.
std::string TRadeTableIO::KeyText(int32_t k, const TSearchKey& key) const {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  std::string text;
  for (size_t j = 0; j < d->FieldNumbers.size() && j < key.Values.size(); ++j) {
    int32_t fn = d->FieldNumbers[j];
    TFieldBufferItem shown;
    shown.FieldType = fieldDefs_.Items(fn)->FieldType;
    std::string value = key.Values[j];
    TMemoryStream blob;
    if (IsBlobType(shown.FieldType)) {
      blob.LoadFromString(value);
      shown.Buffer = &blob;
    } else {
      shown.Buffer = value.data();
      shown.BufferSize = static_cast<int32_t>(value.size());
    }
    if (j) text += ",";
    text += shown.DisplayText();
  }
  return text;
}

// Two searched keys under index k's rules, as CompareKey compares a key with a record.
int32_t TRadeTableIO::CompareSearchKeys(const TSearchKey& a, const TSearchKey& b, int32_t k) const {
  const TRadeIndexDef* d = indexDefs_.Items(k);
  const bool ci = d->Options.Contains(tiCaseInsensitive);
  for (int32_t j = 0; j < a.FieldCount && j < b.FieldCount; ++j) {
    const size_t u = static_cast<size_t>(j);
    const uint8_t type = fieldDefs_.Items(d->FieldNumbers[u])->FieldType;
    int c = 0;
    if (a.HasSortKey[u] && b.HasSortKey[u]) c = Sign(a.SortKeys[u].compare(b.SortKeys[u]));
    if (c == 0)
      c = CompareValues(a.Values[u].data(), static_cast<int32_t>(a.Values[u].size()), b.Values[u].data(),
                        static_cast<int32_t>(b.Values[u].size()), static_cast<TFieldType>(type), false, ci);
    if (c != 0) return d->Options.Contains(tiDescending) ? -c : c;
  }
  return 0;
}

void TRadeTableIO::CheckUniqueAmong(const std::vector<TFieldBuffers*>& rows, int32_t& first,
                                    int32_t& second) {
  CheckLoaded();
  first = second = -1;
  const int32_t n = static_cast<int32_t>(rows.size());
  int32_t clashIndex = -1;
  for (TFieldBuffers* r : rows) PrepareStrings(*r);
  for (int32_t k = 0; k < indexDefs_.Count() && n > 1; ++k) {
    const TRadeIndexDef* d = indexDefs_.Items(k);
    if (!d->Options.Contains(tiPrimary) && !d->Options.Contains(tiUnique)) continue;
    std::vector<TSearchKey> keys;
    keys.reserve(static_cast<size_t>(n));
    for (TFieldBuffers* r : rows) keys.push_back(MakeSearchKey(*r, k, 0, false));
    // Sorted by key, equal keys in row order: the first two of a run of equals are its earliest pair.
    std::vector<int32_t> order(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) {
      return CompareSearchKeys(keys[static_cast<size_t>(x)], keys[static_cast<size_t>(y)], k) < 0;
    });
    for (size_t i = 1; i < order.size(); ++i) {
      const int32_t x = order[i - 1], y = order[i];
      if (CompareSearchKeys(keys[static_cast<size_t>(x)], keys[static_cast<size_t>(y)], k) != 0) continue;
      if (i >= 2 &&
          CompareSearchKeys(keys[static_cast<size_t>(order[i - 2])], keys[static_cast<size_t>(x)], k) == 0)
        continue;  // not the start of its run
      if (second < 0 || y < second || (y == second && x < first)) {
        first = x;
        second = y;
        clashIndex = k;
      }
    }
  }
  if (clashIndex >= 0) {
    TSearchKey key = MakeSearchKey(*rows[static_cast<size_t>(second)], clashIndex, 0, false);
    throw EDatabaseError(Format("Invalid unique field value '%s'", KeyText(clashIndex, key).c_str()));
  }
}

bool TRadeTableIO::CheckUniqueForAppend(TFieldBuffers& buffers) {
  CheckLoaded();
  CheckUnique(buffers, -1);
  return true;
}

bool TRadeTableIO::CheckUniqueForModify(TFieldBuffers& buffers, int32_t position) {
  CheckLoaded();
  if (position < 0 || position >= static_cast<int32_t>(List(0).size()))
    throw EDatabaseError(Format("Record position %d is outside the table", position));
  CheckUnique(buffers, position);
  return true;
}

}  // namespace lanqi
