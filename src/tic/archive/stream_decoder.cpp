#include "tic/archive/stream_decoder.h"

#include <archive_entry.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "crypto/hmac.h"
#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "tic/archive/pieced_stream.h"
#include "tic/archive/tic.h"

namespace {

// What libarchive said about a failure, if anything.
std::string reader_message(struct archive* a) {
  const char* message = a != nullptr ? archive_error_string(a) : nullptr;
  return message != nullptr ? message : "";
}

// Streams shorter than this hold a single piece.
constexpr uint64_t kPiecedStreamMin = 2 * kMinPieceStored;

// The tar reader's input: the decoded bytes of |Decoded| (a PiecedStream or
// a Decompressor).
template <typename Decoded>
la_ssize_t read_decoded(struct archive* a, void* client_data, const void** buffer) {
  Decoded* decoded = static_cast<Decoded*>(client_data);
  const ssize_t got = decoded->next(buffer);
  if (got >= 0) return got;
  archive_set_error(a, decoded->failure().error, "%s", decoded->failure().text().c_str());
  return ARCHIVE_FATAL;
}

}  // namespace

bool a_stream_entry::is_regular() const { return (mode & S_IFMT) == S_IFREG; }
bool a_stream_entry::is_directory() const { return (mode & S_IFMT) == S_IFDIR; }
bool a_stream_entry::is_symlink() const { return (mode & S_IFMT) == S_IFLNK; }

StreamDecoder::StreamDecoder(const unsigned char* key, int key_length) : support_{} {
  init_stream_encryption(&support_, ENCRYPT_READING, key, key_length);
}

StreamDecoder::~StreamDecoder() {
  // The reader goes before the pieces it reads from.
  reader_.reset();
}

Result<size_t> StreamDecoder::a_stored_source::next(const unsigned char** bytes) {
  *bytes = support_.buffer;
  return next_stored(&support_, support_.buffer, sizeof support_.buffer);
}

Outcome StreamDecoder::open(int descriptor, uint64_t offset, uint64_t stored_length, const a_job_turn* turn) {
  support_.descriptor = descriptor;
  support_.position = offset;
  support_.count = stored_length;

  reader_.reset(archive_read_new());
  struct archive* a = reader_.get();
  if (a == nullptr) return failure_of(kStepReaderNew, "");
  errno = 0;
  // libarchive takes the tar entry from the decoded bytes, which are never
  // taken for compressed ones in turn.
  if (archive_read_support_format_tar(a) != ARCHIVE_OK) return reader_failure(kStepTar);
  if (tic_open(a, &support_) != ARCHIVE_OK) return reader_failure(kStepReaderOpen);
  int opened;
  if (turn != nullptr && turn->can_share() && stored_length >= kPiecedStreamMin) {
    pieces_ = std::make_unique<PiecedStream>(support_, *turn);
    opened = archive_read_open(a, pieces_.get(), nullptr, read_decoded<PiecedStream>, nullptr);
  } else {
    decompressor_.begin(stored_);
    opened = archive_read_open(a, &decompressor_, nullptr, read_decoded<Decompressor>, nullptr);
  }
  if (opened != ARCHIVE_OK) return reader_failure(kStepReaderOpen);
  struct archive_entry* header = nullptr;
  errno = 0;
  if (archive_read_next_header(a, &header) != ARCHIVE_OK) return failure_at(kStepFirstHeader);

  const char* pathname = archive_entry_pathname(header);
  entry_.pathname = pathname != nullptr ? pathname : "";
  entry_.mode = archive_entry_mode(header);
  entry_.size = archive_entry_size_is_set(header) && archive_entry_size(header) > 0
                    ? static_cast<uint64_t>(archive_entry_size(header))
                    : 0;
  const char* target = archive_entry_symlink(header);
  entry_.link_target = target != nullptr ? target : "";
  entry_.hard_link = archive_entry_hardlink(header) != nullptr;
  return Outcome();
}

Outcome StreamDecoder::open(const a_stream_ref& ref, const a_job_turn* turn) {
  return open(ref.descriptor, ref.entry->data_offset, ref.entry->stored_length, turn);
}

Result<size_t> StreamDecoder::read(void* buffer, size_t size) {
  errno = 0;
  const la_ssize_t got = archive_read_data(reader_.get(), buffer, size);
  if (got < 0) return failure_at(kStepReadData);
  return static_cast<size_t>(got);
}

a_failure StreamDecoder::failure_at(const a_step& step) const {
  const a_failure& under = pieces_ ? pieces_->failure() : decompressor_.failure();
  if (under.failed()) return under;
  return reader_failure(step);
}

a_failure StreamDecoder::reader_failure(const a_step& step) const {
  return failure_of(step, "", reader_message(reader_.get()));
}

a_compression StreamDecoder::compression() const {
  return pieces_ ? pieces_->compression() : decompressor_.compression();
}

Outcome StreamDecoder::read_tail() {
  if (support_.count < 1 || support_.count > kIoBlockSize) return Outcome();
  unsigned char tail[kIoBlockSize];
  const size_t wanted = static_cast<size_t>(support_.count);
  const ssize_t got = pread_full(support_.descriptor, tail, wanted, support_.position);
  if (got < 0) return failure_of(kStepTail, "");
  if (hmac_add(&support_.hash, tail, static_cast<size_t>(got)) != HmacStatus::kOk) return failure_of(kStepTail, "");
  support_.count -= static_cast<uint64_t>(got);
  support_.position += static_cast<uint64_t>(got);
  return Outcome();
}

Outcome StreamDecoder::finish(const unsigned char* mac) {
  struct archive* a = reader_.get();
  errno = 0;
  // Data the caller did not ask for still counts: it is stored, hashed and
  // decompressed like the rest.
  if (archive_read_data_skip(a) != ARCHIVE_OK) return failure_at(kStepReadData);
  // The pieces read ahead of the tar reader: what is left is hashed. A
  // single decoder need not have read the stream to its end: up to one more
  // block is taken.
  if (Outcome drained = pieces_ ? pieces_->drain() : read_tail(); !drained) return drained;
  errno = 0;
  if (tic_close(a, &support_) != ARCHIVE_OK) return reader_failure(kStepReaderClose);
  if (archive_read_close(a) != ARCHIVE_OK) return reader_failure(kStepReaderClose);
  if (support_.count != 0) return refusal_of(kStepLeftOver, "");
  if (std::memcmp(support_.mac, mac, sizeof support_.mac) != 0) return refusal_of(kStepMacMismatch, "");
  return Outcome();
}
