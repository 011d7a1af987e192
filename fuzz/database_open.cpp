// Opens arbitrary bytes as a database and reads everything in it: every table, every list, every
// record with its blobs, a key search per index, then the integrity check with repair. A clean
// error or success, never a crash, hang or out-of-bounds access.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "engine/storage/DatabaseCheck.h"
#include "engine/storage/RadeTableIO.h"
#include "engine/storage/RadeZIFileIO.h"
#include "platform/Collation.h"

using namespace lanqi;

namespace {
class TNoWaitOwner : public TStorageOwner {
 public:
  void LockSleep(int32_t) override {}
};

void ReadAll(TRadeZIFileIO& io) {
  std::vector<std::string> names;
  io.GetTableNames(names);
  for (const std::string& name : names) {
    TRadeTableIO t(io, name);
    try {
      t.Acquire();
      for (int32_t n = 0; n < t.RecordListCount(); ++n) {
        const TRecordList& list = t.RecordLists(n);
        for (int32_t p = 0; p < static_cast<int32_t>(list.size()) && p < 200; ++p) {
          TFieldBuffers b;
          for (int32_t i = 0; i < t.FieldDefs().Count(); ++i)
            b.AddOwned(t.FieldDefs().Items(i)->FieldType, t.SlotSize(i), &io);
          t.LoadRecord(b, list, p);
          for (int32_t i = 0; i < b.Count(); ++i) {
            (void)b.Items(i)->DisplayText();
            if (IsBlobType(b.Items(i)->FieldType)) (void)b.Items(i)->BlobStream()->Size();
          }
          if (n > 0 && p == 0) {
            TKeySearchResult result;
            t.SearchIndex(b, list, false, 0, result, n - 1);
          }
        }
      }
    } catch (const std::exception&) {
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    SetCollationLocale("en_US");
    return true;
  }();
  (void)init;
  TMemoryStream image;
  image.Write(data, static_cast<int32_t>(size));
  uint32_t id = RegisterDatabaseStream(&image);
  try {
    TNoWaitOwner owner;
    TRadeZIFileIO io(&owner);
    io.OpenFile(MemoryDatabaseName(id), mtMemory, false);
    io.CheckPassword("");
    ReadAll(io);
    CheckDatabase(io, true);
  } catch (const std::exception&) {
  }
  UnregisterDatabaseStream(id);
  return 0;
}
