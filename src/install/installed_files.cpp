#include "install/installed_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "install/installable_entry.h"
#include "install/install_directory.h"
#include "tic/archive/stream_decoder.h"
#include "tic/archive/tic.h"

namespace {

// How far the workers may run ahead of the committer, in files per worker.
constexpr size_t kLookAheadPerWorker = 4;

// The process umask, through which install's permission bits pass. Read by
// setting it and setting it back, before any worker runs.
mode_t process_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

struct a_compare_job {
  const a_stream_ref* ref = nullptr;
  an_installed_file file;
  a_failure stream_failure;
};

// What is kept of each compared file until the files are handed out in name
// order: the common case in a few words; a file with a link on its way or a
// problem is kept whole beside (see an_installed_file).
struct a_compared_file {
  const std::string* name = nullptr;  // the table's own
  uint32_t mode = 0;
  uint32_t differences = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

class a_comparison {
 public:
  a_comparison(int root, const unsigned char* key, int key_length, mode_t mask)
      : root_(root), key_(key), key_length_(key_length), mask_(mask) {}

  void run(a_compare_job& job, const a_job_turn& turn) const;

 private:
  // Looks at what lies at the file's path and notes how it differs from
  // |entry|; a regular file whose bytes are still to be compared is left
  // open in |content|.
  void examine(an_installed_file& file, const a_stream_entry& entry, UniqueFd& content) const;
  void examine_link(an_installed_file& file, int directory, const char* base, const std::string& target) const;
  void examine_file(an_installed_file& file, int directory, const char* base, const a_stream_entry& entry,
                    UniqueFd& content) const;
  // Reads the stream's data beside the file's bytes; false when the stream
  // fails (the failure is then the job's).
  bool compare_content(a_compare_job& job, StreamDecoder& decoder, int content, const a_job_turn& turn) const;

