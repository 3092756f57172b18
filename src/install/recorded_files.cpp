#include "install/recorded_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "crypto/sha256.h"
#include "install/install_directory.h"
#include "install/journal.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"

namespace {

// How far the workers may run ahead of the committer, in files per worker.
constexpr size_t kLookAheadPerWorker = 8;
// How many files of the record are held at once, per worker.
constexpr size_t kBatchPerWorker = 1024;

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
  if (got < 0) return note_unreadable(file, EINVAL);  // EINVAL: no longer a link
  unsigned char digest[kDigestSize];
  UT_SHA256_CTX ctx;
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, target, static_cast<size_t>(got));
  UT_SHA256_Final(&ctx, digest);
  if (std::memcmp(digest, recorded.sha256, kDigestSize) != 0) file.differences |= kDifferenceTarget;
}

void examine_file(an_installed_file& file, int directory, const char* base, const a_recorded_file& recorded) {
  struct stat st;
  UniqueFd fd = open_installed_file(file, directory, base, st);
  if (!fd.valid()) return;
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
  struct stat st;
  if (!find_installed(root, file, at, st)) return;
  const int directory = at.directory.get();
  const char* base = at.base.c_str();
  if ((st.st_mode & S_IFMT) != type_bits(recorded.type))
    file.differences |= kDifferenceType;
  else if (recorded.type == a_file_type::kSymlink)
    examine_link(file, directory, base, recorded);
  else if (recorded.type == a_file_type::kFile)
    examine_file(file, directory, base, recorded);
}

}  // namespace

Outcome compare_recorded_files(const a_record_files& files, int root, unsigned jobs, const a_recorded_line& each) {
  if (jobs < 1) jobs = 1;
  // A batch is read from the record, compared on the workers and handed
  // out in order: only a batch is ever held.
  const size_t batch = kBatchPerWorker * jobs;
  std::vector<std::pair<std::string, a_recorded_file>> read(batch);
  std::vector<an_installed_file> found(batch);
  a_record_files::Cursor cursor(files);
  for (bool more = true; more;) {
    size_t count = 0;
    while (count < batch && (more = cursor.next())) {
      read[count].first = cursor.name();
      read[count].second = cursor.file();
      ++count;
    }
    run_ordered_jobs(
        count, jobs, kLookAheadPerWorker * jobs,
        [&](size_t i, const a_job_turn&) {
          an_installed_file& file = found[i] = an_installed_file{};
          file.name = read[i].first;
          file.mode = type_bits(read[i].second.type) | read[i].second.mode;
          examine(file, root, read[i].second);
        },
        [](size_t) { return true; }, [](size_t) {});
    for (size_t i = 0; i < count; ++i) each(found[i], read[i].second);
  }
  if (cursor.failure().failed()) return cursor.failure();
  return Outcome();
}

void absorb_journal(an_install_record& record, const a_journal& journal, int root, unsigned jobs) {
  a_record_files placed;
  for (const auto& [name, file] : journal.placed) placed.put(name, file);
  (void)compare_recorded_files(placed, root, jobs, [&](const an_installed_file& file, const a_recorded_file& recorded) {
    if (!file.problem.failed() && !changed_since_recorded(file)) record.files.put(file.name, recorded);
  });
  for (const std::string& name : journal.gone) {
    an_installed_file file;
    file.name = name;
    a_reached_directory at;
    struct stat st;
    if (!find_installed(root, file, at, st) && (file.differences & kDifferenceMissing) != 0) record.files.erase(name);
  }
  // A removal is no install.
  if (journal.install.command != "remove") record.add_install(journal.install);
}

void show_journal(an_install_record& record, const a_journal& journal) {
  for (const auto& [name, file] : journal.placed) record.files.put(name, file);
  for (const std::string& name : journal.gone) record.files.erase(name);
  if (journal.install.command != "remove") record.add_install(journal.install);
}

bool changed_since_recorded(const an_installed_file& file) {
  return (file.differences & (kDifferenceMissing | kDifferenceType | kDifferenceTarget | kDifferenceContent)) != 0;
}
