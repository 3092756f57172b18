#include "support/tree_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/fd.h"

namespace {

namespace fs = std::filesystem;

std::string time_text(const struct timespec& t) { return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec); }

// A file's bytes, read without marking it read.
std::string contents_of(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC));
  std::string out;
  char buffer[kIoBlockSize];
  ssize_t got;
  while (fd.valid() && (got = read_full(fd.get(), buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<size_t>(got));
  return out;
}

}  // namespace

std::map<std::string, std::string> snapshot(const std::string& root, a_snapshot detail) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    struct stat st;
    lstat(it->path().c_str(), &st);
    std::string what = std::to_string(st.st_mode);
    if (detail != a_snapshot::kContent && !S_ISDIR(st.st_mode)) what += " m" + time_text(st.st_mtim);
    if (detail == a_snapshot::kAllTimes) {
      what += " M" + time_text(st.st_mtim) + " c" + time_text(st.st_ctim);
      // Listing a directory or reading a link's target marks them read,
      // here as in any command.
      if (S_ISREG(st.st_mode)) what += " a" + time_text(st.st_atim);
    }
    if (S_ISLNK(st.st_mode)) what += " -> " + fs::read_symlink(it->path()).string();
    if (S_ISREG(st.st_mode)) what += " " + contents_of(it->path());
    out[fs::relative(it->path(), root).string()] = what;
  }
  return out;
}
