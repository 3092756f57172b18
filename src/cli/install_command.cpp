#include "cli/commands.h"

int CommandInstall::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  return -1;
}
