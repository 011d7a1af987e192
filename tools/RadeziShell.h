// radezi shell: an interactive session over one open database. Each line is one of the tool's
// commands without the file (tables, schema T, dump T ..., insert T JSON, ...) or a dot-command
// (.help, .tables, .schema, .mode, .read, .quit). The database stays connected for the whole
// session, as in a long-running program: another program's writes are seen at the next command.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lanqi {

struct TShellOptions {
  std::string File;  // code-page text, as the commands take it
  bool HasPassword = false;
  std::string Password;
  bool Durable = false;
};

// Reads commands from the terminal with line editing and history (~/.radezi_history), or from
// standard input when it is not a terminal. A failing command reports itself and the session goes
// on; the result is 0 when every command succeeded, else the exit code of the last that failed.
int RunShell(const TShellOptions& options);

// Splits a command line as a shell would: blanks separate words, 'single quotes' keep everything,
// "double quotes" keep everything but \" and \\. Raises std::runtime_error for an open quote.
std::vector<std::string> SplitCommandLine(const std::string& line);

}  // namespace lanqi
