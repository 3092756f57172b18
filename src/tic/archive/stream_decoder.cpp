#include "tic/archive/stream_decoder.h"

#include <archive_entry.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "crypto/hmac.h"
#include "platform/fd.h"

namespace {

// What libarchive said about a failure, if anything.
std::string reader_message(struct archive* a) {
  const char* message = a != nullptr ? archive_error_string(a) : nullptr;
  return message != nullptr ? message : "";
}

}  // namespace

bool a_stream_entry::is_regular() const { return (mode & S_IFMT) == S_IFREG; }
bool a_stream_entry::is_directory() const { return (mode & S_IFMT) == S_IFDIR; }
bool a_stream_entry::is_symlink() const { return (mode & S_IFMT) == S_IFLNK; }

StreamDecoder::StreamDecoder(const unsigned char* key, int key_length) : support_{} {
  init_stream_encryption(&support_, ENCRYPT_READING, key, key_length);
}

StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::open(int descriptor, uint64_t offset, uint64_t stored_length) {
  support_.descriptor = descriptor;
  support_.position = offset;
  support_.count = stored_length;

  reader_.reset(archive_read_new());
  struct archive* a = reader_.get();
  if (a == nullptr) return failure_.set(kStepReaderNew);
  if (archive_read_support_filter_bzip2(a) != ARCHIVE_OK) return failure_.set(kStepBzip2, reader_message(a));
  if (archive_read_support_format_tar(a) != ARCHIVE_OK) return failure_.set(kStepTar, reader_message(a));
  errno = 0;
  if (archive_read_open(a, &support_, tic_open, tic_read, tic_close) != ARCHIVE_OK)
    return failure_.set(kStepReaderOpen, reader_message(a));
  struct archive_entry* header = nullptr;
  errno = 0;
  if (archive_read_next_header(a, &header) != ARCHIVE_OK) return failure_.set(kStepFirstHeader, reader_message(a));

  const char* pathname = archive_entry_pathname(header);
  entry_.pathname = pathname != nullptr ? pathname : "";
  entry_.mode = archive_entry_mode(header);
  entry_.size = archive_entry_size_is_set(header) && archive_entry_size(header) > 0
                    ? static_cast<uint64_t>(archive_entry_size(header))
                    : 0;
  const char* target = archive_entry_symlink(header);
  entry_.link_target = target != nullptr ? target : "";
  entry_.hard_link = archive_entry_hardlink(header) != nullptr;
  return true;
}

ssize_t StreamDecoder::read(void* buffer, size_t size) {
  errno = 0;
  const la_ssize_t got = archive_read_data(reader_.get(), buffer, size);
  if (got < 0) {
    failure_.set(kStepReadData, reader_message(reader_.get()));
    return -1;
  }
  return static_cast<ssize_t>(got);
}

bool StreamDecoder::finish(const unsigned char* mac) {
  struct archive* a = reader_.get();
  errno = 0;
  // Data the caller did not ask for still counts: it is stored, hashed and
  // decompressed like the rest.
  if (archive_read_data_skip(a) != ARCHIVE_OK) return failure_.set(kStepReadData, reader_message(a));

  // libarchive need not have read the stream to its end: take up to one more
  // block so the MAC covers every stored byte.
  if (support_.count >= 1 && support_.count <= kIoBlockSize) {
    unsigned char tail[kIoBlockSize];
    const size_t wanted = static_cast<size_t>(support_.count);
    const ssize_t got = pread_full(support_.descriptor, tail, wanted, support_.position);
    if (got < 0) return failure_.set(kStepTail);
    if (hmac_add(&support_.hash, tail, static_cast<size_t>(got)) != HmacStatus::kOk) return failure_.set(kStepTail);
    support_.count -= static_cast<uint64_t>(got);
    support_.position += static_cast<uint64_t>(got);
  }
  errno = 0;
  if (archive_read_close(a) != ARCHIVE_OK) return failure_.set(kStepReaderClose, reader_message(a));
  errno = 0;
  if (support_.count != 0) return failure_.set(kStepLeftOver);
  if (std::memcmp(support_.mac, mac, sizeof support_.mac) != 0) return failure_.set(kStepMacMismatch);
  return true;
}
