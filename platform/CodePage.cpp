#include "platform/CodePage.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "rtl/AnsiText.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// ICU names for a Windows code page number. 65001 and 54936 have no "windows-" alias.
ConverterPtr OpenConverter(int codePage) {
  std::string names[4];
  int count = 0;
  if (codePage == 65001) names[count++] = "UTF-8";
  if (codePage == 54936) names[count++] = "GB18030";
  if (codePage == 20127) names[count++] = "US-ASCII";
  names[count++] = "windows-" + std::to_string(codePage);
  names[count++] = "cp" + std::to_string(codePage);
  names[count++] = "ibm-" + std::to_string(codePage);
  for (int i = 0; i < count; ++i) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(names[i].c_str(), &err);
    if (U_SUCCESS(err) && c != nullptr) {
      err = U_ZERO_ERROR;
      ucnv_setFromUCallBack(c, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
      err = U_ZERO_ERROR;
      ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
      return ConverterPtr(c);
    }
    if (c != nullptr) ucnv_close(c);
  }
  return nullptr;
}

// What is known of the current code page; replaced whole by SetSystemCodePage.
struct CodePageInfo {
  int codePage = 0;
  bool leadBytes[256] = {};
  bool doubleByte = false;
  bool asciiCompatible = false;
};

std::mutex gMutex;
std::shared_ptr<const CodePageInfo> gInfo;
std::atomic<unsigned> gGeneration{0};

std::shared_ptr<const CodePageInfo> BuildInfo(int codePage) {
  ConverterPtr conv = OpenConverter(codePage);
  if (!conv) throw EConvertError(Format("Code page %d is not supported", codePage));
  auto info = std::make_shared<CodePageInfo>();
  info->codePage = codePage;
  UErrorCode err = U_ZERO_ERROR;
  UBool starters[256] = {};
  ucnv_getStarters(conv.get(), starters, &err);
  if (U_SUCCESS(err)) {
    for (int i = 0; i < 256; ++i) {
      info->leadBytes[i] = starters[i] != 0;
      info->doubleByte = info->doubleByte || starters[i] != 0;
    }
  }
  // Bytes below 0x80 decode as themselves in the pages we use; check, since the ASCII fast paths
  // of the collator rely on it.
  char ascii[128];
  for (int i = 0; i < 128; ++i) ascii[i] = static_cast<char>(i);
  UChar out[256];
  err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv.get(), out, 256, ascii, 128, &err);
  bool same = U_SUCCESS(err) && n == 128;
  for (int i = 0; same && i < 128; ++i) same = out[i] == i;
  info->asciiCompatible = same;
  return info;
}

// Read on every conversion: each thread keeps the record it last saw and looks again only when
// the generation moves, so the common path takes no lock.
const CodePageInfo& Info() {
  thread_local std::shared_ptr<const CodePageInfo> cached;
  thread_local unsigned cachedGeneration = 0;
  unsigned gen = gGeneration.load(std::memory_order_acquire);
  if (gen == 0 || gen != cachedGeneration || !cached) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gInfo) {
      gInfo = BuildInfo(936);
      gGeneration.fetch_add(1, std::memory_order_release);
    }
    cached = gInfo;
    cachedGeneration = gGeneration.load(std::memory_order_acquire);
  }
  return *cached;
}

// Converters are not thread-safe: one per thread, reopened when the code page changes.
struct ThreadConverter {
  unsigned generation = 0;
  int codePage = 0;
  ConverterPtr conv;
};

UConverter* CurrentConverter(int& codePage) {
  thread_local ThreadConverter tc;
  const CodePageInfo& info = Info();
  unsigned gen = gGeneration.load(std::memory_order_acquire);
  if (!tc.conv || tc.generation != gen || tc.codePage != info.codePage) {
    tc.conv = OpenConverter(info.codePage);
    if (!tc.conv) throw EConvertError(Format("Code page %d is not supported", info.codePage));
    tc.codePage = info.codePage;
    tc.generation = gen;
  }
  ucnv_reset(tc.conv.get());
  codePage = tc.codePage;
  return tc.conv.get();
}

std::string ByteList(const char* bytes, int8_t len) {
  std::string s;
  for (int i = 0; i < len; ++i) {
    if (i > 0) s += ' ';
    s += Format("0x%02X", static_cast<unsigned char>(bytes[i]));
  }
  return s;
}

