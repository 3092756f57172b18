// Taking an installation away (remove): each installed file that still
// matches what it was compared with (the archives or the record) is
// removed, then the directories that leaves empty; a changed file stays.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "install/installation.h"
#include "install/installed_files.h"

class RecordKeeping;

class Removal {
 public:
  // Removes below the install directory open as |root|.
  Removal(int root, InstallationEvents& events) : root_(root), events_(events) {}

  // Before the first file: the removal's journal is begun in |records|
  // (install/journal.h), when it is kept, and the directories that a
  // removal stopped before this one emptied are looked at again.
  void begin(RecordKeeping& records);

  // Deals with one compared file: removes it when it matches in type,
  // bytes and link target (its permission bits may have changed); a file
  // that does not, or cannot be removed, stays and is told. false for
  // such a file.
  bool take(const an_installed_file& file);

  // After the last file: removes the directories the removals left empty,
  // never the install directory itself; the files that are gone leave the
  // record in |records| (when it is kept), which goes with the last of them.
  void finish(RecordKeeping& records);

 private:
  int root_;
  InstallationEvents& events_;
  RecordKeeping* records_ = nullptr;
  // The directories that may be left empty by what was removed.
  std::set<std::string> may_be_empty_;
  // The files looked at: those no longer there leave the record.
  std::vector<std::string> handled_;
};
