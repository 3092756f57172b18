#include "tic/writer/stream_compressor.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
// For ZSTD_getCParams: the window a level takes, which the stable interface
// does not tell.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

#include "platform/byte_order.h"
#include "platform/ordered_jobs.h"
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

// Keeps |failure| as the first failure of |job|; false.
bool keep(a_stream_job& job, const a_failure& failure) {
  if (!job.failure.failed()) job.failure = failure;
  return false;
}

// The failure of |step| of the writer |a|, with what it said.
a_failure writer_failure(struct archive* a, const a_step& step) {
  return failure_of(step, "", a != nullptr ? writer_message(a) : "");
}

// Sets up |a| for output in |block| bytes per write, the last write not
// padded, and opens it on |write| with |client|.
Outcome open_writer(struct archive* a, void* client, archive_write_callback* write) {
  if (archive_write_set_bytes_per_block(a, static_cast<int>(kIoBlockSize)) != ARCHIVE_OK)
    return writer_failure(a, kStepBlockSize);
  if (archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK) return writer_failure(a, kStepLastBlockSize);
  if (archive_write_open(a, client, nullptr, write, nullptr) != ARCHIVE_OK) return writer_failure(a, kStepWriterOpen);
  return Outcome();
}

// One piece of a stream: its tar bytes, compressed on some worker.
struct a_build_piece {
  std::vector<unsigned char> tar;
  std::vector<unsigned char> compressed;
  a_shared_task task;
  bool shared = false;
  a_failure failure;  // naming nothing: the stream's job names the archive
};

la_ssize_t append_output(struct archive*, void* client_data, const void* buffer, size_t length) {
  auto* out = static_cast<std::vector<unsigned char>*>(client_data);
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  out->insert(out->end(), bytes, bytes + length);
  return static_cast<la_ssize_t>(length);
}

// Compresses the piece's tar bytes into one zstd frame, as libarchive's
// filter writes it (the frame's size not known in advance), but with the
// window capped at kMaxZstdWindowLog: levels 20 to 22 would declare 32 to
// 128 MiB, which kestrel refuses to decode. A frame holds one piece of at
// most kZstdPieceSize, so no match lies further back than that: the cap
// loses nothing, where refusing those levels would lose their stronger
// search. Up to level 19 the window is the level's own and the frame the
// same as libarchive's.
void compress_zstd_piece(a_build_piece& piece, int level) {
  Unique<ZSTD_CCtx, ZSTD_freeCCtx> z(ZSTD_createCCtx());
  if (!z) {
    piece.failure = failure_of(kStepWriterNew, "");
    return;
  }
  const unsigned window_log = ZSTD_getCParams(level, 0, 0).windowLog;
  if (ZSTD_isError(ZSTD_CCtx_setParameter(z.get(), ZSTD_c_compressionLevel, level)) ||
      (window_log > kMaxZstdWindowLog &&
       ZSTD_isError(ZSTD_CCtx_setParameter(z.get(), ZSTD_c_windowLog, static_cast<int>(kMaxZstdWindowLog))))) {
    piece.failure = refusal_of(kStepBzip2Filter, "");
    return;
  }
  std::vector<unsigned char>& compressed = piece.compressed;
  compressed.resize(ZSTD_compressBound(piece.tar.size()));
  ZSTD_outBuffer out{compressed.data(), compressed.size(), 0};
  ZSTD_inBuffer in{piece.tar.data(), piece.tar.size(), 0};
  // The input is taken first, and only then the frame ended: told the end
  // with the input, zstd would size the frame to it.
  ZSTD_EndDirective mode = ZSTD_e_continue;
  for (;;) {
    const size_t left = ZSTD_compressStream2(z.get(), &out, &in, mode);
    if (ZSTD_isError(left)) {
      piece.failure = refusal_of(kStepWriteData, "", ZSTD_getErrorName(left));
      return;
    }
    if (mode == ZSTD_e_end && left == 0) break;
    if (in.pos == in.size) mode = ZSTD_e_end;
    if (out.pos == out.size) {
      compressed.resize(compressed.size() * 2);
      out.dst = compressed.data();
      out.size = compressed.size();
    }
  }
  piece.compressed.resize(out.pos);
  piece.tar = std::vector<unsigned char>();
}

