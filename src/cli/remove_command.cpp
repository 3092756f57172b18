#include <stdio.h>
#include <sys/stat.h>

#include <set>

#include "cli/commands.h"
#include "display/printable.h"
#include "cli/installed_comparison.h"
#include "install/install_directory.h"
#include "install/install_lock.h"

namespace {

void keep_changed(const std::string& name) {
  fprintf(stderr, "kestrel: remove: kept changed file %s\n", printable(name).c_str());
}

}  // namespace

// Removes the selected files that are still installed as the archives have
// them (type, bytes, link target; the permission bits may have changed),
// then the directories their removal leaves empty, never the install
// directory itself. A file that was changed, or cannot be removed, stays
// and is named on standard error, and the status is then 255. Files already
// gone are passed over, so an interrupted removal can be run again. Every
// archive and every selected stream is checked before anything is removed.
int CommandRemove::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  UniqueFd root;
  std::vector<an_installed_file> files;
  InstallLock lock;
  if (compare_with_install_directory("remove", directory, args, options, root, files, &lock) != 0) return -1;
  int result = 0;
  std::set<std::string> may_be_empty;
  for (const an_installed_file& file : files) {
    if (file.problem.failed()) {
      complain("remove", file.name, file.problem.text());
      result = -1;
    } else if (!file.link.empty()) {
      complain("remove", file.name, "refusing to remove through symbolic link " + file.link);
      result = -1;
    } else if ((file.differences & kDifferenceMissing) != 0) {
      // Nothing to remove.
    } else if ((file.differences & (kDifferenceType | kDifferenceTarget | kDifferenceContent)) != 0) {
      keep_changed(file.name);
      result = -1;
    } else if (S_ISDIR(file.mode)) {
      // A directory of the archive goes once it is empty, with the others.
      may_be_empty.insert(file.name);
      add_parent_directories(file.name, may_be_empty);
    } else {
      a_failure failure;
      switch (remove_installed_file(root.get(), file, failure)) {
        case a_removal::kRemoved: add_parent_directories(file.name, may_be_empty); break;
        case a_removal::kGone: break;
        case a_removal::kReplaced:
          keep_changed(file.name);
          result = -1;
          break;
        case a_removal::kFailed:
          complain("remove", file.name, failure.text());
          result = -1;
          break;
      }
    }
  }
  remove_empty_directories(root.get(), may_be_empty);
  return result;
}
