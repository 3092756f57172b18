// Version stamp blocks: finding, parsing, looking up and blanking them.
//
// A stamp block can sit anywhere inside a file of the product (an archive,
// an executable, a library). It is found by searching for its marker:
//
//   "@@==Version==@1@"                  16-byte marker, no terminator
//   "MODULE=<name>\0" "KEY=value\0" ...  entries; MODULE always comes first
//   "\0"                                 the empty entry that ends the list
//   extension data                       the data of each extension named by
//                                        the EXTENSIONS entry, back to back
//
// A key is one or more bytes other than NUL and "="; a value holds no "="
// and no NUL. An entry whose bytes were all overwritten with 0x01 is blanked:
// it parses with an empty value and no "=". Keys compare without regard to
// case. EXTENSIONS lists items of one printable identifier character, a
// decimal data length and an optional ":" or "," ("A8,B16").
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/failure.h"

// The marker that introduces a block, and what must follow it.
extern const char kStampMarker[];  // "@@==Version==@1@"
constexpr size_t kStampMarkerLength = 16;
extern const char kStampFirstKey[];  // "MODULE"
constexpr size_t kStampFirstKeyLength = 6;

constexpr unsigned kStampMaxArgs = 100;
constexpr unsigned kStampMaxExts = 32;
constexpr size_t kStampDataSize = 4096;

struct dbversion_arg {
  char* name;    // the key
  char* equals;  // where the "=" stood (now NUL); null for a blanked entry
  char* value;   // the value; empty for a blanked entry
};

struct dbversion_ext {
  char* id;         // the identifier character inside the EXTENSIONS value
  uint32_t length;  // data length in bytes
  char* data;       // the extension's data
};

// One parsed block. Every pointer points into |data|, so a record must not be
// copied with plain assignment: __Clone_dbversion_info moves the pointers.
struct dbversion_info {
  uint32_t num_args;
  dbversion_arg args[kStampMaxArgs];
  uint32_t num_exts;
  dbversion_ext exts[kStampMaxExts];
  // File offset of the first key byte, just after the marker. 64-bit: in an
  // archive the block follows the streams, so it can lie beyond 4 GiB.
  uint64_t file_offset;
  // Number of bytes held in |data|.
  uint32_t data_length;
  // Length from the first key through the end of the last extension's data,
  // or through the first NUL of the closing pair when there are none.
  uint32_t block_length;
  // First byte after the closing pair of NULs; null when parsing stopped
  // before the pair.
  char* ext_data;
  // A copy of the file from the first key byte on.
  char data[kStampDataSize];
};

enum an_info_found : unsigned { kInfoNotFound = 0, kInfoFound = 1 };

// Finds and parses the first block of the file at |path|: the first marker
// that is followed by "MODULE". With |follow_links| 0 a symbolic link is never
// read, and only a regular file is ever read. Every problem (missing file, a
// FIFO or device, no block, malformed block, more than 100 entries) is "not
// found"; nothing is printed.
an_info_found __Get_dbversion_info(const char* path, dbversion_info* info, unsigned follow_links);

// The decoders below read only the bytes they are given. Each comes in two
// forms: one that says what was wrong (a failure of kStepStampBlock whose
// cause is "no closing empty entry", "more than 100 entries" and the like)
// and the family's plain "found or not".

// Clears |info| and parses a block held in memory: |bytes| start at the first
// key (just after the marker) and at most 4096 of them are used, as the file
// reader would hold them. |file_offset| stays 0.
Outcome parse_stamp_block(const void* bytes, size_t length, dbversion_info* info);
an_info_found __Parse_dbversion_info(const void* bytes, size_t length, dbversion_info* info);

constexpr size_t kStampBlockNotFound = static_cast<size_t>(-1);

// The search alone: the offset in |bytes| of the first key byte of the first
// marker followed by "MODULE" (the whole 22 bytes inside |bytes|), or
// kStampBlockNotFound.
size_t __Find_dbversion_block(const void* bytes, size_t length);

// Finds and parses the first block in |bytes| exactly as __Get_dbversion_info
// does in a file holding those bytes, window by window as that reader reads
// them; |file_offset| is the offset of the first key byte in |bytes|.
Outcome scan_stamp_block(const void* bytes, size_t length, dbversion_info* info);
an_info_found __Scan_dbversion_info(const void* bytes, size_t length, dbversion_info* info);

// The value of the first entry whose key equals |key| ignoring case; null if
// there is none, or if |info| is null or has no entries.
char* __Find_arg(const dbversion_info* info, const char* key);

// The index of that entry, or -1.
int __Find_arg_index(const dbversion_info* info, const char* key);

// The entry's value when found, else |fallback| when not null, else |key|
// itself. Never null for a non-null |key|.
const char* __Find_arg_safe(const dbversion_info* info, const char* key, const char* fallback);

// Index of the first extension whose identifier is the first character of
// |id|, or -1.
int __Find_ext_index(const dbversion_info* info, const char* id);

// Copies |from| into |to|, moving every pointer into |from|'s data to the
// same position in |to|'s data.
void __Clone_dbversion_info(const dbversion_info* from, dbversion_info* to);

// Blanks, in the file at |path|, the entry |key| (every byte of key, "=" and
// value becomes 0x01) and/or, for each character of |ext_ids|, the first
// extension with that identifier (its identifier becomes "?" and its data
// zeros). Either may be null. |info| is the file's block as read by
// __Get_dbversion_info. The block keeps its length and positions, so it still
// parses. 1 on success (also when there was nothing to change), 0 on failure.
unsigned __Zap_dbversion_info(const char* path, const dbversion_info* info, const char* key, const char* ext_ids);
