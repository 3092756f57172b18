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
#include "install/comparison_spool.h"
#include "install/installable_entry.h"
#include "install/install_directory.h"
#include "tic/archive/stream_decoder.h"
#include "tic/archive/stream_order.h"
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
  a_stream_ref ref;  // a copy: the feed's slot is taken by the next ones
  an_installed_file file;
  a_failure stream_failure;
};

// The files with a link on their way or a problem, by rank: rare, and kept
// whole until they are handed out (see an_installed_file).
using a_kept_whole = std::map<uint32_t, an_installed_file>;

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
  if (Outcome opened = decoder.open(job.ref, &turn); !opened) {
    job.stream_failure = opened.failure();
    return;
  }
  const a_stream_entry& entry = decoder.entry();
  const std::string problem = stream_entry_problem(*job.ref.name, entry, job.ref.entry->file_size);
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
  if (Outcome finished = decoder.finish(job.ref.entry->mac); !finished) job.stream_failure = finished.failure();
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

// Compares the |count| selected files in name order, up to |jobs| at once,
// each result kept in |spool| in turn and the rare file that needs more
// whole in |whole|: false, with the failure of the first stream in name
// order that fails published about its file, when one does.
bool compare_in_name_order(StreamOrder& order, const a_comparison& comparison, unsigned jobs, ComparisonSpool& spool,
                           a_kept_whole& whole) {
  const size_t count = order.size();
  if (count == 0) return true;
  const size_t window = kLookAheadPerWorker * jobs;
  // Only the files in flight are whole.
  std::vector<a_compare_job> slots(jobs <= 1 ? 1 : std::min(window, count));
  auto slot = [&](size_t i) -> a_compare_job& { return slots[i % slots.size()]; };
  JobFeed<a_stream_ref> feed(window, [&order](size_t, a_stream_ref& ref) {
    ref = a_stream_ref{};
    order.next(ref);
  });
  const size_t committed = run_ordered_jobs(
      count, jobs, window,
      [&](size_t i, const a_job_turn& turn) {
        a_compare_job& job = slot(i) = a_compare_job{};
        job.ref = feed.take(i);
        job.file.name = *job.ref.name;
        comparison.run(job, turn);
      },
      [&](size_t i) {
        a_compare_job& job = slot(i);
        if (job.stream_failure.failed()) {
          job.stream_failure.publish(*job.ref.name);
          return false;
        }
        const an_installed_file& file = job.file;
        spool.add({static_cast<uint32_t>(file.mode), file.differences, file.device, file.inode});
        if (!file.link.empty() || file.problem.failed()) whole.emplace(job.ref.rank, std::move(job.file));
        return true;
      },
      [](size_t) {});
  return committed == count;
}

// Hands |each| every selected file in name order with its result from
// |spool| (or |whole|): -1, with the failure published about the file,
// when a result cannot be read back.
int hand_out(Tic& set, const std::string& options, ComparisonSpool& spool, const a_kept_whole& whole,
             const std::function<void(const an_installed_file&)>& each) {
  spool.rewind();
  uint32_t rank = 0;
  bool lost = false;
  an_installed_file file;
  a_compared_file compared;
  set.for_each_selected(options, false, [&](const std::string& name, const TicTocEntry&) {
    if (lost) return;
    if (!spool.next(compared)) {
      failure_of(kStepReadInstalled, name, "comparison lost").publish();
      lost = true;
      return;
    }
    const auto kept = whole.find(rank++);
    if (kept != whole.end()) return each(kept->second);
    file.name = name;
    file.mode = compared.mode;
    file.differences = compared.differences;
    file.device = static_cast<dev_t>(compared.device);
    file.inode = static_cast<ino_t>(compared.inode);
    each(file);
  });
  return lost ? -1 : 0;
}

}  // namespace

int compare_installed_files(Tic& set, const std::string& options, int root, const unsigned char* key,
                            int key_length, unsigned jobs, const std::string& spool_directory,
                            const std::function<void(const an_installed_file&)>& each) {
  StreamOrder order(set, options, nullptr, StreamOrder::kByName);
  if (order.start() == -1) {
    publish_step(kStepExtractLoadToc);
    return -1;
  }
  const a_comparison comparison(root, key, key_length, process_umask());
  ComparisonSpool spool(spool_directory);
  a_kept_whole whole;
  if (!compare_in_name_order(order, comparison, jobs < 1 ? 1 : jobs, spool, whole)) return -1;
  return hand_out(set, options, spool, whole, each);
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
