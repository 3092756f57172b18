#include "cli/commands.h"
#include "cli/printed_events.h"
#include "install/installation.h"

// Installs the selected files into the install directory
// (install/installation.h): every archive is checked, and the install
// directory's room, before anything is written; the log ends with "ok"
// exactly when the installation succeeded. A failure is explained by one
// line on standard error, after the progress line has been closed.
int CommandInstall::run() { return write_set("install"); }

int CommandInstall::write_set(const char* command) {
  if (args.empty()) {
    usage();
    return -1;
  }
  PrintedEvents events(command, !quiet);
  // Asked before the working directory changes.
  Installation installation(command, events);
  events.set_where(directory.empty() ? "." : directory);
  // It is locked before the log is opened: a waiting install must not
  // empty the log of the one that runs.
  if (!installation.enter(directory, true)) return -1;
  installation.set_jobs(job_count(command));
  const an_install_request request{args, options, backup_dir, log_file};
  SignedArchives signatures;
  const bool upgrade = std::string(command) == "upgrade";
  const Outcome done = upgrade ? installation.upgrade(request, signatures) : installation.install(request, signatures);
  return done ? 0 : -1;
}
