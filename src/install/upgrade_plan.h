// What an upgrade does with each file: the new set of archives against the
// install directory's record and what lies there now.
//
// For each file the new selection installs (by its normalised path):
//   same          recorded, unchanged since, and the new entry has the
//                 recorded MAC: not rewritten, not even decoded;
//   replace       recorded, unchanged since, with another MAC: written;
//   add           not there (recorded and deleted since, or new): written;
//   keep-changed  recorded and changed since (another type, other bytes or
//                 another link target; permission bits alone do not count),
//                 or not recorded and something other than a directory
//                 stands there: kept; when the new entry differs from the
//                 recorded one (or nothing was recorded) the new version is
//                 written beside it, at <path>.kestrel-new.
// For each recorded file the new selection no longer installs:
//   remove        taken away (kept in the backup tree when there is one),
//                 with the directories that leaves empty;
//   keep-changed  changed since it was recorded: kept.
// The plan only reads; extraction carries it out (install/extraction.h).
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "install/extraction.h"
#include "install/install_record.h"
#include "install/installed_files.h"

struct a_stream_ref;
class Tic;

enum class an_upgrade_action { kAdd, kReplace, kSame, kKeepChanged, kRemove };

// "add", "replace", "same", "keep-changed", "remove".
const char* upgrade_action_word(an_upgrade_action action);

struct a_planned_file {
  an_upgrade_action action = an_upgrade_action::kAdd;
  bool selected = false;  // the new selection installs it
  bool beside = false;    // keep-changed: the new version goes to <path>.kestrel-new
};

// Checks the option text |selection| against the set: every name must be
// an option of the set, and the text must select some file. The failure
// names the text ("-o" when empty) and the set's options.
Outcome check_selection(Tic& set, const std::string& selection);

class UpgradePlan {
 public:
  // |installed| is what compare_recorded_files found of |record|'s files.
  UpgradePlan(const std::map<std::string, a_recorded_file>& record, const std::vector<an_installed_file>& installed);

  // Plans the files |refs| selects and the recorded files it leaves out,
  // looking below the directory |root| for what stands at paths the record
  // does not know. Fails, naming the file, when a recorded file could not
  // be read: nothing can be said about it.
  Outcome plan(int root, const std::vector<a_stream_ref>& refs);

  // Every path planned, in byte-wise order.
  const std::map<std::string, a_planned_file>& files() const { return files_; }

  // What extraction does with the selected file at |path|.
  a_file_decision decision(const std::string& path) const;
  // The recorded files to take away.
  std::vector<std::string> removals() const;

  // |record| after the upgrade: |committed| holds what extraction put in
  // place, by the path it was written at. A complete upgrade leaves exactly
  // the new selection's files in the record, earlier installs replaced; an
  // upgrade that stopped keeps the record and adds what it committed.
  void apply(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
             bool complete) const;

 private:
  const std::map<std::string, a_recorded_file>& record_;
  std::unordered_map<std::string, const an_installed_file*> installed_;
  std::map<std::string, a_planned_file> files_;
};
