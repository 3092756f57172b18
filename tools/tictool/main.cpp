// tictool: makes the TIC archives that kestrel installs from.
#include <cstdio>

#include "build_command.h"
#include "command_line.h"

int main(int argc, char** argv) {
  const a_command_line command = parse_command_line(argc, argv);
  switch (command.action) {
    case an_action::kMainHelp:
      std::fputs(kMainUsage, stdout);
      return 0;
    case an_action::kBuildHelp:
      std::fputs(kBuildUsage, stdout);
      return 0;
    case an_action::kBuild:
      return run_build(command.build);
    case an_action::kBadUsage:
      break;
  }
  std::fprintf(stderr, "tictool: %s\n", command.error.c_str());
  std::fputs(command.usage, stderr);
  return kBadUsageStatus;
}
