#include "rtl/StringList.h"

#include <algorithm>

#include "rtl/AnsiText.h"

namespace lanqi {

void TStringList::CheckIndex(int i, bool allowEnd) const {
  if (i < 0 || i > Count() || (i == Count() && !allowEnd))
    throw EStringListError(Format("List index out of bounds (%d)", i));
}

void TStringList::CheckNotSorted() const {
  if (sorted_) throw EStringListError("Operation not allowed on sorted string list");
}

const std::string& TStringList::Strings(int i) const {
  CheckIndex(i);
  return items_[static_cast<size_t>(i)].s;
}

void TStringList::SetStrings(int i, const std::string& s) {
  CheckNotSorted();
  CheckIndex(i);
  items_[static_cast<size_t>(i)].s = s;
}

void* TStringList::Objects(int i) const {
  CheckIndex(i);
  return items_[static_cast<size_t>(i)].object;
}

void TStringList::SetObjects(int i, void* object) {
  CheckIndex(i);
  items_[static_cast<size_t>(i)].object = object;
}

int TStringList::AddObject(const std::string& s, void* object) {
  if (!sorted_) {
    items_.push_back({s, object});
    return Count() - 1;
  }
  int index = 0;
  if (Find(s, index)) {
    switch (duplicates_) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError("String list does not allow duplicates");
      case TDuplicates::dupAccept:
        // After the equal items already there, so equal items keep the order they came in.
        while (index < Count() && Compare(items_[static_cast<size_t>(index)].s, s) == 0) ++index;
        break;
    }
  }
  items_.insert(items_.begin() + index, Item{s, object});
  return index;
}

void TStringList::AddStrings(const TStringList& other) {
  if (&other == this) {
    TStringList copy(other);
    AddStrings(copy);
    return;
  }
  for (const Item& it : other.items_) AddObject(it.s, it.object);
}

void TStringList::InsertObject(int i, const std::string& s, void* object) {
  CheckNotSorted();
  CheckIndex(i, true);
  items_.insert(items_.begin() + i, Item{s, object});
}

void TStringList::Delete(int i) {
  CheckIndex(i);
  items_.erase(items_.begin() + i);
}

void TStringList::Exchange(int i, int j) {
  CheckNotSorted();
  CheckIndex(i);
  CheckIndex(j);
  std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  items_.clear();
  if (sorted_) {
    AddStrings(other);
  } else {
    items_ = other.items_;
  }
}

int TStringList::Compare(const std::string& a, const std::string& b) const {
  if (comparer_) return comparer_(a, b);
  return caseSensitive_ ? CompareStrBytes(a, b) : CompareTextAscii(a, b);
}

bool TStringList::Find(const std::string& s, int& index) const {
  if (!sorted_) {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (Compare(items_[i].s, s) == 0) {
        index = static_cast<int>(i);
        return true;
      }
    }
    index = -1;
    return false;
  }
  auto it =
      std::lower_bound(items_.begin(), items_.end(), s,
                       [this](const Item& item, const std::string& key) { return Compare(item.s, key) < 0; });
  index = static_cast<int>(it - items_.begin());
  return it != items_.end() && Compare(it->s, s) == 0;
}

int TStringList::IndexOf(const std::string& s) const {
  int index = -1;
  return Find(s, index) ? index : -1;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.s, b.s) < 0; });
}

void TStringList::SetSorted(bool v) {
  if (v == sorted_) return;
  if (v) Sort();
  sorted_ = v;
}

void TStringList::SetCaseSensitive(bool v) {
  if (v == caseSensitive_) return;
  caseSensitive_ = v;
  if (sorted_) Sort();
}

void TStringList::SetComparer(TComparer comparer) {
  comparer_ = std::move(comparer);
  if (sorted_) Sort();
}

std::string TStringList::Text() const {
  std::string r;
  for (const Item& it : items_) {
    r += it.s;
    r += '\n';
  }
  return r;
}

void TStringList::SetText(const std::string& text) {
  Clear();
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
    Add(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

std::string TStringList::Delimited(char delimiter, char quote, bool strict) const {
  if (items_.size() == 1 && items_[0].s.empty()) return std::string(2, quote);
  std::string r;
  for (size_t k = 0; k < items_.size(); ++k) {
    const std::string& s = items_[k].s;
    bool needsQuotes = false;
    for (size_t i = 0; i < s.size() && !needsQuotes; i += CharLength(s, i)) {
      char c = s[i];
      if (CharLength(s, i) == 2) continue;
      needsQuotes = c == quote || c == delimiter || (!strict && IsBlankByte(c));
    }
    if (k > 0) r += delimiter;
    if (!needsQuotes) {
      r += s;
      continue;
    }
    r += quote;
    for (size_t i = 0; i < s.size();) {
      size_t len = CharLength(s, i);
      if (len == 1 && s[i] == quote) r += quote;
      r.append(s, i, len);
      i += len;
    }
    r += quote;
  }
  return r;
}

void TStringList::ParseDelimited(const std::string& text, char delimiter, char quote, bool strict) {
  Clear();
  const size_t n = text.size();
  size_t p = 0;
  auto skipBlanks = [&]() {
    if (strict) return;
    while (p < n && IsBlankByte(text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string s;
    if (text[p] == quote) {
      ++p;
      while (p < n) {
        size_t len = CharLength(text, p);
        if (len == 1 && text[p] == quote) {
          if (p + 1 < n && text[p + 1] == quote) {
            s += quote;
            p += 2;
            continue;
          }
          ++p;  // the closing quote
          break;
        }
        s.append(text, p, len);
        p += len;
      }
    } else {
      size_t start = p;
      while (p < n) {
        size_t len = CharLength(text, p);
        if (len == 1 && (text[p] == delimiter || (!strict && IsBlankByte(text[p])))) break;
        p += len;
      }
      s = text.substr(start, p - start);
    }
    Add(s);
    skipBlanks();
    if (p < n && text[p] == delimiter) {
      if (p + 1 == n) Add("");
      ++p;
      skipBlanks();
    }
  }
}

std::string TStringList::DelimitedText() const {
  return Delimited(delimiter_, quoteChar_, strictDelimiter_);
}
void TStringList::SetDelimitedText(const std::string& text) {
  ParseDelimited(text, delimiter_, quoteChar_, strictDelimiter_);
}
std::string TStringList::CommaText() const {
  return Delimited(',', '"', false);
}
void TStringList::SetCommaText(const std::string& text) {
  ParseDelimited(text, ',', '"', false);
}

int TStringList::IndexOfName(const std::string& name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& s = items_[i].s;
    size_t eq = s.find('=');
    if (eq != std::string::npos && Compare(s.substr(0, eq), name) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Values(const std::string& name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  const std::string& s = items_[static_cast<size_t>(i)].s;
  return s.substr(s.find('=') + 1);
}

std::vector<std::string> TStringList::ToVector() const {
  std::vector<std::string> r;
  r.reserve(items_.size());
  for (const Item& it : items_) r.push_back(it.s);
  return r;
}

}  // namespace lanqi
