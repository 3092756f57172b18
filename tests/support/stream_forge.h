// Stored streams made by hand, for archives the builder would never write:
// a tar entry under another name, names that leave the install directory,
// stray bytes after the compressed data.
#pragma once

#include <string>

struct ForgedEntry {
  std::string pathname;
  std::string contents;
  unsigned mode = 0644;
  std::string hardlink;  // non-empty: a hard link to this name, no data
  std::string trailer;   // bytes appended after the compressed stream
};

struct ForgedStream {
  std::string stored;  // the bytes as they lie in the archive
  std::string mac;     // their HMAC-SHA-256, 32 bytes
};

// A bzip2-compressed pax stream holding |entry|, followed by its trailer,
// encrypted with |key| (zero-padded to 8 bytes) when the key is not empty.
ForgedStream forge_stream(const ForgedEntry& entry, const std::string& key);
