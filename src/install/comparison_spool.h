// What is kept of each compared file from the time its stream is checked
// until the files are handed out: a few words per file, written one after
// another to an unnamed temporary file and read back in the same order, so
// that a million comparisons cost the command no memory. The name is not
// kept: it comes back by walking the selection again. Where no temporary
// can be made, or it cannot be written, the words are held in memory.
#pragma once

#include <cstdint>
#include <string>

#include "install/block_spool.h"

struct a_compared_file {
  uint32_t mode = 0;         // file type and permission bits of the archive's entry
  uint32_t differences = 0;  // a_difference bits (install/installed_files.h)
  uint64_t device = 0;       // the object compared, when there was one
  uint64_t inode = 0;
};
static_assert(sizeof(a_compared_file) == 24, "no padding is written");

class ComparisonSpool {
 public:
  // The temporary goes in |directory| (or the system's temporary directory).
  explicit ComparisonSpool(const std::string& directory) { spool_.open(directory); }

  void add(const a_compared_file& file) { spool_.add(file); }
  size_t size() const { return spool_.size(); }
  // Whether the words are held in memory rather than in a temporary.
  bool in_memory() const { return spool_.in_memory(); }

  // Reading, from the first.
  void rewind() { read_ = 0; }
  // The next one: false after the last, or when what was added cannot be
  // read back (errno then tells why): a reader that knows how many it added
  // tells the two apart.
  bool next(a_compared_file& file) {
    if (!spool_.get(read_, file)) return false;
    ++read_;
    return true;
  }

 private:
  BlockSpool<a_compared_file> spool_;
  size_t read_ = 0;
};
