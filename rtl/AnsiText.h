// Byte-rule helpers for code-page text: ASCII case folding that leaves two-byte characters alone,
// trimming. Locale-aware collation lives in platform/Collation.h; these are for names and keys
// that the runtime compares by itself (string lists, date markers).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lanqi {

// The lead-byte test the runtime uses to step over two-byte characters (whose second byte may
// look like an ASCII letter or delimiter). Defaults to code page 936 (0x81..0xFE); the platform
// layer installs the system code page's test when it changes the code page. nullptr: default.
using TLeadByteTest = bool (*)(uint8_t b);
void SetTextLeadByteTest(TLeadByteTest test);
bool IsTextLeadByte(uint8_t b);
// Bytes of the character starting at s[i]: 2 for a lead byte followed by another byte, else 1.
size_t CharLength(std::string_view s, size_t i);

// Compares with ASCII letters folded to upper case, byte order otherwise: negative, 0 or positive.
int CompareTextAscii(std::string_view a, std::string_view b);
bool SameTextAscii(std::string_view a, std::string_view b);
// Byte order (unsigned): negative, 0 or positive.
int CompareStrBytes(std::string_view a, std::string_view b);
std::string UpperCaseAscii(std::string_view s);
std::string LowerCaseAscii(std::string_view s);
// One byte's ASCII case folding; every other byte unchanged.
constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
// Every byte printable ASCII (0x20..0x7E).
bool IsPrintableAscii(std::string_view s);

// The bytes the trimming drops: 0..32.
constexpr bool IsBlankByte(char c) {
  return static_cast<uint8_t>(c) <= ' ';
}
// Drop bytes 0..32 at both ends / the start / the end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

}  // namespace lanqi
