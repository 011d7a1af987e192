// TStringList: an ordered list of code-page strings, each with an optional object slot, with
// case-insensitive find, an optional sorted mode, and the Text / CommaText / DelimitedText forms.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rtl/Exceptions.h"

namespace lanqi {

// "List index out of bounds (%d)", "String list does not allow duplicates",
// "Operation not allowed on sorted string list".
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
 public:
  // Negative, 0 or positive, like strcmp.
  using TComparer = std::function<int(const std::string& a, const std::string& b)>;

  TStringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int i) const;
  // Replaces item i's text (not on a sorted list); the object stays.
  void SetStrings(int i, const std::string& s);
  void* Objects(int i) const;
  void SetObjects(int i, void* object);

  // Appends s (on a sorted list: inserts it in order, subject to Duplicates) and returns its index.
  // On a sorted list with dupIgnore an equal item already present is kept and its index returned.
  int Add(const std::string& s) { return AddObject(s, nullptr); }
  int AddObject(const std::string& s, void* object);
  void AddStrings(const TStringList& other);
  // Inserts at index 0..Count (not on a sorted list).
  void Insert(int i, const std::string& s) { InsertObject(i, s, nullptr); }
  void InsertObject(int i, const std::string& s, void* object);
  void Delete(int i);
  void Clear() { items_.clear(); }
  void Exchange(int i, int j);
  // Copies the strings and objects of other (not its settings).
  void Assign(const TStringList& other);

  // The index of the first item equal to s by the list's comparison, or -1.
  int IndexOf(const std::string& s) const;
  bool Contains(const std::string& s) const { return IndexOf(s) >= 0; }
  // Sorted lists: binary search; index is where s is or would be inserted (the first equal item).
  // On an unsorted list a linear search (index -1 when absent).
  bool Find(const std::string& s, int& index) const;
  void Sort();

  bool Sorted() const { return sorted_; }
  void SetSorted(bool v);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates v) { duplicates_ = v; }
  // Default false: ASCII letters compare without case (two-byte characters byte for byte,
  // rtl/AnsiText.h); true: byte order.
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool v);
  // A comparer set here replaces both rules (for example the locale collation of the platform).
  void SetComparer(TComparer comparer);
  int Compare(const std::string& a, const std::string& b) const;

  // Each item followed by "\n". SetText splits at CR LF, LF or CR; a last line without a break
  // counts; a trailing break adds no empty item.
  std::string Text() const;
  void SetText(const std::string& text);

  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char c) { delimiter_ = c; }
  char QuoteChar() const { return quoteChar_; }
  void SetQuoteChar(char c) { quoteChar_ = c; }
  // false (default): blanks (bytes 1..32) also separate items and are dropped around them, as in
  // "a b,c" -> a | b | c; true: only the delimiter separates and blanks are kept.
  bool StrictDelimiter() const { return strictDelimiter_; }
  void SetStrictDelimiter(bool v) { strictDelimiter_ = v; }
  // Items joined by Delimiter; an item holding a blank (non-strict), the delimiter or the quote
  // character is quoted, with inner quotes doubled. One empty item gives two quote characters.
  // SetDelimitedText replaces the list: quoted items lose their quotes (doubled quotes become one);
  // an empty text gives an empty list; a delimiter at the end adds an empty item.
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& text);
  // DelimitedText with ',', '"' and StrictDelimiter false, whatever the list's settings.
  std::string CommaText() const;
  void SetCommaText(const std::string& text);

  // "name=value" items: the index of the first item whose name (text before '=') equals name, and
  // the value of that item ("" when none).
  int IndexOfName(const std::string& name) const;
  std::string Values(const std::string& name) const;

  std::vector<std::string> ToVector() const;

 private:
  struct Item {
    std::string s;
    void* object = nullptr;
  };
  void CheckIndex(int i, bool allowEnd = false) const;
  void CheckNotSorted() const;
  std::string Delimited(char delimiter, char quote, bool strict) const;
  void ParseDelimited(const std::string& text, char delimiter, char quote, bool strict);

  std::vector<Item> items_;
  TComparer comparer_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool strictDelimiter_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  char delimiter_ = ',';
  char quoteChar_ = '"';
};

}  // namespace lanqi
