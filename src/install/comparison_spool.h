// What is kept of each compared file from the time its stream is checked
// until the files are handed out: a few words per file, written one after
// another to an unnamed temporary file and read back in the same order, so
// that a million comparisons cost the command no memory. The name is not
// kept: it comes back by walking the selection again. Where no temporary
// can be made, or it cannot be written, the words are held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fd.h"

struct a_compared_file {
  uint32_t mode = 0;         // file type and permission bits of the archive's entry
  uint32_t differences = 0;  // a_difference bits (install/installed_files.h)
  uint64_t device = 0;       // the object compared, when there was one
  uint64_t inode = 0;
};

class ComparisonSpool {
 public:
  // The temporary goes in |directory| (or the system's temporary directory).
  explicit ComparisonSpool(const std::string& directory);
  ComparisonSpool(const ComparisonSpool&) = delete;
  ComparisonSpool& operator=(const ComparisonSpool&) = delete;

  void add(const a_compared_file& file);
  size_t size() const { return count_; }
  // Whether the words are held in memory rather than in a temporary.
  bool in_memory() const { return !fd_.valid(); }

  // Reading, from the first; add no more after it begins.
  void rewind();
  // The next one: false after the last, or when what was added cannot be
  // read back (errno then tells why): a reader that knows how many it added
  // tells the two apart.
  bool next(a_compared_file& file);

 private:
  // Writes the block to the temporary; see add.
  void flush();

  UniqueFd fd_;
  std::vector<a_compared_file> block_;  // added and not written, or read and not taken
  size_t written_ = 0;                  // entries in the temporary
  size_t count_ = 0;
  size_t read_ = 0;   // entries read back from the temporary
  size_t taken_ = 0;  // entries of the block taken
  bool lost_ = false;  // the temporary failed and what it held is gone
  bool reading_ = false;
};
