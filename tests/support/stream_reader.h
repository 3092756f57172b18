// Reads one stored stream of an archive back without the project's
// extraction code: the stored bytes are hashed, decrypted with the record
// transform and decoded by libarchive from memory.
#pragma once

#include <sys/types.h>

#include <string>

#include "tic/format/toc.h"

struct StoredStream {
  std::string error;       // empty when the stream decoded cleanly
  std::string mac;         // HMAC-SHA-256 of the stored bytes, 32 bytes
  int entries = 0;         // tar entries in the stream
  std::string pathname;    // of the first entry
  mode_t mode = 0;         // of the first entry
  std::string symlink;     // link target, empty for other entries
  long long size = 0;      // size in the first entry's header
  std::string data;        // the first entry's data
  std::string decrypted;   // the stored bytes, decrypted
};

// The stream of |entry| in the archive at |path|, keyed with |key| (empty:
// the archive has no key).
StoredStream read_stored_stream(const std::string& path, const TicTocEntry& entry, const std::string& key);
