// The installation in one install directory, as kestrel's commands change
// and read it: install, upgrade, remove and restore are planned and applied
// here (the checks before anything is written, extraction, the backup
// tree, the log, the record), and verify and status read it. The commands
// parse their switches, call it and print what it tells them.
//
//   Installation installation("install", events);
//   if (!installation.enter(directory, true)) ...
//   installation.install(request, checks);
//
// Every failure that ends an operation is told to the events (failed) at
// the moment it ends it, in the order the command prints its lines, and is
// returned.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install/install_record.h"
#include "install/installed_files.h"
#include "install/upgrade_plan.h"
#include "platform/json.h"
#include "platform/failure.h"

class BackupRestore;
class InstallRun;
class MultiTic;
class Tic;

// What an installation tells the command that runs it, as it goes.
class InstallationEvents {
 public:
  virtual ~InstallationEvents() = default;
  // Another process holds the install directory's lock: |holder| says who
  // (install/install_lock.h). Told once; the installation waits.
  virtual void waiting(const std::string& holder) = 0;
  // A failure that ends the operation, told once, when it ends it.
  virtual void failed(const a_failure& failure) = 0;
  // One that does not: the record could not be kept, one file could not be
  // read, removed or restored while the others were. Whether the operation
  // then fails is what it returns.
  virtual void noted(const a_failure& failure) = 0;
  // Before the first file is put in place: the bytes the files hold.
  virtual void begin(unsigned long long total) = 0;
  // One file about to be put in place (as the archives name it).
  virtual void file(const std::string& name, unsigned long long size) = 0;
  // The last file is put in place, or the extraction stopped.
  virtual void end() = 0;
  // A changed file kept (upgrade, remove); with |beside| the new version
  // went to <path>.kestrel-new.
  virtual void kept_changed(const std::string& path, bool beside) = 0;
};

// A check of the archives that runs beside the decoding (their
// signatures): nothing is put in place before it has passed.
class ArchiveCheck {
 public:
  virtual ~ArchiveCheck() = default;
  // |archives| is open, every table loaded, before anything is written.
  virtual Outcome start(Tic& archives) = 0;
  // Waits for the check; may be called any number of times.
  virtual Outcome finish() = 0;
};

// What a writing command was asked to do.
struct an_install_request {
  std::vector<std::string> archives;
  // The option text as typed; an upgrade without one installs the recorded
  // option text.
  std::string options;
  // -b and -l, named relative to the install directory; empty for none.
  std::string backup_dir;
  std::string log_file;
  // remove: files changed since they were recorded go too (into the backup
  // tree, with a backup directory), where they are otherwise kept.
  bool purge = false;
  // Without archives, verify and remove work from the record.
  bool from_record() const { return archives.empty(); }
};

// One file of a dry run's plan.
using a_plan_line = std::function<void(const std::string& path, an_upgrade_action action)>;
// One installed file compared with the archives or the record.
using an_installed_line = std::function<void(const an_installed_file& file)>;

class Installation {
 public:
  // |command| names the command in the record and in the lock's notes;
  // |changes|: the command changes the installation (a command that only
  // reads is warned of a record others may have written, not refused).
  // Asks for the state directory now, before anything changes directory.
  Installation(const char* command, InstallationEvents& events, bool changes = true);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // Changes into |directory| (when not empty), so that relative archive,
  // log and backup names are resolved inside it, opens it and, with |lock|
  // (a command that changes it), takes its lock.
  Outcome enter(const std::string& directory, bool lock);
  // The install directory as named ("." when none was).
  const std::string& where() const { return where_; }
  // How many files are decoded or compared at once (KESTREL_JOBS).
  void set_jobs(unsigned jobs) { jobs_ = jobs < 1 ? 1 : jobs; }

  // Installs the files |request| selects; an upgrade installs them over
  // the recorded installation by its plan (install/upgrade_plan.h).
  Outcome install(const an_install_request& request, ArchiveCheck& check);
  Outcome upgrade(const an_install_request& request, ArchiveCheck& check);
  // The plan of that upgrade, one path at a time in byte-wise order;
  // writes nothing and takes no lock.
  Outcome plan_upgrade(const an_install_request& request, ArchiveCheck& check, const a_plan_line& each);
  // The same plan as one document (install/plan_document.h), handed to
  // |put| in pieces as the plan is walked.
  Outcome plan_document(const an_install_request& request, ArchiveCheck& check,
                        const std::function<void(const std::string&)>& put);

  // Compares the installed files with the archives of |request| (each
  // selected file), or with the record when it names none; hands each to
  // |each| in name order once all are compared, a file that could not be
  // read with its problem.
  Outcome compare(const an_install_request& request, ArchiveCheck& check, const an_installed_line& each);
  // Removes the installed files that still match, then the directories
  // that leaves empty; files that do not are kept and told (kept_changed),
  // or taken too with the request's purge. A file that cannot be removed
  // is noted, and the removal then fails once the others are done. With a
  // backup directory each file is kept in its tree before it goes, and the
  // record as it was, so that restore brings both back. The record loses
  // what is gone. Returns how many changed files were kept.
  Result<size_t> remove(const an_install_request& request, ArchiveCheck& check);
  // Undoes the installs and upgrades into the backup tree |backup_dir|
  // (install/restore.h), and returns the record to what it was before the
  // first of them.
  Outcome restore(const std::string& backup_dir);

  // The record of the install directory, for status.
  Result<an_install_record> record();

 private:
  struct a_run;
  Outcome fail(const a_failure& failure);
  // Reads the record and plans the upgrade of |request| without writing
  // anything, then hands the run and the set to |planned|.
  Outcome with_plan(const an_install_request& request, ArchiveCheck& check,
                    const std::function<Outcome(InstallRun&, Tic&)>& planned);
  Outcome check_archives(MultiTic& set, ArchiveCheck& check);
  // After a restore: the record kept in the backup tree put back; without
  // |apply| only checked, before anything is restored.
  Outcome put_record_back(const BackupRestore& restore, const std::string& directory, bool apply);

  InstallationEvents& events_;
  std::string where_ = ".";
  unsigned jobs_ = 1;
  std::unique_ptr<a_run> run_;
};

// The canonical path of the current directory, or empty.
std::string current_install_directory();

// A command that works from the record failed because nothing is recorded
// for the install directory: its answer is "no" (status 1), not "could not".
bool nothing_recorded(const a_failure& failure);
