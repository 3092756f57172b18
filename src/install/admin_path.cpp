#include "install/admin_path.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/unique.h"

namespace {

constexpr int kOpenDirectory = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool same_object(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The name under which |parent| holds the object |child|, or "".
std::string name_in(int parent, const struct stat& child) {
  const int listing = openat(parent, ".", kOpenDirectory);
  if (listing < 0) return "";
  Unique<DIR, closedir> dir(fdopendir(listing));
  if (!dir) {
    ::close(listing);
    return "";
  }
  while (const struct dirent* member = readdir(dir.get())) {
    if (std::strcmp(member->d_name, ".") == 0 || std::strcmp(member->d_name, "..") == 0) continue;
    struct stat st;
    if (member->d_ino == child.st_ino && fstatat(parent, member->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        same_object(st, child))
      return member->d_name;
  }
  return "";
}

// True when |directory| is the install directory |root| or lies below it;
// then |below| receives its path below |root|, one element per entry.
bool lies_below(int root, int directory, std::vector<std::string>& below) {
  struct stat top;
  if (fstat(root, &top) != 0) return false;
  std::vector<std::string> names;
  UniqueFd at(openat(directory, ".", kOpenDirectory));
  while (at.valid()) {
    struct stat here, up_st;
    if (fstat(at.get(), &here) != 0) return false;
    if (same_object(here, top)) {
      std::reverse(names.begin(), names.end());
      below = std::move(names);
      return true;
    }
    UniqueFd up(openat(at.get(), "..", kOpenDirectory));
    if (!up.valid() || fstat(up.get(), &up_st) != 0 || same_object(up_st, here)) return false;  // the top
    names.push_back(name_in(up.get(), here));
    if (names.back().empty()) return false;
    at = std::move(up);
  }
  return false;
}

std::string joined(const std::vector<std::string>& elements) {
  std::string out;
  for (const std::string& e : elements) out += (out.empty() ? "" : "/") + e;
  return out;
}

// The elements of |path| as written: "." and empty ones are dropped, ".."
// is kept.
std::vector<std::string> written_elements(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start && path.compare(start, end - start, ".") != 0) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Where the path goes on from a place inside (|below|) by names alone.
void follow_by_name(const std::string& element, bool& inside, std::vector<std::string>& below) {
  if (!inside) return;
  if (element != "..") {
    below.push_back(element);
  } else if (below.empty()) {
    inside = false;  // above the install directory
  } else {
    below.pop_back();
  }
}

}  // namespace

bool holds_directory(int ancestor, int directory) {
  std::vector<std::string> ignored;
  return lies_below(ancestor, directory, ignored);
}

a_reach locate_admin_path(int root, const std::string& written, an_admin_path& out, a_failure& failure) {
  out = an_admin_path{};
  // "bak/" names the directory "bak".
  std::string path = written;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::vector<std::string> elements = written_elements(path);
  // The last element as written ("" for "dir/", "." for ".").
  const size_t slash = path.rfind('/');
  out.base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!elements.empty() && out.base == elements.back()) elements.pop_back();

  const bool absolute = !path.empty() && path[0] == '/';
  // A relative path starts in the install directory.
  UniqueFd at(absolute ? open("/", kOpenDirectory) : openat(root, ".", kOpenDirectory));
  if (!at.valid()) {
    failure.set(kStepParent);
    return a_reach::kFailed;
  }
  std::vector<std::string> below;
  bool inside = lies_below(root, at.get(), below);
  a_reach reach = a_reach::kReached;
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::string& name = elements[i];
    if (reach == a_reach::kAbsent) {
      follow_by_name(name, inside, below);
      continue;
    }
    UniqueFd next(openat(at.get(), name.c_str(), kOpenDirectory | (inside && name != ".." ? O_NOFOLLOW : 0)));
    if (!next.valid()) {
      const int error = errno;
      struct stat st;
      if (inside && fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        below.push_back(name);
        out.link = joined(below);
        return a_reach::kThroughLink;
      }
      errno = error;
      if (error != ENOENT) {
        failure.set(kStepParent);
        return a_reach::kFailed;
      }
      reach = a_reach::kAbsent;
      follow_by_name(name, inside, below);
      continue;
    }
    if (inside) {
      follow_by_name(name, inside, below);
    } else {
      inside = lies_below(root, next.get(), below);
    }
    at = std::move(next);
  }
  if (!out.base.empty() && out.base != ".") follow_by_name(out.base, inside, below);
  out.inside = inside;
  if (inside) out.relative = joined(below);
  if (reach == a_reach::kReached) out.parent = std::move(at);
  errno = ENOENT;
  return reach;
}
