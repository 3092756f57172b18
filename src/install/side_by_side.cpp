#include "install/side_by_side.h"

#include <algorithm>
#include <vector>

#include "install/install_directory.h"
#include "platform/error_word.h"
#include "tic/archive/tic.h"

Outcome for_each_selected_path(Tic& set, const std::string& options,
                               const std::function<void(const a_selected_path&)>& each) {
  bool all_paths = true;
  uint32_t rank = 0;
  if (set.for_each_selected(options, false, [&](const std::string& name, const TicTocEntry&) {
        all_paths = all_paths && normalised_path(name) == name;
        ++rank;
      }) != 0)
    return set.read_failure();
  a_selected_path selected;
  if (all_paths) {
    rank = 0;
    (void)set.for_each_selected(options, false, [&](const std::string& name, const TicTocEntry& entry) {
      selected = {&name, &entry, rank++};
      each(selected);
    });
    return Outcome();
  }
  // Rare: the paths, and their order, are made once.
  struct a_path {
    std::string path;
    const TicTocEntry* entry;
    uint32_t rank;
  };
  std::vector<a_path> paths;
  paths.reserve(rank);
  (void)set.for_each_selected(options, false, [&](const std::string& name, const TicTocEntry& entry) {
    paths.push_back({normalised_path(name), &entry, static_cast<uint32_t>(paths.size())});
  });
  std::stable_sort(paths.begin(), paths.end(), [](const a_path& a, const a_path& b) { return a.path < b.path; });
  for (const a_path& path : paths) {
    selected = {&path.path, path.entry, path.rank};
    each(selected);
  }
  return Outcome();
}

Outcome walk_side_by_side(const a_record_files& files, Tic& set, const std::string& options,
                          const std::function<void(const a_path_pair&)>& each) {
  a_record_files::Cursor cursor(files);
  bool recorded = cursor.next();
  auto record_only = [&] {
    a_path_pair pair{&cursor.name(), &cursor.file(), nullptr};
    each(pair);
    recorded = cursor.next();
  };
  const Outcome walked = for_each_selected_path(set, options, [&](const a_selected_path& selected) {
    while (recorded && cursor.name() < *selected.path) record_only();
    a_path_pair pair{selected.path, nullptr, &selected};
    if (recorded && cursor.name() == *selected.path) pair.recorded = &cursor.file();
    each(pair);
    if (pair.recorded != nullptr) recorded = cursor.next();
  });
  if (!walked) return walked;
  while (recorded) record_only();
  if (cursor.failure().failed()) return cursor.failure();
  return Outcome();
}