  int root_;
  const unsigned char* key_;
  int key_length_;
  mode_t mask_;
};

void a_comparison::run(a_compare_job& job, const a_job_turn& turn) const {
  StreamDecoder decoder(key_, key_length_);
  if (Outcome opened = decoder.open(*job.ref, &turn); !opened) {
    job.stream_failure = opened.failure();
    return;
  }
  const a_stream_entry& entry = decoder.entry();
  const std::string problem = stream_entry_problem(*job.ref->name, entry, job.ref->entry->file_size);
  if (!problem.empty()) {
    errno = 0;
    job.stream_failure.set(kStepEntryCheck, problem);
    return;
  }
  job.file.mode = entry.mode;
  UniqueFd content;
  examine(job.file, entry, content);
  if (content.valid() && !compare_content(job, decoder, content.get(), turn)) return;
  // The data not compared is still read: the whole stream must match its MAC.
  if (Outcome finished = decoder.finish(job.ref->entry->mac); !finished) job.stream_failure = finished.failure();
}

void a_comparison::examine(an_installed_file& file, const a_stream_entry& entry, UniqueFd& content) const {
  a_reached_directory at;
  struct stat st;
  if (!find_installed(root_, file, at, st)) return;
  const int directory = at.directory.get();
  const char* base = at.base.c_str();
  if ((st.st_mode & S_IFMT) != (entry.mode & S_IFMT)) {
    file.differences |= kDifferenceType;
  } else if (entry.is_symlink()) {
    examine_link(file, directory, base, entry.link_target);
  } else if (entry.is_regular()) {
    examine_file(file, directory, base, entry, content);
  }
}

void a_comparison::examine_link(an_installed_file& file, int directory, const char* base,
                                const std::string& target) const {
  // One byte more than the target: a longer link shows as longer.
  std::string read(target.size() + 1, '\0');
  const ssize_t got = readlinkat(directory, base, &read[0], read.size());
  if (got < 0) return note_unreadable(file, EINVAL);  // EINVAL: no longer a link
  if (static_cast<size_t>(got) != target.size() || read.compare(0, target.size(), target) != 0)
    file.differences |= kDifferenceTarget;
}

void a_comparison::examine_file(an_installed_file& file, int directory, const char* base,
                                const a_stream_entry& entry, UniqueFd& content) const {
  struct stat st;
  UniqueFd fd = open_installed_file(file, directory, base, st);
  if (!fd.valid()) return;
  if ((st.st_mode & 07777) != (entry.mode & 0777 & ~mask_)) file.differences |= kDifferenceMode;
  if (static_cast<uint64_t>(st.st_size) != entry.size)
    file.differences |= kDifferenceContent;
  else
    content = std::move(fd);
}

bool a_comparison::compare_content(a_compare_job& job, StreamDecoder& decoder, int content,
                                   const a_job_turn& turn) const {
  unsigned char archived[kIoBlockSize];
  unsigned char installed[kIoBlockSize];
  for (;;) {
    if (turn.cancelled()) return false;  // the job is thrown away
    const Result<size_t> read = decoder.read(archived, sizeof archived);
    if (!read) {
      job.stream_failure = read.failure();
      return false;
    }
    const auto got = static_cast<ssize_t>(read.value());
    const ssize_t have = read_full(content, installed, got == 0 ? 1 : static_cast<size_t>(got));
    if (have < 0) {
      job.file.problem.set(kStepReadInstalled);
      return true;
    }
    // At the end of the data the file must end too (it may have grown since
    // its size was taken).
    if (got == 0) {
      if (have != 0) job.file.differences |= kDifferenceContent;
      return true;
    }
    if (have != got || std::memcmp(archived, installed, static_cast<size_t>(got)) != 0) {
      job.file.differences |= kDifferenceContent;
      return true;
    }
  }
}

}  // namespace

int compare_installed_files(Tic& set, const std::string& options, int root, const unsigned char* key,
                            int key_length, unsigned jobs, const std::function<void(const an_installed_file&)>& each) {
  std::vector<a_stream_ref> refs;
  if (set.selected_streams(options, refs) != 0) {
    publish_step(kStepExtractLoadToc);
    return -1;
  }
  if (jobs < 1) jobs = 1;
  const size_t window = kLookAheadPerWorker * jobs;
  // Only the files in flight are whole; each one committed is kept in its
  // place in name order.
  std::vector<a_compare_job> slots(jobs <= 1 ? 1 : std::min(window, std::max<size_t>(refs.size(), 1)));
  auto slot = [&](size_t i) -> a_compare_job& { return slots[i % slots.size()]; };
  std::vector<a_compared_file> found(refs.size());
  std::map<uint32_t, an_installed_file> whole;
  const a_comparison comparison(root, key, key_length, process_umask());
  const size_t committed = run_ordered_jobs(
      refs.size(), jobs, window,
      [&](size_t i, const a_job_turn& turn) {
        a_compare_job& job = slot(i) = a_compare_job{};
        job.ref = &refs[i];
        job.file.name = *refs[i].name;
        comparison.run(job, turn);
      },
      [&](size_t i) {
        a_compare_job& job = slot(i);
        if (job.stream_failure.failed()) {
          job.stream_failure.publish(*job.ref->name);
          return false;
        }
        const an_installed_file& file = job.file;
        found[job.ref->rank] = {job.ref->name, static_cast<uint32_t>(file.mode), file.differences, file.device,
                                file.inode};
        if (!file.link.empty() || file.problem.failed()) whole.emplace(job.ref->rank, std::move(job.file));
        return true;
      },
      [](size_t) {});
  if (committed < refs.size()) return -1;
  refs = std::vector<a_stream_ref>();
  an_installed_file file;
  for (size_t rank = 0; rank < found.size(); ++rank) {
    auto kept = whole.find(static_cast<uint32_t>(rank));
    if (kept != whole.end()) {
      each(kept->second);
      continue;
    }
    const a_compared_file& f = found[rank];
    file.name = *f.name;
    file.mode = f.mode;
    file.differences = f.differences;
    file.device = f.device;
    file.inode = f.inode;
    each(file);
  }
  return 0;
}

a_removal remove_installed_file(int root, const an_installed_file& file, a_failure& failure) {
  a_reached_directory at;
  switch (reach_parent(root, file.name, at, failure)) {
    case a_reach::kReached: break;
    case a_reach::kAbsent: return a_removal::kGone;
    case a_reach::kThroughLink:
      errno = ELOOP;
      failure.set(kStepRemoveInstalled, "refusing to remove through symbolic link " + at.link);
      return a_removal::kFailed;
    case a_reach::kFailed: return a_removal::kFailed;
  }
  struct stat st;
  if (fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return a_removal::kGone;
    failure.set(kStepRemoveInstalled);
    return a_removal::kFailed;
  }
  if (st.st_dev != file.device || st.st_ino != file.inode || S_ISDIR(st.st_mode)) return a_removal::kReplaced;
  if (unlinkat(at.directory.get(), at.base.c_str(), 0) == 0) return a_removal::kRemoved;
  if (errno == ENOENT) return a_removal::kGone;
  failure.set(kStepRemoveInstalled);
  return a_removal::kFailed;
}

bool find_installed(int root, an_installed_file& file, a_reached_directory& at, struct stat& st) {
  switch (reach_parent(root, file.name, at, file.problem)) {
    case a_reach::kFailed: return false;
    case a_reach::kThroughLink: file.link = at.link; [[fallthrough]];
    case a_reach::kAbsent: file.differences |= kDifferenceMissing; return false;
    case a_reach::kReached: break;
  }
  if (fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    note_unreadable(file, ENOENT);
    return false;
  }
  file.device = st.st_dev;
  file.inode = st.st_ino;
  return true;
}

UniqueFd open_installed_file(an_installed_file& file, int directory, const char* base, struct stat& st) {
  // Reading leaves the access time alone where the system lets the caller
  // ask for that (the owner, or a privileged caller).
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  UniqueFd fd(openat(directory, base, flags | O_NOATIME));
  if (!fd.valid() && errno == EPERM) fd.reset(openat(directory, base, flags));
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    note_unreadable(file, ELOOP);  // ELOOP: replaced by a link meanwhile
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    file.differences |= kDifferenceType;
    return UniqueFd();
  }
  file.device = st.st_dev;
  file.inode = st.st_ino;
  return fd;
}

void note_unreadable(an_installed_file& file, int other_type) {
  if (errno == ENOENT)
    file.differences |= kDifferenceMissing;
  else if (errno == other_type)
    file.differences |= kDifferenceType;
  else
    file.problem.set(kStepReadInstalled);
}
