#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
#include "tic/archive/multi_tic.h"

// Prints, one per line in byte-wise order, the names the option text selects
// from the set: those with data, and with -a those without too. An archive
// that cannot be read adds nothing and is named on standard error; the
// status is always 0.
int CommandList::run() {
  MultiTic set(args, false, nullptr, 0);
  // Straight from the set's table, which holds each name once, in order.
  set.for_each_selected(options, all, [](const std::string& name, const TicTocEntry&) {
    fputs(printable(name).c_str(), stdout);
    putchar('\n');
  });
  complain_unreadable("list", set);
  return 0;
}
