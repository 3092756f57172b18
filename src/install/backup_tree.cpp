#include "install/backup_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd.h"

namespace {

// Records a failure of |step|, keeping errno and the cause of |inner|.
bool fail_as(const a_step& step, const a_failure& inner, a_failure& failure) {
  errno = inner.error;
  return failure.set(step, inner.cause);
}

}  // namespace

std::string backup_marker_text(const std::string& name) { return "created as " + name + "\n"; }

BackupTree::BackupTree(InstallDirectory& install, const std::string& path, bool inside, const std::string& relative)
    : install_(install), path_(path), inside_(inside), relative_(relative) {}

bool BackupTree::open_root(const a_step& step, a_failure& failure, bool create) {
  if (opened_) return true;
  a_failure inner;
  const bool ok = inside_ ? tree_.open_below(install_, relative_, inner, create)
                          : tree_.open(path_, create, inner, install_.descriptor());
  if (!ok) {
    if (!create && inner.error == ENOENT) return false;
    errno = inner.error;
    return failure.set(step, "backup directory " + path_ + ": " + inner.text());
  }
  opened_ = true;
  return true;
}

bool BackupTree::fits(const std::string& name, a_failure& failure) const {
  if (path_.size() + 1 + name.size() <= kBackupPathLimit && backup_marker_text(name).size() <= kBackupPathLimit)
    return true;
  errno = ENAMETOOLONG;
  return failure.set(kStepBackupMove, "backup path longer than 1023 bytes");
}

bool BackupTree::holds(const std::string& name, bool& held, a_failure& failure) {
  held = false;
  a_failure inner;
  if (!open_root(kStepBackupMove, inner, false)) {
    if (!inner.failed()) return true;  // no backup tree yet
    return fail_as(kStepBackupMove, inner, failure);
  }
  a_place kept;
  if (!tree_.place_of(name, kept, inner, false)) {
    // A file or link on the way is what stood at a directory of the path:
    // it stands for everything below it.
    if (inner.error == ENOTDIR || inner.error == ELOOP) held = true;
    return inner.error == ENOENT || held || fail_as(kStepBackupMove, inner, failure);
  }
  struct stat st;
  if (fstatat(kept.fd(), kept.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    held = true;
    return true;
  }
  return errno == ENOENT || failure.set(kStepBackupMove);
}

bool BackupTree::back_up(const std::string& name, const a_place& place, bool directory_entry, a_failure& failure) {
  if (!fits(name, failure)) return false;
  struct stat st;
  const bool present = fstatat(place.fd(), place.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!present && errno != ENOENT) return failure.set(kStepBackupMove);
  // Nothing to keep: a directory stays where it is, and none is recorded
  // for a directory entry.
  if (directory_entry && (!present || S_ISDIR(st.st_mode))) return true;
  // An earlier installation into this backup tree kept what stood here
  // before it: that, the oldest state, is what a restore puts back.
  bool held;
  if (!holds(name, held, failure)) return false;
  if (held) return true;
  return present ? move_existing(name, place, S_ISDIR(st.st_mode), failure) : write_marker(name, failure);
}

bool BackupTree::back_up_absent(const std::string& name, a_failure& failure) {
  if (!fits(name, failure)) return false;
  bool held;
  if (!holds(name, held, failure)) return false;
  return held || write_marker(name, failure);
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
