#include "app/LanqiCli.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/CaptureSettings.h"
#include "app/CatalogCleanup.h"
#include "app/CatalogReport.h"
#include "app/DiffCommand.h"
#include "app/TrackedFolders.h"
#include "app/VersionCatalog.h"
#include "app/entry.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

using json = nlohmann::ordered_json;

const char* const kUsage =
    "usage: lanqi [--catalog FILE] COMMAND ...\n"
    "  list [--json]                    areas and their tracked files, with the space they use\n"
    "  history PATH [--json]            the versions of a tracked file, newest first\n"
    "  show PATH VERSION                the version's bytes on standard output\n"
    "  diff PATH [VERSION [VERSION2]]   a unified diff (newest version against the file by default)\n"
    "  restore PATH VERSION             put a version back in place of the file\n"
    "  add-area NAME FOLDER             make a storage area\n"
    "  add PATH --area NAME             track a file, recording its first version\n"
    "  add-folder DIR --area NAME [--recursive] [--include MASKS] [--exclude MASKS]\n"
    "                                   track the files of a folder, now and later\n"
    "  remove-folder DIR                stop tracking new files of the folder\n"
    "  capture [PATH...] [--note TEXT]  record a version of each changed tracked file (and the\n"
    "                                   first of each new file in a tracked folder)\n"
    "  status                           tracked files that changed since their newest version\n"
    "  cleanup [--area NAME] [--dry-run] remove the versions the areas' cleanup rules let go\n"
    "Without a command the desktop program starts. --catalog uses another catalog than the one\n"
    "beside the program; VERSION is the version text as shown (2026-12-10-14-45-38).\n"
    "Exit codes: 0 done, 1 not found, 2 usage, 3 error.\n";

const std::map<std::string, std::string>& CommandUsage() {
  static const std::map<std::string, std::string> usage = {
      {"list",
       "usage: lanqi list [--json]\n"
       "The storage areas with their folders and tracked files, each with its number of versions and\n"
       "the bytes its backup copies use (a copy shared by several versions counts once), the area's\n"
       "bytes at the end of its line, and their tracked folders (a line \"PATH/  tracked folder\" with\n"
       "its masks).\n"
       "--json: an array of {\"area\", \"folder\", \"files\": [{\"path\", \"versions\", \"space\"}]}, with\n"
       "\"tracked_folders\": [{\"path\", \"recursive\", \"include\", \"exclude\"}] where there are some,\n"
       "and \"space\" last.\n"},
      {"history",
       "usage: lanqi history PATH [--json]\n"
       "The versions of a tracked file, newest first: version, size in bytes, note.\n"
       "--json: an array of {\"version\", \"size\", \"note\", \"copy\"} (copy: the backup copy's path).\n"},
      {"show", "usage: lanqi show PATH VERSION\nWrites the version's bytes to standard output.\n"},
      {"diff",
       "usage: lanqi diff PATH [VERSION [VERSION2]]\n"
       "A unified diff: the newest version against the file, VERSION against the file, or VERSION\n"
       "against VERSION2.\n"},
      {"restore",
       "usage: lanqi restore PATH VERSION\n"
       "Puts the version back in place of the file. A current state that differs from the newest\n"
       "version is recorded first (note \"恢复前自动保存\"); the restore is recorded as a version with\n"
       "the note \"恢复自 VERSION\".\n"},
      {"add-area", "usage: lanqi add-area NAME FOLDER\nMakes a storage area keeping its copies in FOLDER.\n"},
      {"add", "usage: lanqi add PATH --area NAME\nTracks a file in the area, recording its first version.\n"},
      {"add-folder",
       "usage: lanqi add-folder DIR --area NAME [--recursive] [--include MASKS] [--exclude MASKS]\n"
       "Tracks the folder in the area: every file in it that the masks admit is tracked, its first\n"
       "version recorded, and so is every such file that appears there later (at the next capture\n"
       "or detection pass). --recursive: sub-folders too. MASKS: names separated by \";\" with \"*\"\n"
       "and \"?\" (\"*.docx;*.txt\"), letter case ignored; --include keeps only matching names,\n"
       "--exclude leaves matching names (and sub-folders) out. Editors' temporary and lock files\n"
       "(~$*, .~lock.*#, *.swp, *.tmp, .#*, *~) are always left out.\n"},
      {"remove-folder",
       "usage: lanqi remove-folder DIR\n"
       "Stops tracking new files of the folder. The files it tracked stay tracked, with their\n"
       "versions.\n"},
      {"capture",
       "usage: lanqi capture [PATH...] [--note TEXT]\n"
       "Records a version of each named tracked file (of every tracked file when none is named)\n"
       "that changed since its last version, without a prompt. A file of a tracked folder that is\n"
       "not tracked yet (every such file when none is named) is tracked, its first version recorded.\n"},
      {"status",
       "usage: lanqi status\n"
       "The tracked files that changed since their newest version (\"changed\") or are gone\n"
       "(\"missing\"), one a line.\n"},
      {"cleanup",
       "usage: lanqi cleanup [--area NAME] [--dry-run] [--keep N] [--daily-after D] [--weekly-after W]\n"
       "Removes (with --dry-run: only lists) the versions the cleanup rules of each area (of NAME)\n"
       "let go, their rows and backup copies, one \"PATH<tab>VERSION\" a line. The rules: keep the\n"
       "newest N versions of each file; of the versions from D or more days before today, one a day;\n"
       "of those from W or more weeks before this week (Monday to Sunday), one a week; 0 turns a rule\n"
       "off. --keep, --daily-after and --weekly-after (with --area) store the area's rules first;\n"
       "with --dry-run they are only tried, not stored.\n"
       "Protected versions (\"保护此版本\") and the newest version of a file always stay.\n"},
  };
  return usage;
}

