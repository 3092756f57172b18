#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/kestrel_tic.h"
#include "crypto/archive_key.h"
#include "install/extraction.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "platform/unique.h"
#include "tic/error.h"

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

  // The install directory, wherever a relative name in it leads later.
  UniqueFd root(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  Unique<FILE, fclose> log;
  if (!log_file.empty()) {
    log.reset(fopen(log_file.c_str(), "w"));
    if (!log) {
      complain("install", log_file, strerror(errno));
      return -1;
    }
  }

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
    // Nothing is written unless every archive is valid.
    const bool valid = validate_set(set, subject, cause);
    if (valid && extraction.check_room(options, !backup_dir.empty(), directory.empty() ? "." : directory) != 0) {
      subject = error_subject();
      cause = error_cause();
    } else if (valid) {
      reporter.total = set.bytes_required(options);
      set.progress = &reporter;
      if (extraction.extract(options, backup_dir) != -1) {
        result = 0;
        if (log && (fputs("ok\n", log.get()) == EOF || fflush(log.get()) != 0 || fsync(fileno(log.get())) != 0)) {
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