std::string CodePointText(const UChar* units, int8_t len) {
  if (len <= 0) return "U+?";
  UChar32 c = units[0];
  if (U16_IS_LEAD(units[0]) && len > 1 && U16_IS_TRAIL(units[1]))
    c = U16_GET_SUPPLEMENTARY(units[0], units[1]);
  return Format("U+%04X", static_cast<unsigned>(c));
}

bool IsAscii(std::string_view s) {
  for (unsigned char ch : s)
    if (ch >= 0x80) return false;
  return true;
}

}  // namespace

void SetSystemCodePage(int codePage) {
  std::shared_ptr<const CodePageInfo> info = BuildInfo(codePage);
  std::lock_guard<std::mutex> lock(gMutex);
  gInfo = std::move(info);
  gGeneration.fetch_add(1, std::memory_order_release);
  // The runtime's byte-rule helpers step over two-byte characters by the same rule.
  SetTextLeadByteTest(&IsLeadByte);
}

int SystemCodePage() {
  return Info().codePage;
}

bool IsDoubleByteCodePage() {
  return Info().doubleByte;
}

bool IsLeadByte(uint8_t b) {
  return Info().leadBytes[b];
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return {};
  if (Info().asciiCompatible && IsAscii(ansi)) return std::u16string(ansi.begin(), ansi.end());
  int codePage = 0;
  UConverter* conv = CurrentConverter(codePage);
  std::u16string out(ansi.size() + 1, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            ansi.data(), static_cast<int32_t>(ansi.size()), &err);
  if (U_FAILURE(err)) {
    if (err == U_ILLEGAL_CHAR_FOUND || err == U_INVALID_CHAR_FOUND || err == U_TRUNCATED_CHAR_FOUND) {
      char bad[32];
      int8_t len = sizeof bad;
      UErrorCode e2 = U_ZERO_ERROR;
      ucnv_getInvalidChars(conv, bad, &len, &e2);
      if (U_FAILURE(e2)) len = 0;
      if (err == U_TRUNCATED_CHAR_FOUND)
        throw EConvertError(Format("Incomplete byte sequence at the end of text in code page %d", codePage));
      throw EConvertError(
          Format("Invalid byte sequence %s in code page %d", ByteList(bad, len).c_str(), codePage));
    }
    throw EConvertError(Format("Text cannot be converted from code page %d", codePage));
  }
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  bool ascii = Info().asciiCompatible;
  for (char16_t c : text)
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return std::string(text.begin(), text.end());
  int codePage = 0;
  UConverter* conv = CurrentConverter(codePage);
  std::string out(text.size() * static_cast<size_t>(ucnv_getMaxCharSize(conv)) + 1, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n =
      ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                      reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &err);
  if (U_FAILURE(err)) {
    UChar bad[8];
    int8_t len = 8;
    UErrorCode e2 = U_ZERO_ERROR;
    ucnv_getInvalidUChars(conv, bad, &len, &e2);
    if (U_FAILURE(e2)) len = 0;
    if (err == U_ILLEGAL_CHAR_FOUND || err == U_TRUNCATED_CHAR_FOUND)
      throw EConvertError(
          Format("Invalid UTF-16 text (unpaired surrogate %s)", CodePointText(bad, len).c_str()));
    throw EConvertError(Format("No mapping for the Unicode character %s in code page %d",
                               CodePointText(bad, len).c_str(), codePage));
  }
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  std::string out(text.size() * 3 + 1, '\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &n, reinterpret_cast<const UChar*>(text.data()),
              static_cast<int32_t>(text.size()), &err);
  if (U_FAILURE(err)) throw EConvertError("Invalid UTF-16 text (unpaired surrogate)");
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  std::u16string out(utf8.size() + 1, u'\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &n, utf8.data(),
                static_cast<int32_t>(utf8.size()), &err);
  if (U_FAILURE(err)) throw EConvertError("Invalid UTF-8 text");
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  if (Info().asciiCompatible && IsAscii(ansi)) return std::string(ansi);
  return Utf16ToUtf8(AnsiToUtf16(ansi));
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (Info().asciiCompatible && IsAscii(utf8)) return std::string(utf8);
  return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

std::string Ansi(std::u8string_view utf8) {
  return Utf8ToAnsi(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

}  // namespace lanqi
