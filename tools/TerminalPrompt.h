// Questions asked on the controlling terminal (/dev/tty), so they reach the user even when the
// standard streams are redirected.
#pragma once

#include <string>

namespace lanqi {

enum class TTerminalRead { NoTerminal, End, Line };

// Writes prompt to the terminal and reads one line with echo off (the line end dropped). End: the
// terminal reached its end before any character.
TTerminalRead ReadHiddenLine(const std::string& prompt, std::string& line);

// Makes the engine ask a database's password on the terminal when it needs one.
void InstallTerminalLoginPrompt();

}  // namespace lanqi
