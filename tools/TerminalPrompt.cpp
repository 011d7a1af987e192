#include "tools/TerminalPrompt.h"

#include <termios.h>

#include <cstdio>

#include "engine/RadeSession.h"

namespace lanqi {

TTerminalRead ReadHiddenLine(const std::string& prompt, std::string& line) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return TTerminalRead::NoTerminal;
  int fd = fileno(tty);
  std::fputs(prompt.c_str(), tty);
  std::fflush(tty);
  termios old{};
  bool restore = tcgetattr(fd, &old) == 0;
  if (restore) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  line.clear();
  bool any = false;
  int c;
  while ((c = std::fgetc(tty)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (restore) tcsetattr(fd, TCSAFLUSH, &old);
  std::fputs("\n", tty);
  std::fclose(tty);
  while (!line.empty() && line.back() == '\r') line.pop_back();
  return any ? TTerminalRead::Line : TTerminalRead::End;
}

void InstallTerminalLoginPrompt() {
  SetLoginPromptHook([](const std::string& fileName, std::string& password) {
    std::string line;
    if (ReadHiddenLine("Database Login\nDatabase: " + fileName + "\nPassword: ", line) != TTerminalRead::Line)
      return false;
    password = line;
    return true;
  });
}

}  // namespace lanqi
