// The tracker's command line: `lanqi COMMAND ...` works on the catalog without a window or a display,
// through the same catalog operations as the desktop program.
#pragma once

#include <ostream>

namespace lanqi {

// Exit codes, as radezi's.
constexpr int kCliOk = 0, kCliNotFound = 1, kCliUsage = 2, kCliError = 3;

// True when the arguments ask for the command line (a sub-command, --catalog or --help) rather than
// the desktop program.
bool IsCliInvocation(int argc, char** argv);

// Runs the command line; what it prints goes to out (UTF-8, or the version's bytes for show) and its
// messages to err. Returns the exit code.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// The desktop program can start: an X11 or Wayland session is there, or a Qt platform is named.
bool HaveDisplay();

}  // namespace lanqi
