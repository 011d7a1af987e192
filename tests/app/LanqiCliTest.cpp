// Which starts are the command line's and which the desktop program's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LanqiCli.h"

namespace lanqi {
namespace {

TEST(LanqiCli, SubCommandsAndHelpAreTheCommandLinesQtOptionsTheDesktops) {
  struct Case {
    std::vector<std::string> args;
    bool cli;
  };
  const Case cases[] = {
      {{}, false},
      {{"-platform", "offscreen"}, false},
      {{"-style", "fusion", "-reverse"}, false},
      {{"list"}, true},
      {{"--json", "list"}, true},
      {{"--catalog", "x.dat"}, true},
      {{"--help"}, true},
      {{"-platform", "xcb", "status"}, true},
      {{"frobnicate"}, true},  // refused by the command line as unknown, rather than opening a window
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"lanqi"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    EXPECT_EQ(IsCliInvocation(static_cast<int>(argv.size()), argv.data()), c.cli)
        << testing::PrintToString(c.args);
  }
}

}  // namespace
}  // namespace lanqi