struct TUsage : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct TMissing : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TArgs {
  std::string Command;
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
  std::set<std::string> Flags;
};

// Code-page text for the terminal; bytes the code page cannot read are passed on as they are.
std::string Shown(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const std::exception&) {
    return ansi;
  }
}

std::string Stored(const std::string& utf8, const std::string& what) {
  try {
    return Utf8ToAnsi(utf8);
  } catch (const std::exception&) {
    throw TUsage(what + " has characters the catalog cannot hold: " + utf8);
  }
}

// A path as the catalog holds it: absolute, without "." and ".." steps, in the code page.
std::string CatalogPathOf(const std::string& utf8) {
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(utf8)).lexically_normal();
  std::string s = p.string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return Stored(s, "the path");
}

TArgs Parse(int argc, char** argv, std::string& catalog, bool& help) {
  static const std::set<std::string> withValue = {"--area",         "--note",    "--keep",   "--daily-after",
                                                  "--weekly-after", "--include", "--exclude"};
  static const std::set<std::string> flags = {"--json", "--dry-run", "--recursive"};
  TArgs a;
  help = false;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--help" || s == "-h") {
      help = true;
    } else if (s == "--catalog" && a.Command.empty()) {
      if (i + 1 >= argc) throw TUsage("--catalog needs a value");
      catalog = argv[++i];
    } else if (withValue.count(s)) {
      if (i + 1 >= argc) throw TUsage(s + " needs a value");
      a.Options[s] = argv[++i];
    } else if (flags.count(s)) {
      a.Flags.insert(s);
    } else if (s.size() > 1 && s[0] == '-' && s != "-") {
      throw TUsage("unknown option " + s);
    } else if (a.Command.empty()) {
      a.Command = s;
    } else {
      a.Positional.push_back(s);
    }
  }
  return a;
}

void Allow(const TArgs& a, std::set<std::string> options, size_t minArgs, size_t maxArgs) {
  for (auto& [o, v] : a.Options)
    if (!options.count(o)) throw TUsage(a.Command + " takes no " + o);
  for (const std::string& f : a.Flags)
    if (!options.count(f)) throw TUsage(a.Command + " takes no " + f);
  if (a.Positional.size() < minArgs) throw TUsage(a.Command + ": missing arguments");
  if (a.Positional.size() > maxArgs) throw TUsage(a.Command + ": too many arguments");
}

int32_t TrackedFile(TVersionCatalog& c, const std::string& path) {
  int32_t fileNo = c.FileNoOf(path);
  if (!fileNo) throw TMissing("not a tracked file: " + Shown(path));
  return fileNo;
}

