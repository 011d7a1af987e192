// The table's passes over its view: the filter pass, and the key search of Locate and Lookup.
#include "engine/RadeTable.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "engine/RadeDatabase.h"
#include "engine/RadeSession.h"
#include "engine/RecordWindow.h"
#include "engine/values/CompareValues.h"
#include "rtl/AnsiText.h"

namespace lanqi {

// Field bytes for one pass over the view, read through the table's file view while the pass
// holds the file lock.
class TRadeTable::TPassReader {
 public:
  TPassReader(TRadeTableIO& table, TFileView& view) : io_(table.FileIO()), view_(view) {
    view_.Refresh();
    encrypted_.resize(static_cast<size_t>(table.FieldDefs().Count()));
    for (size_t i = 0; i < encrypted_.size(); ++i)
      encrypted_[i] = table.FieldEncrypted(static_cast<int32_t>(i));
  }
  TPassReader(const TPassReader&) = delete;
  TPassReader& operator=(const TPassReader&) = delete;

  // After the pass let the lock go (a handler ran): a write in between may have grown the file past
  // the view or moved a memory image to a new block, so the view follows what is there now.
  void Refresh() { view_.Refresh(); }

  // Decoded bytes of a field slot, valid until the next call.
  const uint8_t* Read(int64_t offset, int32_t count, int32_t field) {
    const uint8_t* src = view_.Bytes(offset, count);
    if (!encrypted_[static_cast<size_t>(field)]) return src;
    plain_.resize(static_cast<size_t>(count));
    io_.DecodeBufferData(src, plain_.data(), true, count);
    return plain_.data();
  }

