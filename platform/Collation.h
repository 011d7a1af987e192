// String order of the user's locale (LC_ALL, LC_COLLATE, LANG), by an ICU collator created once.
// Texts equal byte for byte are always equal; case-insensitive comparison ignores letter case only.
#pragma once

#include <string>
#include <string_view>

namespace lanqi {

// Pins the collation locale ("en_US", "zh_CN" ...); tests call it before comparing.
void SetCollationLocale(const std::string& localeName);

// Compares code-page texts: negative, 0 or positive. maxBytes >= 0 compares only the first
// maxBytes bytes of each (a shorter text takes part whole); -1 compares them whole.
int CompareAnsiText(std::string_view a, std::string_view b, bool ignoreCase, int maxBytes = -1);
int CompareUtf16Text(std::u16string_view a, std::u16string_view b, bool ignoreCase);
// Case-insensitive equality of code-page texts (table names, module names, paths where asked).
bool SameTextAnsi(std::string_view a, std::string_view b);

// A byte string whose memcmp order is the order of CompareAnsiText(.., ignoreCase, -1), for keys
// that are compared many times (index lists keep it per entry).
std::string CollationSortKey(std::string_view ansi, bool ignoreCase);

}  // namespace lanqi
