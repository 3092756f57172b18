#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <set>

#include "cli/commands.h"
#include "display/message.h"
#include "cli/installed_comparison.h"
#include "cli/record_keeping.h"
#include "install/install_directory.h"

namespace {

void keep_changed(const std::string& name) { complain_as("kestrel", "remove: kept changed file " + printable(name)); }

}  // namespace

// Removes the selected files that are still installed as the archives have
// them (type, bytes, link target; the permission bits may have changed),
// then the directories their removal leaves empty, never the install
// directory itself. A file that was changed, or cannot be removed, stays
// and is named on standard error, and the status is then 255. Files already
// gone are passed over, so an interrupted removal can be run again. Every
// archive and every selected stream is checked before anything is removed.
bool CommandRemove::handle_file(int root, const an_installed_file& file) {
  handled_.push_back(file.name);
  if (!file.link.empty()) {
    complain("remove", file.name, "refusing to remove through symbolic link " + file.link);
    return false;
  }
  if ((file.differences & kDifferenceMissing) != 0) return true;  // nothing to remove
  if ((file.differences & (kDifferenceType | kDifferenceTarget | kDifferenceContent)) != 0) {
    keep_changed(file.name);
    return false;
  }
  if (S_ISDIR(file.mode)) {
    // A directory of the archive goes once it is empty, with the others.
    may_be_empty_.insert(file.name);
    add_parent_directories(file.name, may_be_empty_);
    return true;
  }
  a_failure failure;
  switch (remove_installed_file(root, file, failure)) {
    case a_removal::kRemoved: add_parent_directories(file.name, may_be_empty_); return true;
    case a_removal::kGone: return true;
    case a_removal::kReplaced: keep_changed(file.name); return false;
    default: complain("remove", file.name, failure.text()); return false;
  }
}

// Files that are gone leave the install directory's record; the record
// goes with the last of them. One that stands behind a symbolic link, or
// cannot be looked at, is not known to be gone and stays recorded.
bool CommandRemove::finish(int root) {
  remove_empty_directories(root, may_be_empty_);
  if (records_ == nullptr || !records_->keeping()) return true;
  for (const std::string& name : handled_) {
    a_reached_directory at;
    a_failure ignored;
    struct stat st;
    bool gone = false;
    switch (reach_parent(root, name, at, ignored)) {
      case a_reach::kAbsent: gone = true; break;
      case a_reach::kReached:
        gone = fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
        break;
      default: break;
    }
    if (gone) records_->record().files.erase(normalised_path(name));
  }
  records_->save();
  return true;
}
