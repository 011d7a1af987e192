// The record walk on crafted buffers, the file-name masks and the long-path expansion.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"
#include "watcher/FileSystemWatcher.h"

namespace lanqi {
namespace {

struct Ev {
  TFileOperation op;
  std::string a, b;
  bool operator==(const Ev&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Ev& e) {
  return os << e.op << "(" << e.a << "," << e.b << ")";
}

struct RawRecord {
  uint32_t action;
  std::u16string name;
  int64_t next = -1;            // -1: the aligned size of the record (0 for the last one)
  int64_t lengthOverride = -1;  // FileNameLength as written, when not 2 * name.size()
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Buffer(const std::vector<RawRecord>& records) {
  std::vector<uint8_t> b(TShellChangeThread::kBufferSize, 0);
  size_t off = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const RawRecord& r = records[i];
    const size_t size = (12 + 2 * r.name.size() + 3) & ~size_t{3};
    const bool last = i + 1 == records.size();
    Put32(b, off, static_cast<uint32_t>(r.next >= 0 ? r.next : last ? 0 : static_cast<int64_t>(size)));
    Put32(b, off + 4, r.action);
    Put32(b, off + 8, static_cast<uint32_t>(r.lengthOverride >= 0 ? r.lengthOverride : 2 * r.name.size()));
    for (size_t j = 0; j < r.name.size(); ++j) {
      b[off + 12 + 2 * j] = static_cast<uint8_t>(r.name[j]);
      b[off + 13 + 2 * j] = static_cast<uint8_t>(r.name[j] >> 8);
    }
    off += size;
  }
  return b;
}

std::vector<Ev> Walk(const std::vector<uint8_t>& b) {
  std::vector<Ev> out;
  TShellChangeThread::WalkChanges(b.data(), b.size(),
                                  [&](TFileOperation op, const std::string& a, const std::string& c) {
                                    out.push_back({op, a, c});
                                  });
  return out;
}

TEST(ChangeRecords, WalkDeliversWhatTheRecordsSay) {
  SetSystemCodePage(936);
  const std::string gbk = Utf16ToAnsi(u"报告.doc");
  struct Case {
    const char* what;
    std::vector<RawRecord> records;
    std::vector<Ev> want;
  } cases[] = {
      {"zeroed buffer", {}, {}},
      {"each kind, in order",
       {{1, u"a"}, {3, u"d/b"}, {2, u"c"}},
       {{foAdded, "a", ""}, {foModified, "d/b", ""}, {foRemoved, "c", ""}}},
      {"a rename is one event with both names", {{4, u"old"}, {5, u"new"}}, {{foRenamed, "old", "new"}}},
      {"an old name without its new name delivers nothing", {{4, u"old"}, {1, u"x"}}, {{foAdded, "x", ""}}},
      {"an old name last in the buffer delivers nothing", {{1, u"x"}, {4, u"old"}}, {{foAdded, "x", ""}}},
      {"a new name without an old one delivers nothing", {{5, u"new"}, {2, u"x"}}, {{foRemoved, "x", ""}}},
      {"a second new name does not repeat the rename",
       {{4, u"old"}, {5, u"new"}, {5, u"again"}},
       {{foRenamed, "old", "new"}}},
      {"unknown actions are skipped, even between a rename's names",
       {{0, u"z"}, {4, u"old"}, {9, u"q"}, {5, u"new"}},
       {{foRenamed, "old", "new"}}},
      {"names of control characters only count as empty",
       {{1, std::u16string(u"\t\x01 \x1f")}, {3, u" a"}},
       {{foAdded, "", ""}, {foModified, " a", ""}}},
      {"names the code page cannot spell keep going with '?'",
       {{1, std::u16string(u"a\xD800z")}, {1, u"b\U0001F600"}, {1, u"报告.doc"}},
       {{foAdded, "a?z", ""}, {foAdded, "b?", ""}, {foAdded, gbk, ""}}},
      {"an odd name length takes the whole characters", {{1, u"ab", -1, 3}}, {{foAdded, "a", ""}}},
      {"a name running past the buffer ends the walk",
       {{1, u"a"}, {1, u"b", -1, 5000}},
       {{foAdded, "a", ""}}},
      {"an offset past the buffer ends the walk", {{1, u"a", 4096}, {1, u"b"}}, {{foAdded, "a", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Walk(Buffer(c.records)), c.want);
  }
}

TEST(ChangeRecords, WalkStopsAtTheBufferEndWhateverTheOffsets) {
  // Every record points 12 bytes on: 341 records of empty names, the last one cut off by the end.
  std::vector<uint8_t> b(TShellChangeThread::kBufferSize, 0);
  for (size_t off = 0; off + 12 <= b.size(); off += 12) {
    Put32(b, off, 12);
    Put32(b, off + 4, 1);
  }
  EXPECT_EQ(Walk(b).size(), 4096u / 12);
}

TEST(ChangeRecords, MasksMatchTheFileNamePartWithoutCase) {
  SetSystemCodePage(936);
  struct Case {
    std::string name;
    std::vector<std::string> masks;
    bool want;
  } cases[] = {
      {"docs/a.txt", {"*.*"}, true},
      {"noext", {"*.*"}, true},
      {"", {"*.*"}, true},
      {"docs/a.TXT", {"*.txt"}, true},
      {"docs.txt/a.doc", {"*.txt"}, false},  // only the part after the last delimiter counts
      {"a.doc", {"*.txt", "*.DOC"}, true},
      {"a.doc", {}, false},
      {"ab.c", {"a?.c"}, true},
      {"a.c", {"a?.c"}, false},
      {"report2024.doc", {"rep*20??.*"}, true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", {"*a*a*a*a*a*a*a*a*c"}, false},
      {Utf16ToAnsi(u"报告.doc"), {"??.doc"}, true},  // one '?' per character, not per byte
      {Utf16ToAnsi(u"报告.doc"), {Utf16ToAnsi(u"报*")}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " / " + (c.masks.empty() ? "" : c.masks[0]));
    EXPECT_EQ(MatchesMasks(c.name, c.masks), c.want);
  }
}

TEST(ChangeRecords, ExpandLongPathSpellsLevelsAsStored) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.File("Docs/Sub"));
  std::ofstream(dir.File("Docs/Sub/Report.TXT")) << "x";
  struct Case {
    std::string in, want;
  } cases[] = {
      {"  " + dir.File("Docs/Sub/Report.TXT") + " ", dir.File("Docs/Sub/Report.TXT")},
      {dir.File("docs/SUB/report.txt"), dir.File("Docs/Sub/Report.TXT")},
      {dir.File("Docs/Sub") + "/", dir.File("Docs/Sub")},
      {dir.File("docs/gone.txt"), dir.File("Docs/gone.txt")},  // missing levels keep their spelling
      {dir.Path() + "//Docs", dir.File("Docs")},
      {"relative/Path/", "relative/Path"},
      {"/", "/"},
      {" ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ExpandLongPath(c.in), c.want);
  }
}

TEST(ChangeRecords, FilterFlagsGiveTheirBits) {
  EXPECT_EQ(NotifyFilterBits(TNotifyFilters::All()), 0x17Fu);
  EXPECT_EQ(NotifyFilterBits({nfFileNameChange, nfDirNameChange}), 0x003u);
  EXPECT_EQ(NotifyFilterBits({nfSecurityChange, nfWriteChange}), 0x110u);
  EXPECT_EQ(NotifyFilterBits({}), 0u);
}

}  // namespace
}  // namespace lanqi
