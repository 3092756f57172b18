#include "install/recorded_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "crypto/sha256.h"
#include "install/install_directory.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"

namespace {

// How far the workers may run ahead of the committer, in files per worker.
constexpr size_t kLookAheadPerWorker = 8;

mode_t type_bits(a_file_type type) {
  switch (type) {
    case a_file_type::kDirectory: return S_IFDIR;
    case a_file_type::kSymlink: return S_IFLNK;
    default: return S_IFREG;
  }
}

void examine_link(an_installed_file& file, int directory, const char* base, const a_recorded_file& recorded) {
  char target[4096];
  const ssize_t got = readlinkat(directory, base, target, sizeof target);
  if (got < 0) {
    if (errno == ENOENT)
      file.differences |= kDifferenceMissing;
    else if (errno == EINVAL)  // no longer a link
      file.differences |= kDifferenceType;
    else
      file.problem.set(kStepReadInstalled);
    return;
  }
  unsigned char digest[kDigestSize];
  UT_SHA256_CTX ctx;
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, target, static_cast<size_t>(got));
  UT_SHA256_Final(&ctx, digest);
  if (std::memcmp(digest, recorded.sha256, kDigestSize) != 0) file.differences |= kDifferenceTarget;
}

void examine_file(an_installed_file& file, int directory, const char* base, const a_recorded_file& recorded) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  UniqueFd fd(openat(directory, base, flags | O_NOATIME));
  if (!fd.valid() && errno == EPERM) fd.reset(openat(directory, base, flags));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    if (errno == ENOENT)
      file.differences |= kDifferenceMissing;
    else if (errno == ELOOP)  // replaced by a link meanwhile
      file.differences |= kDifferenceType;
    else
      file.problem.set(kStepReadInstalled);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    file.differences |= kDifferenceType;
    return;
  }
  file.device = st.st_dev;
  file.inode = st.st_ino;
  if ((st.st_mode & 07777) != recorded.mode) file.differences |= kDifferenceMode;
  if (static_cast<uint64_t>(st.st_size) != recorded.size) {
    file.differences |= kDifferenceContent;
    return;
  }
  UT_SHA256_CTX ctx;
  UT_SHA256_Init(&ctx);
  unsigned char buffer[8 * kIoBlockSize];
  uint64_t total = 0;
  for (;;) {
    const ssize_t got = read_full(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      file.problem.set(kStepReadInstalled);
      return;
    }
    UT_SHA256_Update(&ctx, buffer, static_cast<size_t>(got));
    total += static_cast<uint64_t>(got);
    if (static_cast<size_t>(got) < sizeof buffer) break;
  }
  unsigned char digest[kDigestSize];
  UT_SHA256_Final(&ctx, digest);
  if (total != recorded.size || std::memcmp(digest, recorded.sha256, kDigestSize) != 0)
    file.differences |= kDifferenceContent;
}

void examine(an_installed_file& file, int root, const a_recorded_file& recorded) {
  a_reached_directory at;
  switch (reach_parent(root, file.name, at, file.problem)) {
    case a_reach::kFailed: return;
    case a_reach::kThroughLink: file.link = at.link; [[fallthrough]];
    case a_reach::kAbsent: file.differences |= kDifferenceMissing; return;
    case a_reach::kReached: break;
  }
  const int directory = at.directory.get();
  const char* base = at.base.c_str();
  struct stat st;
  if (fstatat(directory, base, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT)
      file.differences |= kDifferenceMissing;
    else
      file.problem.set(kStepReadInstalled);
    return;
  }
  file.device = st.st_dev;
  file.inode = st.st_ino;
  if ((st.st_mode & S_IFMT) != type_bits(recorded.type))
    file.differences |= kDifferenceType;
  else if (recorded.type == a_file_type::kSymlink)
    examine_link(file, directory, base, recorded);
  else if (recorded.type == a_file_type::kFile)
    examine_file(file, directory, base, recorded);
}

}  // namespace

void compare_recorded_files(const an_install_record& record, int root, unsigned jobs,
                            std::vector<an_installed_file>& out) {
  std::vector<const std::pair<const std::string, a_recorded_file>*> files;
  files.reserve(record.files.size());
  for (const auto& item : record.files) files.push_back(&item);
  out.assign(files.size(), an_installed_file{});
  if (jobs < 1) jobs = 1;
  run_ordered_jobs(
      files.size(), jobs, kLookAheadPerWorker * jobs,
      [&](size_t i, const a_job_turn&) {
        an_installed_file& file = out[i];
        file.name = files[i]->first;
        file.mode = type_bits(files[i]->second.type) | files[i]->second.mode;
        examine(file, root, files[i]->second);
      },
      [](size_t) { return true; }, [](size_t) {});
  // The record's map is in name order already.
}

bool changed_since_recorded(const an_installed_file& file) {
  return (file.differences & (kDifferenceMissing | kDifferenceType | kDifferenceTarget | kDifferenceContent)) != 0;
}
