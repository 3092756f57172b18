#include "install/install_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "display/message.h"
#include "display/progress.h"
#include "install/admin_path.h"
#include "install/install_steps.h"
#include "platform/fd.h"

Outcome InstallLog::open(int root, const std::string& path) {
  path_ = path;
  an_admin_path place;
  a_failure failure;
  switch (locate_admin_path(root, path, place, failure)) {
    case a_reach::kReached: break;
    case a_reach::kAbsent: errno = ENOENT; return failure_of(kStepLog, path);
    case a_reach::kThroughLink:
      errno = ELOOP;
      return failure_of(kStepLog, path, "refusing to write through symbolic link " + place.link);
    case a_reach::kFailed: failure.subject = path; return failure;
  }
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC | (place.inside ? O_NOFOLLOW : 0);
  UniqueFd fd(openat(place.parent.get(), place.base.empty() ? "." : place.base.c_str(), flags, 0666));
  if (!fd.valid()) {
    if (errno == ELOOP && place.inside)
      return failure_of(kStepLog, path, "refusing to write through symbolic link " + place.relative);
    return failure_of(kStepLog, path);
  }
  file_.reset(fdopen(fd.get(), "w"));
  if (!file_) return failure_of(kStepLog, path);
  fd.release();
  if (place.inside) inside_ = place.relative;
  return Outcome();
}

// The name is shown as printable() renders it, so that no name can end its
// line early and forge the next.
void InstallLog::line(const std::string& name, unsigned long long size, unsigned long mode) {
  if (!file_) return;
  fprintf(file_.get(), "%s %10llu %s\n", file_mode_text(mode), size, printable(name).c_str());
  fflush(file_.get());
}

Outcome InstallLog::finish() {
  if (!file_) return Outcome();
  FILE* log = file_.get();
  if (fflush(log) != 0) return failure_of(kStepLog, path_);
  const off_t before = lseek(fileno(log), 0, SEEK_CUR);
  if (fputs("ok\n", log) != EOF && fflush(log) == 0 && fsync(fileno(log)) == 0) return Outcome();
  const a_failure failure = failure_of(kStepLog, path_);
  clearerr(log);
  if (before >= 0 && ftruncate(fileno(log), before) == 0) fsync(fileno(log));
  return failure;
}