 private:
  TRadeZIFileIO& io_;
  TFileView& view_;
  std::vector<bool> encrypted_;
  std::vector<uint8_t> plain_;
};

void TRadeTable::ReadField(TRDERecordBuffer* buffer, int32_t position, TField* f, TPassReader& reader) {
  const TRecordListEntry& e = recordList_[static_cast<size_t>(position)];
  int32_t fn = f->FieldNo() - 1;
  int32_t slot = tableIO_->SlotSize(fn);
  const uint8_t* plain = reader.Read(
      static_cast<int64_t>(e.DataOffset) + tableIO_->SlotOffsets()[static_cast<size_t>(fn)], slot, fn);
  uint8_t* dst = buffer->Bytes() + FieldOffsets()[static_cast<size_t>(fn)];
  int32_t size = f->DataSize();
  std::memcpy(dst, plain, static_cast<size_t>(std::max(std::min(slot, size), 0)));
  if (size > slot) std::memset(dst + slot, 0, static_cast<size_t>(size - slot));
}

// ---- filtering

void TRadeTable::ActivateFilter() {
  TRecordList passed;
  TDataSetState saved = State();
  TRadeSession* session = Database() ? Database()->Session() : nullptr;
  bool busy = session && session->SQLHourGlass();
  if (busy) SetScreenCursor(true);
  auto finish = [&] {
    SetScreenCursor(false);
    SetState(saved == dsFilter ? dsBrowse : saved);
    SetFilterBuffer(nullptr);
    SetCurrentPosition(-1);
  };
  try {
    SetState(dsFilter);
    if (!Filter().empty()) FilterParser().Parse(Filter());
    auto* buffer = static_cast<TRDERecordBuffer*>(CurrentBuffer());
    SetFilterBuffer(buffer);
    // Only the fields the expression names are read, unless the event may look at any.
    std::vector<TField*> named;
    bool whole = static_cast<bool>(OnFilterRecord);
    if (!whole && !Filter().empty()) {
      for (int32_t i : FilterParser().FieldIndexes()) {
        TField* f = Fields(i);
        if (f->IsBlob() || f->Calculated()) whole = true;
        named.push_back(f);
      }
    }
    int32_t count = RecordCount();
    passed.reserve(static_cast<size_t>(count));
    if (!whole && !named.empty()) {
      TRadeZIFileIO& io = tableIO_->FileIO();
      TFileLockGuard lock(io);
      TPassReader reader(*tableIO_, *fileView_);
      for (int32_t i = 0; i < count; ++i) {
        SetCurrentPosition(i);
        for (TField* f : named) ReadField(buffer, i, f, reader);
        if (RecordPasses()) passed.push_back(recordList_[static_cast<size_t>(i)]);
        if (OnFilterProgress) {
          // The handler may read this file (another table, another dataset), which takes the lock
          // itself: the pass lets it go for the call. Should the handler fail, or the lock not come
          // back in time, the guard has nothing left to release.
          io.Unlock();
          OnFilterProgress(this, static_cast<int>(static_cast<double>(i) / count * 100.0));
          io.Lock();
          reader.Refresh();
        }
      }
    } else {
      for (int32_t i = 0; i < count; ++i) {
        SetCurrentPosition(i);
        if (whole) {
          ReadRecord(buffer, i);
          ComputeCalcFields(buffer);
        }
        if (RecordPasses()) passed.push_back(recordList_[static_cast<size_t>(i)]);
        if (OnFilterProgress)
          OnFilterProgress(this, static_cast<int>(static_cast<double>(i) / count * 100.0));
      }
    }
    if (passed.size() != recordList_.size()) recordList_ = passed;
  } catch (...) {
    finish();
    First();
    throw;
  }
  finish();
  First();
}

void TRadeTable::DeactivateFilter() {
  ChooseIndex();
  LoadView();
  SetCurrentPosition(-1);
  SetModifiable(true);
  First();
}

// ---- locate and lookup

namespace {
bool PrintableAscii(const uint8_t* p, size_t n) {
  return IsPrintableAscii(std::string_view(reinterpret_cast<const char*>(p), n));
}

// Equality of a string key and a stored string where both are printable ASCII: there the
// collation's equality is byte equality (after case folding when asked), so no conversion is
// needed. Returns false when it cannot decide.
bool QuickStringEqual(const uint8_t* key, size_t keyLen, bool keyAscii, const uint8_t* rec, int32_t recSize,
                      bool partial, bool ci, bool& equal) {
  if (!keyAscii) return false;
  size_t recLen = strnlen(reinterpret_cast<const char*>(rec), static_cast<size_t>(recSize));
  size_t n = recLen;
  if (partial) {
    if (recLen < keyLen) {
      if (!PrintableAscii(rec, recLen)) return false;
      equal = false;
      return true;
    }
    n = keyLen;
  }
  if (!PrintableAscii(rec, n)) return false;
  if (!partial && n != keyLen) {
    equal = false;
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    uint8_t a = key[i], b = rec[i];
    if (ci) {
      a = static_cast<uint8_t>(LowerAscii(static_cast<char>(a)));
      b = static_cast<uint8_t>(LowerAscii(static_cast<char>(b)));
    }
    if (a != b) {
      equal = false;
      return true;
    }
  }
  equal = true;
  return true;
}
}  // namespace

int32_t TRadeTable::FindKey(const std::vector<TField*>& keys, const Variant& keyValues,
                            TLocateOptions options) {
  CheckKeyFields(keys);
  // The key values go through the fields into the scratch buffer, standing in as the filter buffer.
  auto* scratch = static_cast<TRDERecordBuffer*>(TempBuffer());
  std::fill(scratch->Data.begin(), scratch->Data.begin() + StoredDataSize(), 0);
  TDataSetState saved = State();
  SetState(dsFilter);
  SetFilterBuffer(scratch);
  struct Restore {
    TRadeTable* t;
    TDataSetState s;
    ~Restore() {
      t->SetState(s);
      t->SetFilterBuffer(nullptr);
    }
  } restore{this, saved};
  WriteKeyValues(keys, keyValues);
  const bool partial = options.Contains(LocatePartialKey);
  const bool ci = options.Contains(LocateCaseInsensitive);
  int32_t index = IndexForKeys(keys, ci);
  int32_t match =
      index >= 0 ? FindKeyInIndex(scratch, index, partial) : FindKeyByScan(scratch, keys, partial, ci);
  if (match >= 0) ReadKeyMatch(scratch, match);
  return match;
}

void TRadeTable::CheckKeyFields(const std::vector<TField*>& keys) {
  // Keys are compared with stored slots; a calculated or blob field has none to compare with.
  for (TField* f : keys)
    if (f->Calculated() || f->IsBlob() || f->FieldNo() <= 0)
      Error(Format("Field '%s' cannot be a search key", f->FieldName().c_str()));
}

void TRadeTable::WriteKeyValues(const std::vector<TField*>& keys, const Variant& keyValues) {
  for (size_t i = 0; i < keys.size(); ++i) {
    const Variant& v = keyValues.IsArray() ? keyValues[static_cast<int>(i)] : keyValues;
    keys[i]->SetAsVariant(v);
  }
}

int32_t TRadeTable::IndexForKeys(const std::vector<TField*>& keys, bool caseInsensitive) {
  bool stringKey = std::any_of(keys.begin(), keys.end(), [](TField* f) {
    return IsAnsiStringType(f->DataType()) || f->DataType() == ftWideString;
  });
  int32_t index = -1;
  TRadeIndexDefs& ix = tableIO_->IndexDefs();
  for (int32_t k = 0; k < ix.Count() && index < 0; ++k) {
    const TRadeIndexDef* d = ix.Items(k);
    if (d->FieldNumbers.size() != keys.size()) continue;
    bool same = true;
    for (size_t j = 0; j < keys.size(); ++j)
      if (keys[j]->FieldNo() - 1 != d->FieldNumbers[j]) same = false;
    if (same && stringKey && d->Options.Contains(tiCaseInsensitive) != caseInsensitive) same = false;
    if (same) index = k;
  }
  return index;
}

int32_t TRadeTable::FindKeyInIndex(TRDERecordBuffer* scratch, int32_t index, bool partial) {
  // Several records may hold the key (a partial key, an index that allows equal keys): the one
  // found is the first of them in index order that the view holds.
  TKeySearchResult result = TKeySearchResult::Found;
  const TRecordList& list = tableIO_->RecordLists(index + 1);
  int32_t first = tableIO_->SearchIndexBound(scratch->Items, list, index, true, result, 0, partial);
  if (result != TKeySearchResult::Found || first < 0) return -1;
  // A view that is the index's whole list holds the record at the same position; record
  // numbers are unique in a view, and no entry before it in the list holds the key.
  if (first < RecordCount() &&
      recordList_[static_cast<size_t>(first)].RecNo == list[static_cast<size_t>(first)].RecNo)
    return first;
  int32_t last = tableIO_->SearchIndexBound(scratch->Items, list, index, false, result, 0, partial);
  // Rank of each equal entry in index order, then one pass over the view for the best rank.
  std::unordered_map<int32_t, int32_t> rank;
  rank.reserve(static_cast<size_t>(last - first + 1));
  for (int32_t p = first; p <= last; ++p) rank.emplace(list[static_cast<size_t>(p)].RecNo, p - first);
  int32_t match = -1;
  int32_t best = -1;
  for (size_t i = 0; i < recordList_.size() && best != 0; ++i) {
    auto it = rank.find(recordList_[i].RecNo);
    if (it != rank.end() && (best < 0 || it->second < best)) {
      best = it->second;
      match = static_cast<int32_t>(i);
    }
  }
  return match;
}

int32_t TRadeTable::FindKeyByScan(TRDERecordBuffer* scratch, const std::vector<TField*>& keys, bool partial,
                                  bool caseInsensitive) {
  // Reads only the key fields of each record, and stops at the first match.
  std::vector<const uint8_t*> keyBytes;
  std::vector<size_t> keyLen;
  std::vector<bool> keyAscii;
  for (TField* f : keys) {
    const uint8_t* k = scratch->Bytes() + FieldOffsets()[static_cast<size_t>(f->FieldNo() - 1)];
    keyBytes.push_back(k);
    bool text = IsAnsiStringType(f->DataType());
    size_t len = text ? strnlen(reinterpret_cast<const char*>(k), static_cast<size_t>(f->DataSize())) : 0;
    keyLen.push_back(len);
    keyAscii.push_back(text && PrintableAscii(k, len));
  }
  auto* probe = static_cast<TRDERecordBuffer*>(KeyBuffers(3));
  TFileLockGuard lock(tableIO_->FileIO());
  TPassReader reader(*tableIO_, *fileView_);
  int32_t count = RecordCount();
  for (int32_t i = 0; i < count; ++i) {
    bool all = true;
    for (size_t j = 0; j < keys.size() && all; ++j) {
      TField* f = keys[j];
      ReadField(probe, i, f, reader);
      const uint8_t* rec = probe->Bytes() + FieldOffsets()[static_cast<size_t>(f->FieldNo() - 1)];
      bool equal = false;
      if (QuickStringEqual(keyBytes[j], keyLen[j], keyAscii[j], rec, f->DataSize(), partial, caseInsensitive,
                           equal))
        all = equal;
      else
        all = CompareValues(keyBytes[j], f->DataSize(), rec, f->DataSize(), f->DataType(), partial,
                            caseInsensitive) == 0;
    }
    if (all) return i;
  }
  return -1;
}

void TRadeTable::ReadKeyMatch(TRDERecordBuffer* buffer, int32_t position) {
  ReadRecord(buffer, position);
  int32_t recNo = recordList_[static_cast<size_t>(position)].RecNo;
  WriteBookmark(buffer, reinterpret_cast<const uint8_t*>(&recNo));
}

bool TRadeTable::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
  DoBeforeScroll();
  CheckBrowseMode();
  std::vector<TField*> keys = FieldList(keyFields);
  int32_t match = FindKey(keys, keyValues, options);
  if (match < 0) return false;
  SetCurrentPosition(match);
  Resync();
  DoAfterScroll();
  return true;
}

Variant TRadeTable::Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields) {
  CheckBrowseMode();
  std::vector<TField*> keys = FieldList(keyFields);
  int32_t match = FindKey(keys, keyValues, {});
  if (match < 0) return Variant::Null();
  TRecordBuffer* scratch = TempBuffer();
  ComputeCalcFields(scratch);
  std::vector<TField*> results = FieldList(resultFields);
  TDataSetState saved = State();
  SetTempState(dsCalcFields, scratch);
  Variant r;
  try {
    if (results.size() == 1) {
      r = results[0]->AsVariant();
    } else {
      std::vector<Variant> items;
      for (TField* f : results) items.push_back(f->AsVariant());
      r = Variant(std::move(items));
    }
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return r;
}

}  // namespace lanqi
