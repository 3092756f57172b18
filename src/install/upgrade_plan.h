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
//
// The plan is made by walking the record, what lies below the install
// directory and the selection side by side, in byte-wise order of the
// paths, and is kept as a byte per file: a selected file's by its rank, a
// recorded file the selection leaves out by its place among those. Every
// use of it walks the record and the selection again, so nothing is held
// per path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/extraction.h"
#include "install/installed_files.h"
#include "install/record_files.h"
#include "install/side_by_side.h"

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
  // The plan of an upgrade of the installation whose recorded files are
  // |recorded|: they stay in use as long as the plan.
  explicit UpgradePlan(const a_record_files& recorded) : recorded_(recorded) {}

  // Plans the files |selection| selects from |set| and the recorded files
  // it leaves out, comparing each recorded file with what lies below the
  // directory |root| (|jobs| at once), and looking there for what stands at
  // paths the record does not know. Fails, naming the file, when a
  // recorded file the selection installs could not be read: nothing can be
  // said about it.
  Outcome plan(int root, unsigned jobs, Tic& set, const std::string& selection);

  // Hands |each| every path planned, in byte-wise order, with its plan and
  // whether it is recorded.
  struct a_step {
    const std::string* path = nullptr;
    a_planned_file planned;
    bool recorded = false;
  };
  Outcome walk(const std::function<void(const a_step&)>& each) const;

  // What extraction does with the selected file |ref|.
  a_file_decision decision(const a_stream_ref& ref) const;
  // The recorded files to take away, in byte-wise order: whether each is
  // still there, and was recorded as a directory.
  struct a_removal {
    std::string path;
    bool there = false;
    bool directory = false;
  };
  const std::vector<a_removal>& removals() const { return removals_; }

 private:
  void plan_selected(int root, const a_selected_path& selected, const a_recorded_file* recorded,
                     const an_installed_file* now);
  void plan_unselected(const std::string& path, const a_recorded_file& recorded, const an_installed_file& now);

  const a_record_files& recorded_;
  Tic* set_ = nullptr;
  std::string selection_;
  std::vector<uint8_t> selected_;    // by rank
  std::vector<uint8_t> unselected_;  // by place among the recorded files left out
  std::vector<a_removal> removals_;
  a_failure unreadable_;
};
