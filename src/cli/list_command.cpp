#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
#include "platform/json.h"
#include "tic/archive/multi_tic.h"

// Prints, one per line in byte-wise order, the names the option text selects
// from the set: those with data, and with -a those without too; with --json
// one document {"files": [{"name", "size", "data"}, ...]} in the same
// order. An archive that cannot be read adds nothing and is named on
// standard error; the status is always 0.
int CommandList::run() {
  MultiTic set(args, false, nullptr, 0);
  // Straight from the set's table, which holds each name once, in order.
  Json files = Json::array();
  set.for_each_selected(options, all, [&](const std::string& name, const TicTocEntry& entry) {
    if (json) {
      files.push_back({{"name", json_text(name)}, {"size", entry.file_size}, {"data", entry.data_offset != 0}});
      return;
    }
    fputs(printable(name).c_str(), stdout);
    putchar('\n');
  });
  if (json) printf("%s\n", json_document({{"files", files}}).c_str());
  complain_unreadable("list", set);
  return 0;
}
