#include "app/VersionDiff.h"

#include <fcntl.h>
#include <git2.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/CodePage.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// Lines longer than this are marked whole instead of character by character.
constexpr int kCharDiffLimit = 4000;

void InitGit() {
  static std::once_flag once;
  std::call_once(once, [] { git_libgit2_init(); });
}

std::string GitError(const char* what) {
  const git_error* e = git_error_last();
  return std::string(what) + ": " + (e && e->message ? e->message : "unknown error");
}

struct TConverter {
  explicit TConverter(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    cnv = ucnv_open(name, &err);
    if (U_FAILURE(err)) throw Exception(std::string("No converter for ") + name);
    // Bytes or characters the encoding cannot carry are failures, never a substitute.
    ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  }
  ~TConverter() { ucnv_close(cnv); }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  std::optional<QString> Decode(std::string_view bytes) {
    if (bytes.size() > static_cast<size_t>(INT32_MAX / 2)) return std::nullopt;
    // Every byte gives at most one UTF-16 unit in the encodings used here (four GB18030 bytes give two).
    std::u16string out(bytes.size() + 1, u'\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                              bytes.data(), static_cast<int32_t>(bytes.size()), &err);
    if (U_FAILURE(err)) return std::nullopt;
    return QString(reinterpret_cast<const QChar*>(out.data()), n);
  }

  std::optional<std::string> Encode(const QString& text) {
    UErrorCode err = U_ZERO_ERROR;
    int32_t need = ucnv_fromUChars(cnv, nullptr, 0, reinterpret_cast<const UChar*>(text.utf16()),
                                   static_cast<int32_t>(text.size()), &err);
    if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return std::nullopt;
    std::string out(static_cast<size_t>(need), '\0');
    err = U_ZERO_ERROR;
    ucnv_fromUChars(cnv, out.data(), need, reinterpret_cast<const UChar*>(text.utf16()),
                    static_cast<int32_t>(text.size()), &err);
    if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return std::nullopt;
    return out;
  }

  UConverter* cnv = nullptr;
};

const char* IcuName(TTextEncoding e) {
  return e == TTextEncoding::Gb18030 ? "GB18030" : "UTF-8";
}

QString Utf16Units(std::string_view bytes, bool bigEndian) {
  QString text(static_cast<qsizetype>(bytes.size() / 2), Qt::Uninitialized);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto b0 = static_cast<uint8_t>(bytes[i]), b1 = static_cast<uint8_t>(bytes[i + 1]);
    text[static_cast<qsizetype>(i / 2)] =
        QChar(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
  }
  return text;
}

// Decodes with encoding and accepts the text only when it encodes back to the very same bytes.
std::optional<QString> RoundTrip(std::string_view bytes, TTextEncoding encoding) {
  TConverter c(IcuName(encoding));
  std::optional<QString> text = c.Decode(bytes);
  if (!text) return std::nullopt;
  std::optional<std::string> back = c.Encode(*text);
  if (!back || *back != bytes) return std::nullopt;
  return text;
}

// The hunks libgit2 finds between two texts given as one record per line, context 0.
std::vector<TDiffBlock> GitBlocks(const std::string& a, const std::string& b, uint32_t flags) {
  InitGit();
  git_diff_options opts = GIT_DIFF_OPTIONS_INIT;
  opts.flags = GIT_DIFF_FORCE_TEXT | flags;
  opts.context_lines = 0;
  opts.interhunk_lines = 0;
  opts.max_size = -1;
  std::vector<TDiffBlock> blocks;
  auto onHunk = [](const git_diff_delta*, const git_diff_hunk* h, void* payload) -> int {
    // A side with no lines names the line after which the other side's lines stand.
    TDiffBlock block{h->old_lines ? h->old_start - 1 : h->old_start, h->old_lines,
                     h->new_lines ? h->new_start - 1 : h->new_start, h->new_lines};
    static_cast<std::vector<TDiffBlock>*>(payload)->push_back(block);
    return 0;
  };
  int rc = git_diff_buffers(a.data(), a.size(), nullptr, b.data(), b.size(), nullptr, &opts, nullptr, nullptr,
                            onHunk, nullptr, &blocks);
  if (rc < 0) throw Exception(GitError("Line diff failed"));
  return blocks;
}

// The unchanged lines between blocks must match one to one; anything else means the lines handed
// to the diff were split differently from ours, and a merge on top of it would corrupt the text.
void CheckBlocks(const std::vector<QString>& a, const std::vector<QString>& b,
                 const std::vector<TDiffBlock>& blocks) {
  size_t i = 0, j = 0;
  auto same = [&](size_t untilA, size_t untilB) {
    if (untilA - i != untilB - j) return false;
    for (; i < untilA; ++i, ++j)
      if (a[i] != b[j]) return false;
    return true;
  };
  for (const TDiffBlock& d : blocks) {
    if (d.OldStart < static_cast<int>(i) || d.NewStart < static_cast<int>(j) ||
        !same(static_cast<size_t>(d.OldStart), static_cast<size_t>(d.NewStart)))
      throw Exception("Line diff gave blocks that do not match the lines");
    i += static_cast<size_t>(d.OldCount);
    j += static_cast<size_t>(d.NewCount);
    if (i > a.size() || j > b.size()) throw Exception("Line diff gave blocks that do not match the lines");
  }
  if (!same(a.size(), b.size())) throw Exception("Line diff gave blocks that do not match the lines");
}

int LineBreakLength(const QString& line) {
  if (line.endsWith(QLatin1String("\r\n"))) return 2;
  if (line.endsWith(QLatin1Char('\n'))) return 1;
  return 0;
}

// The grapheme boundaries of text: 0, ..., text.size().
std::vector<int> Graphemes(const QString& text) {
  std::vector<int> cuts{0};
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  while (finder.toNextBoundary() != -1 && finder.position() <= text.size())
    if (finder.position() > cuts.back()) cuts.push_back(static_cast<int>(finder.position()));
  if (cuts.back() != text.size()) cuts.push_back(static_cast<int>(text.size()));
  return cuts;
}

std::string OnePerLine(const QString& text, const std::vector<int>& cuts) {
  std::string out;
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    out += text.mid(cuts[k], cuts[k + 1] - cuts[k]).toUtf8().toStdString();
    out += '\n';
  }
  return out;
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  TFileStream in(path, fmOpenRead | fmShareDenyNone);
  int64_t size = in.Size();
  std::string bytes(static_cast<size_t>(size), '\0');
  int64_t done = 0;
  while (done < size) {
    int32_t n =
        in.ReadAt(done, bytes.data() + done, static_cast<int32_t>(std::min<int64_t>(size - done, 1 << 20)));
    if (n <= 0) break;
    done += n;
  }
  bytes.resize(static_cast<size_t>(done));
  return bytes;
}

