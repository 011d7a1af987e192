#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

struct Lines {
  std::vector<std::string> lines;
  std::string eol = "\n";
  bool exists = false;
  int error = 0;  // errno of a failed open other than a missing file
};

std::string OsPath(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const EConvertError&) {
    return ansi;
  }
}

bool ReadWhole(const std::string& path, std::string& out, int& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT || errno == ENOTDIR ? 0 : errno;
    return false;
  }
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

Lines Load(const std::string& fileName) {
  Lines result;
  std::string data;
  if (!ReadWhole(OsPath(fileName), data, result.error)) return result;
  result.exists = true;
  size_t start = 0;
  bool crlfSeen = false;
  while (start < data.size()) {
    size_t nl = data.find('\n', start);
    size_t end = nl == std::string::npos ? data.size() : nl;
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      crlfSeen = true;
    }
    result.lines.push_back(std::move(line));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (crlfSeen) result.eol = "\r\n";
  return result;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

bool SectionOf(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  name = Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(std::string_view(t).substr(0, eq));
  value = Trim(std::string_view(t).substr(eq + 1));
  return true;
}

// Where a key is, or where it would go.
struct Place {
  int sectionLine = -1;  // the section's header line
  int keyLine = -1;      // the key's line
  int lastEntry = -1;    // the last non-blank line of the section
};

Place Find(const Lines& f, const std::string& section, const std::string& key) {
  Place p;
  bool inSection = false;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    std::string name, k, v;
    if (SectionOf(f.lines[i], name)) {
      if (inSection) break;  // only the first section of the name counts
      if (SameTextAnsi(name, section)) {
        inSection = true;
        p.sectionLine = p.lastEntry = static_cast<int>(i);
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(f.lines[i]).empty()) p.lastEntry = static_cast<int>(i);
    if (p.keyLine < 0 && KeyOf(f.lines[i], k, v) && SameTextAnsi(k, key)) p.keyLine = static_cast<int>(i);
  }
  return p;
}

[[noreturn]] void WriteFailed(const std::string& fileName) {
  throw Exception(Format("Unable to write to %s", fileName.c_str()));
}

// A new file beside the old one, renamed over it: a failed write never leaves half a file.
void Save(const std::string& fileName, const Lines& f) {
  std::string data;
  for (const auto& line : f.lines) data += line + f.eol;
  // Through a link to the file it names, so the link stays.
  std::string path = OsPath(fileName);
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  struct stat st;
  unsigned mode = 0644;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (!ReplaceFileContents(path, data, mode)) WriteFailed(fileName);
}

}  // namespace

bool ParseProfileInteger(const std::string& text, int& out) {
  std::string t = Trim(text);
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    uint64_t v = 0;
    for (size_t i = 2; i < t.size(); ++i) {
      char c = t[i];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFu) return false;
    }
    out = static_cast<int>(static_cast<uint32_t>(v));
    return true;
  }
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i >= t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
    if (v > static_cast<int64_t>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  out = static_cast<int>(v);
  return true;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  Lines f = Load(fileName_);
  Place p = Find(f, section, key);
  if (p.keyLine < 0) return def;
  std::string k, v;
  KeyOf(f.lines[static_cast<size_t>(p.keyLine)], k, v);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  int v = 0;
  return ParseProfileInteger(ReadString(section, key, ""), v) ? v : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // A line break would let a value write other keys of the file.
  for (const std::string* s : {&section, &key, &value})
    if (s->find_first_of("\r\n") != std::string::npos)
      throw Exception(Format("Unable to write to %s", fileName_.c_str()));
  Lines f = Load(fileName_);
  // A file that is there but cannot be read must not be replaced by one holding only this key.
  if (f.error != 0) WriteFailed(fileName_);
  Place p = Find(f, section, key);
  if (p.keyLine >= 0) {
    std::string k, v;
    KeyOf(f.lines[static_cast<size_t>(p.keyLine)], k, v);
    f.lines[static_cast<size_t>(p.keyLine)] = k + "=" + value;
  } else if (p.sectionLine >= 0) {
    f.lines.insert(f.lines.begin() + p.lastEntry + 1, key + "=" + value);
  } else {
    if (!f.lines.empty() && !Trim(f.lines.back()).empty()) f.lines.emplace_back();
    f.lines.push_back("[" + section + "]");
    f.lines.push_back(key + "=" + value);
  }
  Save(fileName_, f);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace lanqi
