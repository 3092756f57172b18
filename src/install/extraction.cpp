#include "install/extraction.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/sha256.h"
#include "platform/fail_point.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "install/admin_path.h"
#include "install/backup_tree.h"
#include "install/installable_entry.h"
#include "install/install_steps.h"
#include "install/install_directory.h"
#include "install/extraction_feed.h"
#include "tic/archive/stream_decoder.h"
#include "tic/archive/stream_order.h"
#include "tic/archive/tic.h"

namespace {

// How far the workers may run ahead of the committer, in files per worker:
// room for the committer to wait for runs of files while workers go on.
constexpr size_t kLookAheadPerWorker = 8;

// Why an entry of an archive may not be written at |path| (normalised; a
// directory entry with |directory|), or empty: the path, or one below it,
// is kept for the command's own files, or a directory on the way to such a
// path would be replaced.
std::string reserved_problem(const std::vector<a_reserved_path>& reserved, const std::string& path, bool directory) {
  for (const a_reserved_path& r : reserved) {
    if (path == r.path) return "refusing to write over " + r.what;
    if (path.size() > r.path.size() && path.compare(0, r.path.size(), r.path) == 0 && path[r.path.size()] == '/')
      return "refusing to write into " + r.what;
    if (!directory && r.path.size() > path.size() && r.path.compare(0, path.size(), path) == 0 &&
        r.path[path.size()] == '/')
      return "refusing to replace the directory that holds " + r.what;
  }
  return "";
}

// One file of an extraction while it is prepared and committed. Only the
// files in flight have one: the slots are reused round the look-ahead window.
struct an_extract_job {
  an_extract_job() = default;
  explicit an_extract_job(a_fed_file fed)
      : ref(fed.ref), path(std::move(fed.path)), beside(fed.beside), depends_on(fed.depends_on) {}

  a_stream_ref ref;
  std::string path;    // the name normalised: where the file goes
  bool beside = false;  // written at its path + kBesideSuffix
  // The earlier file in extraction order whose name leads to this one ("a"
  // for "a/x"), or -1: this file is prepared only once that one is in place,
  // so that it meets the path as a one-by-one extraction would.
  long long depends_on = -1;

  // Filled by prepare.
  bool header_read = false;
  // With a backup: the file's directory did not exist, and prepare left
  // everything to the commit, which makes it only after the backup tree has
  // recorded that the path held nothing.
  bool deferred = false;
  a_stream_entry entry;
  a_place place;
  std::string temporary;  // empty when none exists
  unsigned char sha256[kDigestSize] = {};  // of the data, or of a link's target
  // The permission bits the file system gave the temporary (the umask, or a
  // default ACL), read while it was written, for the record; -1 when not
  // read (a directory, or no record kept).
  int made_mode = -1;
  a_failure failure;
};

class an_extraction {
 public:
  an_extraction(Tic& tic, InstallDirectory& install, BackupTree* backup, const std::vector<a_reserved_path>& reserved,
                const unsigned char* key, int key_length, unsigned long long total,
                const TicExtraction::an_observer& observer, ExtractionJournal* journal)
      : tic_(tic),
        install_(install),
        backup_(backup),
        reserved_(reserved),
        key_(key),
        key_length_(key_length),
        total_(total),
        observer_(observer),
        journal_(journal) {}

  // Without |may_defer| the file's missing directories are made at once.
  void prepare(an_extract_job& job, const a_job_turn& turn, bool may_defer = true);
  bool commit(an_extract_job& job);
  void discard(an_extract_job& job) { remove_temporary(job); }

 private:
  bool decode(an_extract_job& job, StreamDecoder& decoder, const a_job_turn& turn);
  // Prepares |job| again on the committing thread, its directories made.
  bool prepare_now(an_extract_job& job);
  bool put_in_place(an_extract_job& job);
  // What stands at the job's path once it is put in place.
  a_recorded_file recorded(const an_extract_job& job) const;
  // Tells the journal what the job puts in place.
  void announce(const an_extract_job& job);
  void remove_temporary(an_extract_job& job);
  bool fail(an_extract_job& job);

