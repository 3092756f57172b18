#include "install/backed_up_removal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "install/extraction.h"

BackedUpRemoval::BackedUpRemoval() = default;
BackedUpRemoval::~BackedUpRemoval() = default;

bool BackedUpRemoval::open(int root, const std::string& backup_dir) {
  a_failure failure;
  if (!install_.open(".", false, failure, root)) {
    failure.publish(".");
    return false;
  }
  std::vector<a_reserved_path> reserved;
  return open_backup_tree(install_, backup_dir, reserved, backup_);
}

a_removal BackedUpRemoval::remove(const an_installed_file& file, a_failure& failure) {
  a_place place;
  // Nothing on the way is made, and no link is followed.
  if (!install_.place_of(file.name, place, failure, false)) {
    if (failure.error == ENOENT || failure.error == ENOTDIR) return a_removal::kGone;
    return a_removal::kFailed;
  }
  struct stat st;
  if (fstatat(place.fd(), place.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return a_removal::kGone;
    failure.set(kStepRemoveInstalled);
    return a_removal::kFailed;
  }
  if (st.st_dev != file.device || st.st_ino != file.inode || S_ISDIR(st.st_mode)) return a_removal::kReplaced;
  if (!backup_->back_up(file.name, place, false, failure)) return a_removal::kFailed;
  // Where the file system takes no second name the file was moved into the
  // tree: then it is gone already.
  if (unlinkat(place.fd(), place.base.c_str(), 0) == 0 || errno == ENOENT) return a_removal::kRemoved;
  failure.set(kStepRemoveInstalled);
  return a_removal::kFailed;
}

bool BackedUpRemoval::sync(a_failure& failure) { return backup_ == nullptr || backup_->sync(failure); }
