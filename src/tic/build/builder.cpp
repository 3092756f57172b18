// The archive builder: writes a TIC archive from a prepared table of
// contents and a directory scan.
//
// Every scanned file becomes its own stream: a bzip2-compressed pax archive
// of exactly one tar entry, encrypted under the archive key (the last block
// zero-padded to 8 bytes, the chain fresh for every stream) and covered by
// the stream's own HMAC. A stream therefore depends only on its file, so
// several are compressed at once (Tic::set_jobs) into sinks of their own and
// appended to the archive one after another in the scan's byte-wise path
// order: the archive is the same whatever the number of jobs. The streams
// lie back to back from offset 104. After the last one come the version
// stamp block and the tables; the header, with the whole-archive MAC over
// the tables, is written last over the 104 zero bytes left at the start. A
// build that fails leaves the file without a header.
//
// Nothing of the moment of the build reaches a stream: the tar entries carry
// no access or change time, and with a source date epoch no modification
// time later than it.
#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "platform/unique.h"
#include "scan/dir_scan.h"
#include "stamp/dbversion_writer.h"
#include "tic/error.h"
#include "tic/archive/stream_support.h"
#include "tic/archive/tic.h"

namespace {

// The writer hands the stream callback whole blocks of kIoBlockSize, and one
// last block of whatever remains, unpadded: the callback accepts no larger
// block.
static_assert(kIoBlockSize <= INT32_MAX);

// Product names whose archives carry the version 1.0.0 build 4716; the core
// product is stamped under the name of the whole.
constexpr char kNimbrel[] = "nimbrel";
constexpr char kNimbrelCore[] = "nimbrel_core";

// How much of one stream waits in memory for its turn; the rest goes to a
// temporary file. With eight streams per job in flight this bounds the
// builder's memory whatever the size of the files.
constexpr size_t kStreamMemoryLimit = size_t{1} << 20;
constexpr size_t kStreamsAheadPerJob = 8;

// bzip2 works in blocks of 100,000 bytes times its level (1 to 9). A stream
// that fits a smaller block compresses to the same data with a smaller
// compressor, whose set-up costs far less: the level is the smallest that
// holds the file and its tar headers in one block, at most 9.
constexpr uint64_t kBzip2BlockUnit = 100000;
constexpr uint64_t kTarOverhead = 4096;

unsigned bzip2_level_for(uint64_t size) {
  const uint64_t level = (size + kTarOverhead) / kBzip2BlockUnit + 1;
  return static_cast<unsigned>(std::min<uint64_t>(level, 9));
}

using Writer = Unique<struct archive, archive_write_free>;
using Entry = Unique<struct archive_entry, archive_entry_free>;

const char kNotArchivable[] = "not a regular file, directory or symbolic link";

// The stored bytes of one stream until they are appended to the archive.
class StreamSink : public StoredSink {
 public:
  explicit StreamSink(const std::string& spill_directory) : spill_directory_(spill_directory) {}

  // False (errno set) when the temporary file cannot take the bytes.
  bool append(const unsigned char* bytes, size_t size) override {
    if (!spill_.valid() && memory_.size() + size <= kStreamMemoryLimit) {
      memory_.insert(memory_.end(), bytes, bytes + size);
      return true;
    }
    if (!spill_.valid() && !open_spill()) return false;
    if (write_full(spill_.get(), bytes, size) != static_cast<ssize_t>(size)) return false;
    spilled_ += size;
    return true;
  }

  // Writes every byte at the descriptor's position; false (errno set) on a
  // short write or read.
  bool copy_to(int descriptor) const {
    if (!memory_.empty() &&
        write_full(descriptor, memory_.data(), memory_.size()) != static_cast<ssize_t>(memory_.size()))
      return false;
    unsigned char block[kIoBlockSize];
    for (uint64_t at = 0; at < spilled_;) {
      const size_t wanted = static_cast<size_t>(std::min<uint64_t>(sizeof block, spilled_ - at));
      const ssize_t got = pread_full(spill_.get(), block, wanted, at);
      if (got != static_cast<ssize_t>(wanted)) {
        if (got >= 0) errno = EIO;
        return false;
      }
      if (write_full(descriptor, block, wanted) != static_cast<ssize_t>(wanted)) return false;
      at += wanted;
    }
    return true;
  }

