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
#include <functional>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/byte_span.h"
#include "platform/failure.h"
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

  // The binary form in memory.
  //
  // Loads the tables located by |header| from the archive bytes |archive|
  // (offset 0 is the archive's first byte); |swap| when the archive is in
  // the other byte order. Empties the file and option maps first (the
  // description map keeps old texts until replaced). Fails as TicTocDecoder
  // does (TicTocDecoder::outcome), leaving what was stored so far.
  Outcome decode_from(ByteSpan archive, const TicHeader& header, bool swap);

  // Lays the tables out from file offset |position| on and hands their bytes
  // to |put| in order, a record or a string at a time; fills the table
  // fields of |header| (whose counts must be 0). Entries without a stream
  // get a record only when |all|; one without a stream but with a control
  // mask still puts its name into the string table. Renumbers name_index of
  // the entries and options, and sets the description_index of each option
  // named in an entry's control mask. Records are in this machine's byte
  // order. False when |put| fails or a name is longer than kMaxStringLength
  // (no reader could load it).
  using ByteSink = std::function<bool(const void* bytes, size_t size)>;
  bool encode_to(uint64_t position, TicHeader& header, bool all, const ByteSink& put);
  // The same, appended to |out|, whose bytes are to lie from |position| on.
  bool encode_to(std::string* out, uint64_t position, TicHeader& header, bool all);

  // The binary form in an archive file (tic/archive/toc_file.cpp).
  //
  // decode_from on the archive open on |descriptor|, reading each table in
  // kIoBlockSize pieces, so that no claim of the header makes it read or
  // hold more than the file has. A failure of kStepTables.
  Outcome read(int descriptor, const TicHeader& header, bool swap);
  // encode_to at the descriptor's position, written in kIoBlockSize pieces.
  bool write(int descriptor, TicHeader& header, bool all);

  // The text form, a list file (tic/archive/toc_file.cpp). A file that
  // cannot be opened reads as an empty list. A bad line prints "load: " and
  // its error to standard error and fails the list.
  bool read(const char* path);
  // The list reader on |in|. With |keep_going| every bad line of the text
  // is reported and the list still fails at the end; lines after a bad one
  // are loaded. |notes|, when given, is called with the number (from 1) of
  // every line refused (after its "load: " message), with the refusal, or
  // taken with doubts, with no failure.
  using ListLineNotes =
      std::function<void(size_t line, const a_failure& refusal, const std::vector<std::string>& doubts)>;
  bool read(std::istream& in, bool keep_going = false, const ListLineNotes& notes = nullptr);

  // The text form in memory (format/list_file.cpp).
  //
  // Loads the text form held in |text|, printing nothing: empties the file
  // and option maps, then decodes line by line. A bad line is a failure of
  // kStepInvalidEntry or kStepDuplicateFile about the name it starts with,
  // whose cause says what is wrong with it ("expected 6 fields separated by
  // ';', found 4"); the lines before it stay loaded.
  Outcome decode_list(std::string_view text);
  // Adds one line of the text form (without its "\n"). |doubts|, when not
  // null, gets what about a line taken is probably not meant
  // (list_row_doubts).
  Outcome decode_list_line(std::string_view line, std::vector<std::string>* doubts = nullptr);

  // Appends the text form of this table to |out|: one line per entry, the
  // six columns, options named so that reading the text back defines them
  // with the same bit numbers: lines that define options first, the rest
  // after them in name order. Fails, writing nothing,
  // when the text cannot carry the table: a name holding ";" or a line
  // break, an option name holding "|" or empty, an entry with stream
  // fields or a MAC, an option with string indices or in no entry, a mask
  // that its options cannot spell, or bits not numbered in order of first
  // appearance: a failure of kStepListText about the name that cannot be
  // written. Every table with at most 32 options that the list reader loads
  // can be written. Descriptions are not part of the text form.
  Outcome encode_list(std::string* out) const;

  // Adds |other| into this table: its new options get this table's next bit
  // numbers and every mask is remapped into this numbering.
  bool merge(const TicToc& other);
};

// Which member of a set supplies each stream: the first table, in merge
// order, whose entry of the name has a stream; the member merge() takes the
// stream from. Asked for names in byte-wise order, it walks down each
// member's table once for all of them, without a search per name.
class StreamSuppliers {
 public:
  // |members| in merge order; they must outlive the object.
  explicit StreamSuppliers(const std::vector<const TicToc*>& members);
  // The position in |members| of the table that supplies |name|'s stream,
  // or -1. REQUIRES: each name asked for is above the one before.
  int supplier(std::string_view name);

 private:
  using Cursor = std::map<std::string, TicTocEntry>::const_iterator;
  std::vector<std::pair<Cursor, Cursor>> cursors_;
};

// StreamSuppliers::supplier for each of |names| (in byte-wise order).
std::vector<int> stream_suppliers(const std::vector<const TicToc*>& members,
                                  const std::vector<std::string_view>& names);

