#include "tic/archive/archive_stamp.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/fd.h"
#include "tic/archive/tic.h"

namespace {

// The block at the place the header names, when one is there.
an_info_found read_at_version_offset(int fd, dbversion_info* info) {
  struct stat st;
  TicHeader header;
  bool swap;
  if (fstat(fd, &st) != 0 || !read_tic_header(fd, header, &swap)) return kInfoNotFound;
  const auto size = static_cast<uint64_t>(st.st_size);
  const uint64_t at = header.version_offset;
  if (at < TicHeader::kSize || at >= size || size - at < kStampMarkerLength + kStampFirstKeyLength)
    return kInfoNotFound;
  char marker[kStampMarkerLength + kStampFirstKeyLength];
  if (pread_full(fd, marker, sizeof marker, at) != static_cast<ssize_t>(sizeof marker) ||
      std::memcmp(marker, kStampMarker, kStampMarkerLength) != 0 ||
      std::memcmp(marker + kStampMarkerLength, kStampFirstKey, kStampFirstKeyLength) != 0)
    return kInfoNotFound;
  char block[kStampDataSize];
  const ssize_t got = pread_full(fd, block, sizeof block, at + kStampMarkerLength);
  if (got <= 0) return kInfoNotFound;
  if (__Parse_dbversion_info(block, static_cast<size_t>(got), info) != kInfoFound) return kInfoNotFound;
  info->file_offset = at + kStampMarkerLength;
  return kInfoFound;
}

}  // namespace

an_info_found read_file_stamp(const char* path, dbversion_info* info) {
  Result<UniqueFd> opened = open_regular_file(path);
  if (!opened) return kInfoNotFound;
  if (read_at_version_offset(opened->get(), info) == kInfoFound) return kInfoFound;
  opened->reset();
  return __Get_dbversion_info(path, info, 1);
}