// Compresses the piece's tar bytes into one bzip2 stream or zstd frame; for
// bzip2 with a raw-format writer (the bytes go through as they are) and its
// filter.
void compress_piece(a_build_piece& piece, a_compression compression, int level) {
  if (compression == a_compression::kZstd) return compress_zstd_piece(piece, level);
  Writer writer(archive_write_new());
  struct archive* a = writer.get();
  auto failed = [&](const a_step& step) { piece.failure = writer_failure(a, step); };
  if (a == nullptr) return failed(kStepWriterNew);
  const std::string level_text = std::to_string(level);
  if (archive_write_add_filter_bzip2(a) != ARCHIVE_OK ||
      archive_write_set_filter_option(a, nullptr, "compression-level", level_text.c_str()) != ARCHIVE_OK)
    return failed(kStepBzip2Filter);
  if (archive_write_set_format_raw(a) != ARCHIVE_OK) return failed(kStepPaxFormat);
  if (Outcome opened = open_writer(a, &piece.compressed, append_output); !opened) {
    piece.failure = opened.failure();
    return;
  }
  Entry entry(archive_entry_new());
  if (!entry) return failed(kStepTarEntry);
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_pathname(entry.get(), "piece");
  if (archive_write_header(a, entry.get()) != ARCHIVE_OK) return failed(kStepTarHeader);
  const la_ssize_t written = archive_write_data(a, piece.tar.data(), piece.tar.size());
  if (written != static_cast<la_ssize_t>(piece.tar.size())) return failed(kStepWriteData);
  if (archive_write_close(a) != ARCHIVE_OK) return failed(kStepCloseWriter);
  piece.tar = std::vector<unsigned char>();
}

// Takes a stream's tar bytes from its tar writer, cuts them into pieces,
// has them compressed (on other workers when the turn has room) and stores
// the compressed pieces in order: through the record transform and the
// HMAC into the stream's sink, in whole blocks of kIoBlockSize so that
// only the last block can be short (tic_write pads only that one).
class a_piece_writer {
 public:
  a_piece_writer(const a_stream_settings& settings, a_stream_job& job, const a_job_turn& turn,
                 a_tic_support& stream, int level)
      : settings_(settings), job_(job), turn_(turn), stream_(stream), level_(level),
        piece_size_(settings.compression == a_compression::kZstd ? kZstdPieceSize : kBzip2PieceSize) {}
  ~a_piece_writer() {
    for (const std::unique_ptr<a_build_piece>& piece : pieces_)
      if (piece->shared) turn_.wait_for(piece->task);
  }

  // The tar writer's output.
  static la_ssize_t take(struct archive* a, void* client_data, const void* buffer, size_t length) {
    a_piece_writer* self = static_cast<a_piece_writer*>(client_data);
    self->tar_writer_ = a;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    for (size_t left = length; left > 0;) {
      if (!self->filling_) self->filling_ = std::make_unique<a_build_piece>();
      std::vector<unsigned char>& tar = self->filling_->tar;
      const size_t n = std::min(left, self->piece_size_ - tar.size());
      tar.insert(tar.end(), bytes, bytes + n);
      bytes += n;
      left -= n;
      if (tar.size() == self->piece_size_ && !self->cut()) return ARCHIVE_FATAL;
    }
    return static_cast<la_ssize_t>(length);
  }

  // After the tar writer is closed: the last piece, every piece stored, the
  // stream ended. False with the job's failure set.
  bool finish(struct archive* tar_writer) {
    tar_writer_ = tar_writer;
    if (filling_ && !filling_->tar.empty() && !cut()) return false;
    while (!pieces_.empty())
      if (!store_front()) return false;
    return end_stream();
  }

 private:
  // Hands the filled piece on; keeps a bounded number in flight.
  bool cut() {
    a_build_piece* piece = filling_.get();
    piece->task.run = [piece, compression = settings_.compression, level = level_] {
      compress_piece(*piece, compression, level);
    };
    piece->shared = turn_.share(piece->task);
    if (!piece->shared) piece->task.run();
    pieces_.push_back(std::move(filling_));
    while (pieces_.size() > turn_.share_limit() + 1)
      if (!store_front()) return false;
    return true;
  }

  bool store_front() {
    a_build_piece& piece = *pieces_.front();
    if (piece.shared) {
      turn_.wait_for(piece.task);
      piece.shared = false;
    }
    if (piece.failure.failed()) return keep(job_, piece.failure.about(settings_.archive));
    const bool stored = store(piece.compressed.data(), piece.compressed.size());
    pieces_.pop_front();
    return stored;
  }

