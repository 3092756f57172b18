// Taking an installation away (remove): each installed file that still
// matches what it was compared with (the archives or the record) is
// removed, then the directories that leaves empty; a changed file stays,
// unless the removal purges. With a backup tree every file is kept there
// before it goes (install/backed_up_removal.h).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "install/installation.h"
#include "install/installed_files.h"

class BackedUpRemoval;
class NameSpool;
class RecordKeeping;

class Removal {
 public:
  // Removes below the install directory open as |root|; with |purge|,
  // changed files too.
  Removal(int root, InstallationEvents& events, bool purge);
  ~Removal();

  // Before begin: every file goes into the backup tree |backup_dir|, which
  // is made the install directory's and keeps the record as |records| read
  // it (install/backup_binding.h). Fails, nothing removed, when the tree
  // cannot be used.
  Outcome keep_in(const std::string& backup_dir, const RecordKeeping& records);

  // Before the first file: the removal's journal is begun in |records|
  // (install/journal.h), naming the backup directory |backup_dir|, when it
  // is kept, and the directories that a removal stopped before this one
  // emptied are looked at again.
  void begin(RecordKeeping& records, const std::string& backup_dir);

  // Deals with one compared file: removes it when it matches in type,
  // bytes and link target (its permission bits may have changed), or the
  // removal purges; a changed file that stays is told (kept_changed). A
  // file that cannot be removed is noted: false.
  bool take(const an_installed_file& file);

  // After the last file: removes the directories the removals left empty,
  // never the install directory itself, and puts the backup tree on disk;
  // the files that are gone leave the record in |records| (when it is
  // kept), which goes with the last of them. Fails when the backup tree
  // could not be put on disk.
  Outcome finish(RecordKeeping& records);

  // How many changed files stayed.
  size_t kept() const { return kept_; }

 private:
  a_removal take_away(const an_installed_file& file, a_failure& failure);
  // Whether the file |name| is known to be gone: not one that stands
  // behind a symbolic link, or cannot be looked at.
  bool gone(const std::string& name) const;
  // Writes the record without the files of |gone| (paths, in the order the
  // files came).
  void save_without(RecordKeeping& records, NameSpool& gone) const;

  int root_;
  InstallationEvents& events_;
  bool purge_;
  std::unique_ptr<BackedUpRemoval> backup_;
  std::string backup_dir_;
  size_t kept_ = 0;
  RecordKeeping* records_ = nullptr;
  // The directories that may be left empty by what was removed.
  std::set<std::string> may_be_empty_;
  // The files looked at, in the order they came (name order): those no
  // longer there leave the record.
  std::unique_ptr<NameSpool> handled_;
};
