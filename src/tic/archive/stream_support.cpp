#include "tic/archive/stream_support.h"

#include <archive.h>
#include <errno.h>
#include <string.h>

#include "crypto/hmac.h"
#include "platform/fd.h"

namespace {

a_tic_support* support_of(void* client_data) { return static_cast<a_tic_support*>(client_data); }

}  // namespace

void init_stream_encryption(a_tic_support* support, an_encrypt_dir direction, const unsigned char* key,
                            int key_length) {
  if (key != nullptr && key_length >= 1) {
    __Encrypt_init(&support->encryption, direction, key, key_length);
  } else {
    support->encryption.direction = ENCRYPT_NONE;
  }
}

int tic_open(struct archive* a, void* client_data) {
  a_tic_support* s = support_of(client_data);
  switch (hmac_begin(&s->hash, s->encryption.key, s->encryption.key_length)) {
    case HmacStatus::kOk:
      return ARCHIVE_OK;
    case HmacStatus::kInitFailed:
      archive_set_error(a, errno, "Error initializing hash");
      return ARCHIVE_FATAL;
    default:
      archive_set_error(a, errno, "Error adding inner pad to hash");
      return ARCHIVE_FATAL;
  }
}

ssize_t read_stored(a_tic_support* s, unsigned char* buffer, size_t size) {
  const size_t wanted = s->count < size ? static_cast<size_t>(s->count) : size;
  const ssize_t got = pread_full(s->descriptor, buffer, wanted, s->position);
  if (got < 0) return kStoredReadFailed;
  if (hmac_add(&s->hash, buffer, static_cast<size_t>(got)) != HmacStatus::kOk) return kStoredHashFailed;
  // Stored streams are whole 8-byte records. Only a stream's last block is
  // short, so only the records read need the transform: the zeroed rest of
  // the last record is never handed on, and the chain is not used after it.
  if (s->encryption.direction != 0) {
    const size_t records = (static_cast<size_t>(got) + 7) & ~static_cast<size_t>(7);
    memset(buffer + got, 0, records - static_cast<size_t>(got));
    __Ins_Mangle_Record(&s->encryption, buffer, static_cast<unsigned>(records));
  }
  s->count -= static_cast<uint64_t>(got);
  s->position += static_cast<uint64_t>(got);
  return got;
}

Result<size_t> next_stored(a_tic_support* s, unsigned char* buffer, size_t size) {
  errno = 0;
  const ssize_t got = read_stored(s, buffer, size);
  if (got >= 0) return static_cast<size_t>(got);
  return failure_of(kStepReadData, "", got == kStoredHashFailed ? "Error adding data to hash" : "");
}

ssize_t tic_read(struct archive* a, void* client_data, const void** buffer) {
  a_tic_support* s = support_of(client_data);
  memset(s->buffer, 0, sizeof s->buffer);
  const ssize_t got = read_stored(s, s->buffer, sizeof s->buffer);
  if (got == kStoredReadFailed) {
    archive_set_error(a, errno, "Error reading TIC, fd %d", s->descriptor);
    return ARCHIVE_FATAL;
  }
  if (got == kStoredHashFailed) {
    archive_set_error(a, errno, "Error adding data to hash");
    return ARCHIVE_FATAL;
  }
  *buffer = s->buffer;
  return got;
}

int tic_close(struct archive* a, void* client_data) {
  a_tic_support* s = support_of(client_data);
  const char* failure = nullptr;
  switch (hmac_finish(&s->hash, s->encryption.key, s->encryption.key_length, s->mac)) {
    case HmacStatus::kOk: return ARCHIVE_OK;
    case HmacStatus::kInnerDigestFailed: failure = "Could not get inner MAC"; break;
    case HmacStatus::kOuterInitFailed: failure = "Could not initialize hash"; break;
    case HmacStatus::kOuterPadFailed: failure = "Could not update hash with outer pad"; break;
    case HmacStatus::kInnerMacFailed: failure = "Could not update hash with inner MAC"; break;
    default: failure = "Could not get final MAC"; break;
  }
  archive_set_error(a, errno, "%s", failure);
  return ARCHIVE_FATAL;
}

ssize_t tic_write(struct archive* a, void* client_data, const void* buffer, size_t length) {
  a_tic_support* s = support_of(client_data);
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  size_t to_write = length;
  unsigned char record[kIoBlockSize];
  if (s->encryption.direction != 0) {
    if (length > sizeof record) {
      archive_set_error(a, -1, "write size too big, %d", static_cast<int>(length));
      return ARCHIVE_FATAL;
    }
    // Encrypted streams are whole 8-byte records: zero-pad the last block.
    memcpy(record, buffer, length);
    to_write = (length + 7) & ~static_cast<size_t>(7);
    memset(record + length, 0, to_write - length);
    __Ins_Mangle_Record(&s->encryption, record, static_cast<unsigned>(to_write));
    bytes = record;
  }
  if (s->sink != nullptr) {
    if (!s->sink->append(bytes, to_write)) {
      archive_set_error(a, errno, "Error storing the stream");
      return ARCHIVE_FATAL;
    }
  } else if (const ssize_t written = write_full(s->descriptor, bytes, to_write);
             written != static_cast<ssize_t>(to_write)) {
    // A short write (a full disk) leaves the stream unusable: the transform's
    // chain has already moved past the bytes that did not land.
    archive_set_error(a, errno, "Error writing TIC, fd %d", s->descriptor);
    if (written > 0) s->count += static_cast<uint64_t>(written);
    return ARCHIVE_FATAL;
  }
  if (hmac_add(&s->hash, bytes, to_write) != HmacStatus::kOk) {
    archive_set_error(a, errno, "Error adding data to hash");
    return ARCHIVE_FATAL;
  }
  // The stored length counts the padding, but libarchive is told only of
  // the bytes it handed over: it fails a close whose last write reports more
  // ("write overrun").
  s->count += to_write;
  return static_cast<ssize_t>(length);
}
