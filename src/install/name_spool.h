// Names written one after another and read back in the same order, from
// an unnamed temporary file: what a command must remember of each of a
// million files until it ends, held on disk rather than in memory. Where
// no temporary can be made the names are held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fd.h"

// An unnamed file in |directory| (or, when none can be made there, in the
// system's temporary directory), gone with its descriptor: not valid when
// none can be made.
UniqueFd unnamed_temporary(const std::string& directory);

class NameSpool {
 public:
  // The temporary goes in |directory|.
  explicit NameSpool(const std::string& directory);
  NameSpool(const NameSpool&) = delete;
  NameSpool& operator=(const NameSpool&) = delete;

  void add(const std::string& name);
  size_t size() const { return count_; }

  // Reading, from the first name; add no more after it begins.
  void rewind();
  // The next name: false after the last.
  bool next(std::string& name);

 private:
  bool fill();

  UniqueFd fd_;
  std::string block_;
  uint64_t written_ = 0;
  uint64_t read_at_ = 0;
  size_t taken_ = 0;
  size_t count_ = 0;
  size_t read_count_ = 0;
  std::vector<std::string> memory_;
};