 private:
  // An unnamed file beside the archive: the disk that takes the archive
  // takes its streams, and nothing is left behind.
  bool open_spill() {
    spill_.reset(::open(spill_directory_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (spill_.valid()) return true;
    std::string name = spill_directory_ + "/.tictool-stream-XXXXXX";
    spill_.reset(mkostemp(&name[0], O_CLOEXEC));
    if (!spill_.valid()) return false;
    unlink(name.c_str());
    return true;
  }

  const std::string& spill_directory_;
  std::vector<unsigned char> memory_;
  UniqueFd spill_;
  uint64_t spilled_ = 0;
};

// One scanned path on its way into the archive.
struct a_stream_job {
  std::string path;
  TicTocEntry* entry = nullptr;
  // Filled by the job that compresses it. A failure is kept until the
  // stream's turn to be written, so that the one reported is the first in
  // path order, whatever the jobs.
  bool is_archive = false;  // the archive itself, found in the tree
  a_failure failure;
  std::string failure_subject;
  unsigned long mode = 0;
  uint64_t size = 0;
  uint64_t stored_length = 0;
  unsigned char mac[32] = {};
  std::unique_ptr<StreamSink> sink;
};

// What every job needs to know about the build.
struct a_stream_settings {
  const Tic* tic = nullptr;
  std::string archive;
  std::string spill_directory;
  dev_t archive_device = 0;
  ino_t archive_inode = 0;
  bool has_source_date_epoch = false;
  long long source_date_epoch = 0;
};

// What libarchive said about a writer's failure, if anything.
std::string writer_message(struct archive* a) {
  const char* message = archive_error_string(a);
  return message != nullptr ? message : "";
}

void fail(a_stream_job& job, unsigned step, const std::string& subject, const std::string& cause = std::string()) {
  if (job.failure.failed()) return;
  job.failure.set(step, cause);
  job.failure_subject = subject;
}

// A writer for one stream: bzip2 at |level|, pax, kIoBlockSize blocks with
// an unpadded last block, opened on |stream|. Null with the failing step in
// |step|.
Writer open_stream_writer(a_tic_support* stream, unsigned level, unsigned& step) {
  Writer writer(archive_write_new());
  step = kStepWriterNew;
  if (!writer) return nullptr;
  struct archive* a = writer.get();
  const std::string level_text = std::to_string(level);
  step = kStepBzip2Filter;
  if (archive_write_add_filter_bzip2(a) != ARCHIVE_OK) return nullptr;
  if (archive_write_set_filter_option(a, "bzip2", "compression-level", level_text.c_str()) != ARCHIVE_OK)
    return nullptr;
  step = kStepPaxFormat;
  if (archive_write_set_format_pax(a) != ARCHIVE_OK) return nullptr;
  step = kStepBlockSize;
  if (archive_write_set_bytes_per_block(a, static_cast<int>(kIoBlockSize)) != ARCHIVE_OK) return nullptr;
  step = kStepLastBlockSize;
  if (archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK) return nullptr;
  step = kStepWriterOpen;
  if (archive_write_open(a, stream, tic_open, tic_write, tic_close) != ARCHIVE_OK) return nullptr;
  step = 0;
  return writer;
}

// Copies the open file into the writer as the current entry's data.
void copy_contents(a_stream_job& job, int file, struct archive* writer, const std::string& archive) {
  unsigned char buffer[kIoBlockSize];
  for (;;) {
    const ssize_t n = read_full(file, buffer, sizeof buffer);
    if (n == 0) return;
    if (n < 0) return fail(job, kStepReadFile, job.path);
    if (archive_write_data(writer, buffer, static_cast<size_t>(n)) != n) {
      // The compressor's output goes to the sink: a failure here is the
      // archive's disk (a full disk), not the input file's.
      return fail(job, kStepWriteData, archive, writer_message(writer));
    }
  }
}

// Compresses one scanned path into its job's sink. Runs on any thread: it
// touches nothing but the job and what the settings lend read-only.
void compress_stream(const a_stream_settings& settings, a_stream_job& job) {
  const std::string& path = job.path;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return fail(job, kStepTarEntry, path);
  if (settings.archive_inode != 0 && st.st_dev == settings.archive_device && st.st_ino == settings.archive_inode) {
    job.is_archive = true;
    return;
  }
  // A regular file is opened without following links and without waiting:
  // what was scanned may have been replaced by a link or a FIFO since.
  UniqueFd file;
  if (S_ISREG(st.st_mode)) {
    file.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return fail(job, kStepOpenFile, path);
    struct stat opened;
    if (fstat(file.get(), &opened) != 0) return fail(job, kStepOpenFile, path);
    if (!S_ISREG(opened.st_mode)) {
      errno = 0;
      return fail(job, kStepOpenFile, path, kNotArchivable);
    }
    st = opened;
  } else if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
    errno = 0;
    return fail(job, kStepOpenFile, path, kNotArchivable);
  }
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);

