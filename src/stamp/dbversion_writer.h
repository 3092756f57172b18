// The version stamp block an archive carries, composed in memory; the
// builder appends it to the archive (Tic::write_dbversion).
#pragma once

#include <time.h>

#include <cstddef>
#include <string>
#include <vector>

#include "stamp/dbversion.h"

// What the block says about the archive: its product and the version of the
// header it goes with.
struct a_stamp_version {
  std::string product;
  unsigned major = 0;
  unsigned minor = 0;
  unsigned patch = 0;
  unsigned long build = 0;
};

// When the block says it was written: |when|, in local time, or in UTC
// when |utc| (a reproducible build stamps the time it was given, in UTC, so
// that the machine's time zone does not show).
struct a_stamp_time {
  time_t when = 0;
  bool utc = false;
};

// One entry of a block: KEY=VALUE.
struct a_stamp_entry {
  std::string key;
  std::string value;
};
using a_stamp_entries = std::vector<a_stamp_entry>;

// The entries of an archive's block, in the order the builder writes them.
a_stamp_entries archive_stamp_entries(const a_stamp_version& version, const a_stamp_time& time);

// The IDENT value the other entries of |entries| make, with the date of
// |time|: "<MODULE>/<VERSION_MAJOR>.<VERSION_MINOR>.<VERSION_PATCH>/P/
// <MACHINE>/<UNAME without its instruction set>/<BUILD_NUMBER>/OPT/<date>".
// A build whose version information replaces HOST, UNAME or the version
// gets an IDENT that says what the others say, and so the same IDENT on
// every host.
std::string stamp_ident(const a_stamp_entries& entries, const a_stamp_time& time);

// Replaces the value of the entry whose key equals |key| ignoring case (the
// readers' comparison), keeping its place and spelling; appends the entry
// when there is none.
void set_stamp_entry(a_stamp_entries& entries, const std::string& key, const std::string& value);

// Whether KEY=VALUE can be an entry of a block: a failure of
// kStepStampEntry about |key| says why not ("empty key", "\"=\" in the
// value").
Outcome valid_stamp_entry(const std::string& key, const std::string& value);

// The bytes |entries| take as a block: the marker, each entry and its NUL,
// and the closing NUL.
size_t stamp_block_length(const a_stamp_entries& entries);

// True when |entries| make a block that readers take whole: at most
// kStampMaxArgs entries in at most kStampDataSize bytes.
bool stamp_fits(const a_stamp_entries& entries);

// Composes |entries| into |block| (zero-filled first) and returns the number
// of bytes to write, the closing NUL included. Entries that do not fit are
// cut short rather than overrun the buffer, and the closing NUL always fits.
size_t compose_stamp(const a_stamp_entries& entries, char (&block)[kStampDataSize]);

// The block of an archive written at |now|, in local time, on this machine.
size_t compose_archive_stamp(const a_stamp_version& version, time_t now, char (&block)[kStampDataSize]);