verinfo Version(TVersionCatalog& c, int32_t fileNo, const std::string& path, const std::string& version) {
  verinfo v;
  if (!c.FindVersionInfo(fileNo, Stored(version, "the version"), v))
    throw TMissing("no version " + version + " of " + Shown(path));
  return v;
}

json Number(const std::string& text) {
  try {
    size_t used = 0;
    long long n = std::stoll(text, &used);
    if (used == text.size()) return n;
  } catch (const std::exception&) {
  }
  return nullptr;
}

std::string Dump(const json& j) {
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

int List(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {"--json"}, 0, 0);
  std::vector<TCatalogArea> areas = c.ReadTree();
  // The report reads the same tables in the same order: its areas and files match the tree's.
  TCatalogReport report = BuildCatalogReport(c, LocalToday());
  if (report.Areas.size() != areas.size()) throw Exception("the catalog changed while it was read");
  if (a.Flags.count("--json")) {
    json j = json::array();
    for (size_t i = 0; i < areas.size(); ++i) {
      const TCatalogArea& area = areas[i];
      const TReportArea& space = report.Areas[i];
      json files = json::array();
      for (const TReportFile& f : space.Files)
        files.push_back({{"path", Shown(f.Path)}, {"versions", f.Versions}, {"space", f.Space}});
      json entry = {{"area", Shown(area.Name)}, {"folder", Shown(area.Folder)}, {"files", files}};
      if (!area.Folders.empty()) {
        json folders = json::array();
        for (const TCatalogFolder& f : area.Folders)
          folders.push_back({{"path", Shown(f.Path)},
                             {"recursive", f.Recursive},
                             {"include", Shown(f.Include)},
                             {"exclude", Shown(f.Exclude)}});
        entry["tracked_folders"] = folders;
      }
      entry["space"] = space.Space;
      j.push_back(entry);
    }
    out << Dump(j);
    return kCliOk;
  }
  for (size_t i = 0; i < areas.size(); ++i) {
    const TCatalogArea& area = areas[i];
    const TReportArea& space = report.Areas[i];
    out << Shown(area.Name) << "\t" << Shown(area.Folder) << "\t" << space.Space << " bytes\n";
    for (const TCatalogFolder& f : area.Folders) {
      out << "\t" << Shown(IncludeTrailingPathDelimiter(f.Path)) << "\ttracked folder"
          << (f.Recursive ? ", recursive" : "");
      if (!f.Include.empty()) out << ", include " << Shown(f.Include);
      if (!f.Exclude.empty()) out << ", exclude " << Shown(f.Exclude);
      out << "\n";
    }
    for (const TReportFile& f : space.Files)
      out << "\t" << Shown(f.Path) << "\t" << f.Versions << (f.Versions == 1 ? " version" : " versions")
          << "\t" << f.Space << " bytes\n";
  }
  return kCliOk;
}

int History(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {"--json"}, 1, 1);
  std::string path = CatalogPathOf(a.Positional[0]);
  std::vector<verinfo> versions = c.Versions(TrackedFile(c, path));
  if (a.Flags.count("--json")) {
    json j = json::array();
    for (auto v = versions.rbegin(); v != versions.rend(); ++v)
      j.push_back({{"version", Shown(v->Version)},
                   {"size", Number(v->Size)},
                   {"note", Shown(v->Note)},
                   {"copy", Shown(v->FilePath)}});
    out << Dump(j);
    return kCliOk;
  }
  for (auto v = versions.rbegin(); v != versions.rend(); ++v)
    out << Shown(v->Version) << "\t" << Shown(v->Size) << "\t" << Shown(v->Note) << "\n";
  return kCliOk;
}

int Show(TVersionCatalog& c, const TArgs& a, std::ostream& out, std::ostream& err) {
  Allow(a, {}, 2, 2);
  std::string path = CatalogPathOf(a.Positional[0]);
  verinfo v = Version(c, TrackedFile(c, path), path, a.Positional[1]);
  std::ifstream in(ToOsPath(v.FilePath), std::ios::binary);
  if (!in) {
    err << "lanqi: the backup copy of version " << a.Positional[1] << " is missing: " << Shown(v.FilePath)
        << "\n";
    return kCliError;
  }
  out << in.rdbuf();
  out.flush();
  return kCliOk;
}

