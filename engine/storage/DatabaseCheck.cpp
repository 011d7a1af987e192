#include "engine/storage/DatabaseCheck.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/RadeTableIO.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// What a repair can mend, found by the check.
struct TRepairPlan {
  int32_t TableCount = -1;  // the count that takes in the well-formed tables it left out
  std::vector<std::pair<std::string, int32_t>> Chains;  // table name, index number
};

// Names and texts are shown as code-page text: bytes with no code-page form make every reader
// that shows them fail. Returns the converter's reason, or "" for readable text.
std::string Unreadable(const std::string& text) {
  try {
    (void)AnsiToUtf16(text);
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "";
}

// The definitions of a table header as the table layer loads them; "" or why they cannot be
// the definitions of a table the writer made.
std::string DefinitionFault(const TTableHeader& h, TRadeFieldDefs& fields, TRadeIndexDefs& indexes) {
  const int32_t fieldCount = h.FieldCount(), indexCount = h.IndexCount();
  if (fieldCount < 0 || fieldCount > kMaxFields) return Format("the field count is %d", fieldCount);
  if (indexCount < 0 || indexCount > kMaxIndexes) return Format("the index count is %d", indexCount);
  // The collections name an unnamed item themselves: an empty stored name is found here.
  for (int32_t i = 0; i < fieldCount; ++i) {
    TFieldDefRec f = h.Field(i);
    if (f.Name.empty()) return Format("field %d has an empty name", i);
    fields.Add(f.Name, f.FieldType, f.DataSize, f.NoProcessing);
  }
  for (int32_t k = 0; k < indexCount; ++k) {
    TIndexDefRec d = h.Index(k);
    if (d.Name.empty()) return Format("index %d has an empty name", k);
    indexes.Add(d.Name, d.FieldNumbers, d.Options);
  }
  try {
    ValidateTableDefinition(h.Name(), fields, indexes);
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  for (int32_t i = 0; i < fields.Count(); ++i) {
    std::string why = Unreadable(fields.Items(i)->Name);
    if (!why.empty()) return Format("the name of field %d cannot be read: %s", i, why.c_str());
  }
  for (int32_t k = 0; k < indexes.Count(); ++k) {
    std::string why = Unreadable(indexes.Items(k)->Name);
    if (!why.empty()) return Format("the name of index %d cannot be read: %s", k, why.c_str());
  }
  return "";
}

// A table header at offset that the writer could have made: in the file, a readable name, sound
// definitions, a record count that is not negative.
bool WellFormedHeader(TRadeZIFileIO& io, int32_t offset, TTableHeader& h) {
  if (offset < kDynamicAreaOffset || offset > io.FileSize() - kTableHeaderSize) return false;
  io.ReadBytesAt(h.Image().Data(), offset, kTableHeaderSize);
  TRadeFieldDefs fields;
  TRadeIndexDefs indexes;
  return h.RecordTabCount() >= 0 && Unreadable(h.Name()).empty() &&
         DefinitionFault(h, fields, indexes).empty();
}

bool Overlap(int32_t a, int32_t b) {
  return std::abs(static_cast<int64_t>(a) - b) < kTableHeaderSize;
}

// The directory: each table header once, apart from the others, under a readable name of its
// own; no well-formed table left out by the count. Returns false when the tables cannot be told
// apart by name, so that nothing is repaired through a name.
bool CheckDirectory(TRadeZIFileIO& io, std::vector<std::string>& out, TRepairPlan* plan) {
  const int32_t count = io.TableCount();
  std::vector<int32_t> offsets;
  std::vector<std::string> names;
  bool distinct = true;
  TTableHeader h;
  for (int32_t i = 0; i < count; ++i) {
    offsets.push_back(io.TableHeaderOffset(i));
    io.ReadTableHeader(i, h);
    names.push_back(h.Name());
    for (int32_t j = 0; j < i; ++j)
      if (Overlap(offsets[static_cast<size_t>(j)], offsets.back())) {
        out.push_back(
            Format("the table directory: the headers of tables %d and %d overlap (offsets %d and %d)", j, i,
                   offsets[static_cast<size_t>(j)], offsets.back()));
        distinct = false;
      }
    if (names.back().empty()) {
      out.push_back(Format("the table directory: table %d has an empty name", i));
      distinct = false;
      continue;
    }
    std::string why = Unreadable(names.back());
    if (!why.empty()) {
      out.push_back(Format("the table directory: the name of table %d cannot be read: %s", i, why.c_str()));
      distinct = false;
    }
    for (int32_t j = 0; j < i; ++j)
      if (SameTextAnsi(names[static_cast<size_t>(j)], names.back())) {
        out.push_back(Format("the table directory: tables %d and %d have the same name '%s'", j, i,
                             names.back().c_str()));
        distinct = false;
      }
  }
  // Slots past the count are not read; one that designates a well-formed table of a name of its
  // own is a table the count lost.
  int32_t reach = count;
  while (reach < kMaxTables) {
    const int32_t off = io.Directory().Offset(reach);
    if (!WellFormedHeader(io, off, h)) break;
    bool apart = true;
    for (size_t j = 0; j < offsets.size(); ++j)
      apart = apart && !Overlap(offsets[j], off) && !SameTextAnsi(names[j], h.Name());
    if (!apart) break;
    out.push_back(Format("the table directory: its count %d leaves out the table '%s' in slot %d", count,
                         h.Name().c_str(), reach));
    offsets.push_back(off);
    names.push_back(h.Name());
    ++reach;
  }
  if (plan && reach > count && distinct) plan->TableCount = reach;
  return distinct;
}

void CheckTable(TRadeZIFileIO& io, TRadeTableIO& t, std::vector<std::string>& out,
                std::vector<int32_t>* badIndexes) {
  const std::string& tn = t.TableName();
  {
    TRadeFieldDefs fields;
    TRadeIndexDefs indexes;
    std::string fault = DefinitionFault(t.TableHeader(), fields, indexes);
    if (!fault.empty()) {
      out.push_back(Format("table '%s': %s", tn.c_str(), fault.c_str()));
      return;  // the records cannot be read by these definitions
    }
  }
  const int64_t fileSize = io.FileSize();
  const TRecordList& list0 = t.RecordLists(0);
  std::vector<uint8_t> record(static_cast<size_t>(t.RecordSize())), plain;
  int32_t maxAuto = 0;
  const int32_t autoField = t.AutoIncField();
  for (int32_t r = 0; r < static_cast<int32_t>(t.RecordTab().size()); ++r) {
    const TRecordTabItem& e = t.RecordTab()[static_cast<size_t>(r)];
    if (e.IsDeleted()) continue;
    io.ReadBytesAt(record.data(), e.DataOffset, t.RecordSize());
    for (int32_t i = 0; i < t.FieldDefs().Count(); ++i) {
      const TRadeFieldDef* f = t.FieldDefs().Items(i);
      const uint8_t type = f->FieldType;
      const uint8_t* slot = record.data() + t.SlotOffsets()[static_cast<size_t>(i)];
      if (IsBlobType(type)) {
        TBlobDescriptor d = TBlobDescriptor::Load(slot);
        bool inFile = d.DataOffset >= kDynamicAreaOffset && d.AreaSize >= 0 && d.StoredSize >= 0 &&
                      static_cast<int64_t>(d.DataOffset) + d.AreaSize <= fileSize;
        if (!inFile)
          out.push_back(Format("table '%s', record %d, field '%s': the blob area lies outside the file",
                               tn.c_str(), r, f->Name.c_str()));
        else if (d.StoredSize >= d.AreaSize || d.AreaSize % kBlobAreaUnit != 0)
          out.push_back(
              Format("table '%s', record %d, field '%s': stored size %d does not fit its area of %d bytes",
                     tn.c_str(), r, f->Name.c_str(), d.StoredSize, d.AreaSize));
        else {
          // The stored bytes must decode (decrypt, decompress) as the reader will.
          try {
            TMemoryStream value;
            io.ReadFieldDataAt(value,
                               static_cast<int64_t>(e.DataOffset) + t.SlotOffsets()[static_cast<size_t>(i)],
                               kBlobDescriptorSize, true, t.FieldEncrypted(i), t.FieldCompressed(i));
          } catch (const std::exception& x) {
            out.push_back(Format("table '%s', record %d, field '%s': the blob cannot be read: %s", tn.c_str(),
                                 r, f->Name.c_str(), x.what()));
          }
        }
        continue;
      }
      // The slot as the readers see it: decrypted, and for text, code-page characters up to
      // the first zero byte.
      const int32_t size = t.SlotSize(i);
      plain.assign(static_cast<size_t>(size), 0);
      io.DecodeBufferData(slot, plain.data(), t.FieldEncrypted(i), size);
      if (IsAnsiStringType(type)) {
        std::string why = Unreadable(TByteBuffer::LoadText(plain.data(), plain.size()));
        if (!why.empty())
          out.push_back(Format("table '%s', record %d, field '%s': the text cannot be read: %s", tn.c_str(),
                               r, f->Name.c_str(), why.c_str()));
      } else if (i == autoField) {
        maxAuto = std::max(maxAuto, TByteBuffer::LoadInt32(plain.data()));
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

std::vector<std::string> CheckOnce(TRadeZIFileIO& io, TRepairPlan* plan) {
  std::vector<std::string> out;
  const bool byName = CheckDirectory(io, out, plan);
  std::vector<std::string> names;
  io.GetTableNames(names);
  for (size_t n = 0; n < names.size(); ++n) {
    const std::string& name = names[n];
    // A name shared with an earlier table finds that table: the directory check reported it.
    bool first = true;
    for (size_t m = 0; m < n; ++m) first = first && !SameTextAnsi(names[m], name);
    if (!first) continue;
    TRadeTableIO t(io, name);
    try {
      t.Acquire();
      std::vector<int32_t> bad;
      CheckTable(io, t, out, &bad);
      if (plan && byName)
        for (int32_t k : bad) plan->Chains.emplace_back(name, k);
    } catch (const std::exception& e) {
      out.push_back(Format("table '%s': %s", name.c_str(), e.what()));
    }
  }
  return out;
}

}  // namespace

TCheckResult CheckDatabase(TRadeZIFileIO& fileIO, bool repair) {
  TCheckResult result;
  TRepairPlan plan;
  result.Violations = CheckOnce(fileIO, &plan);
  // Each round mends what the last check found; tables taken in again are checked, and their
  // chains mended, in the next round.
  for (int round = 0; repair && round < 3 && !result.Violations.empty() && !fileIO.ReadOnly(); ++round) {
    bool changed = false;
    if (plan.TableCount > fileIO.TableCount()) {
      TFileLockGuard lock(fileIO);
      const int32_t was = fileIO.TableCount();
      fileIO.Directory().SetCount(plan.TableCount);
      fileIO.WriteBytesAt(fileIO.Directory().Image.Data(), kDirectoryOffset, 4);
      result.Repairs.push_back(
          Format("the table directory: table count %d raised to %d", was, plan.TableCount));
      changed = true;
    }
    for (const auto& [name, k] : plan.Chains) {
      TRadeTableIO t(fileIO, name);
      try {
        t.Acquire();
        t.RewriteIndexChain(k, false);
        result.Repairs.push_back(Format("table '%s', index '%s': chain and IndexHead rewritten", name.c_str(),
                                        t.IndexDefs().Items(k)->Name.c_str()));
        changed = true;
      } catch (const std::exception&) {
        // What could not be rewritten stays a violation of the check that follows.
      }
    }
    if (!changed) break;
    fileIO.FlushFile();
    // The repaired file is checked again as a fresh load sees it.
    plan = TRepairPlan();
    result.Violations = CheckOnce(fileIO, &plan);
  }
  return result;
}

}  // namespace lanqi
