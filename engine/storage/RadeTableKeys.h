// Inside the table layer: index keys as compared. Each record's decoded key values (and their
// collation sort keys) are kept per index once read, dropped when the record changes and rebuilt
// with the lists, so a search reads a record's key from the file at most once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/RadeTableIO.h"

namespace lanqi {

struct TRadeTableIO::TCachedKey {
  std::vector<std::string> Values;    // decoded value bytes per key field
  std::vector<std::string> SortKeys;  // per key field, filled on first use for text fields
  bool SortKeysReady = false;
};

class TRadeTableIO::TKeyCache {
 public:
  TCachedKey* Find(int32_t recNo) const {
    return recNo >= 0 && static_cast<size_t>(recNo) < byRecNo_.size()
               ? byRecNo_[static_cast<size_t>(recNo)].get()
               : nullptr;
  }
  TCachedKey& Put(int32_t recNo, std::unique_ptr<TCachedKey> key) {
    if (static_cast<size_t>(recNo) >= byRecNo_.size()) byRecNo_.resize(static_cast<size_t>(recNo) + 1);
    byRecNo_[static_cast<size_t>(recNo)] = std::move(key);
    return *byRecNo_[static_cast<size_t>(recNo)];
  }
  void Drop(int32_t recNo) {
    if (recNo >= 0 && static_cast<size_t>(recNo) < byRecNo_.size())
      byRecNo_[static_cast<size_t>(recNo)].reset();
  }

 private:
  std::vector<std::unique_ptr<TCachedKey>> byRecNo_;
};

// A key as searched: per key field its value bytes and, where the compare may take the route
// through sort keys (text fields, whole-text compare), the sort key.
struct TRadeTableIO::TSearchKey {
  int32_t FieldCount = 0;  // key fields that take part
  bool Partial = false;
  std::vector<std::string> Values;
  std::vector<std::string> SortKeys;
  std::vector<bool> HasSortKey;
};

}  // namespace lanqi
