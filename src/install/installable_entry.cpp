#include "install/installable_entry.h"

#include <sys/stat.h>

#include <cstring>

#include "install/install_directory.h"
#include "tic/archive/stream_decoder.h"
#include "tic/format/entry_name.h"

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

// Where the last element of |name| begins.
size_t base_of(const std::string& name) { return name.rfind('/') + 1; }  // 0 without a "/"

}  // namespace

std::string installable_name_problem(const std::string& name) {
  if (Outcome named = valid_entry_name(name); !named) return named.failure().cause;
  if (!names_a_file(name)) return "not a file name";
  if (name.compare(base_of(name), std::strlen(InstallDirectory::kTemporaryPrefix),
                   InstallDirectory::kTemporaryPrefix) == 0)
    return "name reserved for temporaries";
  return "";
}

std::string stream_entry_problem(const std::string& name, const a_stream_entry& entry, uint64_t listed_size) {
  // A directory's tar name ends with "/", the entry's does not.
  const bool same_name = entry.pathname == name || (entry.is_directory() && entry.pathname == name + "/");
  if (!same_name) return "stream holds " + entry.pathname + " instead";
  std::string problem = installable_name_problem(name);
  if (!problem.empty()) return problem;
  if (entry.hard_link) return "refusing to create a hard link";
  if (const char* refused = refused_type(entry.mode)) return refused;
  if (entry.is_regular() && entry.size != listed_size)
    return "stream holds " + std::to_string(entry.size) + " bytes, its entry " + std::to_string(listed_size);
  return "";
}
