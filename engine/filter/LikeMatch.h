// LIKE over UTF-16: % any run of characters, _ any one character, other characters equal by the
// locale's collation.
#pragma once

#include <string>
#include <string_view>

namespace lanqi {

// Whether bytes below 0x80 are their own UTF-16 in the current code page (checked once per page).
bool AsciiIsItself();
bool IsAsciiText(std::string_view s);

// Code-page text to UTF-16 into out, reusing its storage; ASCII text skips the converter.
void ToUtf16Into(std::string_view ansi, std::u16string& out);

// Rewrites runs of '%' so that a plain wildcard scan gives the filter's LIKE answers: a run of
// two or more '%' followed by more pattern means what one '%' means, and at the end of the
// pattern it needs at least one more character ("_%").
void NormalizeLikePattern(std::u16string& pattern);

// Matches a subject against a normalised pattern; without caseSensitive letter case is ignored.
bool LikeMatch(std::u16string_view subject, std::u16string_view pattern, bool caseSensitive);

// LikeMatch for a subject and a normalised pattern that are both ASCII, without converting them.
bool LikeMatchAscii(std::string_view subject, std::string_view pattern, bool caseSensitive);

}  // namespace lanqi
