// Inside the table layer: index keys as compared. Each record's decoded key values (and their
// collation sort keys) are kept per index once read, dropped when the record changes and rebuilt
// with the lists, so a search reads a record's key from the file at most once.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <unordered_set>
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

// The rows of a batch held in memory until their group is written.
struct TRadeTableIO::TBatch {
  // Orders held rows by their key of one index; equal keys keep the order they came in.
  struct TRowLess {
    const TRadeTableIO* Io;
    const TBatch* Batch;
    int32_t K;
    bool operator()(int32_t a, int32_t b) const {
      const auto& keys = Batch->Keys[static_cast<size_t>(K)];
      return Io->CompareSearchKeys(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)], K) < 0;
    }
  };
  struct TBlob {
    int32_t Row;  // held row
    int32_t Field;
    int32_t Offset;  // of the stored bytes in Data
    int32_t Size;    // stored bytes
    uint32_t Crc;    // of the plain content, for the read-back check
  };
  // Hashes and compares held rows by their order key of one index.
  struct TRowHash {
    const TBatch* Batch;
    int32_t K;
    size_t operator()(int32_t row) const {
      return std::hash<std::string>()(Batch->OrderKeys[static_cast<size_t>(K)][static_cast<size_t>(row)]);
    }
  };
  struct TRowEqual {
    const TBatch* Batch;
    int32_t K;
    bool operator()(int32_t a, int32_t b) const {
      const auto& keys = Batch->OrderKeys[static_cast<size_t>(K)];
      return keys[static_cast<size_t>(a)] == keys[static_cast<size_t>(b)];
    }
  };
  int64_t GroupBytes = 0;
  int32_t Counter = 0;  // the auto-increment counter with the held rows
  int32_t Written = 0;  // rows of the batch written
  // The file's size when the group began: what it holds with the group must stay within the
  // format's limit.
  int64_t FileSize = 0;
  // The held rows' stored records, each followed by its blob areas; blob descriptors hold
  // offsets into Data until the group is placed in the file.
  std::vector<uint8_t> Data;
  std::vector<int32_t> Rows;  // where each held record starts in Data
  std::vector<TBlob> Blobs;
  std::vector<std::vector<TSearchKey>> Keys;  // per index, per held row
  // An index whose key fields are all texts and integers has order keys: bytes whose order is the
  // index's order and which are equal exactly when the keys are (see OrderKey). Its held rows are
  // sorted when the group is written, and a unique one finds an equal key by hashing. Any other
  // index keeps its held rows in key order as they come.
  std::vector<bool> Encoded;
  std::vector<std::vector<std::string>> OrderKeys;                       // per index, per held row
  std::vector<std::unordered_set<int32_t, TRowHash, TRowEqual>> Unique;  // encoded unique indexes
  std::vector<std::multiset<int32_t, TRowLess>> Order;                   // the other indexes
  // Scratch of BatchAppend, kept across rows.
  std::vector<uint8_t> Plain, Stored;
  std::vector<TMemoryStream*> BlobPlain;
  std::vector<TMemoryStream> BlobStored;
  std::vector<TBlob> NewBlobs;
  std::vector<TSearchKey> NewKeys;
};

}  // namespace lanqi
