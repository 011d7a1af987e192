#include "tools/RadeziOutput.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace lanqi {

namespace {

// A cell as text: strings as they are, the hex digits of bytes, null empty, the rest as JSON.
std::string CellText(const json& v) {
  if (v.is_null()) return {};
  if (v.is_string()) return v.get<std::string>();
  if (v.is_object() && v.contains("hex") && v["hex"].is_string()) return v["hex"].get<std::string>();
  return v.dump();
}

// In a table a line break or tab would break the grid: they are shown as \n, \r and \t.
std::string TableCell(const json& v) {
  std::string s = CellText(v), out;
  for (char c : s) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos && (s.empty() || (s.front() != ' ' && s.back() != ' ')))
    return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// The code point at s[i] (UTF-8), advancing i; a malformed byte counts as one column of its own.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return b;
  }
  uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3F);
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

bool Wide(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
         (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

bool Combining(uint32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F);
}

}  // namespace

bool ParseRowMode(const std::string& text, TRowMode& mode) {
  if (text == "json")
    mode = TRowMode::Json;
  else if (text == "table")
    mode = TRowMode::Table;
  else if (text == "csv")
    mode = TRowMode::Csv;
  else
    return false;
  return true;
}

const char* RowModeName(TRowMode mode) {
  return mode == TRowMode::Json ? "json" : mode == TRowMode::Table ? "table" : "csv";
}

size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = NextCodePoint(utf8, i);
    width += Combining(c) ? 0 : Wide(c) ? 2 : 1;
  }
  return width;
}

void WriteRows(std::ostream& out, const std::vector<std::string>& columns, const json& rows, TRowMode mode) {
  if (mode == TRowMode::Json) {
    out << rows.dump(2) << "\n";
    return;
  }
  if (mode == TRowMode::Csv) {
    auto line = [&](const std::vector<std::string>& cells) {
      for (size_t i = 0; i < cells.size(); ++i) out << (i ? "," : "") << CsvField(cells[i]);
      out << "\r\n";
    };
    line(columns);
    for (const json& row : rows) {
      std::vector<std::string> cells;
      for (const std::string& c : columns)
        cells.push_back(row.contains(c) ? CellText(row[c]) : std::string());
      line(cells);
    }
    return;
  }
  std::vector<std::vector<std::string>> cells;
  for (const json& row : rows) {
    std::vector<std::string> r;
    for (const std::string& c : columns) r.push_back(row.contains(c) ? TableCell(row[c]) : std::string());
    cells.push_back(std::move(r));
  }
  std::vector<size_t> width;
  for (size_t i = 0; i < columns.size(); ++i) {
    size_t w = DisplayWidth(columns[i]);
    for (const auto& r : cells) w = std::max(w, DisplayWidth(r[i]));
    width.push_back(w);
  }
  auto line = [&](const std::vector<std::string>& r, bool rightNumbers, const json* row) {
    for (size_t i = 0; i < r.size(); ++i) {
      size_t pad = width[i] - DisplayWidth(r[i]);
      bool right = rightNumbers && row && row->contains(columns[i]) && (*row)[columns[i]].is_number();
      out << (i ? " | " : "");
      if (right) out << std::string(pad, ' ');
      out << r[i];
      if (!right && i + 1 < r.size()) out << std::string(pad, ' ');
    }
    out << "\n";
  };
  line(columns, false, nullptr);
  for (size_t i = 0; i < columns.size(); ++i) out << (i ? "-+-" : "") << std::string(width[i], '-');
  out << "\n";
  for (size_t k = 0; k < cells.size(); ++k) line(cells[k], true, &rows[k]);
  out << "(" << rows.size() << (rows.size() == 1 ? " row)\n" : " rows)\n");
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 1;
  std::vector<std::string> record;
  std::string field;
  bool any = false;  // the record has begun (a field or a separator was read)
  while (i < text.size()) {
    char c = text[i];
    if (c == '"' && field.empty()) {
      const int opened = line;
      ++i;
      for (;;) {
        if (i >= text.size())
          throw std::runtime_error("CSV line " + std::to_string(opened) + ": a quote is never closed");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (text[i] == '\n') ++line;
        field += text[i++];
      }
      any = true;
      if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
        throw std::runtime_error("CSV line " + std::to_string(line) + ": text after a closing quote");
      continue;
    }
    if (c == '"')
      throw std::runtime_error("CSV line " + std::to_string(line) + ": a quote inside an unquoted field");
    if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      any = true;
      ++i;
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      ++line;
      if (any || !field.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
      }
      record.clear();
      field.clear();
      any = false;
      continue;
    }
    field += c;
    ++i;
  }
  if (any || !field.empty()) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace lanqi
