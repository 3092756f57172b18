// Archives laid out byte by byte from the documented layout, in either byte
// order, without the project's records, writer or byte-order helpers: what
// the reader is checked against, so that a fault the writer and the reader
// share cannot pass. Only the codes come from the project's HMAC, which its
// own test checks against the published vectors.
//
//   0                  header: MAC, the three tables' offsets and counts,
//                      the stamp block's place (none here), 17.0.11 build 7254
//   104                each entry's stream, in entry order
//   entry table        104 bytes an entry: MAC, data offset, file size,
//                      stored length, aux_a, aux_b, mask, control mask,
//                      aux_c, name index
//   option table       24 bytes an option: name index, description index, bit
//   string table       4-byte length, then the bytes
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LaidOutEntry {
  std::string name;
  uint64_t mask = 0;
  std::string stream;  // empty: the entry has no stream (data offset 0)
  uint64_t file_size = 0;
  uint64_t control_mask = 0;
  uint64_t aux_a = 0, aux_b = 0, aux_c = 0;
};

struct LaidOutOption {
  std::string name;
  std::string description;
  uint64_t bit = 0;
};

struct LaidOutArchive {
  std::string bytes;
  uint64_t toc_offset = 0, option_offset = 0, string_offset = 0;
};

// The strings are the entry names, then the option names, then each
// description that is not already a string, in that order.
LaidOutArchive lay_out_archive(const std::vector<LaidOutEntry>& entries, const std::vector<LaidOutOption>& options,
                               bool big_endian, const std::string& key);
