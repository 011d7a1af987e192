// Shared helpers of the storage tests: an owner with a virtual clock for the lock, databases
// made through the writer, record buffers filled by field number, and file bytes read back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/ByteBuffer.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/Collation.h"
#include "tests/support/TempDir.h"

namespace lanqi::test {

// The message of what f raises; empty when it raises nothing.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

class TTestOwner : public TStorageOwner {
 public:
  int32_t LockRetryCount() const override { return Retries; }
  int32_t LockWaitTime() const override { return Wait; }
  bool Durable() const override { return DurableMode; }
  void LockSleep(int32_t ms) override {
    Sleeps.push_back(ms);
    if (OnSleep) OnSleep();
  }
  int32_t Retries = 20;
  int32_t Wait = 100;
  bool DurableMode = false;
  std::vector<int32_t> Sleeps;
  std::function<void()> OnSleep;
};

struct TTableSpec {
  std::string Name;
  TRadeFieldDefs Fields;
  TRadeIndexDefs Indexes;
};

inline void AddTables(TRadeZIFileIO& io, std::vector<TTableSpec*> tables) {
  for (TTableSpec* t : tables) AddTable(io, t->Name, t->Fields, t->Indexes);
}

// A record buffer with one owned item per field of the table.
inline std::unique_ptr<TFieldBuffers> Buffers(TRadeTableIO& t) {
  auto b = std::make_unique<TFieldBuffers>();
  for (int32_t i = 0; i < t.FieldDefs().Count(); ++i)
    b->AddOwned(t.FieldDefs().Items(i)->FieldType, t.SlotSize(i), &t.FileIO());
  return b;
}

inline void SetInt(TFieldBuffers& b, int32_t f, int32_t v) {
  TByteBuffer::StoreInt32(b.Items(f)->Bytes(), v);
}
inline void SetDouble(TFieldBuffers& b, int32_t f, double v) {
  TByteBuffer::StoreDouble(b.Items(f)->Bytes(), v);
}
inline void SetStr(TFieldBuffers& b, int32_t f, const std::string& s) {
  TFieldBufferItem* it = b.Items(f);
  std::memset(it->Buffer, 0, static_cast<size_t>(it->BufferSize));
  std::memcpy(it->Buffer, s.data(), std::min(s.size(), static_cast<size_t>(it->BufferSize)));
}
inline void SetBlob(TFieldBuffers& b, int32_t f, const std::string& s) {
  TMemoryStream* m = b.Items(f)->BlobStream();
  m->Clear();
  m->Write(s.data(), static_cast<int32_t>(s.size()));
}
inline int32_t GetInt(TFieldBuffers& b, int32_t f) {
  return TByteBuffer::LoadInt32(b.Items(f)->Bytes());
}
inline std::string GetStr(TFieldBuffers& b, int32_t f) {
  return TByteBuffer::LoadText(b.Items(f)->Bytes(), static_cast<size_t>(b.Items(f)->BufferSize));
}
inline std::string GetBlob(TFieldBuffers& b, int32_t f) {
  TMemoryStream* m = b.Items(f)->BlobStream();
  size_t n = static_cast<size_t>(m->Size());
  return std::string(reinterpret_cast<const char*>(m->Memory()), n);
}

inline int32_t I32(const std::string& bytes, size_t off) {
  return TByteBuffer::LoadInt32(reinterpret_cast<const uint8_t*>(bytes.data()) + off);
}

// Field 0 of each record in the order of list n, read through LoadRecord.
inline std::vector<std::string> StrColumn(TRadeTableIO& t, int32_t list, int32_t field) {
  std::vector<std::string> out;
  const TRecordList& l = t.RecordLists(list);
  for (int32_t p = 0; p < static_cast<int32_t>(l.size()); ++p) {
    auto b = Buffers(t);
    t.LoadRecord(*b, l, p);
    out.push_back(GetStr(*b, field));
  }
  return out;
}

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCollationLocale("en_US"); }

  // A new database file with the given tables, opened through io.
  std::string MakeDb(TRadeZIFileIO& io, std::vector<TTableSpec*> tables, const TDatabaseCreateOptions& o = {},
                     const std::string& name = "db.dat") {
    std::string path = dir.File(name);
    CreateDatabaseFile(path, o);
    io.OpenFile(path, mtDisk, false);
    if (!o.EncryptAlgoName.empty()) {
      EXPECT_TRUE(io.CheckPassword(o.Password));
    }
    AddTables(io, tables);
    return path;
  }

  TempDir dir;
  TTestOwner owner;
};

}  // namespace lanqi::test
