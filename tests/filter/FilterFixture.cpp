#include "tests/filter/FilterFixture.h"

#include "engine/filter/DateText.h"
#include "platform/CodePage.h"

namespace lanqi {

TMemoryRecord TMemoryRecord::Standard() {
  TMemoryRecord r;
  r.AddField("Name", ftString, 21);
  r.AddField("Code", ftFixedChar, 9);
  r.AddField("Age", ftInteger);
  r.AddField("Small", ftSmallint);
  r.AddField("W", ftWord);
  r.AddField("Id", ftAutoInc);
  r.AddField("Big", ftLargeint);
  r.AddField("Price", ftFloat);
  r.AddField("Cost", ftCurrency);
  r.AddField("Active", ftBoolean);
  r.AddField("HireDate", ftDate);
  r.AddField("T", ftTime);
  r.AddField("Stamp", ftDateTime);
  r.AddField("Notes", ftMemo);
  r.AddField("A", ftInteger);
  r.AddField("B", ftInteger);
  r.AddField("x", ftInteger);
  r.AddField(Ansi(u8"存储区序号"), ftInteger);
  r.AddField(Ansi(u8"文件名"), ftString, 41);
  return r;
}

int32_t Day(int year, int month, int day) {
  return DayNumberOf(year, month, day);
}

double Stamp(int year, int month, int day, int hour, int min, int sec, int ms) {
  return static_cast<double>(Day(year, month, day)) * 86400000.0 + Ms(hour, min, sec, ms);
}

}  // namespace lanqi
