#include "cli/installed_comparison.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/record_keeping.h"
#include "crypto/archive_key.h"
#include "install/recorded_files.h"
#include "install/install_lock.h"
#include "install/install_steps.h"
#include "tic/archive/multi_tic.h"

int open_install_directory(const char* command, const std::string& directory, UniqueFd& root, InstallLock* lock,
                           unsigned& jobs) {
  // Relative archive names are resolved inside the install directory, as
  // install resolves them.
  if (!enter_install_directory(command, directory, root, lock)) return -1;
  jobs = job_count(command);
  return 0;
}

int compare_with_install_directory(const char* command, const std::string& directory,
                                   const std::vector<std::string>& archives, const std::string& options,
                                   UniqueFd& root, InstallLock* lock,
                                   const std::function<void(const an_installed_file&)>& each) {
  const std::string where = directory.empty() ? "." : directory;
  unsigned jobs = 1;
  if (open_install_directory(command, directory, root, lock, jobs) != 0) return -1;
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
  from_record_ = args.empty();
  if (from_record_ && !options.empty()) {
    complain(word_, options, "an option text selects from archives: name them, or leave out -o");
    return -1;
  }
  // Asked before changing into the install directory.
  RecordKeeping records(word_, changes_files());
  UniqueFd root;
  InstallLock lock;
  InstallLock* held = changes_files() ? &lock : nullptr;
  records_ = &records;
  bool good = true;
  bool ready = false;
  bool refused = false;  // the record is refused: nothing is changed
  // Called for each file once every file has been compared.
  auto handle = [&](const an_installed_file& file) {
    if (!ready && !from_record_ && changes_files()) refused = !records.open_if_recorded();
    ready = true;
    if (refused) {
      good = false;
    } else if (file.problem.failed()) {
      complain(word_, file.name, file.problem.text());
      good = false;
    } else if (!handle_file(root.get(), file)) {
      good = false;
    }
  };
  int compared = 0;
  if (from_record_) {
    unsigned jobs = 1;
    compared = open_install_directory(word_, directory, root, held, jobs) != 0 || !records.open_existing() ? -1 : 0;
    if (compared == 0) {
      std::vector<an_installed_file> files;
      compare_recorded_files(records.record(), root.get(), jobs, files);
      for (const an_installed_file& file : files) handle(file);
    }
  } else {
    compared = compare_with_install_directory(word_, directory, args, options, root, held, handle);
    if (compared == 0 && !ready && changes_files()) refused = !records.open_if_recorded();
  }
  const bool finished = compared == 0 && !refused && finish(root.get());
  records_ = nullptr;
  if (!finished || !good) return -1;
  return answered_no_ ? 1 : 0;
}

bool CommandOnInstalledFiles::finish(int) { return true; }
