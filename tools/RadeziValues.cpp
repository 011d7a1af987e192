#include "tools/RadeziValues.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/storage/ByteBuffer.h"
#include "platform/CodePage.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
struct TTypeName {
  uint8_t Code;
  const char* Name;
};
const TTypeName kTypeNames[] = {
    {ftString, "ftString"},
    {ftSmallint, "ftSmallint"},
    {ftInteger, "ftInteger"},
    {ftWord, "ftWord"},
    {ftBoolean, "ftBoolean"},
    {ftFloat, "ftFloat"},
    {ftCurrency, "ftCurrency"},
    {ftBCD, "ftBCD"},
    {ftDate, "ftDate"},
    {ftTime, "ftTime"},
    {ftDateTime, "ftDateTime"},
    {ftBytes, "ftBytes"},
    {ftVarBytes, "ftVarBytes"},
    {ftAutoInc, "ftAutoInc"},
    {ftBlob, "ftBlob"},
    {ftMemo, "ftMemo"},
    {ftGraphic, "ftGraphic"},
    {ftFmtMemo, "ftFmtMemo"},
    {ftParadoxOle, "ftParadoxOle"},
    {ftDBaseOle, "ftDBaseOle"},
    {ftTypedBinary, "ftTypedBinary"},
    {ftFixedChar, "ftFixedChar"},
    {ftWideString, "ftWideString"},
    {ftLargeint, "ftLargeint"},
    {ftOraBlob, "ftOraBlob"},
    {ftOraClob, "ftOraClob"},
    {ftGuid, "ftGuid"},
};

bool IsTextBlob(uint8_t t) {
  return t == ftMemo || t == ftFmtMemo || t == ftOraClob;
}

[[noreturn]] void Bad(const TRadeFieldDef& f, const std::string& why) {
  throw EDatabaseError(Format("Field '%s': %s", f.Name.c_str(), why.c_str()));
}

// The value as JSON text for messages, in the code page like the rest of the message; a character
// the code page has no form for is shown escaped.
std::string Shown(const json& v) {
  try {
    return Utf8ToAnsi(v.dump());
  } catch (const EConvertError&) {
    return v.dump(-1, ' ', true);
  }
}

// A JSON integer from lo to hi. Numbers beyond 64 bits arrive as floats: they are out of range, as
// is an unsigned value above the signed maximum; nothing is clamped.
int64_t IntValue(const json& v, const TRadeFieldDef& f, int64_t lo, int64_t hi) {
  const std::string range =
      Format("from %lld to %lld", static_cast<long long>(lo), static_cast<long long>(hi));
  if (v.is_number_float() && std::isfinite(v.get<double>()) &&
      v.get<double>() == std::floor(v.get<double>()) && std::fabs(v.get<double>()) >= 9223372036854775808.0)
    Bad(f, Format("%s is out of range: an integer %s is expected", Shown(v).c_str(), range.c_str()));
  if (!v.is_number_integer())
    Bad(f, Format("%s is not an integer: an integer %s is expected", Shown(v).c_str(), range.c_str()));
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(hi))
    Bad(f, Format("%s is out of range: an integer %s is expected", Shown(v).c_str(), range.c_str()));
  const int64_t x = v.get<int64_t>();
  if (x < lo || x > hi)
    Bad(f, Format("%s is out of range: an integer %s is expected", Shown(v).c_str(), range.c_str()));
  return x;
}

