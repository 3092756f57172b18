#include "scan/dir_scan.h"

#include "platform/current_directory.h"
#include "platform/unique.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace {

// Changes back to the saved directory however the scan ends.
class ReturnToDirectory {
 public:
  explicit ReturnToDirectory(std::string saved) : saved_(std::move(saved)) {}
  ~ReturnToDirectory() {
    if (chdir(saved_.c_str()) != 0) {
      // Nothing sensible is left to do: the caller's directory is gone.
    }
  }
  ReturnToDirectory(const ReturnToDirectory&) = delete;
  ReturnToDirectory& operator=(const ReturnToDirectory&) = delete;

 private:
  std::string saved_;
};

// True for a path whose last element is "." or "..": the entries every
// directory has, which no scan descends into and none reports.
bool is_dot_or_dot_dot(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  return last == "." || last == "..";
}

}  // namespace

a_dir_scan_info::a_dir_scan_info() = default;

a_dir_scan_info::a_dir_scan_info(const std::string& path) { scan(path); }

a_dir_scan_info::a_dir_scan_info(const std::vector<std::string>& paths) { scan(paths); }

int a_dir_scan_info::scan(const std::string& path) { return process_element(path); }

int a_dir_scan_info::scan(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (process_element(path) == -1) return -1;
  }
  return 0;
}

int a_dir_scan_info::process_element(const std::string& path) { return apply_element_rule(path, false); }

int a_dir_scan_info::apply_element_rule(const std::string& path, bool in_tree) {
  if (!path.empty() && path[0] == '@') {
    const int result = load_from_file(path.substr(1));
    return in_tree ? 0 : result;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      if (should_scan_dir(path) != 0) {
        add_directory(path);
        scan_dir(path);
      } else if (!is_dot_or_dot_dot(path)) {
        skipped_directories.push_back(path);
      }
    } else {
      process_file(path);
    }
    return 0;
  }
  if (errno == ENOENT) {
    add_file(path, nullptr, false);
    return 0;
  }
  return in_tree ? 0 : -1;
}

int a_dir_scan_info::scan_dir(const std::string& dir) {
  Unique<DIR, closedir> stream(opendir(dir.c_str()));
  if (!stream) return -1;
  while (const struct dirent* member = readdir(stream.get())) {
    const std::string path = dir == "." ? std::string(member->d_name) : dir + "/" + member->d_name;
    apply_element_rule(path, true);
  }
  return 0;
}

void split_kept_path(const std::string& path, int count, std::string& directory, std::string& tail) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  if (count < 1) {
    directory = trimmed;
    tail = ".";
    return;
  }
  int seen = 0;
  for (size_t i = trimmed.size(); i > 0; --i) {
    if (trimmed[i - 1] != '/') continue;
    const size_t run_end = i;
    while (i > 1 && trimmed[i - 2] == '/') --i;
    const size_t run_start = i - 1;
    if (++seen == count) {
      if (run_start == 0) break;  // only the root is left in front
      directory = trimmed.substr(0, run_start);
      tail = trimmed.substr(run_end);
      return;
    }
  }
  directory.clear();
  tail = trimmed;
}

int a_dir_scan_info::scan_dir_keep_path_elements(const std::string& path, int count) {
  std::string saved;
  if (!current_directory(saved)) return -1;
  std::string directory, tail;
  split_kept_path(path, count, directory, tail);
  ReturnToDirectory back(std::move(saved));
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    // As with the scan itself, an unreachable directory shows as a failing
    // scan_dir of the tail below.
  }
  return scan_dir(tail);
}

unsigned a_dir_scan_info::should_scan_dir(const std::string& dir) const {
  return !dir.empty() && dir.back() == '.' ? 0 : 1;
}

void a_dir_scan_info::process_file(const std::string& path) {
  if (!read_version_info) {
    add_file(path, nullptr, true);
    return;
  }
  auto info = std::make_unique<dbversion_info>();
  if (__Get_dbversion_info(path.c_str(), info.get(), 0) == kInfoFound) {
    add_file(path, std::move(info), true);
  } else {
    add_file(path, nullptr, true);
  }
}

void a_dir_scan_info::add_file(const std::string& path, std::unique_ptr<dbversion_info> info, bool present) {
  a_dir_scan_entry& entry = files[path];
  entry.info = std::move(info);
  entry.present = present;
  entry.directory = false;
}

void a_dir_scan_info::add_directory(const std::string& path) {
  if (!record_directories) return;
  a_dir_scan_entry& entry = files[path];
  entry.info.reset();
  entry.present = true;
  entry.directory = true;
}

int a_dir_scan_info::load_from_file(const std::string& list) {
  std::ifstream in(list);
  if (!in) return -1;
  std::string line;
  while (std::getline(in, line)) process_file(line);
  return 0;
}

void a_dir_scan_info::init_with_list(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) add_file(path, nullptr, true);
}
