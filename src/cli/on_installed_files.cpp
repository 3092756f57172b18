#include "cli/commands.h"
#include "cli/printed_events.h"
#include "install/installation.h"

// Without archives the record is the manifest, and an option text, which
// selects from archives, is refused before anything is looked at.
int CommandOnInstalledFiles::run() {
  const an_install_request request = what_is_asked();
  if (request.from_record() && !options.empty()) {
    complain(word_, options, "an option text selects from archives: name them, or leave out -o");
    return -1;
  }
  PrintedEvents events(word_);
  // Asked before changing into the install directory.
  Installation installation(word_, events, changes_files());
  events.set_where(directory.empty() ? "." : directory);
  // Relative archive names are resolved inside the install directory, as
  // install resolves them.
  if (!installation.enter(directory, changes_files())) return -1;
  installation.set_jobs(job_count(word_));
  SignedArchives signatures;
  return work(installation, request, signatures);
}

an_install_request CommandOnInstalledFiles::what_is_asked() const { return {args, options, "", ""}; }
