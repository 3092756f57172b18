#include "install/backup_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd.h"

namespace {

// A relative path that does not lead out with "..": it names a directory
// inside the install directory.
bool inside_install_directory(const std::string& path) {
  if (path.empty() || path[0] == '/') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// Records a failure of |step|, keeping errno and the cause of |inner|.
bool fail_as(unsigned step, const a_failure& inner, a_failure& failure) {
  errno = inner.error;
  return failure.set(step, inner.cause);
}

}  // namespace

std::string backup_marker_text(const std::string& name) { return "created as " + name + "\n"; }

BackupTree::BackupTree(InstallDirectory& install, const std::string& path) : install_(install), path_(path) {}

bool BackupTree::open_root(unsigned step, a_failure& failure) {
  if (opened_) return true;
  a_failure inner;
  const bool ok = inside_install_directory(path_) ? tree_.open_below(install_, path_, inner)
                                                  : tree_.open(path_, true, inner, install_.descriptor());
  if (!ok) {
    errno = inner.error;
    return failure.set(step, "backup directory " + path_ + ": " + inner.text());
  }
  opened_ = true;
  return true;
}

bool BackupTree::back_up(const std::string& name, const a_place& place, bool directory_entry, a_failure& failure) {
  if (path_.size() + 1 + name.size() > kBackupPathLimit || backup_marker_text(name).size() > kBackupPathLimit) {
    errno = ENAMETOOLONG;
    return failure.set(kStepBackupMove, "backup path longer than 1023 bytes");
  }
  struct stat st;
  if (fstatat(place.fd(), place.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return failure.set(kStepBackupMove);
    return directory_entry || write_marker(name, failure);
  }
  if (S_ISDIR(st.st_mode) && directory_entry) return true;
  return move_existing(name, place, S_ISDIR(st.st_mode), failure);
}

bool BackupTree::write_marker(const std::string& name, a_failure& failure) {
  if (!open_root(kStepBackupMarker, failure)) return false;
  a_place marker;
  a_failure inner;
  if (!tree_.place_of(name, marker, inner)) return fail_as(kStepBackupMarker, inner, failure);
  const std::string temporary = tree_.temporary_name();
  const std::string text = backup_marker_text(name);
  UniqueFd fd(openat(marker.fd(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.valid()) return failure.set(kStepBackupMarker);
  const bool written = write_full(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (!written) failure.set(kStepBackupMarker);
  if (::close(fd.release()) != 0 && written) failure.set(kStepBackupMarker);
  if (!failure.failed() && renameat(marker.fd(), temporary.c_str(), marker.fd(), marker.base.c_str()) == 0) return true;
  failure.set(kStepBackupMarker);
  unlinkat(marker.fd(), temporary.c_str(), 0);
  return false;
}

bool BackupTree::move_existing(const std::string& name, const a_place& place, bool is_directory,
                               a_failure& failure) {
  if (!open_root(kStepBackupMove, failure)) return false;
  a_place kept;
  a_failure inner;
  if (!tree_.place_of(name, kept, inner)) return fail_as(kStepBackupMove, inner, failure);
  if (is_directory) {
    // A directory is moved as a whole; descriptors cached below it now lead
    // into the backup tree.
    if (renameat(place.fd(), place.base.c_str(), kept.fd(), kept.base.c_str()) != 0)
      return failure.set(kStepBackupMove);
    install_.forget_directories();
    tree_.forget_directories();
    return true;
  }
  // A second name first, so that the file's own path is never empty; where
  // the file system refuses links, the file is moved.
  const std::string temporary = tree_.temporary_name();
  if (linkat(place.fd(), place.base.c_str(), kept.fd(), temporary.c_str(), 0) != 0) {
    if (errno != EPERM && errno != EMLINK) return failure.set(kStepBackupMove);
    return renameat(place.fd(), place.base.c_str(), kept.fd(), kept.base.c_str()) == 0 ||
           failure.set(kStepBackupMove);
  }
  if (renameat(kept.fd(), temporary.c_str(), kept.fd(), kept.base.c_str()) == 0) return true;
  failure.set(kStepBackupMove);
  unlinkat(kept.fd(), temporary.c_str(), 0);
  return false;
}

bool BackupTree::sync(a_failure& failure) { return !opened_ || tree_.sync(failure); }
