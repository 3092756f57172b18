// An archive read as far as it goes, for the release engineer's dump.
//
// Unlike Tic, which takes an archive whole or not at all, the inspection
// reads every region on its own, with the same readers: the header, the version stamp block, the
// entry, option and string tables, and the tar header at the start of every
// stream. What reads is kept; every region that does not read gives one
// problem that says where reading stopped. A hostile header cannot make it
// read or allocate beyond the file: counts are bounded by the bytes there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stamp/dbversion_writer.h"
#include "tic/format/header.h"
#include "tic/format/options.h"
#include "tic/format/stream_pieces.h"
#include "tic/format/toc.h"

// Which key the header's MAC matches.
enum class an_archive_key { kProduct, kNone, kUnknown };

struct an_inspected_option {
  TicOption record;         // as stored, in this machine's byte order
  bool named = false;       // the name string was read
  std::string name;
  bool described = false;   // the description string was read
  std::string description;
};

struct an_inspected_entry {
  TicTocEntry record;       // as stored, in this machine's byte order
  bool named = false;
  std::string name;
  // From the tar header at the start of the stream, when it reads.
  bool has_mode = false;
  unsigned long mode = 0;
  a_compression compression = a_compression::kUnknown;  // of the stream, when it reads
};

struct an_archive_inspection {
  std::string path;
  uint64_t file_size = 0;
  bool header_read = false;
  TicHeader header;         // in this machine's byte order
  bool swapped = false;     // written in the other byte order
  an_archive_key key = an_archive_key::kUnknown;
  bool stamp_read = false;
  a_stamp_entries stamp;
  std::vector<std::string> strings;
  std::vector<an_inspected_option> options;
  std::vector<an_inspected_entry> entries;
  // The table of contents the readable part makes: the entries and options
  // whose names were read (of a name given twice, the first record).
  TicToc toc;
  // Where reading stopped: one sentence for each region (or record) that
  // did not read, in the order they were read: header, stamp block,
  // strings, entries, streams, options.
  std::vector<std::string> problems;

  bool complete() const { return problems.empty(); }
};

// Reads the archive at |path| with the reader kestrel uses (read_tic_header,
// the table decoder in its keep-going mode, Tic::compute_mac, the stream
// decoder). Streams are decrypted with |key| unless the header's MAC shows
// the archive was built without one.
void inspect_archive(const std::string& path, const unsigned char* key, int key_length,
                     an_archive_inspection& out);