// Decodes the binary form table by table: strings, then options, then
// entries (records refer to strings by position). A table may be given whole
// or in consecutive pieces: decode() consumes whole records (whole strings)
// from the front of |in| and leaves a partial one there to be completed by
// the next piece; finish() is given what is left when the data ends.
//
// Strict, the reader of kestrel: the first problem ends the decoding and
// says what was wrong (error()). Keep-going, the view of a damaged archive:
// a fixed-size table is decoded as far as it lies inside the archive, a
// record that names a string not read is kept unnamed, a repeated name
// keeps its first record, and a table that stops does not stop the next;
// every record read is kept in table order, and problems() lists what was
// wrong in each table.
class TicTocDecoder {
 public:
  enum Table { kStrings, kOptions, kEntries };
  enum Mode { kStrict, kKeepGoing };

  enum Fault {
    kOffsetBeyondAnyFile,  // strict: the table lies at or beyond 2^63
    kRunsPastTheEnd,       // strict: its records cannot fit in the archive
    kCutShort,             // the data ended within the table
    kStringTooLong,        // a string longer than kMaxStringLength
    kNameOutside,          // a record names a string that is not there
    kDescriptionOutside,   // strict: an option's description is not there
    kRepeatedName,         // strict: a second record of one name
    kUnreadable,           // the archive could not be read
  };
  static constexpr uint64_t kNoLength = ~0ULL;
  struct a_problem {
    Table table;
    Fault fault;
    // The record concerned, by its number in the table, and where it
    // starts; for a table cut short, the number of records decoded and
    // where the next would start (keep-going, fixed-size: the number that
    // lie inside the archive, and where the table starts).
    uint64_t record;
    uint64_t offset;
    // kStringTooLong, and kCutShort of a string: the string's length
    // (kNoLength when the data ended before it); kNameOutside: the index
    // named; keep-going kCutShort of a fixed-size table: its record count.
    uint64_t value;
  };

  // Empties the file and option maps of |toc|.
  TicTocDecoder(TicToc& toc, const TicHeader& header, bool swap, Mode mode = kStrict);

  // Whether the header places |table| at all (offset not 0), and where.
  bool present(Table table) const { return offset_[table] != 0; }
  uint64_t offset(Table table) const { return offset_[table]; }
  // Records of |table| still to decode, and the archive offset of the next.
  uint64_t left(Table table) const { return left_[table]; }
  uint64_t position(Table table) const { return offset_[table] + consumed_[table]; }

  // Takes the header's claims for |table| before any of it is decoded,
  // given the |available| bytes from its offset to the end of the archive.
  // Strict: its offset must be a file position (below 2^63) and its records
  // must fit.
  bool begin(Table table, uint64_t available);
  // False when a record stops the table (strict: any problem; keep-going:
  // a string too long); finish() is then not called.
  bool decode(Table table, ByteSpan* in);
  // The data of |table| ended, |rest| being a record it cut (if any). True
  // when every record was decoded.
  bool finish(Table table, ByteSpan rest = ByteSpan());
  // The archive could not be read at position(table).
  void unreadable(Table table);

  // Strict: the first problem, a failure of kStepTables whose cause says
  // what was wrong ("table cut short"); none while nothing was.
  Outcome outcome() const;
  const std::vector<a_problem>& problems() const { return problems_; }

  // Keep-going: every string, option and entry record read, in table order,
  // in this machine's byte order.
  const std::vector<std::string>& strings() const { return strings_; }
  const std::vector<TicOption>& option_records() const { return option_records_; }
  const std::vector<TicTocEntry>& entry_records() const { return entry_records_; }

 private:
  // What a record decoder did with the front of its input.
  enum Step { kDecoded, kIncomplete, kRejected };

  bool fail(Table table, Fault fault, uint64_t value = 0);
  Step reject(Table table, Fault fault, uint64_t value = 0);
  // Keep-going: notes a fault and goes on.
  void note(Table table, Fault fault, uint64_t value = 0);
  // Takes one record of |table| from the front of |in| into |record|, in
  // this machine's byte order, keeps it in |kept| (keep-going) and finds
  // its name. A name outside the strings read: strict, the table stops;
  // keep-going, the record stays unnamed (|*name| null).
  template <typename Record>
  Step take_named(ByteSpan* in, Table table, Record& record, std::vector<Record>& kept, const std::string** name);
  Step decode_string(ByteSpan* in);
  Step decode_option(ByteSpan* in);
  Step decode_entry(ByteSpan* in);
  // The string |index| names, or null when it is not among those read.
  const std::string* string_at(uint64_t index) const;

  TicToc& toc_;
  bool swap_;
  Mode mode_;
  uint64_t offset_[3];
  uint64_t left_[3];
  uint64_t claimed_[3];   // the header's count of records
  uint64_t inside_[3] = {};  // keep-going: those that lie inside the archive
  uint64_t decoded_[3] = {};
  uint64_t consumed_[3] = {};
  std::vector<std::string> strings_;
  // Strict: the strings an entry has taken as its name (moved out).
  std::vector<bool> taken_;
  std::vector<TicOption> option_records_;
  std::vector<TicTocEntry> entry_records_;
  std::vector<a_problem> problems_;
};
