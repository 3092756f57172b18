#include <stdio.h>

#include "cli/commands.h"
#include "cli/printed_events.h"
#include "display/message.h"
#include "install/installation.h"
#include "platform/json.h"

// Installs a new set of archives over a recorded installation, as install
// does (progress, log, backup tree, lock, failures), going by the plan of
// install/upgrade_plan.h: unchanged files with unchanged entries are not
// touched, files changed since they were recorded are kept (the new version
// beside them as <name>.kestrel-new, one line on standard error each), and
// recorded files the new selection leaves out are taken away. Without -o
// the recorded option text is installed. The option text must name options
// of the set and select some file, or nothing is written. The record then
// describes the new installation alone.
int CommandUpgrade::run() {
  if (json && !dry_run) {
    complain("upgrade", "--json", "the plan is a document: give --dry-run too");
    return -1;
  }
  return dry_run ? dry_run_set() : write_set("upgrade");
}

// The plan, one line "<action> <name>" per file in byte-wise order of the
// names (with --json one document, install/plan_document.h), printed
// without taking the lock or writing anything. Nothing recorded is the
// plan's answer "no" (1), as it is status's.
int CommandUpgrade::dry_run_set() {
  if (args.empty()) {
    usage();
    return -1;
  }
  PrintedEvents events("upgrade");
  Installation installation("upgrade", events, false);
  events.set_where(directory.empty() ? "." : directory);
  if (!installation.enter(directory, false)) return -1;
  installation.set_jobs(job_count("upgrade"));
  SignedArchives signatures;
  const an_install_request request{args, options, "", ""};
  const Outcome planned =
      json ? installation.plan_document(request, signatures,
                                        [](const std::string& piece) { fwrite(piece.data(), 1, piece.size(), stdout); })
           : installation.plan_upgrade(request, signatures, [](const std::string& path, an_upgrade_action action) {
               printf("%s %s\n", upgrade_action_word(action), printable(path).c_str());
             });
  if (!planned) return nothing_recorded(planned.failure()) ? 1 : -1;
  return 0;
}