  job.sink = std::make_unique<StreamSink>(settings.spill_directory);
  // The context outlives the writer that points at it.
  a_tic_support stream{};
  stream.sink = job.sink.get();
  stream.count = 0;
  stream.encryption.direction = settings.tic->has_key() ? ENCRYPT_WRITING : ENCRYPT_NONE;
  settings.tic->init_encryption(&stream);

  unsigned step = 0;
  Writer writer = open_stream_writer(&stream, bzip2_level_for(size), step);
  if (!writer) return fail(job, step, settings.archive);

  Entry entry(archive_entry_new());
  if (!entry) return fail(job, kStepTarEntry, path);
  archive_entry_copy_stat(entry.get(), &st);
  archive_entry_set_pathname(entry.get(), path.c_str());
  // Whole seconds: a fraction would take a pax extended header of its own,
  // another 1024 bytes in every stream to compress and to decode, for a time
  // that install does not restore.
  archive_entry_set_mtime(entry.get(), st.st_mtime, 0);
  archive_entry_unset_atime(entry.get());
  archive_entry_unset_ctime(entry.get());
  archive_entry_unset_birthtime(entry.get());
  if (settings.has_source_date_epoch && st.st_mtime > settings.source_date_epoch)
    archive_entry_set_mtime(entry.get(), static_cast<time_t>(settings.source_date_epoch), 0);
  if (S_ISDIR(st.st_mode)) archive_entry_set_size(entry.get(), 0);

  if (S_ISLNK(st.st_mode)) {
    char target[kIoBlockSize];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n >= static_cast<ssize_t>(sizeof target)) errno = ENAMETOOLONG;
    if (n < 1 || n >= static_cast<ssize_t>(sizeof target)) return fail(job, kStepReadLink, path);
    target[n] = '\0';
    archive_entry_set_symlink(entry.get(), target);
  }

