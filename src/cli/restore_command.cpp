#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/record_keeping.h"
#include "install/install_steps.h"
#include "install/install_directory.h"
#include "install/install_lock.h"
#include "install/restore.h"

namespace {

// Before anything is restored: the state directory, the record and the
// record kept to return to must be kestrel's own (install/record_store.h);
// the stale temporaries of the record are swept. false after one line.
bool check_record_to_return_to(const RecordStore& store, const std::string& canonical, const std::string& backup) {
  std::string why;
  if (!store.check_state(why)) {
    complain("restore", store.directory(), why);
    return false;
  }
  if (canonical.empty()) return true;
  store.sweep_temporaries(canonical);
  an_install_record record;
  switch (store.load(canonical, record, why)) {
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: complain("restore", store.record_path(canonical), why); return false;
    default: break;  // replaced by the one kept, or left as it is
  }
  switch (store.check_before(canonical, backup, why)) {
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: complain("restore", store.before_path(canonical, backup), why); return false;
    default: return true;  // what cannot be read is said once the tree is restored
  }
}

}  // namespace

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
  // Named as keep_before named it, while the backup directory is there.
  const std::string backup = canonical_or_given(backup_dir);
  const std::string canonical = canonical_current_directory();
  if (!check_record_to_return_to(store, canonical, backup)) return -1;
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
  std::vector<a_restore_failure> failures;
  restore.restore(failures);
  restore.finish();
  for (const a_restore_failure& f : failures) complain("restore", f.first, f.second.text());
  if (!failures.empty()) return -1;
  std::string why;
  switch (canonical.empty() ? a_record_read::kNone : store.return_to_before(canonical, backup, why)) {
    case a_record_read::kFound:
    case a_record_read::kNone: return 0;
    case a_record_read::kDamaged: complain("restore", store.record_path(canonical), "record not restored: " + why); break;
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: complain("restore", store.before_path(canonical, backup), why); break;
    case a_record_read::kFailed: complain("restore", store.directory(), "record not restored: " + why); break;
  }
  return -1;
}
