#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
#include "tic/archive/multi_tic.h"

// Prints, one per line in byte-wise order, the names the option text selects
// from the set: those with data, and with -a those without too. An archive
// that cannot be read adds nothing and is named on standard error; the
// status is always 0.
int CommandList::run() {
  TicToc result;
  MultiTic set(args, false, nullptr, 0);
  set.list(result, options, all);
  for (const auto& entry : result.file_map) printf("%s\n", printable(entry.first).c_str());
  complain_unreadable("list", set);
  return 0;
}