  // A warning is a name (or link target) that is not UTF-8: the header then
  // holds its bytes as they are, marked as binary, which is what is wanted.
  const int header = archive_write_header(writer.get(), entry.get());
  if (header != ARCHIVE_OK && header != ARCHIVE_WARN)
    return fail(job, kStepTarHeader, path, writer_message(writer.get()));
  if (file.valid()) {
    copy_contents(job, file.get(), writer.get(), settings.archive);
    if (job.failure.failed()) return;
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    return fail(job, kStepCloseWriter, settings.archive, writer_message(writer.get()));
  writer.reset();

  std::memcpy(job.mac, stream.mac, sizeof job.mac);
  job.mode = archive_entry_mode(entry.get());
  job.size = size;
  job.stored_length = stream.count;
}

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The header fields a version key sets, and the largest value each holds.
struct a_version_key {
  const char* key;
  unsigned long long max;
};
constexpr a_version_key kVersionKeys[] = {
    {"VERSION_MAJOR", 255}, {"VERSION_MINOR", 255}, {"VERSION_PATCH", 255}, {"BUILD_NUMBER", 4294967295ULL}};

const a_version_key* version_key(const std::string& key) {
  for (const a_version_key& k : kVersionKeys)
    if (strcasecmp(k.key, key.c_str()) == 0) return &k;
  return nullptr;
}

// A plain decimal number: digits only, no leading zero, at most |max|.
bool parse_version_number(const std::string& text, unsigned long long max, unsigned long long& out) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

}  // namespace

std::string Tic::version_info_problem(const std::string& key, const std::string& value) {
  if (const char* problem = stamp_entry_problem(key, value)) return problem;
  const a_version_key* version = version_key(key);
  unsigned long long number;
  if (version != nullptr && !parse_version_number(value, version->max, number))
    return "not a number from 0 to " + std::to_string(version->max);
  return "";
}

void Tic::build_version(TicHeader& header, a_stamp_entries& stamp) const {
  header = TicHeader();
  a_stamp_version version;
  version.product = product_name_;
  if (product_name_ == kNimbrel || product_name_ == kNimbrelCore) {
    header.major = 1;
    header.minor = 0;
    header.patch = 0;
    header.build = 4716;
    version.product = kNimbrel;
  }
  for (const a_stamp_entry& entry : version_info_) {
    const a_version_key* key = version_key(entry.key);
    unsigned long long number;
    if (key == nullptr || !parse_version_number(entry.value, key->max, number)) continue;
    if (key == &kVersionKeys[0]) header.major = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[1]) header.minor = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[2]) header.patch = static_cast<uint8_t>(number);
    if (key == &kVersionKeys[3]) header.build = static_cast<uint32_t>(number);
  }
  version.major = header.major;
  version.minor = header.minor;
  version.patch = header.patch;
  version.build = header.build;
  a_stamp_time when;
  when.utc = has_source_date_epoch_;
  when.when = has_source_date_epoch_ ? static_cast<time_t>(source_date_epoch_) : time(nullptr);
  stamp = archive_stamp_entries(version, when);
  for (const a_stamp_entry& entry : version_info_) set_stamp_entry(stamp, entry.key, entry.value);
}

