// A three-term filter (integer comparison, partial string comparison, LIKE) over one million
// in-memory records, against SQLite evaluating the same WHERE clause over the same rows in an
// in-memory table. Prints both times and the ratio.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/filter/FilterDataSource.h"
#include "engine/filter/FilterParser.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

constexpr int kRecords = 1000000;
constexpr int32_t kAgeOffset = 0;
constexpr int32_t kNameOffset = 4;
constexpr int32_t kNameSize = 21;
constexpr int32_t kTitleOffset = kNameOffset + kNameSize;
constexpr int32_t kTitleSize = 41;
constexpr int32_t kRecordSize = kTitleOffset + kTitleSize;

struct Row {
  int32_t age;
  std::string name;
  std::string title;
};

std::vector<Row> MakeRows() {
  std::mt19937 rng(2026);
  auto letters = [&](int minLen, int maxLen, const char* alphabet, int alphabetSize) {
    int n = minLen + static_cast<int>(rng() % static_cast<unsigned>(maxLen - minLen + 1));
    std::string s;
    for (int i = 0; i < n; ++i) s += alphabet[rng() % static_cast<unsigned>(alphabetSize)];
    return s;
  };
  std::vector<Row> rows;
  rows.reserve(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    Row r;
    r.age = static_cast<int32_t>(rng() % 1000);
    r.name = letters(1, 16, "abcd", 4);
    r.title = letters(8, 36, "abcdefghijklmnopqrstuvwxyz ", 27);
    rows.push_back(std::move(r));
  }
  return rows;
}

// The records laid out as a dataset's record buffers, one after the other.
class TBenchRecords : public TFilterDataSource {
 public:
  explicit TBenchRecords(const std::vector<Row>& rows) : data_(rows.size() * kRecordSize, 0) {
    for (size_t i = 0; i < rows.size(); ++i) {
      uint8_t* p = data_.data() + i * kRecordSize;
      std::memcpy(p + kAgeOffset, &rows[i].age, 4);
      std::memcpy(p + kNameOffset, rows[i].name.data(), std::min<size_t>(rows[i].name.size(), kNameSize - 1));
      std::memcpy(p + kTitleOffset, rows[i].title.data(),
                  std::min<size_t>(rows[i].title.size(), kTitleSize - 1));
    }
  }
  void Select(size_t i) { current_ = data_.data() + i * kRecordSize; }

  TFilterField FilterFieldByName(const std::string& name) override {
    if (name == "Age") return {ftInteger, false, 0, 4};
    if (name == "Name") return {ftString, false, 1, kNameSize};
    if (name == "Title") return {ftString, false, 2, kTitleSize};
    throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
  }
  const uint8_t* ActiveRecordBuffer() override { return current_; }
  int32_t FieldOffset(int32_t fieldIndex) override {
    static const int32_t offsets[] = {kAgeOffset, kNameOffset, kTitleOffset};
    return offsets[fieldIndex];
  }
  void BlobFieldText(int32_t, std::string& text) override { text.clear(); }

 private:
  std::vector<uint8_t> data_;
  const uint8_t* current_ = nullptr;
};

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

}  // namespace
}  // namespace lanqi

int main() {
  using namespace lanqi;
  SetSystemCodePage(936);
  SetCollationLocale("en_US");
  const std::vector<Row> rows = MakeRows();

  TBenchRecords records(rows);
  TFilterParser parser(&records);

  sqlite3* db = nullptr;
  Check(sqlite3_open(":memory:", &db), db, "open");
  // LIKE is made case-sensitive, as ours is without foCaseInsensitive.
  Check(sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr), db, "pragma");
  Check(sqlite3_exec(db, "CREATE TABLE t (age INTEGER, name TEXT, title TEXT)", nullptr, nullptr, nullptr),
        db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?)", -1, &insert, nullptr), db, "prepare insert");
  for (const Row& r : rows) {
    sqlite3_bind_int(insert, 1, r.age);
    sqlite3_bind_text(insert, 2, r.name.c_str(), static_cast<int>(r.name.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, r.title.c_str(), static_cast<int>(r.title.size()), SQLITE_STATIC);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");

  // The same three terms in two orders: with LIKE second it runs on most records. The partial
  // comparison 'ab*' is a comparison of the first two bytes.
  const std::pair<const char*, const char*> cases[] = {
      {"Age > 300 AND Title LIKE '%ab%' AND Name = 'ab*'",
       "SELECT count(*) FROM t WHERE age > 300 AND title LIKE '%ab%' AND substr(name, 1, 2) = 'ab'"},
      {"Age > 300 AND Name = 'ab*' AND Title LIKE '%ab%'",
       "SELECT count(*) FROM t WHERE age > 300 AND substr(name, 1, 2) = 'ab' AND title LIKE '%ab%'"},
  };
  bool same = true;
  for (const auto& [filter, query] : cases) {
    sqlite3_stmt* select = nullptr;
    Check(sqlite3_prepare_v2(db, query, -1, &select, nullptr), db, "prepare select");
    constexpr int kRounds = 5;
    std::vector<double> ours, theirs;
    long oursCount = 0, theirsCount = 0;
    for (int round = 0; round < kRounds; ++round) {
      auto start = std::chrono::steady_clock::now();
      // As a filtering pass does: parse once, then evaluate every record through the same parser.
      parser.Parse(filter);
      long passed = 0;
      for (size_t i = 0; i < rows.size(); ++i) {
        records.Select(i);
        if (parser.Evaluate(static_cast<uint8_t>(0))) ++passed;
      }
      ours.push_back(Seconds(start));
      oursCount = passed;

      start = std::chrono::steady_clock::now();
      Check(sqlite3_step(select), db, "select");
      theirsCount = sqlite3_column_int64(select, 0);
      sqlite3_reset(select);
      theirs.push_back(Seconds(start));
    }
    sqlite3_finalize(select);
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    const double a = ours[kRounds / 2];
    const double b = theirs[kRounds / 2];
    same = same && oursCount == theirsCount;
    std::printf("filter: %s\n", filter);
    std::printf("  records: %d, passing: ours %ld, SQLite %ld%s\n", kRecords, oursCount, theirsCount,
                oursCount == theirsCount ? "" : "  (MISMATCH)");
    std::printf("  ours: %.1f ms, SQLite: %.1f ms (medians of %d)\n", a * 1000, b * 1000, kRounds);
    std::printf("  ratio ours/SQLite: %.2fx (target <= 1.0x)\n", a / b);
  }
  sqlite3_close(db);
  return same ? 0 : 1;
}
