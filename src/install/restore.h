// Undoing an installation from its backup tree (install/backup_tree.h).
//
// Each object of the backup tree stands for the path of the install
// directory with the same relative path:
//   a marker, a regular file holding exactly "created as NAME\n" where NAME
//     is its own relative path: the installation created NAME, which is
//     removed (whatever it now holds);
//   any other file, symbolic link or other non-directory: the object the
//     installation replaced, moved back over what is there now;
//   a directory whose path in the install directory holds a directory: the
//     backups of objects below it, restored one by one;
//   a directory whose path holds a file, a link or nothing, and below
//     which no marker lies: a directory the installation replaced as a
//     whole, moved back as a whole; but one that holds only directories,
//     where nothing stands now, is what an install killed while it made the
//     directories of a marker left, and is removed.
// A file whose content happens to be exactly its own marker text cannot be
// told from a marker: it is taken for one.
//
// Every object leaves the backup tree in the same step that puts it back
// (one rename), or right after the object it stands for is removed, so a
// restore that is interrupted is finished by running it again. Run under
// the install directory's lock, it first removes every temporary below the
// install directory and in the backup tree (what killed commands left), and
// a backup that is a second name of the very file in place (an install
// killed between keeping it and replacing it) is dropped: after an install
// killed at any point the tree is exactly as it was. The backup
// tree does not say which directories the installation made: a directory
// of the install directory that is left empty once the files created in it
// are removed goes too (the install directory itself never does).
// Directories of the backup tree go once restored; the backup directory
// itself with them.
//
// The install directory is reached as install reaches it (no symbolic link
// on the way); so is a backup directory inside it. The backup tree is walked
// without following links: a link in it is an object to put back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/fd.h"
#include "install/install_steps.h"
#include "install/install_directory.h"

// One object that could not be restored: its relative path, and why.
using a_restore_failure = std::pair<std::string, a_failure>;

class BackupRestore {
 public:
  explicit BackupRestore(InstallDirectory& install);

  // Opens the backup directory |path|, named relative to the install
  // directory and found as install finds it (install/admin_path.h). It must
  // exist, must not be the install directory or lie above it, and must not
  // have been made for another install directory than |directory| (its
  // canonical path). false with |failure| set.
  bool open(const std::string& path, const std::string& directory, a_failure& failure);

  // Restores every object of the backup tree; those that cannot be restored
  // stay in it and are added to |failures|, in path order.
  void restore(std::vector<a_restore_failure>& failures);

  // The record kept in the tree for the restore (install/backup_binding.h):
  // no value and no failure when none is kept.
  Result<UniqueFd> kept_record() const;
  // Where it lies, as the backup directory was named.
  std::string kept_record_path() const;

  // Removes the tree's own files, then the backup directory when it is
  // empty.
  void finish();

 private:
  void restore_members(int directory, const std::string& path, std::vector<a_restore_failure>& failures);
  void restore_directory(int directory, const std::string& base, const std::string& name,
                         std::vector<a_restore_failure>& failures);
  bool undo_creation(int directory, const std::string& base, const std::string& name, a_failure& failure);
  bool move_back(int directory, const std::string& base, const std::string& name, a_failure& failure);
  bool move_back_over(int directory, const std::string& base, a_reached_directory& at, a_failure& failure);

  InstallDirectory& install_;
  std::string path_;
  bool inside_ = false;  // the backup directory lies inside the install directory
  UniqueFd root_;
};