int Diff(TVersionCatalog& c, const TArgs& a, std::ostream& out, std::ostream& err) {
  Allow(a, {}, 1, 3);
  std::vector<std::string> versions;
  for (size_t i = 1; i < a.Positional.size(); ++i) versions.push_back(Stored(a.Positional[i], "the version"));
  return DiffCommand(c, CatalogPathOf(a.Positional[0]), versions, out, err);
}

int Restore(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {}, 2, 2);
  std::string path = CatalogPathOf(a.Positional[0]);
  int32_t fileNo = TrackedFile(c, path);
  verinfo v = Version(c, fileNo, path, a.Positional[1]);
  TRestoreResult r = c.RestoreVersion(fileNo, v.Version);
  if (r.SavedCurrent)
    out << "saved the current state of " << Shown(path) << " as version " << Shown(r.Saved.Version) << " ("
        << Shown(r.Saved.Note) << ")\n";
  out << "restored " << Shown(path) << " to version " << Shown(v.Version) << ", recorded as version "
      << Shown(r.Restored.Version) << " (" << Shown(r.Restored.Note) << ")\n";
  return kCliOk;
}

int AddArea(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {}, 2, 2);
  if (a.Positional[0].empty()) throw TUsage("add-area needs a name");
  std::string name = Stored(a.Positional[0], "the name");
  std::string folder = CatalogPathOf(a.Positional[1]);
  // As the new-area dialog: the folder must be there.
  if (!DirectoryExists(folder)) throw TMissing("folder not found: " + a.Positional[1]);
  c.AddArea(name, folder);
  out << "added area " << a.Positional[0] << "\t" << Shown(folder) << "\n";
  return kCliOk;
}

int Add(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {"--area"}, 1, 1);
  if (!a.Options.count("--area")) throw TUsage("add needs --area NAME");
  std::string path = CatalogPathOf(a.Positional[0]);
  if (!FileExists(path) && !DirectoryExists(path)) throw TMissing("file not found: " + Shown(path));
  std::string area = Stored(a.Options.at("--area"), "the area name");
  if (!c.AddFileToArea(area, path)) throw TMissing("no storage area " + a.Options.at("--area"));
  verinfo info;
  c.CaptureVersion(path, "", info);
  out << "tracking " << Shown(path) << ", version " << Shown(info.Version) << "\n";
  return kCliOk;
}

int AddFolder(TVersionCatalog& c, const TArgs& a, std::ostream& out, std::ostream& err) {
  Allow(a, {"--area", "--recursive", "--include", "--exclude"}, 1, 1);
  if (!a.Options.count("--area")) throw TUsage("add-folder needs --area NAME");
  std::string folder = CatalogPathOf(a.Positional[0]);
  if (!DirectoryExists(folder)) throw TMissing("folder not found: " + Shown(folder));
  std::string area = Stored(a.Options.at("--area"), "the area name");
  auto option = [&](const char* name) {
    return a.Options.count(name) ? Stored(a.Options.at(name), "the masks") : std::string();
  };
  TFolderTracking done;
  if (!AddTrackedFolder(c, area, folder, a.Flags.count("--recursive") > 0, option("--include"),
                        option("--exclude"), &done))
    throw TMissing("no storage area " + a.Options.at("--area"));
  out << "tracking folder " << Shown(folder) << "\n";
  for (size_t i = 0; i < done.Tracked.size(); ++i)
    out << "tracking " << Shown(done.Paths[i]) << ", version " << Shown(done.Tracked[i].Version) << "\n";
  // The folder is tracked; a file that could not be is named, and the next capture tries it again.
  for (const std::string& failure : done.Failures) err << "lanqi: " << Shown(failure) << "\n";
  return done.Failures.empty() ? kCliOk : kCliError;
}

int RemoveFolder(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {}, 1, 1);
  std::string folder = CatalogPathOf(a.Positional[0]);
  for (const TCatalogFolder& f : TrackedFolders(c)) {
    if (f.Path != folder || !RemoveTrackedFolder(c, f.FolderNo)) continue;
    out << "no longer tracking new files of " << Shown(folder) << "\n";
    return kCliOk;
  }
  throw TMissing("not a tracked folder: " + Shown(folder));
}

