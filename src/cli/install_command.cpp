#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/kestrel_tic.h"
#include "crypto/archive_key.h"
#include "install/admin_path.h"
#include "install/install_lock.h"
#include "install/extraction.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "platform/unique.h"
#include "sign/signature_check.h"
#include "tic/error.h"

namespace {

// Opens the install log |path| for writing, emptied: inside the install
// directory without following any symbolic link there (an archive may have
// left one at the log's path), elsewhere as the system follows it
// (install/admin_path.h). |place| says where it lies. false after one line
// on standard error.
bool open_log(int root, const std::string& path, Unique<FILE, fclose>& log, an_admin_path& place) {
  a_failure failure;
  switch (locate_admin_path(root, path, place, failure)) {
    case a_reach::kReached: break;
    case a_reach::kAbsent: complain("install", path, strerror(ENOENT)); return false;
    case a_reach::kThroughLink:
      complain("install", path, "refusing to write through symbolic link " + place.link);
      return false;
    case a_reach::kFailed: complain("install", path, failure.text()); return false;
  }
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC | (place.inside ? O_NOFOLLOW : 0);
  UniqueFd fd(openat(place.parent.get(), place.base.empty() ? "." : place.base.c_str(), flags, 0666));
  if (!fd.valid()) {
    if (errno == ELOOP && place.inside)
      complain("install", path, "refusing to write through symbolic link " + place.relative);
    else
      complain("install", path, strerror(errno));
    return false;
  }
  log.reset(fdopen(fd.get(), "w"));
  if (!log) {
    complain("install", path, strerror(errno));
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

}  // namespace

// Installs the selected files into the install directory. Every archive is
// checked, and the install directory's room, before anything is written;
// the log ends with "ok" exactly when the installation succeeded and the
// installed files are on disk. A failure is explained by one line on
// standard error, after the progress line has been closed.
int CommandInstall::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  // Relative archive, log and backup names, and the extracted files, are
  // all resolved inside the install directory from here on.
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    complain("install", directory, strerror(errno));
    return -1;
  }
  const std::string where = directory.empty() ? "." : directory;
  // The install directory, wherever a relative name in it leads later.
  UniqueFd root(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) {
    complain("install", where, strerror(errno));
    return -1;
  }
  // Before the log is opened: a waiting install must not empty the log of
  // the one that runs.
  InstallLock lock;
  if (!lock_install_directory("install", where, root.get(), lock)) return -1;

  Unique<FILE, fclose> log;
  an_admin_path log_place;
  if (!log_file.empty() && !open_log(root.get(), log_file, log, log_place)) return -1;

  std::string complaint;
  const unsigned jobs = worker_count_from_environment("KESTREL_JOBS", &complaint);
  if (!complaint.empty()) {
    fprintf(stderr, "kestrel: install: %s\n", complaint.c_str());
    complaint.clear();
  }

  int result = -1;
  std::string subject, cause;
  {
    // The reporter outlives the archive set: its closing line comes last.
    a_progress_reporter reporter;
    const ArchiveKey key;
    KestrelTic set(args, true, key.bytes(), key.length());
    TicExtraction extraction(set, root.get(), jobs);
    set.log_stream = log.get();
    if (log && log_place.inside) extraction.reserve_path({log_place.relative, "the install log"});
    // Hashes the archives beside the decoding; declared after the set,
    // which it reads until it is destroyed.
    SignatureCheck signatures;
    // Nothing is written unless every archive is valid, and signed by a
    // trusted key when keys are configured.
    bool valid = validate_set(set, subject, cause);
    if (valid && !signatures.start(set)) {
      valid = false;
      subject = signatures.subject();
      cause = signatures.cause();
    }
    if (valid && extraction.check_room(options, !backup_dir.empty(), directory.empty() ? "." : directory) != 0) {
      subject = error_subject();
      cause = error_cause();
    } else if (valid) {
      reporter.total = set.bytes_required(options);
      if (!quiet) set.progress = &reporter;
      // No file is put in place before every signature has verified.
      extraction.set_commit_gate([&signatures] { return signatures.finish(); });
      const int extracted = extraction.extract(options, backup_dir);
      if (!signatures.finish()) {
        subject = signatures.subject();
        cause = signatures.cause();
      } else if (extracted != -1) {
        if (!log || write_ok(log.get())) {
          result = 0;
        } else {
          subject = log_file;
          cause = strerror(errno);
        }
      } else {
        subject = error_subject();
        cause = error_cause();
      }
    }
    log.reset();
    set.log_stream = nullptr;
    set.progress = nullptr;
  }
  if (!cause.empty()) complain("install", subject.empty() ? (directory.empty() ? "." : directory) : subject, cause);
  return result;
}
