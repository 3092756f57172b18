// One file as an installation's record keeps it (install/install_record.h).
#pragma once

#include <cstddef>
#include <cstdint>

enum class a_file_type { kFile, kDirectory, kSymlink };

// "file", "directory", "symlink".
const char* file_type_word(a_file_type type);

constexpr size_t kDigestSize = 32;

struct a_recorded_file {
  a_file_type type = a_file_type::kFile;
  unsigned mode = 0;  // permission bits as installed (07777)
  uint64_t size = 0;
  unsigned char sha256[kDigestSize] = {};  // content, or link target; zero for a directory
  unsigned char mac[kDigestSize] = {};     // the archive entry's MAC
};
