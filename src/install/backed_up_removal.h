// Taking installed files away while keeping them in a backup tree
// (install/backup_tree.h), so that restore can put them back: the remove
// command with a backup directory.
//
// Each object is kept at its path below the backup directory (a second
// name first, so that it is never without one) and then unlinked from the
// install directory, reached without following symbolic links, as
// remove_installed_file (install/installed_files.h) takes it away. The
// backup tree keeps the oldest state: what an earlier install kept for a
// path stays, and a restore returns the directory to what it was before
// the first command that used the tree.
#pragma once

#include <memory>
#include <string>

#include "install/backup_tree.h"
#include "install/install_directory.h"
#include "install/installed_files.h"

class BackedUpRemoval {
 public:
  BackedUpRemoval();
  ~BackedUpRemoval();

  // Opens the install directory |root| and the backup tree |backup_dir|
  // (named relative to it, as install names it). false with the failure
  // recorded (ERROR, tic/error.h).
  bool open(int root, const std::string& backup_dir);

  // Removes the object of |file| (a file or a symbolic link, as it was
  // compared: the same device and inode) after keeping it in the backup
  // tree.
  a_removal remove(const an_installed_file& file, a_failure& failure);

  // Puts the backup tree on disk.
  bool sync(a_failure& failure);

 private:
  InstallDirectory install_;
  std::unique_ptr<BackupTree> backup_;
};