int Tic::compress(const a_dir_scan_info* scan, bool all) {
  const std::string archive = path_ != nullptr ? path_ : "";
  descriptor_.reset(path_ == nullptr ? -1 : ::open(path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!descriptor_.valid()) {
    record_error(kStepOpenArchive, archive);
    return 1;
  }
  a_stream_settings settings;
  settings.tic = this;
  settings.archive = archive;
  settings.spill_directory = directory_of(archive);
  settings.has_source_date_epoch = has_source_date_epoch_;
  settings.source_date_epoch = source_date_epoch_;
  struct stat archive_status;
  if (fstat(descriptor_.get(), &archive_status) == 0) {
    settings.archive_device = archive_status.st_dev;
    settings.archive_inode = archive_status.st_ino;
  }

  // Every path must have its entry before anything is compressed; a listed
  // directory is stored, any other is only the way to its members.
  std::vector<a_stream_job> jobs;
  bool listed = true;
  for (const auto& [path, scanned] : scan->files) {
    auto found = toc_.file_map.find(path);
    if (found == toc_.file_map.end()) {
      // A directory named by a path list is as good as one met in a tree.
      struct stat st;
      const bool directory = scanned.directory || (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
      if (directory || compressing_me(path)) continue;
      fprintf(stderr, "File not in toc: %s\n", path.c_str());
      record_error_word(kErrorNotInToc, path);
      listed = false;
      break;
    }
    jobs.emplace_back();
    jobs.back().path = path;
    jobs.back().entry = &found->second;
  }

  // The header's place stays zero until everything else is written.
  const bool placed = listed && ::lseek(descriptor_.get(), TicHeader::kSize, SEEK_SET) ==
                                    static_cast<off_t>(TicHeader::kSize);
  if (listed && !placed) record_error(kStepSeekFirstStream, archive);
  if (placed) {
    // Streams are compressed on the workers, at most kStreamsAheadPerJob per
    // worker ahead of the one being written, and written in path order.
    // Every stream is written whole or the build ends, so the next one
    // starts where the last one stopped.
    unsigned long long done = 0;
    uint64_t data_offset = TicHeader::kSize;
    const size_t written = run_ordered_jobs(
        jobs.size(), jobs_, kStreamsAheadPerJob * jobs_,
        [&](size_t i, const a_job_turn&) { compress_stream(settings, jobs[i]); },
        [&](size_t i) {
          a_stream_job& job = jobs[i];
          if (job.failure.failed()) {
            job.failure.publish(job.failure_subject);
            return false;
          }
          if (!job.is_archive) {
            compression_progress(job.path, job.size, job.mode, done, 0);
            if (!job.sink->copy_to(descriptor_.get())) return record_failure(kStepCloseWriter, archive);
            TicTocEntry& entry = *job.entry;
            std::memcpy(entry.mac, job.mac, sizeof entry.mac);
            entry.data_offset = data_offset;
            entry.file_size = job.size;
            entry.stored_length = job.stored_length;
            data_offset += job.stored_length;
            done += job.size;
          }
          job.sink.reset();
          return true;
        },
        [&](size_t i) { jobs[i].sink.reset(); });
    if (written == jobs.size() && write_toc(all) != 0) record_error(kStepFinish, archive);
  }
  descriptor_.reset();
  return ERROR != 0 ? 1 : 0;
}

int Tic::write_toc(bool all) {
  TicHeader header;
  a_stamp_entries stamp;
  build_version(header, stamp);
  if (product_name_ == kNimbrelCore) product_name_ = kNimbrel;
  const int fd = descriptor_.get();
  // A stamp block that could not be written whole means the disk refuses
  // data; the tables would not fare better.
  if (write_dbversion(header) != 0) return -1;
  if (!toc_.write(fd, header, all)) return -1;
  if (fsync(fd) != 0) return -1;
  if (header.toc_offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  if (compute_mac(static_cast<long long>(header.toc_offset), header.mac, sizeof header.mac) != 0) return -1;
  if (pwrite_full(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return -1;
  return 0;
}

int Tic::write_dbversion(TicHeader& header) {
  TicHeader version_header;
  a_stamp_entries stamp;
  build_version(version_header, stamp);
  // The entries follow the header as the caller has it.
  set_stamp_entry(stamp, "VERSION_MAJOR", std::to_string(header.major));
  set_stamp_entry(stamp, "VERSION_MINOR", std::to_string(header.minor));
  set_stamp_entry(stamp, "VERSION_PATCH", std::to_string(header.patch));
  set_stamp_entry(stamp, "BUILD_NUMBER", std::to_string(header.build));
  for (const a_stamp_entry& entry : version_info_) set_stamp_entry(stamp, entry.key, entry.value);
  // A block that readers would cut short is not written at all.
  if (!stamp_fits(stamp)) {
    errno = EOVERFLOW;
    return -1;
  }
  char block[kStampDataSize];
  const size_t length = compose_stamp(stamp, block);

  // Offsets and the written length are stored widened with sign, so a failed
  // seek or write shows in the header as all ones.
  const off_t position = ::lseek(descriptor_.get(), 0, SEEK_CUR);
  header.version_offset = static_cast<uint64_t>(static_cast<int64_t>(position));
  const ssize_t written = write_full(descriptor_.get(), block, length);
  header.version_length = static_cast<uint64_t>(static_cast<int64_t>(written));
  return written == static_cast<ssize_t>(length) ? 0 : -1;
}
