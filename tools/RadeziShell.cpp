#include "tools/RadeziShell.h"

// libedit's readline interface: line editing and history at the terminal.
#include <editline/readline.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "engine/RadeZI.h"
#include "rtl/Exceptions.h"
#include "tools/RadeziCommands.h"
#include "tools/RadeziValues.h"

namespace lanqi {

namespace {

const char* const kShellHelp =
    "Commands (the file is the session's):\n"
    "  tables | schema T | dump T [--index I] [--filter EXPR] [--mode M]\n"
    "  locate T --fields \"F1;F2\" --values JSON [--partial] [--case-insensitive]\n"
    "  insert T JSON            one object or an array of them, the rest of the line\n"
    "  update T --filter EXPR --set JSON | delete T --filter EXPR\n"
    "  export T --csv | import T DATA.csv | check [--repair]\n"
    "Dot-commands:\n"
    "  .help                    this text\n"
    "  .tables                  the tables\n"
    "  .schema [T]              the definition of T, or of every table\n"
    "  .mode [json|table|csv]   the form of dump's rows (without a word: the form now)\n"
    "  .read FILE               runs the lines of FILE\n"
    "  .quit                    ends the session (also .exit, or end of input)\n"
    "Quote words with blanks: 'single quotes' as they are, \"double quotes\" with \\\" and \\\\.\n"
    "Lines starting with # are comments.\n";

class TSession {
 public:
  explicit TSession(const TShellOptions& o) : options_(o), fileUtf8_(ToUtf8(o.File)) {
    db_ = owner_.Create<TRadeDatabase>();
    db_->SetDatabaseName(o.File);
    db_->SetKeepConnection(true);
    db_->SetDurable(o.Durable);
    if (o.HasPassword) db_->SetPassword(o.Password);
    db_->Open();
    if (db_->Encrypted() && !db_->CanAccess()) {
      if (!o.HasPassword) {
        options_.Password = ToAnsi(PromptPassword());
        options_.HasPassword = true;
        db_->SetPassword(options_.Password);
      }
      if (!db_->CanAccess()) throw EDatabaseError("Invalid password");
    }
  }

  // Runs one line; false when the session is to end.
  bool Line(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos || text[start] == '#') return true;
    std::string line = text.substr(start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.pop_back();
    try {
      if (line[0] == '.') return Dot(line);
      Command(line);
    } catch (const std::runtime_error& e) {
      std::cerr << "radezi: " << e.what() << "\n";
      result_ = 2;
    }
    std::cout.flush();
    return true;
  }

  int Result() const { return result_; }

  // Every line of the stream, until .quit or its end.
  bool Lines(std::istream& in) {
    std::string line;
    while (std::getline(in, line))
      if (!Line(line)) return false;
    return true;
  }

 private:
  void Run(std::vector<std::string> args) {
    if (options_.HasPassword) {
      args.push_back("--password");
      args.push_back(ToUtf8(options_.Password));
    }
    if (options_.Durable) args.push_back("--durable");
    int rc = RunRadeziCommand(args, std::cerr);
    if (rc != 0) result_ = rc;
  }

