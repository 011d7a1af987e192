// The system code page (936, GBK, by default) and conversions at the edges of the program.
// Text inside the engine and the application is code-page bytes; UTF-16 and UTF-8 appear only
// at the screen, the operating system's file names and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lanqi {

// Process-wide; set before any text is converted (tests and other locales). Accepts Windows
// code page numbers with an ICU converter (936, 1252, 932, 65001 ...). Raises EConvertError for
// an unknown number.
void SetSystemCodePage(int codePage);
int SystemCodePage();
bool IsDoubleByteCodePage();
// True when b starts a two-byte character in the system code page.
bool IsLeadByte(uint8_t b);

// A character with no form in the target raises EConvertError naming it; nothing is replaced
// silently. Bytes that are not valid in the code page raise EConvertError as well.
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);

// A UTF-8 literal of the source turned into code-page bytes once; use for the system's Chinese
// texts: static const std::string kTitle = Ansi(u8"...").
std::string Ansi(std::u8string_view utf8);

}  // namespace lanqi
