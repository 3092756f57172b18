#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/kestrel_tic.h"
#include "cli/record_keeping.h"
#include "crypto/archive_key.h"
#include "install/admin_path.h"
#include "install/install_lock.h"
#include "install/extraction.h"
#include "platform/fd.h"
#include "platform/unique.h"
#include "sign/signature_check.h"
#include "install/install_steps.h"

namespace {

// Opens the install log |path| for writing, emptied: inside the install
// directory without following any symbolic link there (an archive may have
// left one at the log's path), elsewhere as the system follows it
// (install/admin_path.h). |place| says where it lies. false after one line
// on standard error naming |command|.
bool open_log(const char* command, int root, const std::string& path, Unique<FILE, fclose>& log,
              an_admin_path& place) {
  a_failure failure;
  switch (locate_admin_path(root, path, place, failure)) {
    case a_reach::kReached: break;
    case a_reach::kAbsent: complain(command, path, strerror(ENOENT)); return false;
    case a_reach::kThroughLink:
      complain(command, path, "refusing to write through symbolic link " + place.link);
      return false;
    case a_reach::kFailed: complain(command, path, failure.text()); return false;
  }
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC | (place.inside ? O_NOFOLLOW : 0);
  UniqueFd fd(openat(place.parent.get(), place.base.empty() ? "." : place.base.c_str(), flags, 0666));
  if (!fd.valid()) {
    if (errno == ELOOP && place.inside)
      complain(command, path, "refusing to write through symbolic link " + place.relative);
    else
      complain(command, path, strerror(errno));
    return false;
  }
  log.reset(fdopen(fd.get(), "w"));
  if (!log) {
    complain(command, path, strerror(errno));
    return false;
  }
  fd.release();
  return true;
}

// Ends the log with "ok" and puts it on disk. When that fails the log is cut
// back to what it held before, so that it never ends in "ok" unless the
// installation succeeded. false with errno set.
bool write_ok(FILE* log) {
  if (fflush(log) != 0) return false;
  const off_t before = lseek(fileno(log), 0, SEEK_CUR);
  if (fputs("ok\n", log) != EOF && fflush(log) == 0 && fsync(fileno(log)) == 0) return true;
  const int error = errno;
  clearerr(log);
  if (before >= 0 && ftruncate(fileno(log), before) == 0) fsync(fileno(log));
  errno = error;
  return false;
}

// Extracts the selected files, none put in place before every signature
// has verified, then ends the log with "ok". false with |subject| and
// |cause| saying why.
bool extract_and_log(TicExtraction& extraction, SignatureCheck& signatures, const std::string& options,
                     const std::string& backup_dir, FILE* log, const std::string& log_file, std::string& subject,
                     std::string& cause) {
  extraction.set_commit_gate([&signatures] { return signatures.finish().ok(); });
  const int extracted = extraction.extract(options, backup_dir);
  if (const Outcome checked = signatures.finish(); !checked) {
    subject = checked.failure().subject;
    cause = checked.failure().text();
  } else if (extracted == -1) {
    subject = published_failure().subject;
    cause = published_failure().text();
  } else if (log != nullptr && !write_ok(log)) {
    subject = log_file;
    cause = strerror(errno);
  } else {
    return true;
  }
  return false;
}

}  // namespace

// Installs the selected files into the install directory. Every archive is
// checked, and the install directory's room, before anything is written;
// the log ends with "ok" exactly when the installation succeeded and the
// installed files are on disk. A failure is explained by one line on
// standard error, after the progress line has been closed. What was put in
// place, also by an installation that failed, is added to the install
// directory's record once the log holds its last line.
int CommandInstall::run() { return install_set("install"); }

bool CommandInstall::open_record(RecordKeeping& records, int, unsigned) {
  selection_ = options;
  return records.open_for_change();
}

bool CommandInstall::plan(KestrelTic&, TicExtraction&, std::string&, std::string&) { return true; }

