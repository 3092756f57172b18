#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/record_keeping.h"
#include "install/install_steps.h"
#include "install/install_directory.h"
#include "install/install_lock.h"
#include "install/restore.h"

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
  // Asked before the working directory changes.
  const RecordStore store(configured_state_directory());
  // The backup directory is named relative to the install directory.
  UniqueFd root;
  InstallLock lock;
  if (!enter_install_directory("restore", directory, root, &lock)) return -1;
  InstallDirectory install;
  a_failure failure;
  if (!install.open(".", false, failure, root.get())) {
    complain("restore", directory.empty() ? "." : directory, failure.text());
    return -1;
  }
  BackupRestore restore(install);
  if (!restore.open(backup_dir, failure)) {
    complain("restore", backup_dir, failure.text());
    return -1;
  }
  // Named as keep_before named it, while the backup directory is there.
  const std::string backup = canonical_or_given(backup_dir);
  std::vector<a_restore_failure> failures;
  restore.restore(failures);
  restore.finish();
  for (const a_restore_failure& f : failures) complain("restore", f.first, f.second.text());
  if (!failures.empty()) return -1;
  const std::string canonical = canonical_current_directory();
  std::string why;
  switch (canonical.empty() ? a_record_read::kNone : store.return_to_before(canonical, backup, why)) {
    case a_record_read::kFound:
    case a_record_read::kNone: return 0;
    case a_record_read::kDamaged: complain("restore", store.record_path(canonical), "record not restored: " + why); break;
    case a_record_read::kFailed: complain("restore", store.directory(), "record not restored: " + why); break;
  }
  return -1;
}
