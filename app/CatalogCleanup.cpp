#include "app/CatalogCleanup.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "app/CatalogSchema.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace lanqi {

namespace {

// The catalog's table and field names.
const TCatalogNames& N() {
  return CatalogNames();
}

// The extra table as the file holds it now: opened again, so rows another program wrote are read.
TRadeTable* Fresh(TRadeTable* t) {
  t->Close();
  t->SetFiltered(false);
  t->Open();
  return t;
}

void Unfiltered(TRadeTable* t) {
  t->SetFiltered(false);
  t->Open();
}

// Whether the catalog file holds the table, without making it: reading rules or marks of a catalog
// that never had any leaves the file as it was.
bool HasTable(TVersionCatalog& catalog, const std::string& name) {
  TRadeDatabase* db = catalog.Tbarea->Active() ? catalog.Tbarea->Database() : nullptr;
  if (!db) return false;
  db->RefreshTables();
  return db->FindTableIO(name) != nullptr;
}

void PostOrCancel(TRadeTable* t) {
  try {
    t->Post();
  } catch (...) {
    try {
      t->Cancel();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace

TRadeTable* TCatalogCleanup::RulesTable() {
  return Fresh(catalog_.ExtraTable(CleanupRulesTableDef()));
}

TRadeTable* TCatalogCleanup::MarksTable() {
  return Fresh(catalog_.ExtraTable(VersionMarksTableDef()));
}

TCleanupRules TCatalogCleanup::Rules(int32_t areaNo) {
  TCleanupRules rules;
  if (!HasTable(catalog_, N().rulesTable)) return rules;
  TRadeTable* t = RulesTable();
  TField* area = t->FieldByName(N().areaNo);
  // The last row of the area counts, should two programs each have added one.
  for (t->First(); !t->Eof(); t->Next()) {
    if (area->AsInteger() != areaNo) continue;
    rules.KeepNewest = std::max(0, t->FieldByName(N().keepNewest)->AsInteger());
    rules.DailyAfterDays = std::max(0, t->FieldByName(N().dailyAfter)->AsInteger());
    rules.WeeklyAfterWeeks = std::max(0, t->FieldByName(N().weeklyAfter)->AsInteger());
  }
  return rules;
}

void TCatalogCleanup::SetRules(int32_t areaNo, const TCleanupRules& rules) {
  TRadeTable* t = RulesTable();
  TField* area = t->FieldByName(N().areaNo);
  bool found = false;
  for (t->First(); !t->Eof(); t->Next()) {
    if (area->AsInteger() != areaNo) continue;
    found = true;
    t->Edit();
    break;
  }
  if (!found) {
    t->Append();
    area->SetAsInteger(areaNo);
  }
  t->FieldByName(N().keepNewest)->SetAsInteger(std::max(0, rules.KeepNewest));
  t->FieldByName(N().dailyAfter)->SetAsInteger(std::max(0, rules.DailyAfterDays));
  t->FieldByName(N().weeklyAfter)->SetAsInteger(std::max(0, rules.WeeklyAfterWeeks));
  PostOrCancel(t);
  // Rows of the area after the one written would win over it.
  for (t->Next(); !t->Eof();) {
    if (area->AsInteger() == areaNo)
      t->Delete();
    else
      t->Next();
  }
}

std::set<std::pair<int32_t, std::string>> TCatalogCleanup::ProtectedVersions() {
  std::set<std::pair<int32_t, std::string>> marks;
  if (!HasTable(catalog_, N().marksTable)) return marks;
  TRadeTable* t = MarksTable();
  TField* file = t->FieldByName(N().fileNo);
  TField* version = t->FieldByName(N().version);
  TField* on = t->FieldByName(N().protectedMark);
  for (t->First(); !t->Eof(); t->Next())
    if (on->AsBoolean()) marks.emplace(file->AsInteger(), version->AsString());
  return marks;
}

bool TCatalogCleanup::IsProtected(int32_t fileNo, const std::string& version) {
  return ProtectedVersions().count({fileNo, version}) > 0;
}

void TCatalogCleanup::SetProtected(int32_t fileNo, const std::string& version, bool on) {
  if (!on && !HasTable(catalog_, N().marksTable)) return;
  TRadeTable* t = MarksTable();
  TField* file = t->FieldByName(N().fileNo);
  TField* text = t->FieldByName(N().version);
  // The version's rows go; a protected one is written anew.
  for (t->First(); !t->Eof();) {
    if (file->AsInteger() == fileNo && text->AsString() == version)
      t->Delete();
    else
      t->Next();
  }
  if (!on) return;
  t->Append();
  file->SetAsInteger(fileNo);
  text->SetAsString(version);
  t->FieldByName(N().protectedMark)->SetAsBoolean(true);
  PostOrCancel(t);
}

std::vector<TCleanupItem> TCatalogCleanup::Plan(int32_t areaNo, int32_t fileNo, int64_t now) {
  // Each area's rules; an area without any has nothing to remove.
  std::unordered_map<int32_t, TCleanupRules> rulesOf;
  if (!HasTable(catalog_, N().rulesTable)) return {};
  {
    TRadeTable* t = RulesTable();
    TField* area = t->FieldByName(N().areaNo);
    for (t->First(); !t->Eof(); t->Next()) {
      if (areaNo != 0 && area->AsInteger() != areaNo) continue;
      TCleanupRules r;
      r.KeepNewest = std::max(0, t->FieldByName(N().keepNewest)->AsInteger());
      r.DailyAfterDays = std::max(0, t->FieldByName(N().dailyAfter)->AsInteger());
      r.WeeklyAfterWeeks = std::max(0, t->FieldByName(N().weeklyAfter)->AsInteger());
      rulesOf[area->AsInteger()] = r;
    }
  }
  return PlanFor(rulesOf, fileNo, now);
}

std::vector<TCleanupItem> TCatalogCleanup::PlanWith(int32_t areaNo, const TCleanupRules& rules, int64_t now) {
  return PlanFor({{areaNo, rules}}, 0, now);
}

std::vector<TCleanupItem> TCatalogCleanup::PlanFor(std::unordered_map<int32_t, TCleanupRules> rulesOf,
                                                   int32_t fileNo, int64_t now) {
  for (auto it = rulesOf.begin(); it != rulesOf.end();)
    it = it->second.Any() ? std::next(it) : rulesOf.erase(it);
  if (rulesOf.empty()) return {};

  // The files under those rules, in table order.
  TRadeTable* files = catalog_.Tbfileid;
  Unfiltered(files);
  struct TFile {
    int32_t AreaNo;
    int32_t FileNo;
    std::string Path;
  };
  std::vector<TFile> tracked;
  std::unordered_map<int32_t, size_t> fileIndex;
  {
    TField* area = files->FieldByName(N().areaNo);
    TField* no = files->FieldByName(N().fileNo);
    TField* path = files->FieldByName(N().sourceName);
    for (files->First(); !files->Eof(); files->Next()) {
      int32_t a = area->AsInteger(), f = no->AsInteger();
      if (!rulesOf.count(a) || (fileNo != 0 && f != fileNo) || fileIndex.count(f)) continue;
      fileIndex[f] = tracked.size();
      tracked.push_back({a, f, path->AsString()});
    }
  }
  if (tracked.empty()) return {};

  // Their versions in the order recorded.
  struct TRow {
    std::string Version, Copy, Size;
    int32_t Occurrence;
  };
  std::vector<std::vector<TRow>> rowsOf(tracked.size());
  {
    TRadeTable* versions = catalog_.Tbfilever;
    Unfiltered(versions);
    TField* no = versions->FieldByName(N().fileNo);
    TField* version = versions->FieldByName(N().version);
    TField* copy = versions->FieldByName(N().copyName);
    TField* size = versions->FieldByName(N().size);
    std::vector<std::unordered_map<std::string, int32_t>> seen(tracked.size());
    bool read = false;
    if (fileNo != 0 && versions->IndexName().empty()) {
      // One file (a capture's): its rows through the index on the file number, then put in record
      // order as the table shows them, instead of a pass over every version of the catalog. A
      // catalog without that index takes the pass.
      struct TFound {
        uint32_t RecNo;
        std::string Version, Copy, Size;
      };
      std::vector<TFound> found;
      try {
        struct TBack {
          TRadeTable* t;
          ~TBack() {
            try {
              t->SetIndexName("");
            } catch (...) {
            }
          }
        } back{versions};
        versions->SetIndexName(N().versionFileIndex);
        if (versions->Locate(N().fileNo, Variant(fileNo), TLocateOptions{})) {
          for (; !versions->Eof() && no->AsInteger() == fileNo; versions->Next()) {
            TBookmark b = versions->Bookmark();
            uint32_t recNo = 0;
            for (size_t i = 0; i < 4 && i < b.size(); ++i) recNo |= uint32_t(uint8_t(b[i])) << (8 * i);
            found.push_back({recNo, version->AsString(), copy->AsString(), size->AsString()});
          }
        }
        read = true;
      } catch (const EDatabaseError&) {
        found.clear();
      }
      std::stable_sort(found.begin(), found.end(),
                       [](const TFound& a, const TFound& b) { return a.RecNo < b.RecNo; });
      for (TFound& r : found) {
        int32_t occurrence = seen[0][r.Version]++;
        rowsOf[0].push_back({std::move(r.Version), std::move(r.Copy), std::move(r.Size), occurrence});
      }
    }
    if (!read) {
      for (versions->First(); !versions->Eof(); versions->Next()) {
        auto f = fileIndex.find(no->AsInteger());
        if (f == fileIndex.end()) continue;
        std::string text = version->AsString();
        int32_t occurrence = seen[f->second][text]++;
        rowsOf[f->second].push_back({std::move(text), copy->AsString(), size->AsString(), occurrence});
      }
    }
  }

  const std::set<std::pair<int32_t, std::string>> marks = ProtectedVersions();
  std::vector<TCleanupItem> plan;
  for (size_t i = 0; i < tracked.size(); ++i) {
    const std::vector<TRow>& rows = rowsOf[i];
    std::vector<TCleanupVersion> versions;
    versions.reserve(rows.size());
    for (const TRow& r : rows)
      versions.push_back({r.Version, marks.count({tracked[i].FileNo, r.Version}) > 0});
    for (size_t k : PlanCleanup(versions, rulesOf[tracked[i].AreaNo], now)) {
      const TRow& r = rows[k];
      plan.push_back(
          {tracked[i].AreaNo, tracked[i].FileNo, tracked[i].Path, r.Version, r.Copy, r.Size, r.Occurrence});
    }
  }
  return plan;
}

std::vector<TCleanupItem> TCatalogCleanup::Remove(const std::vector<TCleanupItem>& items) {
  if (items.empty()) return {};
  struct TKeyHash {
    size_t operator()(const std::pair<int32_t, std::string>& k) const {
      return std::hash<std::string>()(k.second) * 31 + std::hash<int32_t>()(k.first);
    }
  };
  // Which of each file's rows of a version text go, by their place among those rows.
  std::unordered_map<std::pair<int32_t, std::string>, std::vector<std::pair<int32_t, size_t>>, TKeyHash>
      wanted;
  for (size_t i = 0; i < items.size(); ++i)
    wanted[{items[i].FileNo, items[i].Version}].push_back({items[i].Occurrence, i});

  // Read as the file holds it now, so no row another program removed meanwhile is mistaken for one.
  TRadeTable* versions = Fresh(catalog_.Tbfilever);
  TField* no = versions->FieldByName(N().fileNo);
  TField* version = versions->FieldByName(N().version);
  TField* copy = versions->FieldByName(N().copyName);
  std::unordered_map<std::pair<int32_t, std::string>, int32_t, TKeyHash> seen;
  std::vector<std::pair<int32_t, size_t>> doomed;  // record position (1-based), item
  for (versions->First(); !versions->Eof(); versions->Next()) {
    std::pair<int32_t, std::string> key{no->AsInteger(), version->AsString()};
    auto w = wanted.find(key);
    if (w == wanted.end()) continue;
    int32_t occurrence = seen[key]++;
    for (auto& [place, item] : w->second)
      if (place == occurrence && copy->AsString() == items[item].Copy)
        doomed.push_back({versions->RecNo(), item});
  }

  std::vector<TCleanupItem> removed;
  std::vector<std::string> copies;
  auto removeCopies = [&] {
    if (copies.empty()) return;
    // A copy another row still names (captures of one stamp share it) stays.
    std::unordered_set<std::string> named;
    Unfiltered(versions);
    for (versions->First(); !versions->Eof(); versions->Next()) named.insert(copy->AsString());
    for (const std::string& c : copies) {
      if (c.empty() || named.count(c)) continue;
      std::error_code ignored;
      std::filesystem::remove(ToOsPath(c), ignored);
    }
  };
  try {
    // From the last row back, so the places of the rows still to go do not move. The rows go first:
    // a row never names a missing copy.
    for (auto d = doomed.rbegin(); d != doomed.rend(); ++d) {
      versions->SetRecNo(d->first);
      const TCleanupItem& item = items[d->second];
      if (no->AsInteger() != item.FileNo || version->AsString() != item.Version) continue;
      versions->Delete();
      removed.push_back(item);
      copies.push_back(item.Copy);
    }
  } catch (...) {
    removeCopies();
    throw;
  }
  removeCopies();
  std::reverse(removed.begin(), removed.end());
  return removed;
}

void AttachProtectedMarks(TVersionCatalog& catalog, std::vector<TCatalogArea>& areas) {
  const std::set<std::pair<int32_t, std::string>> marks = TCatalogCleanup(catalog).ProtectedVersions();
  if (marks.empty()) return;
  std::unordered_map<int32_t, std::unordered_set<std::string>> byFile;
  for (const auto& [file, version] : marks) byFile[file].insert(version);
  for (TCatalogArea& area : areas) {
    for (TCatalogFile& f : area.Files) {
      auto m = byFile.find(f.FileNo);
      if (m == byFile.end()) continue;
      f.Protected.assign(f.Versions.size(), false);
      for (size_t i = 0; i < f.Versions.size(); ++i) f.Protected[i] = m->second.count(f.Versions[i]) > 0;
    }
  }
}

std::vector<TCleanupItem> CleanupAfterCapture(TVersionCatalog& catalog, int32_t fileNo) {
  TCatalogCleanup cleanup(catalog);
  return cleanup.Run(0, fileNo, NowLocalSeconds());
}

}  // namespace lanqi