namespace {

// Sizes, SHA-256 digests and the first offset where the two files differ, read side by side in
// chunks so that a large file is never held whole.
void SummariseFiles(const std::string& leftPath, const std::string& rightPath, TCompareResult& r) {
  TFileStream a(leftPath, fmOpenRead | fmShareDenyNone);
  TFileStream b(rightPath, fmOpenRead | fmShareDenyNone);
  QCryptographicHash ha(QCryptographicHash::Sha256), hb(QCryptographicHash::Sha256);
  constexpr int32_t kChunk = 1 << 20;
  std::vector<char> ba(kChunk), bb(kChunk);
  int64_t off = 0;
  int64_t first = -1;
  bool aDone = false, bDone = false;
  r.Left.Size = r.Right.Size = 0;
  while (!aDone || !bDone) {
    int32_t na = aDone ? 0 : a.ReadAt(off, ba.data(), kChunk);
    int32_t nb = bDone ? 0 : b.ReadAt(off, bb.data(), kChunk);
    if (na <= 0) aDone = true;
    if (nb <= 0) bDone = true;
    if (na > 0) ha.addData(QByteArrayView(ba.data(), na));
    if (nb > 0) hb.addData(QByteArrayView(bb.data(), nb));
    r.Left.Size += std::max(na, 0);
    r.Right.Size += std::max(nb, 0);
    if (first < 0) {
      int32_t common = std::min(std::max(na, 0), std::max(nb, 0));
      auto m = std::mismatch(ba.begin(), ba.begin() + common, bb.begin());
      if (m.first != ba.begin() + common)
        first = off + (m.first - ba.begin());
      else if (na != nb)
        first = off + common;  // one file ends here
    }
    off += kChunk;
  }
  r.Left.Sha256 = ha.result();
  r.Right.Sha256 = hb.result();
  r.FirstDifference = first;
}

}  // namespace

