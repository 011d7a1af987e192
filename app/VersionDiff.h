// Comparing a version with the current file (or with another version): the text's encoding, the
// line blocks that differ and the characters that differ inside them, taking blocks from the
// version into the current text and back, and the summary of files that are not text. No widgets:
// the compare window and the command line both stand on it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanqi {

// Files larger than this are compared by size, hash and first differing byte only.
constexpr int64_t kTextCompareLimit = 20 * 1024 * 1024;

enum class TTextEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Gb18030 };

struct TDecodedText {
  TTextEncoding Encoding = TTextEncoding::Utf8;
  QString Text;
};

// The encoding of bytes and the text they hold: a byte-order mark names UTF-8 or UTF-16; otherwise
// bytes that read as UTF-8 are UTF-8 and the rest GB18030 (a superset of code page 936). None when
// the bytes are not text: a NUL byte without a UTF-16 mark, or bytes no encoding reads back whole
// (so a text that is shown, merged and saved always turns into the very same bytes).
std::optional<TDecodedText> DecodeText(std::string_view bytes);
// The bytes of text in encoding, the byte-order mark included where the encoding has one.
std::string EncodeText(const QString& text, TTextEncoding encoding);
// "UTF-8", "UTF-16 LE", "GB18030" ...
QString EncodingName(TTextEncoding encoding);

// The lines of a text, each with its line break ("\n", "\r\n"); the last one may have none.
std::vector<QString> SplitLines(const QString& text);

// A block of lines that differ: Old lines [OldStart, OldStart+OldCount) stand where the new side
// has [NewStart, NewStart+NewCount). Starts are 0-based; a count may be 0 (lines only on one side).
struct TDiffBlock {
  int OldStart = 0;
  int OldCount = 0;
  int NewStart = 0;
  int NewCount = 0;
  bool operator==(const TDiffBlock&) const = default;
};
// The blocks that turn a into b, in order, with the patience line diff.
std::vector<TDiffBlock> DiffLines(const std::vector<QString>& a, const std::vector<QString>& b);

// A run of UTF-16 units inside a line.
struct TCharRange {
  int Start = 0;
  int Length = 0;
  bool operator==(const TCharRange&) const = default;
};
// The characters (whole graphemes) that differ between a changed line and its counterpart; line
// breaks are left out. Very long lines are marked whole.
void DiffChars(const QString& a, const QString& b, std::vector<TCharRange>& inA,
               std::vector<TCharRange>& inB);

// The merge of a version (left) into the current text (right): each differing block can be taken
// from the left into the right, and given back. The blocks stay those of the first comparison, so
// taking and undoing in any order always gives a well-defined text.
class TMergeModel {
 public:
  TMergeModel(std::vector<QString> left, std::vector<QString> right);

  const std::vector<QString>& Left() const { return left_; }
  const std::vector<QString>& Right() const { return right_; }
  const std::vector<TDiffBlock>& Blocks() const { return blocks_; }
  bool Taken(int block) const { return taken_.at(static_cast<size_t>(block)); }
  void Take(int block) { taken_.at(static_cast<size_t>(block)) = true; }
  void Undo(int block) { taken_.at(static_cast<size_t>(block)) = false; }
  // True when some block is taken: the merged text differs from the right side.
  bool Modified() const;
  // The right side with the taken blocks replaced by the left's lines.
  std::vector<QString> MergedLines() const;
  QString MergedText() const;

 private:
  std::vector<QString> left_;
  std::vector<QString> right_;
  std::vector<TDiffBlock> blocks_;
  std::vector<bool> taken_;
};

// What is shown of a file that is not compared as text.
struct TFileSummary {
  int64_t Size = 0;
  QByteArray Sha256;  // raw digest
};

// Two files (code-page paths) read for comparison. A file that cannot be read raises Exception
// with the system's reason.
struct TCompareResult {
  bool IsText = false;
  // Text: the two encodings and the merge model (left = first file, right = second).
  TTextEncoding LeftEncoding = TTextEncoding::Utf8;
  TTextEncoding RightEncoding = TTextEncoding::Utf8;
  std::unique_ptr<TMergeModel> Merge;
  // Always filled: the bytes the right side held when read (text only), to tell whether the file
  // changed before a save.
  std::string RightBytes;
  // Not text (or over kTextCompareLimit): sizes, hashes and the first differing byte offset (-1 when
  // the files are the same).
  TFileSummary Left, Right;
  int64_t FirstDifference = -1;
};
TCompareResult CompareFiles(const std::string& leftPath, const std::string& rightPath);
// A whole file's bytes (code-page path); raises as CompareFiles does.
std::string ReadFileBytes(const std::string& path);

// The merged right side as bytes, in the right side's own encoding.
std::string MergedBytes(const TCompareResult& result);

// A unified diff (three lines of context) from leftLabel to rightLabel, in UTF-8; for files that are
// not text, one line saying they differ followed by their sizes, hashes and first differing offset.
// Empty when the two are the same.
std::string UnifiedDiff(const TCompareResult& result, const std::string& leftLabel,
                        const std::string& rightLabel);

// Replaces the file at path (code-page text) with bytes through a temporary file in the same folder
// and a rename, keeping the file's permission bits (and owner where allowed); a symbolic link is
// followed, so the file it names is written. The file is left as it was when it is not writable or
// anything fails: false, with the system's text in *reason.
bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string* reason);

}  // namespace lanqi
