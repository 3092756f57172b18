#include "install/removal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include "install/backed_up_removal.h"
#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/name_spool.h"
#include "install/record_keeping.h"
#include "platform/error_word.h"
#include "platform/fail_point.h"

namespace {

// What makes a file changed since it was installed, for remove: another
// type, other bytes, another link target (permission bits do not count).
constexpr unsigned kChanged = kDifferenceType | kDifferenceTarget | kDifferenceContent;

}  // namespace

Removal::Removal(int root, InstallationEvents& events, bool purge) : root_(root), events_(events), purge_(purge) {}

Removal::~Removal() = default;

Outcome Removal::keep_in(const std::string& backup_dir, const RecordKeeping& records) {
  auto backup = std::make_unique<BackedUpRemoval>();
  if (!backup->open(root_, backup_dir)) return recorded_failure(backup_dir);
  Outcome bound = backup->bind(canonical_current_directory(), records.before_text());
  if (!bound) {
    a_failure failure = bound.failure();
    failure.subject = backup_dir;
    return failure;
  }
  backup_ = std::move(backup);
  backup_dir_ = backup_dir;
  return Outcome();
}

void Removal::begin(RecordKeeping& records, const std::string& backup_dir) {
  records_ = &records;
  handled_ = std::make_unique<NameSpool>(records.store().directory());
  for (const std::string& name : records.taken_away()) add_parent_directories(name, may_be_empty_);
  if (!records.keeping()) return;
  a_recorded_install removal;
  removal.command = "remove";
  removal.when = record_time(static_cast<int64_t>(time(nullptr)));
  removal.kestrel = kKestrelRelease;
  records.begin_run(backup_dir, removal);
}

bool Removal::take(const an_installed_file& file) {
  if (file.problem.failed()) {
    a_failure problem = file.problem;
    problem.subject = file.name;
    events_.noted(problem);
    return false;
  }
  if (handled_) handled_->add(file.name);
  if (!file.link.empty()) {
    errno = ELOOP;
    events_.noted(failure_of(kStepRemoveInstalled, file.name, "refusing to remove through symbolic link " + file.link));
    return false;
  }
  if ((file.differences & kDifferenceMissing) != 0) return true;  // nothing to remove
  const bool changed = (file.differences & kChanged) != 0;
  if (changed && !purge_) {
    events_.kept_changed(file.name, false);
    ++kept_;
    return true;
  }
  if (S_ISDIR(file.mode) && !changed) {
    // A directory of the archive goes once it is empty, with the others.
    may_be_empty_.insert(file.name);
    add_parent_directories(file.name, may_be_empty_);
    return true;
  }
  if (records_ != nullptr) records_->journal().removing(file.name);
  a_failure failure;
  switch (take_away(file, failure)) {
    case a_removal::kRemoved:
      FAIL_POINT("removed");
      add_parent_directories(file.name, may_be_empty_);
      return true;
    case a_removal::kGone: return true;
    case a_removal::kReplaced:
      // Something else took its place since it was compared: a directory
      // even a purge leaves, or an object nobody compared.
      events_.kept_changed(file.name, false);
      ++kept_;
      return true;
    default: failure.subject = file.name; events_.noted(failure); return false;
  }
}

a_removal Removal::take_away(const an_installed_file& file, a_failure& failure) {
  return backup_ ? backup_->remove(file, failure) : remove_installed_file(root_, file, failure);
}

Outcome Removal::finish(RecordKeeping& records) {
  remove_empty_directories(root_, may_be_empty_);
  a_failure failure;
  if (backup_ && !backup_->sync(failure)) return (failure.subject = backup_dir_, failure);
  if (!records.keeping()) {
    records.end_run();
    return Outcome();
  }
  NameSpool taken(records.store().directory());
  std::string name;
  if (handled_) handled_->rewind();
  while (handled_ && handled_->next(name))
    if (gone(name)) taken.add(normalised_path(name));
  save_without(records, taken);
  return Outcome();
}

bool Removal::gone(const std::string& name) const {
  a_reached_directory at;
  a_failure ignored;
  struct stat st;
  switch (reach_parent(root_, name, at, ignored)) {
    case a_reach::kAbsent: return true;
    case a_reach::kReached:
      return fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    default: return false;
  }
}

// The record and the names gone are walked side by side when the names
// came in path order, as they do from the record and from tables whose
// names are their paths; otherwise each is taken out of the record first.
void Removal::save_without(RecordKeeping& records, NameSpool& gone) const {
  std::string name, previous;
  bool ordered = true;
  gone.rewind();
  for (size_t i = 0; ordered && gone.next(name); ++i) {
    ordered = i == 0 || previous < name;
    previous.swap(name);
  }
  gone.rewind();
  a_record_files& files = records.record().files;
  if (!ordered) {
    while (gone.next(name)) files.erase(name);
    records.save();
    return;
  }
  bool more = gone.next(name);
  records.save_files([&](const RecordKeeping::a_file_put& put) {
    return files.walk([&](const std::string& path, const a_recorded_file& file) {
      for (; more && name < path; more = gone.next(name)) {}
      if (!(more && name == path)) put(path, file);
      return true;
    });
  });
}