std::optional<TDecodedText> DecodeText(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) {
    if (auto t = RoundTrip(bytes.substr(3), TTextEncoding::Utf8))
      return TDecodedText{TTextEncoding::Utf8Bom, *t};
    return std::nullopt;
  }
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    bool big = starts("\xFE\xFF");
    // Every pair of bytes is one unit and goes back as the same pair: nothing can be lost.
    return TDecodedText{big ? TTextEncoding::Utf16BE : TTextEncoding::Utf16LE,
                        Utf16Units(bytes.substr(2), big)};
  }
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  if (auto t = RoundTrip(bytes, TTextEncoding::Utf8)) return TDecodedText{TTextEncoding::Utf8, *t};
  if (auto t = RoundTrip(bytes, TTextEncoding::Gb18030)) return TDecodedText{TTextEncoding::Gb18030, *t};
  return std::nullopt;
}

std::string EncodeText(const QString& text, TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
      bool big = encoding == TTextEncoding::Utf16BE;
      std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
      for (QChar c : text) {
        char hi = static_cast<char>(c.unicode() >> 8), lo = static_cast<char>(c.unicode() & 0xFF);
        out += big ? hi : lo;
        out += big ? lo : hi;
      }
      return out;
    }
    case TTextEncoding::Utf8:
    case TTextEncoding::Utf8Bom:
    case TTextEncoding::Gb18030: {
      TConverter c(IcuName(encoding));
      std::optional<std::string> bytes = c.Encode(text);
      if (!bytes) throw Exception("The text cannot be written in " + EncodingName(encoding).toStdString());
      return (encoding == TTextEncoding::Utf8Bom ? std::string("\xEF\xBB\xBF") : std::string()) + *bytes;
    }
  }
  return {};
}

QString EncodingName(TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::Utf8:
      return QStringLiteral("UTF-8");
    case TTextEncoding::Utf8Bom:
      return QStringLiteral("UTF-8 BOM");
    case TTextEncoding::Utf16LE:
      return QStringLiteral("UTF-16 LE");
    case TTextEncoding::Utf16BE:
      return QStringLiteral("UTF-16 BE");
    case TTextEncoding::Gb18030:
      return QStringLiteral("GB18030");
  }
  return {};
}

std::vector<QString> SplitLines(const QString& text) {
  std::vector<QString> lines;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype nl = text.indexOf(QLatin1Char('\n'), start);
    qsizetype end = nl < 0 ? text.size() : nl + 1;
    lines.push_back(text.mid(start, end - start));
    start = end;
  }
  return lines;
}

std::vector<TDiffBlock> DiffLines(const std::vector<QString>& a, const std::vector<QString>& b) {
  // libgit2 splits records at '\n' exactly as SplitLines does; a line without a break can only be
  // the last one, which is where libgit2 allows it too.
  auto join = [](const std::vector<QString>& lines) {
    std::string out;
    for (const QString& l : lines) out += l.toUtf8().toStdString();
    return out;
  };
  std::vector<TDiffBlock> blocks = GitBlocks(join(a), join(b), GIT_DIFF_PATIENCE);
  CheckBlocks(a, b, blocks);
  return blocks;
}

