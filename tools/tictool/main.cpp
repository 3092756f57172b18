// tictool: makes the TIC archives that kestrel installs from, and shows what
// they hold.
#include <cstdio>
#include <string>

#include "build_command.h"
#include "command_line.h"
#include "display/message.h"
#include "dump_command.h"
#include "own_stamp.h"
#include "platform/provider.h"
#include "stamp/own_version.h"

int main(int argc, char** argv) {
  keep_large_blocks_for_reuse();
  locale_initialise_tables();

  const a_command_line command = parse_command_line(argc, argv);
  switch (command.action) {
    case an_action::kHelp:
      std::fputs(command.help, stdout);
      return 0;
    case an_action::kVersion: {
      std::string line;
      if (!own_version_line(__DBVersionInfo_tictool, kTictoolStampSize, line)) return 1;
      std::printf("%s\n", line.c_str());
      return 0;
    }
    case an_action::kBuild:
      return run_build(command.build);
    case an_action::kDump:
      return run_dump(command.dump);
    case an_action::kBadUsage:
      break;
  }
  complain_as("tictool", command.error.line());
  std::fputs(command.usage, stderr);
  return kBadUsageStatus;
}
