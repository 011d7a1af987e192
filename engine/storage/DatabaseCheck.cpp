#include "engine/storage/DatabaseCheck.h"

#include <algorithm>

#include "engine/storage/RadeTableIO.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
void CheckTable(TRadeZIFileIO& io, TRadeTableIO& t, std::vector<std::string>& out,
                std::vector<int32_t>* badIndexes) {
  const std::string& tn = t.TableName();
  const int64_t fileSize = io.FileSize();
  const TRecordList& list0 = t.RecordLists(0);
  // Records and their blob descriptors.
  std::vector<uint8_t> record(static_cast<size_t>(t.RecordSize()));
  int32_t maxAuto = 0;
  const int32_t autoField = t.AutoIncField();
  for (int32_t r = 0; r < static_cast<int32_t>(t.RecordTab().size()); ++r) {
    const TRecordTabItem& e = t.RecordTab()[static_cast<size_t>(r)];
    if (e.IsDeleted()) continue;
    io.ReadBytesAt(record.data(), e.DataOffset, t.RecordSize());
    for (int32_t i = 0; i < t.FieldDefs().Count(); ++i) {
      uint8_t type = t.FieldDefs().Items(i)->FieldType;
      const uint8_t* slot = record.data() + t.SlotOffsets()[static_cast<size_t>(i)];
      if (IsBlobType(type)) {
        TBlobDescriptor d = TBlobDescriptor::Load(slot);
        bool inFile = d.DataOffset >= kDynamicAreaOffset && d.AreaSize >= 0 && d.StoredSize >= 0 &&
                      static_cast<int64_t>(d.DataOffset) + d.AreaSize <= fileSize;
        if (!inFile)
          out.push_back(Format("table '%s', record %d, field '%s': the blob area lies outside the file",
                               tn.c_str(), r, t.FieldDefs().Items(i)->Name.c_str()));
        else if (d.StoredSize >= d.AreaSize || d.AreaSize % kBlobAreaUnit != 0)
          out.push_back(
              Format("table '%s', record %d, field '%s': stored size %d does not fit its area of %d bytes",
                     tn.c_str(), r, t.FieldDefs().Items(i)->Name.c_str(), d.StoredSize, d.AreaSize));
        else {
          // The stored bytes must decode (decrypt, decompress) as the reader will.
          try {
            TMemoryStream plain;
            io.ReadFieldDataAt(plain,
                               static_cast<int64_t>(e.DataOffset) + t.SlotOffsets()[static_cast<size_t>(i)],
                               kBlobDescriptorSize, true, t.FieldEncrypted(i), t.FieldCompressed(i));
          } catch (const std::exception& x) {
            out.push_back(Format("table '%s', record %d, field '%s': the blob cannot be read: %s", tn.c_str(),
                                 r, t.FieldDefs().Items(i)->Name.c_str(), x.what()));
          }
        }
      } else if (i == autoField && !t.FieldEncrypted(i)) {
        maxAuto = std::max(maxAuto, TByteBuffer::LoadInt32(slot));
      }
    }
  }
  if (autoField >= 0 && maxAuto > t.TableHeader().AutoIncCounter())
    out.push_back(Format("table '%s': AutoIncCounter %d is below the stored value %d", tn.c_str(),
                         t.TableHeader().AutoIncCounter(), maxAuto));
  // Index chains and key order.
  for (int32_t k = 0; k < t.IndexDefs().Count(); ++k) {
    const TRadeIndexDef* d = t.IndexDefs().Items(k);
    bool bad = false;
    if (t.IndexListRebuilt(k)) {
      out.push_back(
          Format("table '%s', index '%s': the stored chain does not visit every live record exactly once",
                 tn.c_str(), d->Name.c_str()));
      bad = true;
    }
    if (t.TableHeader().IndexTabOffset(k) != 0 && !t.RecordTab().empty()) {
      TIntegerAry blocks;
      TIndexTabItems items;
      io.ReadIndexTab(t.TableHeader(), k, blocks, items);
      for (size_t n = 0; n < items.size(); ++n)
        if (items[n].RecNo != static_cast<int32_t>(n)) {
          out.push_back(Format("table '%s', index '%s': index-tab entry %d holds the record number %d",
                               tn.c_str(), d->Name.c_str(), static_cast<int32_t>(n), items[n].RecNo));
          bad = true;
          break;
        }
    }
    const TRecordList& list = t.RecordLists(k + 1);
    const bool unique = d->Options.Contains(tiPrimary) || d->Options.Contains(tiUnique);
    for (size_t p = 1; p < list.size(); ++p) {
      int32_t c = t.CompareRecords(k, list[p - 1].RecNo, list[p].RecNo);
      if (c > 0) {
        out.push_back(Format("table '%s', index '%s': record %d comes before record %d against key order",
                             tn.c_str(), d->Name.c_str(), list[p - 1].RecNo, list[p].RecNo));
        bad = true;
        break;
      }
      if (c == 0 && unique)
        out.push_back(Format("table '%s', index '%s': records %d and %d have the same unique key", tn.c_str(),
                             d->Name.c_str(), list[p - 1].RecNo, list[p].RecNo));
    }
    if (list.size() != list0.size()) bad = true;
    if (bad && badIndexes) badIndexes->push_back(k);
  }
}
}  // namespace

TCheckResult CheckDatabase(TRadeZIFileIO& fileIO, bool repair) {
  TCheckResult result;
  std::vector<std::string> names;
  fileIO.GetTableNames(names);
  for (const std::string& name : names) {
    TRadeTableIO t(fileIO, name);
    try {
      t.Acquire();
      std::vector<int32_t> bad;
      std::vector<std::string> found;
      CheckTable(fileIO, t, found, &bad);
      if (repair && !bad.empty() && !fileIO.ReadOnly()) {
        for (int32_t k : bad) {
          t.RewriteIndexChain(k, false);
          result.Repairs.push_back(Format("table '%s', index '%s': chain and IndexHead rewritten",
                                          name.c_str(), t.IndexDefs().Items(k)->Name.c_str()));
        }
        fileIO.FlushFile();
        // The repaired file is checked again as a fresh load sees it.
        t.Release();
        t.Acquire();
        found.clear();
        CheckTable(fileIO, t, found, nullptr);
      }
      result.Violations.insert(result.Violations.end(), found.begin(), found.end());
    } catch (const std::exception& e) {
      result.Violations.push_back(Format("table '%s': %s", name.c_str(), e.what()));
    }
  }
  return result;
}

}  // namespace lanqi