  bool store(const unsigned char* bytes, size_t size) {
    while (size > 0) {
      const size_t n = std::min(size, sizeof block_ - used_);
      std::memcpy(block_ + used_, bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
      if (used_ == sizeof block_ && !write_block()) return false;
    }
    return true;
  }

  bool write_block() {
    const ssize_t written = tic_write(tar_writer_, &stream_, block_, used_);
    used_ = 0;
    if (written >= 0) return true;
    return keep(job_, writer_failure(tar_writer_, kStepCloseWriter).about(settings_.archive));
  }

  bool end_stream() {
    // zstd would read zero padding as the start of a frame: a skippable
    // frame (magic, length, that many zero bytes) takes its place.
    const uint64_t length = stream_.count + used_;
    if (settings_.compression == a_compression::kZstd && stream_.encryption.direction != 0 && length % 8 != 0) {
      unsigned char skippable[8 + 8] = {};
      const uint32_t filler = static_cast<uint32_t>(8 - length % 8);
      store_le32(skippable, kZstdSkippableFrameMagic);
      store_le32(skippable + 4, filler);
      if (!store(skippable, 8 + filler)) return false;
    }
    return used_ == 0 || write_block();
  }

  const a_stream_settings& settings_;
  a_stream_job& job_;
  const a_job_turn& turn_;
  a_tic_support& stream_;
  const int level_;
  const size_t piece_size_;
  struct archive* tar_writer_ = nullptr;
  std::unique_ptr<a_build_piece> filling_;
  std::deque<std::unique_ptr<a_build_piece>> pieces_;
  unsigned char block_[kIoBlockSize];
  size_t used_ = 0;
};

// The tar writer of one stream: pax, with its output going to |pieces|
// uncompressed.
Result<Writer> open_tar_writer(a_piece_writer* pieces) {
  Writer writer(archive_write_new());
  if (!writer) return failure_of(kStepWriterNew, "");
  if (archive_write_set_format_pax(writer.get()) != ARCHIVE_OK) return writer_failure(writer.get(), kStepPaxFormat);
  if (Outcome opened = open_writer(writer.get(), pieces, a_piece_writer::take); !opened) return opened.failure();
  return Result<Writer>(std::move(writer));
}

// Looks at the job's path (never following a link) and, for a regular
// file, opens it into |file|; |st| describes what will be archived. False
// when the path cannot be archived, or is the archive itself.
bool open_input(const a_stream_settings& settings, a_stream_job& job, struct stat& st, UniqueFd& file) {
  const std::string& path = job.path;
  if (lstat(path.c_str(), &st) != 0) return keep(job, failure_of(kStepTarEntry, path));
  if (settings.archive_inode != 0 && st.st_dev == settings.archive_device && st.st_ino == settings.archive_inode) {
    job.is_archive = true;
    return false;
  }
  if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) return true;
  if (!S_ISREG(st.st_mode)) {
    return keep(job, refusal_of(kStepOpenFile, path, kNotArchivable));
  }
  // Opened without following links and without waiting: what was scanned
  // may have been replaced by a link or a FIFO since.
  file.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  if (!file.valid() || fstat(file.get(), &opened) != 0) return keep(job, failure_of(kStepOpenFile, path));
  if (!S_ISREG(opened.st_mode)) {
    return keep(job, refusal_of(kStepOpenFile, path, kNotArchivable));
  }
  st = opened;
  return true;
}

// The tar entry of the job's path, described by |st|; null on failure.
Entry make_tar_entry(const a_stream_settings& settings, a_stream_job& job, const struct stat& st) {
  Entry entry(archive_entry_new());
  if (!entry) {
    keep(job, failure_of(kStepTarEntry, job.path));
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
      keep(job, failure_of(kStepReadLink, job.path));
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
    if (n < 0) return keep(job, failure_of(kStepReadFile, job.path));
    // The compressor's output goes to the sink: a failure here is the
    // archive's disk (a full disk), not the input file's.
    if (archive_write_data(writer, buffer, static_cast<size_t>(n)) != n)
      return keep(job, writer_failure(writer, kStepWriteData).about(archive));
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

void compress_stream(const a_stream_settings& settings, a_stream_job& job, const a_job_turn& turn) {
  struct stat st;
  UniqueFd file;
  if (!open_input(settings, job, st, file)) return;
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);

  job.sink = std::make_unique<StreamSink>(settings.spill_directory);
  // The context outlives the writers that point at it.
  a_tic_support stream{};
  stream.sink = job.sink.get();
  init_stream_encryption(&stream, ENCRYPT_WRITING, settings.key, settings.key_length);
  const int level = settings.compression == a_compression::kZstd ? settings.zstd_level
                                                                  : static_cast<int>(bzip2_level_for(size));
  a_piece_writer pieces(settings, job, turn, stream, level);

  Result<Writer> opened = open_tar_writer(&pieces);
  if (!opened) return (void)keep(job, opened.failure().about(settings.archive));
  Writer& writer = opened.value();
  if (tic_open(writer.get(), &stream) != ARCHIVE_OK)
    return (void)keep(job, writer_failure(writer.get(), kStepWriterOpen).about(settings.archive));
  Entry entry = make_tar_entry(settings, job, st);
  if (!entry) return;
  // A warning is a name (or link target) that is not UTF-8: the header then
  // holds its bytes as they are, marked as binary, which is what is wanted.
  const int header = archive_write_header(writer.get(), entry.get());
  if (header != ARCHIVE_OK && header != ARCHIVE_WARN)
    return (void)keep(job, writer_failure(writer.get(), kStepTarHeader).about(job.path));
  if (file.valid() && !copy_contents(job, file.get(), writer.get(), settings.archive)) return;
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    return (void)keep(job, writer_failure(writer.get(), kStepCloseWriter).about(settings.archive));
  if (!pieces.finish(writer.get())) return;
  if (tic_close(writer.get(), &stream) != ARCHIVE_OK)
    return (void)keep(job, writer_failure(writer.get(), kStepCloseWriter).about(settings.archive));
  writer.reset();

  std::memcpy(job.mac, stream.mac, sizeof job.mac);
  job.mode = archive_entry_mode(entry.get());
  job.size = size;
  job.stored_length = stream.count;
}
