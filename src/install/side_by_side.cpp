#include "install/side_by_side.h"

#include <algorithm>
#include <vector>

#include "install/install_directory.h"
#include "tic/archive/tic.h"

Outcome SelectionCursor::open(Tic& set, const std::string& options) {
  if (set.read_toc(false) != 0) return set.read_failure();
  const TicToc& toc = set.get_toc();
  map_ = &toc.file_map;
  mask_ = toc.options.option_mask(options);
  at_ = map_->begin();
  bool all_paths = true;
  for (const auto& [name, entry] : *map_)
    if (entry.data_offset != 0 && (entry.mask & mask_) != 0 && normalised_path(name) != name) all_paths = false;
  if (all_paths) return Outcome();
  // Rare: the paths, and their order, are made once.
  uint32_t rank = 0;
  for (const auto& [name, entry] : *map_)
    if (entry.data_offset != 0 && (entry.mask & mask_) != 0) sorted_.push_back({normalised_path(name), &entry, rank++});
  std::stable_sort(sorted_.begin(), sorted_.end(), [](const a_path& a, const a_path& b) { return a.path < b.path; });
  map_ = nullptr;
  return Outcome();
}

bool SelectionCursor::next() {
  if (map_ == nullptr) {
    if (next_sorted_ == sorted_.size()) return false;
    const a_path& path = sorted_[next_sorted_++];
    current_ = {&path.path, path.entry, path.rank};
    return true;
  }
  for (; at_ != map_->end(); ++at_) {
    if (at_->second.data_offset == 0 || (at_->second.mask & mask_) == 0) continue;
    current_ = {&at_->first, &at_->second, rank_++};
    ++at_;
    return true;
  }
  return false;
}

Outcome walk_side_by_side(const a_record_files& files, Tic& set, const std::string& options,
                          const std::function<void(const a_path_pair&)>& each) {
  SelectionCursor selection;
  if (Outcome opened = selection.open(set, options); !opened) return opened;
  a_record_files::Cursor cursor(files);
  bool recorded = cursor.next();
  bool selected = selection.next();
  while (recorded || selected) {
    const a_selected_path& now = selection.current();
    a_path_pair pair;
    if (selected && (!recorded || *now.path <= cursor.name())) {
      pair.path = now.path;
      pair.selected = &now;
      if (recorded && cursor.name() == *now.path) pair.recorded = &cursor.file();
    } else {
      pair.path = &cursor.name();
      pair.recorded = &cursor.file();
    }
    each(pair);
    if (pair.recorded != nullptr) recorded = cursor.next();
    if (pair.selected != nullptr) selected = selection.next();
  }
  if (cursor.failure().failed()) return cursor.failure();
  return Outcome();
}
