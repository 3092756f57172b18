// The version stamp block an archive carries, composed in memory; the
// builder appends it to the archive (Tic::write_dbversion).
#pragma once

#include <time.h>

#include <cstddef>
#include <string>

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

// Composes the block of an archive written at |now| on this machine into
// |block| (zero-filled first): the marker, the entries, each ended by a NUL,
// and the closing empty entry. Returns the number of bytes to write, the
// closing NUL included; the entries are cut short rather than overrun the
// buffer, and the closing NUL always fits.
size_t compose_archive_stamp(const a_stamp_version& version, time_t now, char (&block)[kStampDataSize]);
