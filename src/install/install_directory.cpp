#include "install/install_directory.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "install/install_lock.h"
#include "platform/unique.h"

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Descriptors of visited directories kept open; a tree is extracted
// directory by directory, so a few suffice.
constexpr size_t kCacheLimit = 64;

// Why |name| in |parent| could not be opened as a directory, as a failure
// about |path| (its path below the root).
bool refuse(int parent, const std::string& name, const std::string& path, a_failure& failure) {
  const int error = errno;
  struct stat st;
  if ((error == ELOOP || error == ENOTDIR) && fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return failure.set(kStepParent, "refusing to write through symbolic link " + path);
  }
  errno = error;
  return failure.set(kStepParent);
}

bool same_directory(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The process that made a temporary, from its name; 0 when the name does not
// say.
pid_t maker_of(const char* name) {
  const size_t prefix = std::strlen(InstallDirectory::kTemporaryPrefix);
  if (std::strncmp(name, InstallDirectory::kTemporaryPrefix, prefix) != 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(name + prefix, &end, 10);
  return end != name + prefix && *end == '-' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

bool names_a_file(const std::string& name) {
  // The last element is what follows the last "/"; it must be neither
  // empty nor ".".
  const size_t last = name.rfind('/') + 1;  // 0 without a "/"
  return last < name.size() && name.compare(last, std::string::npos, ".") != 0;
}

std::string join_path(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : directory + "/" + name;
}

std::vector<std::string> path_elements(const std::string& path) {
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

std::string normalised_path(const std::string& path) {
  // Most names are in normal form already: no empty or "." element.
  const bool normal = !path.empty() && path != "." && path.front() != '/' && path.back() != '/' &&
                      path.compare(0, 2, "./") != 0 &&
                      !(path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) &&
                      path.find("//") == std::string::npos && path.find("/./") == std::string::npos;
  if (normal) return path;
  std::string out;
  for (const std::string& element : path_elements(path)) out = join_path(out, element);
  return out;
}

bool is_abandoned_temporary(const char* name) {
  const pid_t maker = maker_of(name);
  return maker != 0 && maker != getpid() && !process_runs(maker);
}

InstallDirectory::InstallDirectory()
    : temporary_stem_(std::string(kTemporaryPrefix) + std::to_string(getpid()) + "-") {}
InstallDirectory::~InstallDirectory() = default;

bool InstallDirectory::open(const std::string& path, bool create, a_failure& failure, int base) {
  if (create) {
    std::string partial;
    for (size_t at = 0; at != std::string::npos;) {
      at = path.find('/', at + 1);
      partial = path.substr(0, at);
      if (!partial.empty() && mkdirat(base, partial.c_str(), 0777) != 0 && errno != EEXIST) break;
    }
  }
  UniqueFd fd(openat(base, path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return failure.set(kStepParent);
  root_ = std::make_shared<const UniqueFd>(std::move(fd));
  sweep_temporaries(root_->get());
  return true;
}

bool InstallDirectory::open_below(InstallDirectory& parent, const std::string& relative, a_failure& failure,
                                  bool create) {
  std::shared_ptr<const UniqueFd> fd = parent.directory(relative, create, failure);
  if (!fd) return false;
  root_ = fd;
  return true;
}

void InstallDirectory::remember(const std::string& path, const std::shared_ptr<const UniqueFd>& fd) {
  std::lock_guard<std::mutex> hold(lock_);
  if (cache_.size() >= kCacheLimit) cache_.clear();
  cache_.emplace(path, fd);
}

std::shared_ptr<const UniqueFd> InstallDirectory::directory(const std::string& path, bool create,
                                                            a_failure& failure) {
  const std::vector<std::string> elements = path_elements(path);
  // Start from the deepest directory on the way that is cached.
  size_t known = elements.size();
  std::string walked;
  std::shared_ptr<const UniqueFd> at;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (;; --known) {
      walked.clear();
      for (size_t i = 0; i < known; ++i) walked = join_path(walked, elements[i]);
      auto found = cache_.find(walked);
      if (found != cache_.end()) {
        at = found->second;
        break;
      }
      if (known == 0) break;
    }
  }
  if (!at) at = root_;
  for (size_t i = known; i < elements.size(); ++i) {
    const std::string& name = elements[i];
    walked = join_path(walked, name);
    bool made = false;
    int fd = openat(at->get(), name.c_str(), kDirectoryFlags);
    if (fd < 0 && errno == ENOENT && create) {
      if (mkdirat(at->get(), name.c_str(), 0777) == 0) {
        made = true;
      } else if (errno != EEXIST) {
        failure.set(kStepParent);
        return nullptr;
      }
      fd = openat(at->get(), name.c_str(), kDirectoryFlags);
    }
    if (fd < 0) {
      refuse(at->get(), name, walked, failure);
      return nullptr;
    }
    auto next = std::make_shared<const UniqueFd>(fd);
    if (made) {
      std::lock_guard<std::mutex> hold(lock_);
      created_.push_back(walked);
    } else {
      sweep_temporaries(fd);
    }
    remember(walked, next);
    at = std::move(next);
  }
  return at;
}

bool InstallDirectory::place_of(const std::string& name, a_place& place, a_failure& failure, bool create) {
  if (!names_a_file(name)) {
    errno = EINVAL;
    return failure.set(kStepParent, "not a file name");
  }
  std::vector<std::string> elements = path_elements(name);
  place.base = elements.back();
  elements.pop_back();
  place.parent.clear();
  for (const std::string& e : elements) place.parent = join_path(place.parent, e);
  {
    std::lock_guard<std::mutex> hold(lock_);
    place.generation = generation_;
  }
  place.directory = directory(place.parent, create, failure);
  return place.directory != nullptr;
}

bool InstallDirectory::still_in_place(const a_place& place) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (place.generation == generation_) return true;
  }
  a_failure ignored;
  std::shared_ptr<const UniqueFd> now = directory(place.parent, false, ignored);
  return now && same_directory(now->get(), place.fd());
}

void InstallDirectory::forget_directories() {
  std::lock_guard<std::mutex> hold(lock_);
  cache_.clear();
  ++generation_;
}

std::string InstallDirectory::temporary_name() {
  uint64_t n;
  {
    std::lock_guard<std::mutex> hold(lock_);
    n = next_temporary_++;
  }
  return temporary_stem_ + std::to_string(n);
}

void InstallDirectory::sweep_temporaries(int fd) {
  const int listing = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  Unique<DIR, closedir> dir(fdopendir(listing));
  if (!dir) {
    ::close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const struct dirent* member = readdir(dir.get())) {
    if (maker_of(member->d_name) != 0) names.emplace_back(member->d_name);
  }
  remove_abandoned_temporaries(fd, names);
}

void remove_abandoned_temporaries(int directory, const std::vector<std::string>& names) {
  std::vector<const std::string*> abandoned;
  for (const std::string& name : names)
    if (is_abandoned_temporary(name.c_str())) abandoned.push_back(&name);
  // Another kestrel may be installing into this directory or one above it
  // (install directories nest), from a PID namespace where its number
  // means another process.
  if (abandoned.empty() || locked_at_or_above(directory)) return;
  for (const std::string* name : abandoned)
    if (unlinkat(directory, name->c_str(), 0) != 0 && errno == EISDIR) unlinkat(directory, name->c_str(), AT_REMOVEDIR);
}

void InstallDirectory::remove_empty_created_directories() {
  std::vector<std::string> created;
  {
    std::lock_guard<std::mutex> hold(lock_);
    created = created_;
  }
  // Longer paths first: a directory's members before the directory.
  std::sort(created.begin(), created.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& path : created) {
    const size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    a_failure ignored;
    std::shared_ptr<const UniqueFd> fd = directory(parent, false, ignored);
    if (fd) unlinkat(fd->get(), path.c_str() + (slash == std::string::npos ? 0 : slash + 1), AT_REMOVEDIR);
  }
}

bool InstallDirectory::sync(a_failure& failure) {
  return syncfs(root_->get()) == 0 || failure.set(kStepSync);
}

a_reach reach_directory(int root, const std::string& path, a_reached_directory& out, a_failure& failure) {
  UniqueFd at(openat(root, ".", kDirectoryFlags));
  if (!at.valid()) {
    failure.set(kStepParent);
    return a_reach::kFailed;
  }
  std::string walked;
  for (const std::string& name : path_elements(path)) {
    walked = join_path(walked, name);
    UniqueFd next(openat(at.get(), name.c_str(), kDirectoryFlags));
    if (!next.valid()) {
      const int error = errno;
      struct stat st;
      const bool there = fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      if (there && S_ISLNK(st.st_mode)) {
        out.link = walked;
        return a_reach::kThroughLink;
      }
      errno = error;
      if (error == ENOENT || (error == ENOTDIR && there)) return a_reach::kAbsent;
      failure.set(kStepParent);
      return a_reach::kFailed;
    }
    at = std::move(next);
  }
  out.directory = std::move(at);
  return a_reach::kReached;
}

a_reach reach_parent(int root, const std::string& name, a_reached_directory& out, a_failure& failure) {
  if (!names_a_file(name)) {
    errno = EINVAL;
    failure.set(kStepParent, "not a file name");
    return a_reach::kFailed;
  }
  const std::vector<std::string> elements = path_elements(name);
  std::string parent;
  for (size_t i = 0; i + 1 < elements.size(); ++i) parent = join_path(parent, elements[i]);
  out.base = elements.back();
  return reach_directory(root, parent, out, failure);
}

void add_parent_directories(const std::string& name, std::set<std::string>& out) {
  const std::vector<std::string> elements = path_elements(name);
  std::string walked;
  for (size_t i = 0; i + 1 < elements.size(); ++i) out.insert(walked = join_path(walked, elements[i]));
}

size_t remove_empty_directories(int root, const std::set<std::string>& paths) {
  // More elements first: a directory's members before the directory.
  std::vector<std::pair<size_t, const std::string*>> deepest_first;
  for (const std::string& path : paths) deepest_first.emplace_back(path_elements(path).size(), &path);
  std::stable_sort(deepest_first.begin(), deepest_first.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  size_t removed = 0;
  for (const auto& [depth, path] : deepest_first) {
    if (depth == 0) continue;  // the root itself
    a_reached_directory parent;
    a_failure ignored;
    if (reach_parent(root, *path, parent, ignored) != a_reach::kReached) continue;
    if (unlinkat(parent.directory.get(), parent.base.c_str(), AT_REMOVEDIR) == 0) ++removed;
  }
  return removed;
}