void CommandInstall::update_record(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
                                   bool) {
  for (const auto& [path, file] : committed) record.files[path] = file;
}

void CommandInstall::report() {}

// Nothing is written unless every archive is valid, signed by a trusted
// key when keys are configured, the plan holds and the files fit.
bool CommandInstall::ready_to_write(KestrelTic& set, TicExtraction& extraction, SignatureCheck& signatures,
                                    const std::string& where, std::string& subject, std::string& cause) {
  if (!validate_set(set, subject, cause)) return false;
  if (const Outcome started = signatures.start(set); !started) {
    subject = started.failure().subject;
    cause = started.failure().text();
    return false;
  }
  if (!plan(set, extraction, subject, cause)) return false;
  if (extraction.check_room(selection_, !backup_dir.empty(), where) != 0) {
    subject = published_failure().subject;
    cause = published_failure().text();
    return false;
  }
  return true;
}

int CommandInstall::install_set(const char* command) {
  if (args.empty()) {
    usage();
    return -1;
  }
  // Asked before the working directory changes.
  RecordKeeping records(command);
  // Relative archive, log and backup names, and the extracted files, are
  // all resolved inside the install directory from here on. It is locked
  // before the log is opened: a waiting install must not empty the log of
  // the one that runs.
  const std::string where = directory.empty() ? "." : directory;
  UniqueFd root;
  InstallLock lock;
  if (!enter_install_directory(command, directory, root, &lock)) return -1;
  const unsigned jobs = job_count(command);
  if (!open_record(records, root.get(), jobs)) return -1;

  Unique<FILE, fclose> log;
  an_admin_path log_place;
  if (!log_file.empty() && !open_log(command, root.get(), log_file, log, log_place)) return -1;

  int result = -1;
  std::string subject, cause;
  std::map<std::string, a_recorded_file> committed;
  a_recorded_install installed;
  {
    // The reporter outlives the archive set: its closing line comes last.
    a_progress_reporter reporter;
    const ArchiveKey key;
    KestrelTic set(args, true, key.bytes(), key.length());
    TicExtraction extraction(set, root.get(), jobs);
    set.log_stream = log.get();
    if (log && log_place.inside) extraction.reserve_path({log_place.relative, "the install log"});
    // A first install's record goes to disk as files are put in place.
    const bool streamed = !is_upgrade() && records.may_add_files();
    extraction.set_commit_observer([&](const std::string& path, const a_recorded_file& file) {
      if (!streamed || !records.add_file(path, file)) committed[path] = file;
    });
    // Hashes the archives beside the decoding; declared after the set,
    // which it reads until it is destroyed.
    SignatureCheck signatures;
    if (ready_to_write(set, extraction, signatures, where, subject, cause)) {
      reporter.total = is_upgrade() ? extraction.bytes_to_write(selection_) : set.bytes_required(selection_);
      if (!quiet) set.progress = &reporter;
      if (extract_and_log(extraction, signatures, selection_, backup_dir, log.get(), log_file, subject, cause))
        result = 0;
      installed = records.describe_install(set, selection_, result == 0);
    }
    log.reset();
    set.log_stream = nullptr;
    set.progress = nullptr;
  }
  // The progress line is closed: what follows on standard error comes after it.
  fflush(stdout);
  if (!cause.empty()) complain(command, subject.empty() ? where : subject, cause);
  if (result == 0) report();
  keep_record(records, committed, installed, result == 0);
  return result;
}

// The record changes when files were put in place, or an upgrade finished
// (it may have only taken files away).
void CommandInstall::keep_record(RecordKeeping& records, const std::map<std::string, a_recorded_file>& committed,
                                 const a_recorded_install& installed, bool finished) {
  const bool any = !committed.empty() || records.files_added() > 0;
  if (!records.keeping() || (!any && !(finished && records.had_record() && is_upgrade()))) return;
  update_record(records.record(), committed, finished);
  records.record().add_install(installed);
  records.keep_before(backup_dir);
  records.save();
}