int Capture(TVersionCatalog& c, const TArgs& a, std::ostream& out, std::ostream& err) {
  Allow(a, {"--note"}, 0, SIZE_MAX);
  std::string note = a.Options.count("--note") ? Stored(a.Options.at("--note"), "the note") : "";
  int rc = kCliOk;
  // New files of tracked folders first: their first version is the state found now.
  TFolderTracking added;
  if (a.Positional.empty()) {
    added = TrackNewFolderFiles(c);
  } else {
    for (const std::string& given : a.Positional) TrackIfAdmitted(c, CatalogPathOf(given), added);
  }
  for (size_t i = 0; i < added.Tracked.size(); ++i)
    out << Shown(added.Paths[i]) << "\t" << Shown(added.Tracked[i].Version) << "\n";
  for (const std::string& failure : added.Failures) {
    err << "lanqi: " << Shown(failure) << "\n";
    rc = kCliError;
  }
  std::vector<std::string> changed = c.ChangedFiles();
  std::vector<std::string> paths;
  if (a.Positional.empty()) {
    paths = changed;
  } else {
    for (const std::string& given : a.Positional) {
      std::string path = CatalogPathOf(given);
      if (std::find(added.Paths.begin(), added.Paths.end(), path) != added.Paths.end()) continue;
      if (!c.FileNoOf(path)) {
        err << "lanqi: not a tracked file: " << Shown(path) << "\n";
        rc = kCliNotFound;
        continue;
      }
      if (std::find(changed.begin(), changed.end(), path) != changed.end()) paths.push_back(path);
    }
  }
  for (const std::string& path : paths) {
    // A file that is gone has nothing to keep, as in a detection pass.
    if (!FileExists(path)) continue;
    verinfo info;
    try {
      if (c.CaptureVersion(path, note, info)) out << Shown(path) << "\t" << Shown(info.Version) << "\n";
    } catch (const std::exception& e) {
      // The others are still captured.
      err << "lanqi: " << Shown(e.what()) << "\n";
      rc = kCliError;
    }
  }
  return rc;
}

int Status(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {}, 0, 0);
  for (const std::string& path : c.ChangedFiles())
    out << (FileExists(path) ? "changed" : "missing") << "\t" << Shown(path) << "\n";
  return kCliOk;
}

int Cleanup(TVersionCatalog& c, const TArgs& a, std::ostream& out) {
  Allow(a, {"--area", "--dry-run", "--keep", "--daily-after", "--weekly-after"}, 0, 0);
  int32_t areaNo = 0;
  std::string areaName;
  if (a.Options.count("--area")) {
    areaName = Stored(a.Options.at("--area"), "the area name");
    for (const TCatalogArea& area : c.ReadTree())
      if (area.Name == areaName) areaNo = area.AreaNo;
    if (!areaNo) throw TMissing("no storage area " + a.Options.at("--area"));
  }
  TCatalogCleanup cleanup(c);
  const bool dryRun = a.Flags.count("--dry-run") > 0;
  const int64_t now = NowLocalSeconds();
  const char* ruleOptions[] = {"--keep", "--daily-after", "--weekly-after"};
  std::vector<TCleanupItem> items;
  bool ruled = false;
  if (std::any_of(std::begin(ruleOptions), std::end(ruleOptions),
                  [&](const char* o) { return a.Options.count(o); })) {
    if (!areaNo) throw TUsage("the rules are an area's: --area NAME");
    TCleanupRules rules = cleanup.Rules(areaNo);
    int32_t* parts[] = {&rules.KeepNewest, &rules.DailyAfterDays, &rules.WeeklyAfterWeeks};
    for (size_t i = 0; i < 3; ++i) {
      auto given = a.Options.find(ruleOptions[i]);
      if (given == a.Options.end()) continue;
      json n = Number(given->second);
      if (!n.is_number_integer() || n.get<long long>() < 0 || n.get<long long>() > 1000000)
        throw TUsage(std::string(ruleOptions[i]) + " needs a whole number from 0 to 1000000");
      *parts[i] = static_cast<int32_t>(n.get<long long>());
    }
    // A dry run tries the rules without storing them, as the window's preview does.
    if (!dryRun) cleanup.SetRules(areaNo, rules);
    out << "rules of " << a.Options.at("--area") << (dryRun ? " (not stored)" : "") << ": keep "
        << rules.KeepNewest << ", daily after " << rules.DailyAfterDays << " days, weekly after "
        << rules.WeeklyAfterWeeks << " weeks (0: off)\n";
    if (dryRun) items = cleanup.PlanWith(areaNo, rules, now);
    ruled = dryRun;
  }
  if (!ruled) items = dryRun ? cleanup.Plan(areaNo, 0, now) : cleanup.Run(areaNo, 0, now);
  int64_t bytes = 0;
  for (const TCleanupItem& item : items) {
    out << Shown(item.Path) << "\t" << Shown(item.Version) << "\n";
    json n = Number(item.Size);
    if (n.is_number_integer()) bytes += n.get<long long>();
  }
  out << (dryRun ? "would remove " : "removed ") << items.size()
      << (items.size() == 1 ? " version, " : " versions, ") << bytes << " bytes\n";
  return kCliOk;
}

}  // namespace

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