  Tic& tic_;
  InstallDirectory& install_;
  BackupTree* backup_;
  const std::vector<a_reserved_path>& reserved_;
  const unsigned char* key_;
  int key_length_;
  unsigned long long total_;
  const TicExtraction::an_observer& observer_;
  ExtractionJournal* journal_;
  unsigned long long done_ = 0;
};

void an_extraction::prepare(an_extract_job& job, const a_job_turn& turn, bool may_defer) {
  if (job.depends_on >= 0 && !turn.wait_for_commit(static_cast<size_t>(job.depends_on))) return;
  StreamDecoder decoder(key_, key_length_);
  if (Outcome opened = decoder.open(job.ref, &turn); !opened) {
    job.failure = opened.failure();
    return;
  }
  job.header_read = true;
  job.entry = decoder.entry();
  const std::string problem = stream_entry_problem(*job.ref.name, job.entry, job.ref.entry->file_size);
  if (!problem.empty()) {
    errno = 0;
    job.failure.set(kStepEntryCheck, problem);
    return;
  }
  const std::string reserved = reserved_problem(reserved_, job.path, job.entry.is_directory());
  if (!reserved.empty()) {
    errno = 0;
    job.failure.set(kStepReserved, reserved);
    return;
  }
  // With a backup, no directory is made ahead of the commit: a restore
  // could not tell it from the administrator's own after a kill.
  const bool defer = may_defer && backup_ != nullptr;
  if (!install_.place_of(job.path, job.place, job.failure, !defer)) {
    if (defer && job.failure.error == ENOENT) {
      job.failure = a_failure{};
      job.deferred = true;
    }
    return;
  }
  if (!decode(job, decoder, turn)) {
    remove_temporary(job);
    return;
  }
  if (Outcome finished = decoder.finish(job.ref.entry->mac); !finished) {
    job.failure = finished.failure();
    remove_temporary(job);
  }
}

// Writes the entry under a temporary name (a directory is made at commit).
bool an_extraction::decode(an_extract_job& job, StreamDecoder& decoder, const a_job_turn& turn) {
  if (job.entry.is_directory()) return true;
  job.temporary = install_.temporary_name();
  UT_SHA256_CTX digest;
  UT_SHA256_Init(&digest);
  if (job.entry.is_symlink()) {
    UT_SHA256_Update(&digest, job.entry.link_target.data(), job.entry.link_target.size());
    UT_SHA256_Final(&digest, job.sha256);
    job.made_mode = 0777;  // a link's own bits are always these
    if (symlinkat(job.entry.link_target.c_str(), job.place.fd(), job.temporary.c_str()) == 0) return true;
    job.temporary.clear();
    return job.failure.set(kStepWriteEntry);
  }
  // As a fresh file gets it: the permission bits under the umask, without
  // set-user-ID, set-group-ID and sticky bits.
  const mode_t mode = static_cast<mode_t>(job.entry.mode & 0777);
  UniqueFd file(openat(job.place.fd(), job.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       mode));
  if (!file.valid()) {
    job.temporary.clear();
    return job.failure.set(kStepWriteEntry);
  }
  char buffer[4 * kIoBlockSize];
  // The stream is held to the size its entry gives: decoding stops as soon
  // as it yields more, so that no stream can fill the disk.
  const uint64_t listed = job.ref.entry->file_size;
  uint64_t written = 0;
  for (;;) {
    if (turn.cancelled()) return job.failure.set(kStepWriteEntry, "extraction stopped");
    const Result<size_t> read = decoder.read(buffer, sizeof buffer);
    if (!read) return job.failure.set(read.failure().step, read.failure().cause);
    const auto got = static_cast<ssize_t>(read.value());
    if (got == 0) break;
    written += static_cast<uint64_t>(got);
    if (written > listed) {
      errno = 0;
      return job.failure.set(kStepReadData, "stream holds more than its entry's " + std::to_string(listed) + " bytes");
    }
    UT_SHA256_Update(&digest, buffer, static_cast<size_t>(got));
    if (write_full(file.get(), buffer, static_cast<size_t>(got)) != got) return job.failure.set(kStepWriteEntry);
  }
  UT_SHA256_Final(&digest, job.sha256);
  if (written != listed) {
    errno = 0;
    return job.failure.set(kStepReadData, "stream holds " + std::to_string(written) + " bytes, its entry " +
                                              std::to_string(listed));
  }
  // Read here, on a worker, rather than after the rename on the one thread
  // that puts files in place.
  struct stat st;
  if ((observer_ || journal_ != nullptr) && fstat(file.get(), &st) == 0) job.made_mode = static_cast<int>(st.st_mode & 07777);
  // Some file systems report a full disk only when the file is closed.
  if (::close(file.release()) != 0) return job.failure.set(kStepWriteEntry);
  return true;
}

void an_extraction::remove_temporary(an_extract_job& job) {
  if (job.temporary.empty()) return;
  unlinkat(job.place.fd(), job.temporary.c_str(), 0);
  job.temporary.clear();
}

bool an_extraction::fail(an_extract_job& job) {
  remove_temporary(job);
  job.failure.publish(*job.ref.name);
  return false;
}

bool an_extraction::commit(an_extract_job& job) {
  const TicTocEntry& entry = *job.ref.entry;
  // A stream whose header could not be read fails before the file is
  // announced; any later failure after it, as when the file is written.
  if (!job.header_read) return fail(job);
  tic_.extraction_progress(job.beside ? *job.ref.name + kBesideSuffix : *job.ref.name, entry.file_size,
                           job.entry.mode, done_, total_);
  if (job.failure.failed()) return fail(job);

  bool backed_up = false;
  if (job.deferred) {
    // While the directory is still missing, the backup tree records first
    // that nothing stood at the path; then the directories are made.
    a_place probe;
    a_failure missing;
    if (!install_.place_of(job.path, probe, missing, false) && missing.error == ENOENT) {
      if (!job.entry.is_directory() && !backup_->back_up_absent(job.path, job.failure)) return fail(job);
      backed_up = true;
    }
    if (!prepare_now(job)) return fail(job);
  } else if (!install_.still_in_place(job.place)) {
    // The directory was moved away (into the backup) after the file was
    // prepared: it is prepared again, where its path now leads.
    if (!prepare_now(job)) return fail(job);
  }
  if (backup_ != nullptr && !backed_up &&
      !backup_->back_up(job.path, job.place, job.entry.is_directory(), job.failure))
    return fail(job);
  FAIL_POINT_IF(backup_ != nullptr, "backed-up");
  // A directory is told once made; anything else before the rename, so
  // that a kill cannot put it in place untold.
  if (!job.entry.is_directory()) announce(job);
  if (!put_in_place(job)) return fail(job);
  if (job.entry.is_directory()) announce(job);
  FAIL_POINT("put-in-place");
  if (observer_) observer_(job.path, recorded(job), job.ref.rank);
  done_ += entry.file_size;
  return true;
}

void an_extraction::announce(const an_extract_job& job) {
  if (journal_ == nullptr) return;
  const std::string& path = job.path;
  const size_t suffix = job.beside ? std::strlen(kBesideSuffix) : 0;
  journal_->placing(path.substr(0, path.size() - suffix), recorded(job), job.beside);
}

a_recorded_file an_extraction::recorded(const an_extract_job& job) const {
  a_recorded_file file;
  file.type = job.entry.is_directory() ? a_file_type::kDirectory
              : job.entry.is_symlink() ? a_file_type::kSymlink
                                       : a_file_type::kFile;
  struct stat st;
  // What the file system made of the permission bits (the umask, or a
  // directory that was there already).
  if (job.made_mode >= 0)
    file.mode = static_cast<unsigned>(job.made_mode);
  else if (fstatat(job.place.fd(), job.place.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    file.mode = static_cast<unsigned>(st.st_mode & 07777);
  else
    file.mode = static_cast<unsigned>(job.entry.mode & 0777);
  file.size = job.ref.entry->file_size;
  std::memcpy(file.sha256, job.sha256, kDigestSize);
  std::memcpy(file.mac, job.ref.entry->mac, kDigestSize);
  return file;
}

bool an_extraction::prepare_now(an_extract_job& job) {
  remove_temporary(job);
  job = an_extract_job(a_fed_file{job.ref, job.path, job.beside, job.depends_on});
  struct a_now : a_job_turn {
    bool cancelled() const override { return false; }
    bool wait_for_commit(size_t) const override { return true; }
  } now;
  prepare(job, now, false);
  return !job.failure.failed();
}

bool an_extraction::put_in_place(an_extract_job& job) {
  const int dir = job.place.fd();
  const char* base = job.place.base.c_str();
  if (job.entry.is_directory()) {
    struct stat st;
    if (fstatat(dir, base, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) return true;
      if (unlinkat(dir, base, 0) != 0) return job.failure.set(kStepCommit);
    }
    if (mkdirat(dir, base, static_cast<mode_t>(job.entry.mode & 0777)) == 0) return true;
    return job.failure.set(kStepCommit);
  }
  if (renameat(dir, job.temporary.c_str(), dir, base) == 0) {
    job.temporary.clear();
    return true;
  }
  // An empty directory in the way gives way, as it would to a fresh file.
  if ((errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST) && unlinkat(dir, base, AT_REMOVEDIR) == 0 &&
      renameat(dir, job.temporary.c_str(), dir, base) == 0) {
    job.temporary.clear();
    return true;
  }
  if (errno == ENOTEMPTY || errno == EEXIST) errno = EISDIR;
  return job.failure.set(kStepCommit);
}

// An entry of the paths' check: a file whose path is not its name, or one
// whose name is such a path.
struct a_path_use {
  std::string path;
  uint32_t rank;
  const std::string* name;
};

// Removes what |paths| name below |install| (TicExtraction::set_removals),
// keeping files and links in |backup| first when it is not null. false
// with the failure recorded.
bool remove_paths(InstallDirectory& install, BackupTree* backup, ExtractionJournal* journal,
                  const std::vector<std::string>& paths) {
  std::set<std::string> may_be_empty;
  for (const std::string& path : paths) {
    a_place place;
    a_failure failure;
    // Nothing on the way is made, and no link is followed.
    if (!install.place_of(path, place, failure, false)) {
      if (failure.error == ENOENT || failure.error == ENOTDIR || failure.error == ELOOP) continue;
      failure.publish(path);
      return false;
    }
    struct stat st;
    if (fstatat(place.fd(), place.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return failure_of(kStepRemoveInstalled, path).publish();
    }
    if (S_ISDIR(st.st_mode)) {
      may_be_empty.insert(path);
      continue;
    }
    if (backup != nullptr && !backup->back_up(path, place, false, failure)) {
      failure.publish(path);
      return false;
    }
    FAIL_POINT_IF(backup != nullptr, "backed-up");
    if (journal != nullptr) journal->removing(path);
    if (unlinkat(place.fd(), place.base.c_str(), 0) != 0 && errno != ENOENT)
      return failure_of(kStepRemoveInstalled, path).publish();
    FAIL_POINT("removed");
    add_parent_directories(path, may_be_empty);
  }
  remove_empty_directories(install.descriptor(), may_be_empty);
  return true;
}

// Finds where the backup directory |path| lies (locate_admin_path) and
// checks that it can take backups: not through a symbolic link inside the
// install directory, and neither the install directory itself nor above
// it. false with the failure recorded.
bool place_backup_directory(int root, const std::string& path, an_admin_path& where) {
  a_failure failure;
  const a_reach reach = locate_admin_path(root, path, where, failure);
  if (reach == a_reach::kFailed) {
    failure.publish(path);
    return false;
  }
  errno = ELOOP;
  if (reach == a_reach::kThroughLink)
    return failure_of(kStepBackupMove, path, "refusing to follow symbolic link " + where.link).publish();
  bool holds_install = where.inside && where.relative.empty();
  if (!where.inside && reach == a_reach::kReached) {
    UniqueFd directory(openat(where.parent.get(), where.base.empty() ? "." : where.base.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    holds_install = directory.valid() && holds_directory(directory.get(), root);
  }
  errno = EINVAL;
  if (holds_install)
    return failure_of(kStepBackupMove, path, "backup directory holds the install directory").publish();
  return true;
}

}  // namespace

int CurrentDirectoryExtractor::extract(Tic& archive, const std::string& options, const std::string& backup_dir) {
  // The install directory is the current one.
  UniqueFd here(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  return TicExtraction(archive, here.get()).extract(options, backup_dir);
}

TicExtraction::TicExtraction(Tic& archive, int root, unsigned jobs)
    : archive_(archive), root_(root), jobs_(jobs < 1 ? 1 : jobs) {}

TicExtraction::TicExtraction(Tic& archive, int root, OrderedJobPool& pool)
    : archive_(archive), root_(root), jobs_(pool.workers()), pool_(&pool) {}

a_file_decision TicExtraction::decide(const a_stream_ref& ref) const {
  return decision_ ? decision_(ref) : a_file_decision::kWrite;
}

int TicExtraction::for_each_planned(const std::string& options, const a_planned_visit& visit) {
  // Files left out are never referenced: an upgrade to the same release
  // holds nothing per file here.
  if (archive_.for_each_selected_stream(options, [&](const a_stream_ref& ref) {
        const a_file_decision decision = decide(ref);
        if (decision != a_file_decision::kSkip) visit(ref, decision == a_file_decision::kWriteBeside);
      }) != 0) {
    publish_step(kStepExtractLoadToc);
    return -1;
  }
  return 0;
}

// Names are nearly always in normal form and written at their path: those
// differ, as the names of one table do, and only the files whose path is
// not their name are held, with the files written at a name one of those
// paths reaches.
bool TicExtraction::check_paths(const std::string& options) {
  std::vector<a_path_use> moved;
  (void)for_each_planned(options, [&](const a_stream_ref& ref, bool beside) {
    std::string path = normalised_path(*ref.name) + (beside ? kBesideSuffix : "");
    if (path != *ref.name) moved.push_back({std::move(path), ref.rank, ref.name});
  });
  if (moved.empty()) return true;
  auto by_path = [](const a_path_use& a, const a_path_use& b) {
    return a.path != b.path ? a.path < b.path : a.rank < b.rank;
  };
  std::sort(moved.begin(), moved.end(), by_path);
  // The files written at their names that one of those paths reaches.
  std::vector<a_path_use> met;
  (void)for_each_planned(options, [&](const a_stream_ref& ref, bool beside) {
    if (beside || normalised_path(*ref.name) != *ref.name) return;
    auto at = std::lower_bound(moved.begin(), moved.end(), *ref.name,
                               [](const a_path_use& use, const std::string& path) { return use.path < path; });
    if (at != moved.end() && at->path == *ref.name) met.push_back({*ref.name, ref.rank, ref.name});
  });
  moved.insert(moved.end(), met.begin(), met.end());
  std::sort(moved.begin(), moved.end(), by_path);
  for (size_t i = 1; i < moved.size(); ++i) {
    if (moved[i].path != moved[i - 1].path) continue;
    errno = 0;
    return failure_of(kStepSamePath, *moved[i].name, "reaches the same path as " + *moved[i - 1].name).publish();
  }
  return true;
}

unsigned long long TicExtraction::bytes_to_write(const std::string& options) {
  unsigned long long total = 0;
  if (for_each_planned(options, [&](const a_stream_ref& ref, bool) { total += ref.entry->file_size; }) != 0) return 0;
  return total;
}

int TicExtraction::check_room(const std::string& options, bool backup, const std::string& directory_name) {
  // Measured first, so that one walk sums what the files take in whole
  // blocks; a failure counts only when there is something to write.
  struct statvfs fs;
  const bool measured = fstatvfs(root_, &fs) == 0;
  const int measure_error = errno;
  const unsigned long long block = measured && fs.f_frsize != 0 ? fs.f_frsize : 512;
  size_t files = 0;
  unsigned long long needed = 0;
  if (for_each_planned(options, [&](const a_stream_ref& ref, bool) {
        ++files;
        needed += (ref.entry->file_size + block - 1) / block * block;
      }) != 0)
    return -1;
  if (files == 0) return 0;
  if (faccessat(root_, ".", W_OK, 0) != 0) {
    failure_of(kStepSpace, directory_name).publish();
    return -1;
  }
  if (!measured) {
    errno = measure_error;
    failure_of(kStepSpace, directory_name).publish();
    return -1;
  }
  const unsigned long long available = static_cast<unsigned long long>(fs.f_bavail) * block;
  if (needed <= available) return 0;
  // Files replaced without a backup give their room back.
  unsigned long long freed = 0;
  if (!backup) {
    (void)for_each_planned(options, [&](const a_stream_ref& ref, bool beside) {
      const std::string path = normalised_path(*ref.name) + (beside ? kBesideSuffix : "");
      struct stat st;
      if (fstatat(root_, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        freed += (static_cast<unsigned long long>(st.st_size) + block - 1) / block * block;
    });
  }
  if (needed <= available + freed) return 0;
  errno = ENOSPC;
  failure_of(kStepSpace, directory_name,
             "not enough space: " + std::to_string(needed - freed) + " bytes needed, " + std::to_string(available) +
                 " available")
      .publish();
  return -1;
}

bool open_backup_tree(InstallDirectory& install, const std::string& backup_dir,
                      std::vector<a_reserved_path>& reserved, std::unique_ptr<BackupTree>& backup) {
  an_admin_path where;
  if (!place_backup_directory(install.descriptor(), backup_dir, where)) return false;
  if (where.inside) reserved.push_back({where.relative, "the backup directory"});
  // Where the tree keeps its own files no backup may go.
  reserved.push_back({kBackupOwnDirectory, "the backup tree's own files"});
  backup = std::make_unique<BackupTree>(install, backup_dir, where.inside, where.relative);
  return true;
}

bool TicExtraction::begin(BackupTree* backup) {
  a_failure failure;
  if (backup != nullptr && !backup->make(failure)) {
    failure.publish("");
    return false;
  }
  if (journal_ == nullptr) return true;
  const Outcome begun = journal_->begin(backup);
  if (!begun) begun.failure().publish(begun.failure().subject);
  return begun.ok();
}

bool TicExtraction::held_back() {
  if (!commit_gate_ || commit_gate_()) return false;
  errno = 0;
  publish_step(kStepHeldBack);
  return true;
}

int TicExtraction::extract(const std::string& options, const std::string& backup_dir) {
  StreamOrder order(archive_, options, [this](const a_stream_ref& ref) { return decide(ref) != a_file_decision::kSkip; });
  if (order.start() != 0) {
    publish_step(kStepExtractLoadToc);
    return -1;
  }
  const size_t count = order.size();
  if (count == 0 && removals_.empty()) return 0;
  if (!check_paths(options)) return -1;
  const unsigned long long total = order.bytes();
  const size_t window = kLookAheadPerWorker * jobs_;
  ExtractionFeed feed(order, [this](const a_stream_ref& ref) { return decide(ref) == a_file_decision::kWriteBeside; },
                      window);
  std::vector<an_extract_job> slots(jobs_ <= 1 ? 1 : std::min(window, count));
  auto job = [&](size_t i) -> an_extract_job& { return slots[i % slots.size()]; };

  a_failure failure;
  InstallDirectory install;
  if (!install.open(".", false, failure, root_)) {
    failure.publish(".");
    return -1;
  }
  std::vector<a_reserved_path> reserved = reserved_paths_;
  std::unique_ptr<BackupTree> backup;
  if (!backup_dir.empty() && !open_backup_tree(install, backup_dir, reserved, backup)) return -1;
  if (!begin(backup.get())) return -1;

  const bool keyed = archive_.has_key();
  an_extraction extraction(archive_, install, backup.get(), reserved, keyed ? archive_.key() : nullptr,
                           keyed ? archive_.key_length() : 0, total, observer_, journal_);
  std::unique_ptr<OrderedJobPool> own_pool;
  if (pool_ == nullptr) own_pool = std::make_unique<OrderedJobPool>(jobs_);
  const size_t committed = (pool_ != nullptr ? *pool_ : *own_pool).run(
      count, window,
      [&](size_t i, const a_job_turn& turn) {
        job(i) = an_extract_job(feed.take(i));
        extraction.prepare(job(i), turn);
      },
      [&](size_t i) {
        if (i == 0 && held_back()) {
          extraction.discard(job(i));
          return false;
        }
        return extraction.commit(job(i)) && ERROR == 0;
      },
      [&](size_t i) { extraction.discard(job(i)); });
  if (committed < count) {
    install.remove_empty_created_directories();
    if (committed == 0 && backup) backup->remove_when_empty();
    return -1;
  }
  if (!removals_.empty()) {
    // Nothing is taken away before the gate has passed either.
    if (count == 0 && held_back()) return -1;
    if (!remove_paths(install, backup.get(), journal_, removals_)) return -1;
  }
  // "ok" in the log promises that the installed files are on disk.
  if (!install.sync(failure) || (backup && !backup->sync(failure))) {
    failure.publish(".");
    return -1;
  }
  return 0;
}
