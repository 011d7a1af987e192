// The comparison under the compare window and `lanqi diff`: encodings, line blocks, changed
// characters, the merge of blocks, files that are not text, and the save that replaces a file.
#include "app/VersionDiff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

QString Q(const char8_t* s) {
  return QString::fromUtf8(reinterpret_cast<const char*>(s));
}

std::string B(const char8_t* s) {
  return reinterpret_cast<const char*>(s);
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(VersionDiff, DetectsEachEncodingAndWritesTheSameBytesBack) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<TTextEncoding> encoding;  // none: not text
    QString text;
  };
  const Case cases[] = {
      {"empty", "", TTextEncoding::Utf8, ""},
      {"ascii", "a\r\nb", TTextEncoding::Utf8, "a\r\nb"},
      {"utf-8", B(u8"中文\n"), TTextEncoding::Utf8, Q(u8"中文\n")},
      {"utf-8 with mark", B(u8"\uFEFF中文"), TTextEncoding::Utf8Bom, Q(u8"中文")},
      {"utf-16 le", std::string("\xFF\xFE\x2D\x4E\x87\x65\x0A\x00", 8), TTextEncoding::Utf16LE,
       Q(u8"中文\n")},
      {"utf-16 be", std::string("\xFE\xFF\x4E\x2D\x65\x87", 6), TTextEncoding::Utf16BE, Q(u8"中文")},
      {"code page 936", "\xD6\xD0\xCE\xC4\n", TTextEncoding::Gb18030, Q(u8"中文\n")},
      {"gb18030 four bytes", "\x95\x32\x82\x36", TTextEncoding::Gb18030, Q(u8"\U00020000")},
      {"nul byte", std::string("ab\0cd", 5), std::nullopt, ""},
      {"odd utf-16", std::string("\xFF\xFE\x41", 3), std::nullopt, ""},
      {"no encoding reads it", "\xFF\xFF\x80", std::nullopt, ""},
      {"broken utf-8 after mark", "\xEF\xBB\xBF\xC3", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<TDecodedText> t = DecodeText(c.bytes);
    ASSERT_EQ(t.has_value(), c.encoding.has_value());
    if (!t) continue;
    EXPECT_EQ(t->Encoding, *c.encoding);
    EXPECT_EQ(t->Text, c.text);
    EXPECT_EQ(EncodeText(t->Text, t->Encoding), c.bytes);
  }
}