  void Command(const std::string& line) {
    std::vector<std::string> words;
    std::string verb = line.substr(0, line.find_first_of(" \t"));
    if (verb == "insert") {
      // The rows are the rest of the line after the table, as JSON: no quoting needed.
      size_t at = line.find_first_not_of(" \t", verb.size());
      if (at == std::string::npos) throw std::runtime_error("insert needs a table and JSON rows");
      size_t end =
          line[at] == '\'' || line[at] == '"' ? line.find(line[at], at + 1) : line.find_first_of(" \t", at);
      if (end != std::string::npos && (line[at] == '\'' || line[at] == '"')) ++end;
      std::vector<std::string> table =
          SplitCommandLine(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
      if (table.size() != 1 || end == std::string::npos)
        throw std::runtime_error("insert needs a table and JSON rows");
      std::string rows = line.substr(end);
      if (rows.find_first_not_of(" \t") == std::string::npos)
        throw std::runtime_error("insert needs JSON rows");
      Run({"insert", fileUtf8_, table[0], rows});
      return;
    }
    words = SplitCommandLine(line);
    static const char* const own[] = {"tables", "schema", "dump",   "locate", "update",
                                      "delete", "export", "import", "check"};
    bool known = false;
    for (const char* c : own) known = known || verb == c;
    if (!known) {
      if (verb == "create" || verb == "catalog" || verb == "shell")
        throw std::runtime_error(verb + " makes another file: run it outside the shell");
      throw std::runtime_error("unknown command " + verb + " (.help lists them)");
    }
    std::vector<std::string> args{words[0]};
    if (verb == "check") {
      // check takes its flags before the file.
      for (size_t i = 1; i < words.size(); ++i) args.push_back(words[i]);
      args.push_back(fileUtf8_);
    } else {
      args.push_back(fileUtf8_);
      for (size_t i = 1; i < words.size(); ++i) args.push_back(words[i]);
    }
    Run(args);
  }

  bool Dot(const std::string& line) {
    std::vector<std::string> w = SplitCommandLine(line);
    const std::string& c = w[0];
    if (c == ".quit" || c == ".exit") return false;
    if (c == ".help") {
      std::cout << kShellHelp;
    } else if (c == ".tables") {
      Run({"tables", fileUtf8_});
    } else if (c == ".schema") {
      if (w.size() > 1) {
        Run({"schema", fileUtf8_, w[1]});
      } else {
        db_->RefreshTables();
        std::vector<std::string> names;
        db_->GetTableNames(names);
        for (const std::string& n : names) Run({"schema", fileUtf8_, ToUtf8(n)});
      }
    } else if (c == ".mode") {
      if (w.size() == 1) {
        std::cout << RowModeName(DefaultModeSlot()) << "\n";
      } else if (!ParseRowMode(w[1], DefaultModeSlot())) {
        throw std::runtime_error(".mode needs json, table or csv, not '" + w[1] + "'");
      }
    } else if (c == ".read") {
      if (w.size() < 2) throw std::runtime_error(".read needs a file");
      std::ifstream in(w[1]);
      if (!in) throw std::runtime_error("cannot read " + w[1]);
      if (++depth_ > 16) {
        --depth_;
        throw std::runtime_error(".read nests too deep");
      }
      bool go = Lines(in);
      --depth_;
      return go;
    } else {
      throw std::runtime_error("unknown dot-command " + c + " (.help lists them)");
    }
    return true;
  }

  TShellOptions options_;
  std::string fileUtf8_;
  TComponent owner_;
  TRadeDatabase* db_ = nullptr;
  int result_ = 0;
  int depth_ = 0;
};

std::string HistoryFile() {
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/.radezi_history" : std::string();
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) throw std::runtime_error("a ' quote is not closed");
      word += line.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '"') {
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= line.size()) throw std::runtime_error("a \" quote is not closed");
        if (line[j] == '"') break;
        if (line[j] == '\\' && j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\')) ++j;
        word += line[j];
      }
      i = j;
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

int RunShell(const TShellOptions& options) {
  TSession session(options);
  if (!isatty(STDIN_FILENO)) {
    session.Lines(std::cin);
    return session.Result();
  }
  std::cout << "radezi " << kRadeziVersion << " shell on " << ToUtf8(options.File)
            << "; .help lists the commands, .quit ends\n";
  // Line editing reads and shows characters as the user's locale encodes them (Chinese included).
  std::setlocale(LC_CTYPE, "");
  const std::string history = HistoryFile();
  if (!history.empty()) read_history(history.c_str());
  for (;;) {
    char* raw = readline("radezi> ");
    if (!raw) {
      std::cout << "\n";
      break;
    }
    std::string line(raw);
    std::free(raw);
    if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
    if (!session.Line(line)) break;
  }
  if (!history.empty()) write_history(history.c_str());
  return session.Result();
}

}  // namespace lanqi
