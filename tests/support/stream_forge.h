// Stored streams made by hand, for archives the builder would never write:
// a tar entry under another name, names that leave the install directory,
// stray bytes after the compressed data.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ForgedEntry {
  ForgedEntry(std::string name, std::string data, unsigned permissions = 0644, std::string link = "",
              std::string after = "")
      : pathname(std::move(name)), contents(std::move(data)), mode(permissions), hardlink(std::move(link)),
        trailer(std::move(after)) {}

  std::string pathname;
  std::string contents;
  unsigned mode = 0644;
  std::string hardlink;  // non-empty: a hard link to this name, no data
  std::string trailer;   // bytes appended after the compressed stream
  unsigned type = 0100000;  // the file type bits: a regular file unless set
  std::string symlink;      // the target, for a symbolic link
  // When set, the compressed stream itself (before the trailer), in place
  // of the single bzip2 stream made from the fields above.
  std::string compressed;
  long long listed_size = -1;  // the table's file size, when not the contents' size
};

// Entries of other types than a regular file: a symbolic link to |target|
// (mode 0777), a directory, and any other node of type bits |type|.
ForgedEntry forged_link(const std::string& name, const std::string& target);
ForgedEntry forged_directory(const std::string& name, unsigned permissions = 0755);
ForgedEntry forged_node(const std::string& name, unsigned type);

// The uncompressed pax stream of |entry|.
std::string tar_stream(const ForgedEntry& entry);

// |data| cut into pieces of |piece_size| bytes, each compressed on its own
// with libarchive's filter |filter| (ARCHIVE_FILTER_BZIP2 or
// ARCHIVE_FILTER_ZSTD) at |level|, one after another.
std::string compress_pieces(const std::string& data, int filter, size_t piece_size, int level = 9);

// A zstd frame that holds |data| in raw blocks and declares a window of
// 2^|window_log| bytes (10 to 41), whatever the data needs.
std::string zstd_frame_with_window(const std::string& data, unsigned window_log);

struct ForgedStream {
  std::string stored;  // the bytes as they lie in the archive
  std::string mac;     // their HMAC-SHA-256, 32 bytes
};

// A bzip2-compressed pax stream holding |entry|, followed by its trailer,
// encrypted with |key| (zero-padded to 8 bytes) when the key is not empty.
ForgedStream forge_stream(const ForgedEntry& entry, const std::string& key);

// Writes an archive at |path| whose entries are |entries| under their
// pathnames, all of option |option|, with each stream's MAC and the
// archive's under |key|. The streams lie in name order.
void write_forged_archive(const std::string& path, const std::vector<ForgedEntry>& entries, const std::string& key,
                          const std::string& option = "o");
