// radezi's commands as argument lists (without the program name), shared by the one-shot tool
// and its shell: each runs to an exit code (0 done, 1 not found or check failed, 2 usage, 3
// database error) with its output on standard output and its messages on err.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/RadeziOutput.h"

namespace lanqi {

constexpr const char* kRadeziVersion = "1.0";

// Asks for a database's password on the terminal (/dev/tty), without echo.
std::string PromptPassword();

int RunRadeziCommand(const std::vector<std::string>& args, std::ostream& err);

// The form of dump's rows when --mode is not given: a table when standard output is a terminal,
// JSON otherwise; the shell's .mode changes it for its session.
TRowMode& DefaultModeSlot();

}  // namespace lanqi
