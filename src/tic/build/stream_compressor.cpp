#include "tic/build/stream_compressor.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/unique.h"

namespace {

// The writer hands the stream callback whole blocks of kIoBlockSize, and one
// last block of whatever remains, unpadded: the callback accepts no larger
// block.
static_assert(kIoBlockSize <= INT32_MAX);

// How much of one stream waits in memory for its turn; the rest goes to a
// temporary file. With a bounded number of streams in flight this bounds
// the builder's memory whatever the size of the files.
constexpr size_t kStreamMemoryLimit = size_t{1} << 20;

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

// What libarchive said about a writer's failure, if anything.
std::string writer_message(struct archive* a) {
  const char* message = archive_error_string(a);
  return message != nullptr ? message : "";
}

// Keeps the first failure of |job|, about |subject|; false.
bool fail(a_stream_job& job, unsigned step, const std::string& subject, const std::string& cause = std::string()) {
  if (job.failure.failed()) return false;
  job.failure.set(step, cause);
  job.failure_subject = subject;
  return false;
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

// Looks at the job's path (never following a link) and, for a regular
// file, opens it into |file|; |st| describes what will be archived. False
// when the path cannot be archived, or is the archive itself.
bool open_input(const a_stream_settings& settings, a_stream_job& job, struct stat& st, UniqueFd& file) {
  const std::string& path = job.path;
  if (lstat(path.c_str(), &st) != 0) return fail(job, kStepTarEntry, path);
  if (settings.archive_inode != 0 && st.st_dev == settings.archive_device && st.st_ino == settings.archive_inode) {
    job.is_archive = true;
    return false;
  }
  if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) return true;
  if (!S_ISREG(st.st_mode)) {
    errno = 0;
    return fail(job, kStepOpenFile, path, kNotArchivable);
  }
  // Opened without following links and without waiting: what was scanned
  // may have been replaced by a link or a FIFO since.
  file.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  if (!file.valid() || fstat(file.get(), &opened) != 0) return fail(job, kStepOpenFile, path);
  if (!S_ISREG(opened.st_mode)) {
    errno = 0;
    return fail(job, kStepOpenFile, path, kNotArchivable);
  }
  st = opened;
  return true;
}

// The tar entry of the job's path, described by |st|; null on failure.
Entry make_tar_entry(const a_stream_settings& settings, a_stream_job& job, const struct stat& st) {
  Entry entry(archive_entry_new());
  if (!entry) {
    fail(job, kStepTarEntry, job.path);
    return nullptr;
  }
  archive_entry_copy_stat(entry.get(), &st);
  archive_entry_set_pathname(entry.get(), job.path.c_str());
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
    const ssize_t n = readlink(job.path.c_str(), target, sizeof target);
    if (n >= static_cast<ssize_t>(sizeof target)) errno = ENAMETOOLONG;
    if (n < 1 || n >= static_cast<ssize_t>(sizeof target)) {
      fail(job, kStepReadLink, job.path);
      return nullptr;
    }
    target[n] = '\0';
    archive_entry_set_symlink(entry.get(), target);
  }
  return entry;
}

// Copies the open file into the writer as the current entry's data.
bool copy_contents(a_stream_job& job, int file, struct archive* writer, const std::string& archive) {
  unsigned char buffer[kIoBlockSize];
  for (;;) {
    const ssize_t n = read_full(file, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) return fail(job, kStepReadFile, job.path);
    // The compressor's output goes to the sink: a failure here is the
    // archive's disk (a full disk), not the input file's.
    if (archive_write_data(writer, buffer, static_cast<size_t>(n)) != n)
      return fail(job, kStepWriteData, archive, writer_message(writer));
  }
}

}  // namespace

bool StreamSink::append(const unsigned char* bytes, size_t size) {
  if (!spill_.valid() && memory_.size() + size <= kStreamMemoryLimit) {
    memory_.insert(memory_.end(), bytes, bytes + size);
    return true;
  }
  if (!spill_.valid() && !open_spill()) return false;
  if (write_full(spill_.get(), bytes, size) != static_cast<ssize_t>(size)) return false;
  spilled_ += size;
  return true;
}

bool StreamSink::copy_to(int descriptor) const {
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

bool StreamSink::open_spill() {
  spill_.reset(::open(spill_directory_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (spill_.valid()) return true;
  std::string name = spill_directory_ + "/.tictool-stream-XXXXXX";
  spill_.reset(mkostemp(&name[0], O_CLOEXEC));
  if (!spill_.valid()) return false;
  unlink(name.c_str());
  return true;
}

void compress_stream(const a_stream_settings& settings, a_stream_job& job) {
  struct stat st;
  UniqueFd file;
  if (!open_input(settings, job, st, file)) return;
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);

  job.sink = std::make_unique<StreamSink>(settings.spill_directory);
  // The context outlives the writer that points at it.
  a_tic_support stream{};
  stream.sink = job.sink.get();
  init_stream_encryption(&stream, ENCRYPT_WRITING, settings.key, settings.key_length);

  unsigned step = 0;
  Writer writer = open_stream_writer(&stream, bzip2_level_for(size), step);
  if (!writer) return (void)fail(job, step, settings.archive);
  Entry entry = make_tar_entry(settings, job, st);
  if (!entry) return;
  // A warning is a name (or link target) that is not UTF-8: the header then
  // holds its bytes as they are, marked as binary, which is what is wanted.
  const int header = archive_write_header(writer.get(), entry.get());
  if (header != ARCHIVE_OK && header != ARCHIVE_WARN)
    return (void)fail(job, kStepTarHeader, job.path, writer_message(writer.get()));
  if (file.valid() && !copy_contents(job, file.get(), writer.get(), settings.archive)) return;
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    return (void)fail(job, kStepCloseWriter, settings.archive, writer_message(writer.get()));
  writer.reset();

  std::memcpy(job.mac, stream.mac, sizeof job.mac);
  job.mode = archive_entry_mode(entry.get());
  job.size = size;
  job.stored_length = stream.count;
}
