// The backup tree of an installation.
//
// Before extraction puts a file in place, whatever stood at its path is kept
// at the same relative path below the backup directory: an existing object
// is moved there (a file is first linked there, so that its path never stands
// empty), and for a path that held nothing a marker file is written there
// holding "created as NAME\n", so that the installation can be undone. A
// directory entry leaves an existing directory where it is and writes no
// marker.
//
// The tree keeps the oldest state: what an earlier installation (finished,
// failed or killed) kept for a path is never replaced, so however many
// installations ran with one backup directory, a restore returns the install
// directory to what it was before the first.
//
// The backup directory is named relative to the install directory. Inside
// the install directory (by any spelling: install/admin_path.h) it is reached
// under the same rules as the files (no symbolic links on the way), and
// extraction keeps every archive out of it; a path outside it is the
// administrator's choice and is followed. It is created
// when the first object is backed up. A backup path or marker text longer
// than 1023 bytes fails that file rather than being cut, so that no two
// backups share a path.
#pragma once

#include <string>

#include "install/install_directory.h"

class BackupTree {
 public:
  // |path| as the administrator named it; |inside| and |relative| say where
  // it lies (locate_admin_path).
  BackupTree(InstallDirectory& install, const std::string& path, bool inside, const std::string& relative);

  // Backs up what stands at |place| in the install directory before |name|
  // (a file, symbolic link or, with |directory_entry|, a directory) is put
  // there, unless the tree already holds a backup for |name|. false on
  // failure (kStepBackupMove or kStepBackupMarker).
  bool back_up(const std::string& name, const a_place& place, bool directory_entry, a_failure& failure);

  // Records that nothing stands at |name|, whose directory does not exist
  // yet either, before extraction makes the directory and the file: a marker,
  // unless the tree already holds a backup for |name|.
  bool back_up_absent(const std::string& name, a_failure& failure);

  // Flushes the backup tree to disk, when it was opened.
  bool sync(a_failure& failure);

 private:
  // Opens the backup directory, without |create| only when it exists: then
  // false with |failure| untouched when it does not.
  bool open_root(const a_step& step, a_failure& failure, bool create = true);
  // Whether the tree holds a backup for |name|: an object at its path, or a
  // non-directory on the way that stood where a directory of it stands now.
  bool holds(const std::string& name, bool& held, a_failure& failure);
  bool fits(const std::string& name, a_failure& failure) const;
  bool write_marker(const std::string& name, a_failure& failure);
  bool move_existing(const std::string& name, const a_place& place, bool is_directory, a_failure& failure);

  InstallDirectory& install_;
  std::string path_;
  bool inside_;
  std::string relative_;
  InstallDirectory tree_;
  bool opened_ = false;
};

// The marker text for |name|.
std::string backup_marker_text(const std::string& name);

// The longest backup path and marker text that are kept whole.
constexpr size_t kBackupPathLimit = 1023;
