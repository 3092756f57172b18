// What a run put in place, by the rank of each selected file
// (a_stream_ref::rank): the record's new files, kept until the run ends
// and the record is written in name order, whatever order the files were
// put in place in.
//
// Per selected file the run holds four bytes, the place of its entry; the
// entries themselves (what the record keeps of a file: 80 bytes) go to an
// unnamed temporary file, read back in blocks. Where no temporary can be
// made they are held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/block_spool.h"
#include "install/recorded_file.h"

class PlacedFiles {
 public:
  PlacedFiles() = default;
  PlacedFiles(const PlacedFiles&) = delete;
  PlacedFiles& operator=(const PlacedFiles&) = delete;

  // For |count| selected files, the temporary made in |directory| (or the
  // system's temporary directory when it cannot be).
  void open(const std::string& directory, size_t count);

  // |file| was put in place for the selected file |rank| (at its path or
  // beside it).
  void add(uint32_t rank, const a_recorded_file& file);
  size_t size() const { return entries_.size(); }
  // What was put in place for |rank|: false when nothing was.
  bool get(uint32_t rank, a_recorded_file& file);

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  std::vector<uint32_t> place_;  // by rank, the entry's place in the spool
  BlockSpool<a_recorded_file> entries_;
};
