// The record of an installation and the tables of a set walked side by
// side, by path in byte-wise order, each read as it goes: the record one
// file at a time from its file (install/record_files.h), the selection
// from the tables in their own order. Nothing is held per file, so
// upgrade, verify and remove over a million files cost what the tables
// cost.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "install/record_files.h"
#include "platform/failure.h"
#include "tic/format/toc.h"

class Tic;

// One selected file: the path its name reaches (normalised), its entry and
// its rank among the selected files in name order (a_stream_ref::rank).
struct a_selected_path {
  const std::string* path = nullptr;
  const TicTocEntry* entry = nullptr;
  uint32_t rank = 0;
};

// The files |options| selects from a set (those with a stream), one at a
// time in byte-wise order of their paths. The table's names are in name
// order, and a name is its path but for spellings such as "./a" or "a//b":
// only when the set has such a name are the paths put in order first.
class SelectionCursor {
 public:
  // Fails when the tables cannot be read.
  Outcome open(Tic& set, const std::string& options);
  // Moves to the next file: false at the end.
  bool next();
  const a_selected_path& current() const { return current_; }

 private:
  struct a_path {
    std::string path;
    const TicTocEntry* entry;
    uint32_t rank;
  };
  using a_map = std::map<std::string, TicTocEntry>;
  const a_map* map_ = nullptr;
  a_map::const_iterator at_;
  unsigned long long mask_ = 0;
  uint32_t rank_ = 0;
  std::vector<a_path> sorted_;  // only for names that are not their paths
  size_t next_sorted_ = 0;
  a_selected_path current_;
};

// One path of the walk: recorded, selected, or both.
struct a_path_pair {
  const std::string* path = nullptr;
  const a_recorded_file* recorded = nullptr;  // null: not recorded
  const a_selected_path* selected = nullptr;  // null: not selected
};

// Hands |each| every path of |files| and of the selection, once, in
// byte-wise order. Fails when the tables cannot be read or the record no
// longer reads as it did (the paths handed out until then stand).
Outcome walk_side_by_side(const a_record_files& files, Tic& set, const std::string& options,
                          const std::function<void(const a_path_pair&)>& each);
