#include "install/removal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/record_keeping.h"
#include "platform/fail_point.h"

void Removal::begin(RecordKeeping& records) {
  records_ = &records;
  for (const std::string& name : records.taken_away()) add_parent_directories(name, may_be_empty_);
  if (!records.keeping()) return;
  a_recorded_install removal;
  removal.command = "remove";
  removal.when = record_time(static_cast<int64_t>(time(nullptr)));
  removal.kestrel = kKestrelRelease;
  records.begin_run("", removal);
}

bool Removal::take(const an_installed_file& file) {
  if (file.problem.failed()) {
    a_failure problem = file.problem;
    problem.subject = file.name;
    events_.noted(problem);
    return false;
  }
  handled_.push_back(file.name);
  if (!file.link.empty()) {
    errno = ELOOP;
    events_.noted(failure_of(kStepRemoveInstalled, file.name, "refusing to remove through symbolic link " + file.link));
    return false;
  }
  if ((file.differences & kDifferenceMissing) != 0) return true;  // nothing to remove
  if ((file.differences & (kDifferenceType | kDifferenceTarget | kDifferenceContent)) != 0) {
    events_.kept_changed(file.name, false);
    return false;
  }
  if (S_ISDIR(file.mode)) {
    // A directory of the archive goes once it is empty, with the others.
    may_be_empty_.insert(file.name);
    add_parent_directories(file.name, may_be_empty_);
    return true;
  }
  if (records_ != nullptr) records_->journal().removing(file.name);
  a_failure failure;
  switch (remove_installed_file(root_, file, failure)) {
    case a_removal::kRemoved:
      FAIL_POINT("removed");
      add_parent_directories(file.name, may_be_empty_);
      return true;
    case a_removal::kGone: return true;
    case a_removal::kReplaced: events_.kept_changed(file.name, false); return false;
    default: failure.subject = file.name; events_.noted(failure); return false;
  }
}

void Removal::finish(RecordKeeping& records) {
  remove_empty_directories(root_, may_be_empty_);
  if (!records.keeping()) return records.end_run();
  // One that stands behind a symbolic link, or cannot be looked at, is not
  // known to be gone and stays recorded.
  for (const std::string& name : handled_) {
    a_reached_directory at;
    a_failure ignored;
    struct stat st;
    bool gone = false;
    switch (reach_parent(root_, name, at, ignored)) {
      case a_reach::kAbsent: gone = true; break;
      case a_reach::kReached:
        gone = fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
        break;
      default: break;
    }
    if (gone) records.record().files.erase(normalised_path(name));
  }
  records.save();
}
