#include "cli/installed_comparison.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "crypto/archive_key.h"
#include "install/install_lock.h"
#include "platform/ordered_jobs.h"
#include "tic/error.h"
#include "tic/archive/multi_tic.h"

int compare_with_install_directory(const char* command, const std::string& directory,
                                   const std::vector<std::string>& archives, const std::string& options,
                                   UniqueFd& root, InstallLock* lock,
                                   const std::function<void(const an_installed_file&)>& each) {
  const std::string where = directory.empty() ? "." : directory;
  // Relative archive names are resolved inside the install directory, as
  // install resolves them.
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    complain(command, directory, strerror(errno));
    return -1;
  }
  root.reset(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) {
    complain(command, where, strerror(errno));
    return -1;
  }
  if (lock != nullptr && !lock_install_directory(command, where, root.get(), *lock)) return -1;
  std::string complaint;
  const unsigned jobs = worker_count_from_environment("KESTREL_JOBS", &complaint);
  if (!complaint.empty()) fprintf(stderr, "kestrel: %s: %s\n", command, complaint.c_str());

  const ArchiveKey key;
  MultiTic set(archives, false, key.bytes(), key.length());
  std::string subject, cause;
  if (!validate_set(set, subject, cause)) {
    complain(command, subject.empty() ? where : subject, cause);
    return -1;
  }
  if (check_signatures(command, set) != 0) return -1;
  if (compare_installed_files(set, options, root.get(), key.bytes(), key.length(), jobs, each) != 0) {
    complain_recorded(command, where);
    return -1;
  }
  return 0;
}

int CommandOnInstalledFiles::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  UniqueFd root;
  InstallLock lock;
  bool good = true;
  if (compare_with_install_directory(word_, directory, args, options, root, changes_files() ? &lock : nullptr,
                                     [&](const an_installed_file& file) {
                                       if (file.problem.failed()) {
                                         complain(word_, file.name, file.problem.text());
                                         good = false;
                                       } else if (!handle_file(root.get(), file)) {
                                         good = false;
                                       }
                                     }) != 0)
    return -1;
  return finish(root.get()) && good ? 0 : -1;
}

bool CommandOnInstalledFiles::finish(int) { return true; }
