#include "install/installation.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "crypto/archive_key.h"
#include "install/backup_binding.h"
#include "install/extraction.h"
#include "install/install_directory.h"
#include "install/install_lock.h"
#include "install/install_run.h"
#include "install/install_steps.h"
#include "install/installing_set.h"
#include "install/record_keeping.h"
#include "install/recorded_files.h"
#include "install/removal.h"
#include "install/restore.h"
#include "platform/error_word.h"
#include "tic/archive/multi_tic.h"

struct Installation::a_run {
  a_run(const char* command, InstallationEvents& events, bool changes)
      : records(command, [&events](const a_failure& failure) { events.noted(failure); }, changes) {}

  UniqueFd root;
  InstallLock lock;
  RecordKeeping records;
};

Installation::Installation(const char* command, InstallationEvents& events, bool changes)
    : events_(events), run_(std::make_unique<a_run>(command, events, changes)) {}

Installation::~Installation() = default;

// Every archive valid, and passing |check|, before anything is read from
// the set.
Outcome Installation::check_archives(MultiTic& set, ArchiveCheck& check) {
  if (Outcome valid = validate_archives(set, where_); !valid) return valid;
  if (Outcome started = check.start(set); !started) return started;
  return check.finish();
}

Outcome Installation::fail(const a_failure& failure) {
  events_.failed(failure);
  return failure;
}

Outcome Installation::enter(const std::string& directory, bool lock) {
  if (!directory.empty()) where_ = directory;
  if (!directory.empty() && chdir(directory.c_str()) != 0) return fail(failure_of(kStepEnter, directory));
  run_->root.reset(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!run_->root.valid()) return fail(failure_of(kStepEnter, where_));
  if (!lock) return Outcome();
  a_failure failure;
  if (run_->lock.acquire(
          run_->root.get(), [this](const std::string& holder) { events_.waiting(holder); }, failure))
    return Outcome();
  errno = failure.error;
  return fail(failure_of(kStepLock, where_, "cannot lock the install directory: " + std::string(strerror(errno))));
}

Outcome Installation::install(const an_install_request& request, ArchiveCheck& check) {
  return InstallRun(events_, run_->records, run_->root.get(), where_, jobs_, request, false).run(check);
}

Outcome Installation::upgrade(const an_install_request& request, ArchiveCheck& check) {
  return InstallRun(events_, run_->records, run_->root.get(), where_, jobs_, request, true).run(check);
}

// The plan, without taking the lock or writing anything.
Outcome Installation::with_plan(const an_install_request& request, ArchiveCheck& check,
                                const std::function<Outcome(InstallRun&, Tic&)>& planned) {
  InstallRun run(events_, run_->records, run_->root.get(), where_, jobs_, request, true);
  if (Outcome opened = run.open_record(false); !opened) return fail(opened.failure());
  const ArchiveKey key;
  InstallLog none;
  InstallingSet set(request.archives, key.bytes(), key.length(), events_, none);
  if (Outcome checked = check_archives(set, check); !checked) return fail(checked.failure());
  TicExtraction extraction(set, run_->root.get(), jobs_);
  if (Outcome made = run.plan(set, extraction); !made) return fail(made.failure());
  if (Outcome walked = planned(run, set); !walked) return fail(walked.failure());
  return Outcome();
}

// In byte-wise order of the paths.
Outcome Installation::plan_upgrade(const an_install_request& request, ArchiveCheck& check, const a_plan_line& each) {
  return with_plan(request, check, [&each](InstallRun& run, Tic&) {
    return run.upgrade_plan().walk([&each](const UpgradePlan::a_step& step) { each(*step.path, step.planned.action); });
  });
}

Outcome Installation::plan_document(const an_install_request& request, ArchiveCheck& check,
                                    const std::function<void(const std::string&)>& put) {
  return with_plan(request, check, [&put](InstallRun& run, Tic& set) { return run.plan_document(set, put); });
}

