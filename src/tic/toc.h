// The table of contents of an archive: which files it holds, where each
// file's stream lies, and which install options each file belongs to.
//
// Binary form (located by the header):
//   entry table   entry_count records of 104 bytes
//   option table  option_count records of 24 bytes
//   string table  string_count strings, each a 4-byte length and its bytes,
//                 no terminator, no alignment; at most 1023 bytes each
// Records refer to strings by their 0-based position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "tic/header.h"
#include "tic/options.h"

// The 104-byte record of one file, the same in memory and in the entry table.
struct TicTocEntry {
  static constexpr size_t kSize = 104;

  unsigned char mac[32] = {};  // HMAC-SHA-256 of the stored stream
  uint64_t data_offset = 0;    // 0: this archive holds no stream for the file
  uint64_t file_size = 0;      // size of the file as archived
  uint64_t stored_length = 0;  // stored bytes of the stream
  uint64_t aux_a = ~0ULL;      // carried; merged by OR
  uint64_t aux_b = 0;          // carried; merged by OR
  uint64_t mask = ~0ULL;       // options the file belongs to
  uint64_t control_mask = 0;   // options whose control file this is
  uint64_t aux_c = 0;          // carried; merged by AND
  uint64_t name_index = 0;     // file name in the string table (files only)

  // Reverses the nine 64-bit fields; the MAC is bytes and stays.
  void swap_endian();
};

static_assert(sizeof(TicTocEntry) == TicTocEntry::kSize, "TicTocEntry must be 104 bytes");
static_assert(offsetof(TicTocEntry, data_offset) == 32);
static_assert(offsetof(TicTocEntry, file_size) == 40);
static_assert(offsetof(TicTocEntry, stored_length) == 48);
static_assert(offsetof(TicTocEntry, aux_a) == 56);
static_assert(offsetof(TicTocEntry, aux_b) == 64);
static_assert(offsetof(TicTocEntry, mask) == 72);
static_assert(offsetof(TicTocEntry, control_mask) == 80);
static_assert(offsetof(TicTocEntry, aux_c) == 88);
static_assert(offsetof(TicTocEntry, name_index) == 96);

class TicToc {
 public:
  // Longest string the table may hold; the format's readers keep strings in
  // a 1024-byte buffer with a terminator.
  static constexpr uint32_t kMaxStringLength = 1023;

  virtual ~TicToc() = default;

  // File name (relative to the install directory) -> entry, byte-wise order.
  std::map<std::string, TicTocEntry> file_map;
  TicOptions options;

  // Loads the binary form located by |header|; |swap| when the archive is in
  // the other byte order. Empties the file and option maps first (the
  // description map keeps old texts until replaced). Fails on a seek that
  // does not land, a short read, a string index outside the string table, a
  // repeated entry or option name, or a string longer than 1023 bytes,
  // leaving what was stored so far.
  bool read(int descriptor, const TicHeader& header, bool swap);

  // Appends the binary form at the descriptor's position and fills the table
  // fields of |header| (whose counts must be 0). Entries without a stream
  // get a record only when |all|; one without a stream but with a control
  // mask still puts its name into the string table. Renumbers name_index of
  // the entries and options, and sets the description_index of each option
  // named in an entry's control mask.
  bool write(int descriptor, TicHeader& header, bool all);

  // Loads a list file (the text form). A file that cannot be opened reads as
  // an empty list.
  bool read(const char* path);
  // Loads the text form from |in|: the list reader without the file.
  bool read(std::istream& in);

  // Adds |other| into this table: its new options get this table's next bit
  // numbers and every mask is remapped into this numbering.
  bool merge(const TicToc& other);
};