TEST(VersionDiff, LineBlocksLineUpWithTheLines) {
  struct Case {
    const char* name;
    QString a, b;
    std::vector<TDiffBlock> blocks;
  };
  const Case cases[] = {
      {"same", "x\ny\n", "x\ny\n", {}},
      {"changed middle", "x\ny\nz\n", "x\nY\nz\n", {{1, 1, 1, 1}}},
      {"inserted at top", "x\n", "new\nx\n", {{0, 0, 0, 1}}},
      {"deleted at end", "x\ny\n", "x\n", {{1, 1, 1, 0}}},
      {"last line lost its break", "x\ny\n", "x\ny", {{1, 1, 1, 1}}},
      {"from empty", "", "a\nb", {{0, 0, 0, 2}}},
      {"two blocks", "a\nb\nc\nd\ne\n", "a\nB\nc\nd\n", {{1, 1, 1, 1}, {4, 1, 4, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DiffLines(SplitLines(c.a), SplitLines(c.b)), c.blocks);
  }
}

TEST(VersionDiff, MarksTheChangedCharactersInsideALine) {
  std::vector<TCharRange> inA, inB;
  DiffChars(Q(u8"版本说明写在这里\n"), Q(u8"版本注释写在这里了\r\n"), inA, inB);
  EXPECT_EQ(inA, (std::vector<TCharRange>{{2, 2}}));
  EXPECT_EQ(inB, (std::vector<TCharRange>{{2, 2}, {8, 1}}));
  // A character outside the basic plane is one mark of two units, never half of one.
  DiffChars(Q(u8"a\U00020000b"), Q(u8"a\U00020001b"), inA, inB);
  EXPECT_EQ(inA, (std::vector<TCharRange>{{1, 2}}));
  EXPECT_EQ(inB, (std::vector<TCharRange>{{1, 2}}));
}

struct VersionFiles : testing::Test {
  test::TempDir dir;
};

// The same change in each encoding: one block, the changed character marked, the diff readable in
// UTF-8, and taking the block gives the version's own bytes back.
TEST_F(VersionFiles, ComparesTextInEachEncoding) {
  const QString version = Q(u8"第一行\n第二行\n第三行\n");
  const QString current = Q(u8"第一行\n第二行改\n第三行\n");
  for (TTextEncoding e :
       {TTextEncoding::Utf8, TTextEncoding::Gb18030, TTextEncoding::Utf16LE, TTextEncoding::Utf16BE}) {
    SCOPED_TRACE(EncodingName(e).toStdString());
    std::string left = dir.Write("v.txt", EncodeText(version, e));
    std::string right = dir.Write("c.txt", EncodeText(current, e));
    TCompareResult r = CompareFiles(left, right);
    ASSERT_TRUE(r.IsText);
    EXPECT_EQ(r.LeftEncoding, e);
    EXPECT_EQ(r.RightEncoding, e);
    ASSERT_EQ(r.Merge->Blocks(), (std::vector<TDiffBlock>{{1, 1, 1, 1}}));
    std::vector<TCharRange> inA, inB;
    DiffChars(r.Merge->Left()[1], r.Merge->Right()[1], inA, inB);
    EXPECT_TRUE(inA.empty());
    EXPECT_EQ(inB, (std::vector<TCharRange>{{3, 1}}));
    EXPECT_EQ(UnifiedDiff(r, "v", "c"),
              B(u8"--- v\n+++ c\n@@ -1,3 +1,3 @@\n 第一行\n-第二行\n+第二行改\n 第三行\n"));
    r.Merge->Take(0);
    EXPECT_EQ(MergedBytes(r), test::TempDir::Read(left));
    r.Merge->Undo(0);
    EXPECT_EQ(MergedBytes(r), test::TempDir::Read(right));
  }
}

TEST_F(VersionFiles, TakesOneBlockOfSeveralAndGivesItBack) {
  // The current file lost its first line, changed the third and has no final break.
  std::string left = dir.Write("v.txt", "head\na\nb\nc\n");
  std::string right = dir.Write("c.txt", "a\nB\nc\nextra");
  TCompareResult r = CompareFiles(left, right);
  ASSERT_EQ(r.Merge->Blocks(), (std::vector<TDiffBlock>{{0, 1, 0, 0}, {2, 1, 1, 1}, {4, 0, 3, 1}}));
  r.Merge->Take(1);
  EXPECT_TRUE(r.Merge->Modified());
  EXPECT_EQ(MergedBytes(r), "a\nb\nc\nextra");
  r.Merge->Take(0);
  EXPECT_EQ(MergedBytes(r), "head\na\nb\nc\nextra");
  // Taking the last block removes the line without a break; the text then ends as the version does.
  r.Merge->Take(2);
  EXPECT_EQ(MergedBytes(r), test::TempDir::Read(left));
  r.Merge->Undo(1);
  r.Merge->Undo(0);
  EXPECT_EQ(MergedBytes(r), "a\nB\nc\n");
  r.Merge->Undo(2);
  EXPECT_FALSE(r.Merge->Modified());
  EXPECT_EQ(MergedBytes(r), test::TempDir::Read(right));
}

TEST_F(VersionFiles, KeepsTheCurrentEncodingWhenTheVersionHadAnother) {
  std::string left = dir.Write("v.txt", "\xD6\xD0\n");  // GB18030
  std::string right = dir.Write("c.txt", EncodeText(Q(u8"文\n"), TTextEncoding::Utf16LE));
  TCompareResult r = CompareFiles(left, right);
  ASSERT_TRUE(r.IsText);
  r.Merge->Take(0);
  EXPECT_EQ(MergedBytes(r), EncodeText(Q(u8"中\n"), TTextEncoding::Utf16LE));
}

TEST_F(VersionFiles, BinaryFilesGiveSizesHashesAndTheFirstDifference) {
  std::string left = dir.Write("v.bin", std::string("abc", 3));
  std::string right = dir.Write("c.bin", std::string("ab\0d", 4));
  TCompareResult r = CompareFiles(left, right);
  EXPECT_FALSE(r.IsText);
  EXPECT_EQ(r.Left.Size, 3);
  EXPECT_EQ(r.Right.Size, 4);
  // FIPS 180-2's example for "abc".
  EXPECT_EQ(r.Left.Sha256.toHex().toStdString(),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(r.FirstDifference, 2);
  std::string diff = UnifiedDiff(r, "v.bin", "c.bin");
  EXPECT_EQ(diff.substr(0, diff.find('\n')), "Binary files v.bin and c.bin differ");
  EXPECT_NE(diff.find("First difference at byte 2\n"), std::string::npos);

  // The same bytes on both sides: no difference and no diff text.
  r = CompareFiles(left, left);
  EXPECT_EQ(r.FirstDifference, -1);
  EXPECT_EQ(UnifiedDiff(r, "a", "b"), "");
  // One file the start of the other differs where the shorter ends.
  std::string longer = dir.Write("l.bin", std::string("abc\0", 4));
  EXPECT_EQ(CompareFiles(left, longer).FirstDifference, 3);
}

TEST_F(VersionFiles, TextOverTheLimitIsComparedAsBytes) {
  // Text on both sides, but too large: past the first read chunk, a single byte differs.
  std::string text(static_cast<size_t>(kTextCompareLimit) + 10, 'a');
  for (size_t i = 79; i < text.size(); i += 80) text[i] = '\n';
  std::string left = dir.Write("v.txt", text);
  const size_t at = (3u << 20) + 5;
  text[at] = 'b';
  std::string right = dir.Write("c.txt", text);
  TCompareResult r = CompareFiles(left, right);
  EXPECT_FALSE(r.IsText);
  EXPECT_EQ(r.FirstDifference, static_cast<int64_t>(at));
  EXPECT_EQ(r.Left.Size, static_cast<int64_t>(text.size()));
  EXPECT_NE(r.Left.Sha256, r.Right.Sha256);
}

TEST_F(VersionFiles, SavingReplacesTheBytesAndKeepsThePermissions) {
  std::string path = dir.Write("doc.txt", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::string reason;
  ASSERT_TRUE(WriteFileReplacing(path, "new bytes", &reason)) << reason;
  EXPECT_EQ(test::TempDir::Read(path), "new bytes");
  EXPECT_EQ(ModeOf(path), 0640u);
  // Nothing of the temporary file is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  // Through a link the file it names is written and the link stays.
  std::string link = dir.File("link.txt");
  std::filesystem::create_symlink(path, link);
  ASSERT_TRUE(WriteFileReplacing(link, "via link", &reason)) << reason;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::TempDir::Read(path), "via link");
  EXPECT_EQ(ModeOf(path), 0640u);
}

TEST_F(VersionFiles, SavingWhatCannotBeWrittenLeavesItAsItWas) {
  std::string reason;
  // A folder in the file's place.
  std::filesystem::create_directories(dir.File("folder"));
  EXPECT_FALSE(WriteFileReplacing(dir.File("folder"), "x", &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder")));
  // A folder that is not there.
  EXPECT_FALSE(WriteFileReplacing(dir.File("missing/doc.txt"), "x", &reason));
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes read-only files";
  std::string ro = dir.Write("ro.txt", "keep");
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  EXPECT_FALSE(WriteFileReplacing(ro, "lost", &reason));
  EXPECT_EQ(test::TempDir::Read(ro), "keep");
}

}  // namespace
}  // namespace lanqi
