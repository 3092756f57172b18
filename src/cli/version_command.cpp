#include "cli/commands.h"

int CommandVersion::run() {
  if (args.size() < 2) {
    usage();
    return -1;
  }
  return -1;
}
