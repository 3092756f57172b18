#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <set>

#include "cli/commands.h"
#include "display/message.h"
#include "cli/installed_comparison.h"
#include "cli/record_keeping.h"
#include "install/backed_up_removal.h"
#include "install/install_directory.h"

namespace {

void keep_changed(const std::string& name) { complain_as("kestrel", "remove: kept changed file " + printable(name)); }

// What makes a file changed since it was installed, for remove: another
// type, other bytes, another link target (permission bits do not count).
constexpr unsigned kChanged = kDifferenceType | kDifferenceTarget | kDifferenceContent;

}  // namespace

CommandRemove::~CommandRemove() = default;

// Removes the selected files that are still installed as the archives have
// them (type, bytes, link target; the permission bits may have changed),
// then the directories their removal leaves empty, never the install
// directory itself. A changed file stays and is named on standard error
// (status 1), unless --purge takes it too; a directory stays whatever it
// holds. A file that cannot be removed is named on standard error (status
// 255). Files already gone are passed over, so an interrupted removal can
// be run again. Every archive and every selected stream is checked before
// anything is removed. With -b, each file is kept in the backup tree before
// it goes, and the record as it was beside it, so that restore brings both
// back.
bool CommandRemove::handle_file(int root, const an_installed_file& file) {
  handled_.push_back(file.name);
  if (!backup_dir.empty() && !backup_tried_) {
    // Opened before the first file, so that a backup tree that cannot be
    // used stops the command before anything is removed.
    backup_tried_ = true;
    auto backup = std::make_unique<BackedUpRemoval>();
    if (backup->open(root, backup_dir))
      backup_ = std::move(backup);
    else
      complain_recorded("remove", backup_dir);
  }
  if (!file.link.empty()) {
    complain("remove", file.name, "refusing to remove through symbolic link " + file.link);
    return false;
  }
  if ((file.differences & kDifferenceMissing) != 0) return true;  // nothing to remove
  const bool changed = (file.differences & kChanged) != 0;
  if (changed && !purge) {
    keep_changed(file.name);
    answered_no_ = true;
    return true;
  }
  if (S_ISDIR(file.mode) && !changed) {
    // A directory of the archive goes once it is empty, with the others.
    may_be_empty_.insert(file.name);
    add_parent_directories(file.name, may_be_empty_);
    return true;
  }
  return take_away(root, file);
}

bool CommandRemove::take_away(int root, const an_installed_file& file) {
  a_failure failure;
  a_removal removal;
  if (backup_dir.empty()) {
    removal = remove_installed_file(root, file, failure);
  } else if (!backup_) {
    return false;  // the backup tree could not be opened: nothing goes
  } else {
    removal = backup_->remove(file, failure);
  }
  switch (removal) {
    case a_removal::kRemoved: add_parent_directories(file.name, may_be_empty_); return true;
    case a_removal::kGone: return true;
    case a_removal::kReplaced:
      // Something else took its place since it was compared: a directory
      // even --purge leaves, or an object nobody compared.
      keep_changed(file.name);
      answered_no_ = true;
      return true;
    default: complain("remove", file.name, failure.text()); return false;
  }
}

// Files that are gone leave the install directory's record; the record
// goes with the last of them. One that stands behind a symbolic link, or
// cannot be looked at, is not known to be gone and stays recorded.
bool CommandRemove::finish(int root) {
  remove_empty_directories(root, may_be_empty_);
  a_failure failure;
  if (backup_ && !backup_->sync(failure)) {
    complain("remove", backup_dir, failure.text());
    return false;
  }
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
  records_->keep_before(backup_dir);
  records_->save();
  return true;
}
