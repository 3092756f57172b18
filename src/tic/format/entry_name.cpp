#include "tic/format/entry_name.h"

#include <sys/stat.h>

#include <cstring>

#include "install/install_directory.h"
#include "tic/archive/stream_decoder.h"

namespace {

// Only these are installed: regular files, directories and symbolic links.
const char* refused_type(unsigned long mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
    case S_IFDIR:
    case S_IFLNK: return nullptr;
    case S_IFCHR: return "refusing to create a character device";
    case S_IFBLK: return "refusing to create a block device";
    case S_IFIFO: return "refusing to create a FIFO";
    case S_IFSOCK: return "refusing to create a socket";
    default: return "refusing to create a file of unknown type";
  }
}

// The last element of |name|.
std::string base_of(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

bool holds_control_character(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) return true;
    // U+0080 to U+009F in UTF-8.
    if (c == 0xc2 && i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xe0) == 0x80) return true;
  }
  return false;
}

const char* entry_name_problem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name[0] == '/') return "absolute path";
  if (holds_control_character(name)) return "control character in name";
  for (std::string::size_type start = 0; start <= name.size();) {
    std::string::size_type end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return "\"..\" in path";
    start = end + 1;
  }
  return nullptr;
}

std::string stream_entry_problem(const std::string& name, const a_stream_entry& entry, uint64_t listed_size) {
  // A directory's tar name ends with "/", the entry's does not.
  const bool same_name = entry.pathname == name || (entry.is_directory() && entry.pathname == name + "/");
  if (!same_name) return "stream holds " + entry.pathname + " instead";
  if (const char* problem = entry_name_problem(name)) return problem;
  if (entry.hard_link) return "refusing to create a hard link";
  if (const char* refused = refused_type(entry.mode)) return refused;
  if (base_of(name).compare(0, std::strlen(InstallDirectory::kTemporaryPrefix),
                            InstallDirectory::kTemporaryPrefix) == 0)
    return "name reserved for temporaries";
  if (entry.is_regular() && entry.size != listed_size)
    return "stream holds " + std::to_string(entry.size) + " bytes, its entry " + std::to_string(listed_size);
  return "";
}
