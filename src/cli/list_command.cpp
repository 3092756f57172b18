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
  TicToc result;
  MultiTic set(args, false, nullptr, 0);
  set.list(result, options, all);
  if (json) {
    Json files = Json::array();
    for (const auto& [name, entry] : result.file_map)
      files.push_back({{"name", json_text(name)}, {"size", entry.file_size}, {"data", entry.data_offset != 0}});
    printf("%s\n", json_document({{"files", files}}).c_str());
  } else {
    for (const auto& entry : result.file_map) printf("%s\n", printable(entry.first).c_str());
  }
  complain_unreadable("list", set);
  return 0;
}