Outcome Installation::compare(const an_install_request& request, ArchiveCheck& check, const an_installed_line& each) {
  if (request.from_record()) {
    using a_use = RecordKeeping::a_journal_use;
    const a_use use = run_->lock.held() ? a_use::kRecover : a_use::kCheck;
    if (Outcome opened = run_->records.open_existing(use, run_->root.get(), jobs_); !opened)
      return fail(opened.failure());
    // The record is walked as it is read: each file handed out once
    // compared, a batch at a time.
    const Outcome walked = compare_recorded_files(run_->records.record().files, run_->root.get(), jobs_,
                                                  [&each](const an_installed_file& file, const a_recorded_file&) { each(file); });
    if (!walked) return fail(walked.failure().about(run_->records.store().record_path(run_->records.directory())));
    return Outcome();
  }
  const ArchiveKey key;
  MultiTic set(request.archives, false, key.bytes(), key.length());
  if (Outcome checked = check_archives(set, check); !checked) return fail(checked.failure());
  if (compare_installed_files(set, request.options, run_->root.get(), key.bytes(), key.length(), jobs_,
                              run_->records.store().directory(), each) != 0)
    return fail(recorded_failure(where_));
  return Outcome();
}

// Every archive and every selected stream is checked before anything is
// removed. Files already gone are passed over, so an interrupted removal
// can be run again.
Result<size_t> Installation::remove(const an_install_request& request, ArchiveCheck& check) {
  Removal removal(run_->root.get(), events_, request.purge);
  bool good = true;
  bool begun = false;
  // Files are handed out once all are compared: the record is read, the
  // backup tree opened and the removal begun before the first goes. A
  // refused record, or a backup tree that cannot be used, changes nothing.
  Outcome ready;
  auto begin = [&] {
    if (begun) return;
    begun = true;
    if (!request.from_record()) ready = run_->records.open_if_recorded(run_->root.get(), jobs_);
    if (ready && !request.backup_dir.empty()) ready = removal.keep_in(request.backup_dir, run_->records);
    if (ready) removal.begin(run_->records, request.backup_dir);
  };
  Outcome compared = compare(request, check, [&](const an_installed_file& file) {
    begin();
    if (!ready || !removal.take(file)) good = false;
  });
  if (!compared) return compared.failure();
  begin();
  if (!ready) return fail(ready.failure()).failure();
  if (Outcome finished = removal.finish(run_->records); !finished) return fail(finished.failure()).failure();
  errno = 0;
  if (!good) return failure_of(kStepRemoveInstalled, where_);
  return removal.kept();
}

// An object that cannot be restored stays in the backup tree and is noted;
// the others are restored all the same. Once every object is restored, the
// record returns to what it was before the first install or upgrade into
// this backup directory.
Outcome Installation::restore(const std::string& backup_dir) {
  // A run that did not end is taken into the record first: the record then
  // tells what the tree holds, whatever restore goes back to. The record,
  // the state directory and the record to return to must be kestrel's own
  // before anything is looked at or restored.
  if (Outcome opened = run_->records.open_for_change(run_->root.get(), jobs_); !opened) return fail(opened.failure());
  InstallDirectory install;
  a_failure failure;
  if (!install.open(".", false, failure, run_->root.get())) return fail((failure.subject = where_, failure));
  BackupRestore restore(install);
  const std::string canonical = canonical_current_directory();
  if (!restore.open(backup_dir, canonical, failure)) return fail((failure.subject = backup_dir, failure));
  if (Outcome kept = put_record_back(restore, canonical, false); !kept) return fail(kept.failure());
  std::vector<a_restore_failure> failures;
  restore.restore(failures);
  for (a_restore_failure& f : failures) events_.noted((f.second.subject = f.first, f.second));
  if (!failures.empty()) return failures.back().second;
  if (Outcome put_back = put_record_back(restore, canonical, true); !put_back) return fail(put_back.failure());
  // The backup directory goes last: a restore stopped before then finds it,
  // and puts the record back again.
  restore.finish();
  return Outcome();
}

Outcome Installation::put_record_back(const BackupRestore& restore, const std::string& directory, bool apply) {
  Result<UniqueFd> kept = restore.kept_record();
  Outcome put_back = kept ? run_->records.store().put_back(directory, std::move(kept.value()), apply)
                          : (kept.failure().failed() ? Outcome(kept.failure()) : Outcome());
  if (put_back) return put_back;
  a_failure failure = put_back.failure();
  failure.subject = restore.kept_record_path();
  if (apply) failure.cause = "record not restored: " + failure.text();
  return failure;
}
Result<an_install_record> Installation::record() {
  using a_use = RecordKeeping::a_journal_use;
  if (Outcome opened = run_->records.open_existing(a_use::kShow, run_->root.get(), jobs_); !opened)
    return fail(opened.failure()).failure();
  return run_->records.record();
}

std::string current_install_directory() { return canonical_current_directory(); }

bool nothing_recorded(const a_failure& failure) { return failure.step == kStepNothingRecorded; }
