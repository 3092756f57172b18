#include "install/restore.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/fail_point.h"
#include "platform/unique.h"
#include "install/admin_path.h"
#include "install/backup_binding.h"
#include "install/backup_tree.h"
#include "tic/format/entry_name.h"

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool same_object(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_temporary(const std::string& name) {
  return name.compare(0, std::strlen(InstallDirectory::kTemporaryPrefix), InstallDirectory::kTemporaryPrefix) == 0;
}

// The names in |directory| but "." and "..", in byte-wise order.
bool members_of(int directory, std::vector<std::string>& out) {
  const int listing = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  Unique<DIR, closedir> dir(fdopendir(listing));
  if (!dir) {
    ::close(listing);
    return false;
  }
  errno = 0;
  while (const struct dirent* member = readdir(dir.get())) {
    if (std::strcmp(member->d_name, ".") != 0 && std::strcmp(member->d_name, "..") != 0)
      out.emplace_back(member->d_name);
    errno = 0;
  }
  if (errno != 0) return false;
  std::sort(out.begin(), out.end());
  return true;
}

// True when |base| in |directory| (described by |st|) is the marker of the
// path |name|: "created as NAME\n", NAME naming that path as install names
// it ("./a" and "a//b" are "a" and "a/b").
bool is_marker(int directory, const std::string& base, const std::string& name, const struct stat& st) {
  const std::string empty_marker = backup_marker_text("");
  if (!S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(empty_marker.size()) ||
      st.st_size > static_cast<off_t>(kBackupPathLimit))
    return false;
  UniqueFd fd(openat(directory, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return false;
  char text[kBackupPathLimit + 1];
  const ssize_t got = read_full(fd.get(), text, sizeof text);
  if (got != st.st_size) return false;
  // The marker's text is the empty one's with the name before its "\n".
  const size_t before = empty_marker.size() - 1;
  if (std::memcmp(text, empty_marker.data(), before) != 0 || text[got - 1] != '\n') return false;
  const std::string named(text + before, static_cast<size_t>(got) - empty_marker.size());
  return !named.empty() && path_elements(named) == path_elements(name);
}

// True when |found| holds for a non-directory anywhere below |base| in
// |directory| (named |name| in the backup tree), given the directory that
// holds it, its base name, its path and its status; or when that cannot be
// told (the tree is then restored member by member, which says what is
// wrong).
template <typename Found>
bool holds_any(int directory, const std::string& base, const std::string& name, const Found& found) {
  UniqueFd tree(openat(directory, base.c_str(), kDirectoryFlags));
  std::vector<std::string> members;
  if (!tree.valid() || !members_of(tree.get(), members)) return true;
  for (const std::string& member : members) {
    struct stat st;
    if (fstatat(tree.get(), member.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    const std::string path = join_path(name, member);
    if (S_ISDIR(st.st_mode) ? holds_any(tree.get(), member, path, found) : found(tree.get(), member, path, st))
      return true;
  }
  return false;
}

// True when a marker lies anywhere below |base| in |directory|.
bool holds_marker(int directory, const std::string& base, const std::string& name) {
  return holds_any(directory, base, name, is_marker);
}

// True when anything but directories lies below |base| in |directory|.
bool holds_object(int directory, const std::string& base) {
  return holds_any(directory, base, "", [](int, const std::string&, const std::string&, const struct stat&) {
    return true;
  });
}

// Removes the tree |base| in |directory|, which holds only directories.
bool remove_directories(int directory, const std::string& base) {
  {
    UniqueFd tree(openat(directory, base.c_str(), kDirectoryFlags));
    std::vector<std::string> members;
    if (!tree.valid() || !members_of(tree.get(), members)) return false;
    for (const std::string& member : members)
      if (!remove_directories(tree.get(), member)) return false;
  }
  return unlinkat(directory, base.c_str(), AT_REMOVEDIR) == 0;
}

// Removes the temporaries below |directory| that killed commands left,
// never following a symbolic link; a nested install directory's running
// kestrel keeps its own (remove_abandoned_temporaries).
void remove_temporaries(int directory) {
  std::vector<std::string> members;
  if (!members_of(directory, members)) return;
  remove_abandoned_temporaries(directory, members);
  for (const std::string& member : members) {
    if (is_temporary(member)) continue;
    struct stat st;
    if (fstatat(directory, member.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
    UniqueFd below(openat(directory, member.c_str(), kDirectoryFlags));
    if (below.valid()) remove_temporaries(below.get());
  }
}

bool refuse_link(const std::string& link, const char* what, a_failure& failure) {
  errno = ELOOP;
  return failure.set(kStepRestore, std::string(what) + " symbolic link " + link);
}

}  // namespace

BackupRestore::BackupRestore(InstallDirectory& install) : install_(install) {}

bool BackupRestore::open(const std::string& path, const std::string& directory, a_failure& failure) {
  path_ = path;
  // As install finds it: inside the install directory without following
  // links, outside as the system follows it.
  an_admin_path where;
  switch (locate_admin_path(install_.descriptor(), path, where, failure)) {
    case a_reach::kReached: break;
    case a_reach::kAbsent: return failure.set(kStepRestore);
    case a_reach::kThroughLink: return refuse_link(where.link, "refusing to follow", failure);
    case a_reach::kFailed: return false;
  }
  inside_ = where.inside;
  const char* base = where.base.empty() ? "." : where.base.c_str();
  root_.reset(openat(where.parent.get(), base, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (inside_ ? O_NOFOLLOW : 0)));
  if (!root_.valid()) {
    if (inside_ && (errno == ENOTDIR || errno == ELOOP)) {
      struct stat st;
      if (fstatat(where.parent.get(), base, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return refuse_link(where.relative, "refusing to follow", failure);
    }
    return failure.set(kStepRestore);
  }
  // Its objects would be moved onto themselves, or into themselves.
  if (holds_directory(root_.get(), install_.descriptor())) {
    errno = EINVAL;
    return failure.set(kStepRestore, "backup directory holds the install directory");
  }
  const Result<std::string> owner = backup_tree_owner(root_.get());
  if (!owner) {
    failure = owner.failure();
    return false;
  }
  if (!owner->empty() && owner.value() != directory) {
    errno = 0;
    return failure.set(kStepRestore, "backup directory belongs to " + owner.value());
  }
  return true;
}

Result<UniqueFd> BackupRestore::kept_record() const { return ::kept_record(root_.get()); }

std::string BackupRestore::kept_record_path() const { return join_path(path_, kept_record_name()); }

void BackupRestore::restore(std::vector<a_restore_failure>& failures) {
  // First what killed installs left half made, so that the directories that
  // held only that are found empty.
  remove_temporaries(install_.descriptor());
  if (!inside_) remove_temporaries(root_.get());
  restore_members(root_.get(), "", failures);
}

void BackupRestore::restore_members(int directory, const std::string& path,
                                    std::vector<a_restore_failure>& failures) {
  std::vector<std::string> members;
  if (!members_of(directory, members)) {
    a_failure failure;
    failure.set(kStepRestore);
    failures.emplace_back(path.empty() ? path_ : path, failure);
    return;
  }
  // What an install killed while it wrote into the backup tree left.
  remove_abandoned_temporaries(directory, members);
  for (const std::string& member : members) {
    // The tree's own files stand for no path of the install directory.
    if (path.empty() && member == kBackupOwnDirectory) continue;
    if (is_temporary(member)) continue;
    const std::string name = join_path(path, member);
    struct stat st;
    a_failure failure;
    if (fstatat(directory, member.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      failure.set(kStepRestore);
    } else if (S_ISDIR(st.st_mode)) {
      restore_directory(directory, member, name, failures);
    } else if (is_marker(directory, member, name, st)) {
      undo_creation(directory, member, name, failure);
    } else {
      move_back(directory, member, name, failure);
    }
    if (failure.failed()) failures.emplace_back(name, failure);
    FAIL_POINT("restored");
  }
}

void BackupRestore::restore_directory(int directory, const std::string& base, const std::string& name,
                                      std::vector<a_restore_failure>& failures) {
  a_failure failure;
  a_reached_directory at;
  struct stat st;
  bool holds_directory = false, holds_other = false;
  switch (reach_parent(install_.descriptor(), name, at, failure)) {
    case a_reach::kFailed: break;
    case a_reach::kThroughLink: refuse_link(at.link, "refusing to write through", failure); break;
    case a_reach::kAbsent: break;
    case a_reach::kReached:
      if (fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        (S_ISDIR(st.st_mode) ? holds_directory : holds_other) = true;
      else if (errno != ENOENT)
        failure.set(kStepRestore);
      break;
  }
  if (!failure.failed()) {
    // Markers below say it held files the installation created: it was
    // there, as a directory, all along.
    if (!holds_directory && !holds_marker(directory, base, name)) {
      if (holds_other) {
        move_back_over(directory, base, at, failure);
      } else if (!holds_object(directory, base)) {
        // Directories and nothing in them, where nothing stands now: what an
        // install killed while it made the directories of a marker left (an
        // empty directory it had moved away, killed before it put the new
        // file in its place, cannot be told from that and is not put back).
        if (!remove_directories(directory, base)) failure.set(kStepRestore);
      } else {
        move_back(directory, base, name, failure);
      }
    } else {
      UniqueFd tree(openat(directory, base.c_str(), kDirectoryFlags));
      if (!tree.valid()) {
        failure.set(kStepRestore);
      } else {
        restore_members(tree.get(), name, failures);
        // It stays when something in it could not be restored.
        unlinkat(directory, base.c_str(), AT_REMOVEDIR);
      }
    }
  }
  if (failure.failed()) failures.emplace_back(name, failure);
}

bool BackupRestore::undo_creation(int directory, const std::string& base, const std::string& name,
                                  a_failure& failure) {
  a_reached_directory at;
  switch (reach_parent(install_.descriptor(), name, at, failure)) {
    case a_reach::kFailed: return false;
    case a_reach::kThroughLink: return refuse_link(at.link, "refusing to write through", failure);
    case a_reach::kAbsent: break;
    case a_reach::kReached: {
      struct stat st;
      if (fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (unlinkat(at.directory.get(), at.base.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
            errno != ENOENT)
          return failure.set(kStepRestore);
      } else if (errno != ENOENT) {
        return failure.set(kStepRestore);
      }
      break;
    }
  }
  // Before the marker goes, so that a restore run again after an
  // interruption still finds which directories to look at.
  std::set<std::string> parents;
  add_parent_directories(name, parents);
  if (remove_empty_directories(install_.descriptor(), parents) > 0) install_.forget_directories();
  if (unlinkat(directory, base.c_str(), 0) != 0 && errno != ENOENT) return failure.set(kStepRestore);
  return true;
}

bool BackupRestore::move_back(int directory, const std::string& base, const std::string& name,
                              a_failure& failure) {
  a_place place;
  if (!install_.place_of(name, place, failure)) return false;
  // An install killed after it linked a file into the backup tree, before
  // it replaced it: the backup is the file in place, under a second name
  // (a rename between two names of one file would do nothing).
  struct stat kept, in_place;
  if (fstatat(directory, base.c_str(), &kept, AT_SYMLINK_NOFOLLOW) == 0 &&
      fstatat(place.fd(), place.base.c_str(), &in_place, AT_SYMLINK_NOFOLLOW) == 0 && same_object(kept, in_place))
    return unlinkat(directory, base.c_str(), 0) == 0 || failure.set(kStepRestore);
  if (renameat(directory, base.c_str(), place.fd(), place.base.c_str()) == 0) return true;
  // An empty directory in the way gives way, as it does to install.
  if ((errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST) &&
      unlinkat(place.fd(), place.base.c_str(), AT_REMOVEDIR) == 0 &&
      renameat(directory, base.c_str(), place.fd(), place.base.c_str()) == 0)
    return true;
  if (errno == ENOTEMPTY || errno == EEXIST) errno = EISDIR;
  return failure.set(kStepRestore);
}

bool BackupRestore::move_back_over(int directory, const std::string& base, a_reached_directory& at,
                                   a_failure& failure) {
  struct stat kept, in_place;
  if (fstatat(directory, base.c_str(), &kept, AT_SYMLINK_NOFOLLOW) != 0 || fstat(at.directory.get(), &in_place) != 0)
    return failure.set(kStepRestore);
  // Nothing may be taken away unless the directory can then be renamed in.
  if (kept.st_dev != in_place.st_dev) {
    errno = EXDEV;
    return failure.set(kStepRestore);
  }
  // A directory cannot take the place of a file in one rename: the object
  // the installation put there goes first. Interrupted in between, the path
  // holds nothing, and the next restore moves the directory back.
  if (unlinkat(at.directory.get(), at.base.c_str(), 0) != 0 && errno != ENOENT) return failure.set(kStepRestore);
  if (renameat(directory, base.c_str(), at.directory.get(), at.base.c_str()) != 0) return failure.set(kStepRestore);
  return true;
}

void BackupRestore::finish() {
  unbind_backup_tree(root_.get());
  // The backup directory goes when nothing is left in it.
  an_admin_path where;
  a_failure ignored;
  if (locate_admin_path(install_.descriptor(), path_, where, ignored) == a_reach::kReached && !where.base.empty())
    unlinkat(where.parent.get(), where.base.c_str(), AT_REMOVEDIR);
}
