#include <stdio.h>

#include <algorithm>
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

void Tic::locate_streams(std::vector<a_stream_ref>& refs) {
  for (a_stream_ref& ref : refs) ref.descriptor = descriptor_.get();
}

int Tic::selected_streams(const std::string& options, std::vector<a_stream_ref>& out) {
  if (read_toc(false) == -1) return -1;
  const unsigned long long mask = std::as_const(toc_.options).option_mask(options);
  out.clear();
  for (const auto& [name, entry] : toc_.file_map) {
    if (entry.data_offset == 0 || (entry.mask & mask) == 0) continue;
    out.push_back({name, &entry, -1});
  }
  locate_streams(out);
  // In the order the streams lie, so that the reads of one archive only move
  // forward; the first streams of the members of a set all lie at 104, and
  // equal offsets go by name.
  std::stable_sort(out.begin(), out.end(), [](const a_stream_ref& a, const a_stream_ref& b) {
    return a.entry->data_offset < b.entry->data_offset;
  });
  return 0;
}
