#include <stdio.h>

#include "cli/commands.h"
#include "tic/archive/multi_tic.h"

// Prints the bytes the selected files occupy once installed: the plain sum
// of their sizes. The install directory plays no part; an archive that cannot
// be read gives 0 and is named on standard error. The status is always 0.
int CommandSpace::run() {
  MultiTic set(args, false, nullptr, 0);
  printf("%llu\n", set.bytes_required(options));
  complain_unreadable("space", set);
  return 0;
}
