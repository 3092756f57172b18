#include <stdio.h>

#include <utility>

#include "tic/error.h"
#include "tic/archive/tic.h"

int Tic::list(TicToc& out, const std::string& options, bool all) {
  if (read_toc(false) == -1) {
    record_error(kStepListInto);
  } else {
    const unsigned long long mask = std::as_const(toc_.options).option_mask(options);
    for (const auto& [name, entry] : toc_.file_map) {
      if (!all && entry.data_offset == 0) continue;
      if ((entry.mask & mask) == 0) continue;
      TicTocEntry& taken = out.file_map[name];
      if (taken.data_offset == 0) taken = entry;
    }
  }
  return ERROR != 0 ? 1 : 0;
}

unsigned long long Tic::bytes_required(const std::string& options) {
  if (read_toc(false) == -1) {
    record_error(kStepBytesRequired);
    return 0;
  }
  const unsigned long long mask = std::as_const(toc_.options).option_mask(options);
  unsigned long long total = 0;
  for (const auto& [name, entry] : toc_.file_map) {
    if (entry.data_offset != 0 && (entry.mask & mask) != 0) total += entry.file_size;
  }
  return total;
}

int Tic::list() {
  if (read_toc(false) == -1) {
    record_error(kStepListNames);
    return -1;
  }
  for (const auto& [name, entry] : toc_.file_map) {
    if (entry.data_offset == 0) continue;
    printf("%s\n", name.c_str());
    fflush(stdout);
  }
  return 0;
}
