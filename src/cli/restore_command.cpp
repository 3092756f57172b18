#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "tic/error.h"
#include "install/install_directory.h"
#include "install/install_lock.h"
#include "install/restore.h"

// Undoes an installation from the backup tree it wrote with -b (see
// tic/restore.h): files it created are removed, objects it replaced are
// moved back, and the backup tree is emptied and removed. An object that
// cannot be restored stays in the backup tree and is named on standard
// error; the others are restored all the same, and the status is then 255.
// Running it again after an interruption finishes the work.
int CommandRestore::run() {
  if (backup_dir.empty() || !args.empty()) {
    usage();
    return -1;
  }
  // The backup directory is named relative to the install directory.
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    complain("restore", directory, strerror(errno));
    return -1;
  }
  const std::string where = directory.empty() ? "." : directory;
  InstallDirectory install;
  a_failure failure;
  if (!install.open(".", false, failure)) {
    complain("restore", where, failure.text());
    return -1;
  }
  InstallLock lock;
  if (!lock_install_directory("restore", where, install.descriptor(), lock)) return -1;
  BackupRestore restore(install);
  if (!restore.open(backup_dir, failure)) {
    complain("restore", backup_dir, failure.text());
    return -1;
  }
  std::vector<a_restore_failure> failures;
  restore.restore(failures);
  restore.finish();
  for (const a_restore_failure& f : failures) complain("restore", f.first, f.second.text());
  return failures.empty() ? 0 : -1;
}
