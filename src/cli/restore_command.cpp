#include "cli/commands.h"
#include "cli/printed_events.h"
#include "install/installation.h"

// Undoes an installation from the backup tree it wrote with -b (see
// install/restore.h): files it created are removed, objects it replaced are
// moved back, and the backup tree is emptied and removed. An object that
// cannot be restored stays in the backup tree and is named on standard
// error; the others are restored all the same, and the status is then 255.
// Running it again after an interruption finishes the work. Once every
// object is restored, the install directory's record returns to what it
// was before the first install or upgrade into this backup directory.
int CommandRestore::run() {
  if (backup_dir.empty() || !args.empty()) {
    usage();
    return -1;
  }
  PrintedEvents events("restore");
  // Asked before the working directory changes.
  Installation installation("restore", events);
  events.set_where(directory.empty() ? "." : directory);
  // The backup directory is named relative to the install directory.
  if (!installation.enter(directory, true)) return -1;
  return installation.restore(backup_dir) ? 0 : -1;
}