void DiffChars(const QString& a, const QString& b, std::vector<TCharRange>& inA,
               std::vector<TCharRange>& inB) {
  inA.clear();
  inB.clear();
  QString ta = a.left(a.size() - LineBreakLength(a));
  QString tb = b.left(b.size() - LineBreakLength(b));
  if (ta.size() > kCharDiffLimit || tb.size() > kCharDiffLimit) {
    if (!ta.isEmpty()) inA.push_back({0, static_cast<int>(ta.size())});
    if (!tb.isEmpty()) inB.push_back({0, static_cast<int>(tb.size())});
    return;
  }
  std::vector<int> ca = Graphemes(ta), cb = Graphemes(tb);
  // One grapheme per record: the line diff then works character by character.
  for (const TDiffBlock& d : GitBlocks(OnePerLine(ta, ca), OnePerLine(tb, cb), GIT_DIFF_MINIMAL)) {
    if (d.OldCount > 0) inA.push_back({ca[d.OldStart], ca[d.OldStart + d.OldCount] - ca[d.OldStart]});
    if (d.NewCount > 0) inB.push_back({cb[d.NewStart], cb[d.NewStart + d.NewCount] - cb[d.NewStart]});
  }
}

TMergeModel::TMergeModel(std::vector<QString> left, std::vector<QString> right)
    : left_(std::move(left)), right_(std::move(right)) {
  blocks_ = DiffLines(left_, right_);
  taken_.assign(blocks_.size(), false);
}

bool TMergeModel::Modified() const {
  return std::find(taken_.begin(), taken_.end(), true) != taken_.end();
}

std::vector<QString> TMergeModel::MergedLines() const {
  std::vector<QString> out;
  out.reserve(right_.size());
  int j = 0;
  for (size_t k = 0; k < blocks_.size(); ++k) {
    const TDiffBlock& d = blocks_[k];
    for (; j < d.NewStart; ++j) out.push_back(right_[static_cast<size_t>(j)]);
    if (taken_[k]) {
      for (int i = d.OldStart; i < d.OldStart + d.OldCount; ++i) out.push_back(left_[static_cast<size_t>(i)]);
    } else {
      for (int i = d.NewStart; i < d.NewStart + d.NewCount; ++i)
        out.push_back(right_[static_cast<size_t>(i)]);
    }
    j = d.NewStart + d.NewCount;
  }
  for (; j < static_cast<int>(right_.size()); ++j) out.push_back(right_[static_cast<size_t>(j)]);
  // A line without a break is the last of its side, and the block holding it reaches the end of
  // both sides: whichever side it comes from, it stays the last line.
  return out;
}

QString TMergeModel::MergedText() const {
  QString text;
  for (const QString& l : MergedLines()) text += l;
  return text;
}

TCompareResult CompareFiles(const std::string& leftPath, const std::string& rightPath) {
  TCompareResult r;
  int64_t leftSize = FileSizeOf(leftPath), rightSize = FileSizeOf(rightPath);
  if (leftSize <= kTextCompareLimit && rightSize <= kTextCompareLimit) {
    std::string left = ReadFileBytes(leftPath);
    std::string right = ReadFileBytes(rightPath);
    std::optional<TDecodedText> lt = DecodeText(left), rt = DecodeText(right);
    if (lt && rt) {
      r.IsText = true;
      r.LeftEncoding = lt->Encoding;
      r.RightEncoding = rt->Encoding;
      r.Merge = std::make_unique<TMergeModel>(SplitLines(lt->Text), SplitLines(rt->Text));
      r.RightBytes = std::move(right);
      return r;
    }
  }
  SummariseFiles(leftPath, rightPath, r);
  return r;
}

std::string MergedBytes(const TCompareResult& result) {
  if (!result.IsText || !result.Merge) return result.RightBytes;
  // Untouched, the file keeps its bytes whatever the encoder would make of them.
  if (!result.Merge->Modified()) return result.RightBytes;
  return EncodeText(result.Merge->MergedText(), result.RightEncoding);
}