// n decimal digits at s[at], and nothing else: no sign, no blank.
bool Digits(const std::string& s, size_t at, size_t n, int& value) {
  if (at + n > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

// "YYYY-MM-DD" (years 0001 to 9999, a real day of the month) -> day number.
bool ParseDate(const std::string& s, size_t& at, int32_t& day) {
  int y, m, d;
  if (!Digits(s, at, 4, y) || at + 4 >= s.size() || s[at + 4] != '-' || !Digits(s, at + 5, 2, m) ||
      at + 7 >= s.size() || s[at + 7] != '-' || !Digits(s, at + 8, 2, d))
    return false;
  TDateTime dt;
  if (!TryEncodeDate(y, m, d, dt)) return false;
  day = DateTimeToDayNumber(dt);
  at += 10;
  return true;
}

// "hh:mm:ss.zzz" (the fraction optional, three digits when given) -> milliseconds of the day.
bool ParseTime(const std::string& s, size_t& at, int32_t& ms) {
  int h, mi, sec, z = 0;
  if (!Digits(s, at, 2, h) || at + 2 >= s.size() || s[at + 2] != ':' || !Digits(s, at + 3, 2, mi) ||
      at + 5 >= s.size() || s[at + 5] != ':' || !Digits(s, at + 6, 2, sec))
    return false;
  at += 8;
  if (at < s.size() && s[at] == '.') {
    if (!Digits(s, at + 1, 3, z)) return false;
    at += 4;
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  ms = ((h * 60 + mi) * 60 + sec) * 1000 + z;
  return true;
}

std::string DateText(int32_t day) {
  int y, m, d;
  DecodeDate(DayNumberToDateTime(day), y, m, d);
  return Format("%04d-%02d-%02d", y, m, d);
}

std::string TimeText(int32_t ms) {
  return Format("%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::string Unhex(const std::string& h, const TRadeFieldDef& f) {
  auto val = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    Bad(f, Format("the hex text '%s' holds a character that is not a hex digit", h.c_str()));
  };
  if (h.size() % 2) Bad(f, Format("the hex text '%s' has an odd number of digits", h.c_str()));
  std::string out;
  for (size_t i = 0; i < h.size(); i += 2) out += static_cast<char>(val(h[i]) * 16 + val(h[i + 1]));
  return out;
}
}  // namespace

int32_t FieldTypeFromName(const std::string& name) {
  for (const TTypeName& t : kTypeNames)
    if (name == t.Name) return t.Code;
  return -1;
}

std::string FieldTypeName(uint8_t code) {
  for (const TTypeName& t : kTypeNames)
    if (code == t.Code) return t.Name;
  return std::to_string(code);
}

std::string ToAnsi(const std::string& utf8) {
  return Utf8ToAnsi(utf8);
}
std::string ToUtf8(const std::string& ansi) {
  return AnsiToUtf8(ansi);
}

std::string ShownUtf8(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const EConvertError&) {
  }
  std::string out;
  size_t i = 0;
  while (i < ansi.size()) {
    size_t len = IsLeadByte(static_cast<uint8_t>(ansi[i])) && i + 1 < ansi.size() ? 2 : 1;
    try {
      out += AnsiToUtf8(ansi.substr(i, len));
      i += len;
      continue;
    } catch (const EConvertError&) {
    }
    out += Format("\\x%02X", static_cast<uint8_t>(ansi[i]));
    ++i;
  }
  return out;
}

void MakeBuffers(TRadeTableIO& table, TFieldBuffers& buffers) {
  buffers.Clear();
  for (int32_t i = 0; i < table.FieldDefs().Count(); ++i)
    buffers.AddOwned(table.FieldDefs().Items(i)->FieldType, table.SlotSize(i), &table.FileIO());
}

void RowToBuffers(const json& row, TRadeTableIO& table, TFieldBuffers& buffers) {
  if (!row.is_object()) throw EDatabaseError("Each row must be a JSON object");
  MakeBuffers(table, buffers);
  for (auto it = row.begin(); it != row.end(); ++it) {
    int32_t i = table.FieldDefs().IndexOf(ToAnsi(it.key()));
    if (i < 0) throw EDatabaseError(Format("Field '%s' not found", ToAnsi(it.key()).c_str()));
    const TRadeFieldDef& f = *table.FieldDefs().Items(i);
    TFieldBufferItem& item = *buffers.Items(i);
    const json& v = it.value();
    if (v.is_null()) continue;
    uint8_t* p = item.Bytes();
    switch (f.FieldType) {
      case ftString:
      case ftFixedChar: {
        if (!v.is_string()) Bad(f, Format("%s is not a text: a text is expected", Shown(v).c_str()));
        std::string s = ToAnsi(v.get<std::string>());
        if (s.size() > static_cast<size_t>(f.DataSize))
          Bad(f, Format("%s is longer than %d bytes", Shown(v).c_str(), f.DataSize));
        if (s.find('\0') != std::string::npos) Bad(f, Format("%s holds a zero character", Shown(v).c_str()));
        std::memcpy(p, s.data(), s.size());
        break;
      }
      case ftSmallint:
        TByteBuffer::StoreInt16(p, static_cast<int16_t>(IntValue(v, f, INT16_MIN, INT16_MAX)));
        break;
      case ftWord:
        TByteBuffer::StoreInt16(p, static_cast<int16_t>(IntValue(v, f, 0, UINT16_MAX)));
        break;
      case ftInteger:
        TByteBuffer::StoreInt32(p, static_cast<int32_t>(IntValue(v, f, INT32_MIN, INT32_MAX)));
        break;
      case ftAutoInc: {
        // 0 takes the next number. A number given must leave the counter room for the next row, so
        // 2147483647 is refused, and a negative one is no number the counter would ever hand out.
        const bool ok = v.is_number_integer() &&
                        (v.is_number_unsigned() ? v.get<uint64_t>() < INT32_MAX
                                                : v.get<int64_t>() >= 0 && v.get<int64_t>() < INT32_MAX);
        if (!ok)
          Bad(f, Format("%s is not an auto-increment value: 0 takes the next number, and a number given "
                        "must be from 1 to 2147483646",
                        Shown(v).c_str()));
        TByteBuffer::StoreInt32(p, static_cast<int32_t>(v.get<int64_t>()));
        break;
      }
      case ftLargeint:
        TByteBuffer::StoreInt64(p, IntValue(v, f, INT64_MIN, INT64_MAX));
        break;
      case ftBoolean:
        if (!v.is_boolean()) Bad(f, Format("%s is not true or false", Shown(v).c_str()));
        TByteBuffer::StoreInt16(p, v.get<bool>() ? 1 : 0);
        break;
      case ftFloat:
      case ftCurrency:
        if (!v.is_number()) Bad(f, Format("%s is not a number", Shown(v).c_str()));
        TByteBuffer::StoreDouble(p, v.get<double>());
        break;
      case ftDate:
      case ftTime:
      case ftDateTime: {
        if (!v.is_string()) Bad(f, Format("%s is not a date or time text", Shown(v).c_str()));
        std::string s = v.get<std::string>();
        size_t at = 0;
        int32_t day = 0, ms = 0;
        bool ok = f.FieldType == ftDate ? ParseDate(s, at, day)
                  : f.FieldType == ftTime
                      ? ParseTime(s, at, ms)
                      : ParseDate(s, at, day) && at < s.size() && s[at++] == ' ' && ParseTime(s, at, ms);
        if (!ok || at != s.size())
          Bad(f, Format("%s is not of the form %s", Shown(v).c_str(),
                        f.FieldType == ftDate   ? "YYYY-MM-DD"
                        : f.FieldType == ftTime ? "hh:mm:ss.zzz"
                                                : "YYYY-MM-DD hh:mm:ss.zzz"));
        if (f.FieldType == ftDate) TByteBuffer::StoreInt32(p, day);
        if (f.FieldType == ftTime) TByteBuffer::StoreInt32(p, ms);
        if (f.FieldType == ftDateTime)
          TByteBuffer::StoreDouble(p, static_cast<double>(day) * MSecsPerDay + ms);
        break;
      }
      default:
        if (IsBlobType(f.FieldType)) {
          std::string bytes;
          if (v.is_object() && v.size() == 1 && v.contains("hex") && v["hex"].is_string())
            bytes = Unhex(v["hex"].get<std::string>(), f);
          else if (v.is_string() && IsTextBlob(f.FieldType))
            bytes = ToAnsi(v.get<std::string>());
          else
            Bad(f, Format("%s is not %s", Shown(v).c_str(),
                          IsTextBlob(f.FieldType) ? "a text or {\"hex\":...}" : "{\"hex\":...}"));
          TMemoryStream* s = item.BlobStream();
          s->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
          break;
        }
        Bad(f, "the field's type cannot be written");
    }
  }
}

json BuffersToRow(TRadeTableIO& table, TFieldBuffers& buffers,
                  std::vector<std::pair<std::string, std::string>>* unreadable) {
  json row = json::object();
  for (int32_t i = 0; i < table.FieldDefs().Count(); ++i) {
    const TRadeFieldDef& f = *table.FieldDefs().Items(i);
    const TFieldBufferItem& item = *buffers.Items(i);
    const uint8_t* p = item.Bytes();
    const std::string name = ToUtf8(f.Name);
    switch (f.FieldType) {
      case ftString:
      case ftFixedChar: {
        const std::string text = TByteBuffer::LoadText(p, static_cast<size_t>(item.BufferSize));
        try {
          row[name] = ToUtf8(text);
        } catch (const EConvertError& e) {
          // Damage or another program's bytes: the row is still given, this field as its bytes.
          row[name] = json{{"hex", Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size())}};
          if (unreadable)
            unreadable->emplace_back(
                f.Name, Format("the text cannot be read (%s); its stored bytes are given in hex", e.what()));
        }
        break;
      }
      case ftSmallint:
        row[name] = TByteBuffer::LoadInt16(p);
        break;
      case ftWord:
        row[name] = static_cast<uint16_t>(TByteBuffer::LoadInt16(p));
        break;
      case ftInteger:
      case ftAutoInc:
        row[name] = TByteBuffer::LoadInt32(p);
        break;
      case ftLargeint:
        row[name] = TByteBuffer::LoadInt64(p);
        break;
      case ftBoolean:
        row[name] = TByteBuffer::LoadInt16(p) != 0;
        break;
      case ftFloat:
      case ftCurrency:
        row[name] = TByteBuffer::LoadDouble(p);
        break;
      case ftDate: {
        int32_t day = TByteBuffer::LoadInt32(p);
        row[name] = day > 0 ? json(DateText(day)) : json(nullptr);  // no date: null, which reads back as 0
        break;
      }
      case ftTime:
        row[name] = TimeText(TByteBuffer::LoadInt32(p));
        break;
      case ftDateTime: {
        double v = TByteBuffer::LoadDouble(p);
        if (v == 0) {
          row[name] = nullptr;
          break;
        }
        if (!std::isfinite(v) || v < MSecsPerDay || v > 1e15) {
          row[name] = v;
          break;
        }
        double days = std::floor(v / MSecsPerDay);
        int32_t ms = static_cast<int32_t>(std::llround(v - days * MSecsPerDay));
        if (ms >= MSecsPerDay) {
          ms -= MSecsPerDay;
          days += 1;
        }
        row[name] = DateText(static_cast<int32_t>(days)) + " " + TimeText(ms);
        break;
      }
      default:
        if (IsBlobType(f.FieldType)) {
          TMemoryStream* s = item.BlobStream();
          size_t size = 0;
          try {
            size = static_cast<size_t>(s->Size());  // loads the content first
          } catch (const std::exception& e) {
            // Stored bytes that do not decode (damage): the row is still given, this field as null.
            row[name] = nullptr;
            if (unreadable)
              unreadable->emplace_back(f.Name,
                                       Format("the blob cannot be read (%s); it is given as null", e.what()));
            break;
          }
          std::string bytes(reinterpret_cast<const char*>(s->Memory()), size);
          if (IsTextBlob(f.FieldType)) {
            try {
              row[name] = ToUtf8(bytes);
              break;
            } catch (const EConvertError&) {
            }
          }
          row[name] = json{{"hex", Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())}};
        }
    }
  }
  return row;
}

}  // namespace lanqi
