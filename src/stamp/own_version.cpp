#include "stamp/own_version.h"

#include <cstring>
#include <memory>

#include "stamp/dbversion.h"

bool own_version_line(const char* block, size_t size, std::string& line) {
  if (size < kStampMarkerLength || std::memcmp(block, kStampMarker, kStampMarkerLength) != 0) return false;
  auto info = std::make_unique<dbversion_info>();
  if (__Parse_dbversion_info(block + kStampMarkerLength, size - kStampMarkerLength, info.get()) != kInfoFound)
    return false;
  const char* keys[] = {"MODULE", "VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH", "BUILD_NUMBER"};
  const char* values[5];
  for (int i = 0; i < 5; ++i) {
    values[i] = __Find_arg(info.get(), keys[i]);
    if (values[i] == nullptr) return false;
  }
  line = std::string(values[0]) + " " + values[1] + "." + values[2] + "." + values[3] + " build " + values[4];
  return true;
}