std::string UnifiedDiff(const TCompareResult& result, const std::string& leftLabel,
                        const std::string& rightLabel) {
  if (!result.IsText) {
    if (result.FirstDifference < 0) return {};
    auto line = [](const std::string& label, const TFileSummary& s) {
      return label + ": " + std::to_string(s.Size) + " bytes, SHA-256 " + s.Sha256.toHex().toStdString() +
             "\n";
    };
    return "Binary files " + leftLabel + " and " + rightLabel + " differ\n" + line(leftLabel, result.Left) +
           line(rightLabel, result.Right) + "First difference at byte " +
           std::to_string(result.FirstDifference) + "\n";
  }
  const TMergeModel& m = *result.Merge;
  if (m.Blocks().empty()) return {};
  auto join = [](const std::vector<QString>& lines) {
    std::string out;
    for (const QString& l : lines) out += l.toUtf8().toStdString();
    return out;
  };
  std::string a = join(m.Left()), b = join(m.Right());
  InitGit();
  git_diff_options opts = GIT_DIFF_OPTIONS_INIT;
  opts.flags = GIT_DIFF_FORCE_TEXT | GIT_DIFF_PATIENCE;
  opts.max_size = -1;
  git_patch* patch = nullptr;
  if (git_patch_from_buffers(&patch, a.data(), a.size(), nullptr, b.data(), b.size(), nullptr, &opts) < 0)
    throw Exception(GitError("Line diff failed"));
  std::unique_ptr<git_patch, decltype(&git_patch_free)> owned(patch, &git_patch_free);
  std::string out = "--- " + leftLabel + "\n+++ " + rightLabel + "\n";
  for (size_t h = 0; h < git_patch_num_hunks(patch); ++h) {
    const git_diff_hunk* hunk = nullptr;
    size_t lines = 0;
    if (git_patch_get_hunk(&hunk, &lines, patch, h) < 0) throw Exception(GitError("Line diff failed"));
    out.append(hunk->header, hunk->header_len);
    for (size_t k = 0; k < lines; ++k) {
      const git_diff_line* line = nullptr;
      if (git_patch_get_line_in_hunk(&line, patch, h, k) < 0) throw Exception(GitError("Line diff failed"));
      // The markers for a missing final line break carry their own text.
      if (line->origin == GIT_DIFF_LINE_CONTEXT || line->origin == GIT_DIFF_LINE_ADDITION ||
          line->origin == GIT_DIFF_LINE_DELETION)
        out += line->origin;
      out.append(line->content, line->content_len);
    }
  }
  return out;
}

bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string* reason) {
  auto fail = [&](const std::string& why) {
    if (reason) *reason = why;
    return false;
  };
  std::string os;
  try {
    os = ToOsPath(path);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  // The file a link names is the one to replace; the link stays a link.
  std::unique_ptr<char, decltype(&std::free)> real(realpath(os.c_str(), nullptr), &std::free);
  std::string target = real ? std::string(real.get()) : os;
  struct stat st {};
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return fail(path + ": " + SysErrorMessage(EISDIR));
  // The rename would go through even over a file the user may not write: that is refused here.
  if (exists && ::access(target.c_str(), W_OK) != 0) return fail(path + ": " + SysErrorMessage(errno));
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
  // A short fixed name: the file's own name may already be as long as a name can be.
  std::string tmp = (slash == std::string::npos ? std::string() : folder) + ".lanqi-save-XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return fail(path + ": " + SysErrorMessage(errno));
  int err = 0;
  for (size_t done = 0; done < bytes.size() && !err;) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      err = n < 0 ? errno : ENOSPC;
    else
      done += static_cast<size_t>(n);
  }
  if (!err) {
    mode_t mode = exists ? (st.st_mode & 07777) : [] {
      mode_t mask = ::umask(0);
      ::umask(mask);
      return static_cast<mode_t>(0666 & ~mask);
    }();
    // Another owner's file stays theirs where the system allows it; the bits are set after, since a
    // change of owner clears the set-id bits.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
      if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not allowed: the file becomes ours, with the same bits.
      }
    }
    if (::fchmod(fd, mode) != 0) err = errno;
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(tmp.c_str(), target.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    return fail(path + ": " + SysErrorMessage(err));
  }
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace lanqi
