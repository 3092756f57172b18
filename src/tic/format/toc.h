// The table of contents of an archive: which files it holds, where each
// file's stream lies, and which install options each file belongs to.
//
// Binary form (located by the header):
//   entry table   entry_count records of 104 bytes
//   option table  option_count records of 24 bytes
//   string table  string_count strings, each a 4-byte length and its bytes,
//                 no terminator, no alignment; at most 1023 bytes each
// Records refer to strings by their 0-based position. A table whose offset
// in the header is 0 is not there, whatever its count says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_span.h"
#include "tic/format/header.h"
#include "tic/format/options.h"

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

  // Loads the binary form located by |header| from the archive bytes
  // |archive| (offset 0 is the archive's first byte); |swap| when the
  // archive is in the other byte order. Empties the file and option maps
  // first (the description map keeps old texts until replaced). Fails on a
  // table offset beyond 2^63, a table that runs past the end, a string
  // index outside the string table, a repeated entry or option name, or a
  // string longer than 1023 bytes, leaving what was stored so far; |*error|
  // (when |error| is not null) then says what was wrong.
  bool decode_from(ByteSpan archive, const TicHeader& header, bool swap, const char** error);

  // The same from the archive open on |descriptor|, reading each table in
  // kIoBlockSize pieces, so that no claim of the header makes it read or
  // hold more than the file has.
  bool read(int descriptor, const TicHeader& header, bool swap);

  // Appends the binary form at the descriptor's position and fills the table
  // fields of |header| (whose counts must be 0). Entries without a stream
  // get a record only when |all|; one without a stream but with a control
  // mask still puts its name into the string table. Renumbers name_index of
  // the entries and options, and sets the description_index of each option
  // named in an entry's control mask.
  bool write(int descriptor, TicHeader& header, bool all);

  // Loads a list file (the text form). A file that cannot be opened reads as
  // an empty list. A bad line prints "load: " and its error to standard
  // error and fails the list.
  bool read(const char* path);
  // Loads the text form from |in|: the list reader without the file.
  bool read(std::istream& in);

  // Loads the text form held in |text|, printing nothing: empties the file
  // and option maps, then decodes line by line. On a bad line |*error|
  // (when not null) is "invalid entry found: <name>" or "duplicate file
  // found: <name>"; the lines before it stay loaded.
  bool decode_list(std::string_view text, std::string* error);
  // Adds one line of the text form (without its "\n").
  bool decode_list_line(std::string_view line, std::string* error);

  // Appends the text form of this table to |out|: one line per entry, the
  // six columns, options named so that reading the text back defines them
  // with the same bit numbers: lines that define options first, the rest
  // after them in name order. Fails, writing nothing,
  // when the text cannot carry the table: a name holding ";" or a line
  // break, an option name holding "|" or empty, an entry with stream
  // fields or a MAC, an option with string indices or in no entry, a mask
  // that its options cannot spell, or bits not numbered in order of first
  // appearance. Every table with at most 32 options that the list reader
  // loads can be written. Descriptions are not part of the text form.
  bool encode_list(std::string* out, std::string* error) const;

  // Adds |other| into this table: its new options get this table's next bit
  // numbers and every mask is remapped into this numbering.
  bool merge(const TicToc& other);
};

// Decodes the binary form table by table: strings, then options, then
// entries (records refer to strings by position). A table may be given whole
// or in consecutive pieces: decode() consumes whole records (whole strings)
// from the front of |in| and leaves a partial one there to be completed by
// the next piece. Every failure leaves what was stored so far and sets
// error().
class TicTocDecoder {
 public:
  enum Table { kStrings, kOptions, kEntries };

  // Empties the file and option maps of |toc|.
  TicTocDecoder(TicToc& toc, const TicHeader& header, bool swap);

  // Whether the header places |table| at all (offset not 0), and where.
  bool present(Table table) const { return offset_[table] != 0; }
  uint64_t offset(Table table) const { return offset_[table]; }
  // Records of |table| not yet decoded.
  uint64_t left(Table table) const { return left_[table]; }

  // Checks the header's claims for |table| before any of it is decoded: its
  // offset is a file position (below 2^63) and its records can fit in the
  // |available| bytes from that offset to the end of the archive.
  bool begin(Table table, uint64_t available);
  bool decode(Table table, ByteSpan* in);
  // True when every record of |table| was decoded.
  bool finish(Table table);

  const char* error() const { return error_; }

 private:
  // What a record decoder did with the front of its input.
  enum Step { kDecoded, kIncomplete, kRejected };

  bool fail(const char* why) {
    error_ = why;
    return false;
  }
  Step reject(const char* why) {
    error_ = why;
    return kRejected;
  }
  Step decode_string(ByteSpan* in);
  Step decode_option(ByteSpan* in);
  Step decode_entry(ByteSpan* in);

  TicToc& toc_;
  bool swap_;
  uint64_t offset_[3];
  uint64_t left_[3];
  std::vector<std::string> strings_;
  const char* error_ = nullptr;
};