bool IsCliInvocation(int argc, char** argv) {
  // Options a desktop start may carry (Qt's own, such as -platform) are the desktop's.
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--catalog" || s == "--help" || s == "-h" || CommandUsage().count(s)) return true;
    if (!s.empty() && s[0] != '-') {
      // The value of a Qt option (-platform xcb, -style ...) is no command.
      std::string before = i > 1 ? argv[i - 1] : "";
      if (before.size() > 1 && before[0] == '-' && before[1] != '-') continue;
      return true;
    }
  }
  return false;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  std::string catalogArg;
  bool help = false;
  TArgs a;
  try {
    a = Parse(argc, argv, catalogArg, help);
  } catch (const TUsage& e) {
    err << "lanqi: " << e.what() << "\n" << kUsage;
    return kCliUsage;
  }
  if (help) {
    auto usage = CommandUsage().find(a.Command);
    out << (usage != CommandUsage().end() ? usage->second : kUsage);
    return a.Command.empty() || usage != CommandUsage().end() ? kCliOk : kCliUsage;
  }
  if (a.Command.empty()) {
    err << "lanqi: missing COMMAND\n" << kUsage;
    return kCliUsage;
  }
  if (!CommandUsage().count(a.Command)) {
    err << "lanqi: unknown command " << a.Command << "\n" << kUsage;
    return kCliUsage;
  }
  try {
    std::string catalogPath = catalogArg.empty() ? CatalogPath() : CatalogPathOf(catalogArg);
    if (!FileExists(catalogPath)) throw TMissing("catalog not found: " + Shown(catalogPath));
    TVersionCatalog catalog;
    catalog.Open(catalogPath);
    // The window's setting, from the same "setup.ini".
    catalog.SetSkipUnchanged(LoadSkipUnchanged(ExeDirectory()));
    const std::string& c = a.Command;
    if (c == "list") return List(catalog, a, out);
    if (c == "history") return History(catalog, a, out);
    if (c == "show") return Show(catalog, a, out, err);
    if (c == "diff") return Diff(catalog, a, out, err);
    if (c == "restore") return Restore(catalog, a, out);
    if (c == "add-area") return AddArea(catalog, a, out);
    if (c == "add") return Add(catalog, a, out);
    if (c == "add-folder") return AddFolder(catalog, a, out, err);
    if (c == "remove-folder") return RemoveFolder(catalog, a, out);
    if (c == "capture") return Capture(catalog, a, out, err);
    if (c == "cleanup") return Cleanup(catalog, a, out);
    return Status(catalog, a, out);
  } catch (const TUsage& e) {
    err << "lanqi: " << e.what() << "\n" << CommandUsage().at(a.Command);
    return kCliUsage;
  } catch (const TMissing& e) {
    err << "lanqi: " << e.what() << "\n";
    return kCliNotFound;
  } catch (const std::exception& e) {
    err << "lanqi: " << Shown(e.what()) << "\n";
    return kCliError;
  }
}

}  // namespace lanqi
