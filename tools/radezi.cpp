// radezi: the command-line tool over the database engine.
#include <iostream>
#include <string>
#include <vector>

#include "tools/RadeziCommands.h"
#include "tools/TerminalPrompt.h"

int main(int argc, char** argv) {
  lanqi::InstallTerminalLoginPrompt();
  std::vector<std::string> args(argv + 1, argv + argc);
  return lanqi::RunRadeziCommand(args, std::cerr);
}
