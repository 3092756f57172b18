// The context of one stored stream while libarchive reads or writes it
// through the archive's callbacks.
//
// It lives on the stack of the operation that opens the stream and outlives
// the libarchive handle. The record-transform state also carries the archive
// key, which keys the stream's HMAC (crypto/hmac.h): the open callback starts
// |hash| with hmac_begin, every stored block goes through hmac_add, and the
// close callback leaves the finished code in |mac| with hmac_finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "crypto/record_transform.h"
#include "crypto/sha256.h"
#include "platform/fd.h"
#include "platform/failure.h"
#include "tic/archive/archive_steps.h"

// Where a writing stream's stored bytes go instead of its descriptor: the
// builder keeps each stream apart until its turn to be appended.
class StoredSink {
 public:
  virtual ~StoredSink() = default;
  // False (errno set) when the bytes cannot be kept.
  virtual bool append(const unsigned char* bytes, size_t size) = 0;
};

struct a_tic_support {
  // Reading: the archive, read at |position| (never through its own file
  // position, so that several streams of one archive can be read at once).
  // Writing: positioned at the end of the stored bytes written so far.
  int descriptor;
  // Reading: the offset of the next stored byte.
  uint64_t position;
  an_encrypt_data encryption;
  // The block handed to libarchive when reading.
  unsigned char buffer[kIoBlockSize];
  // Reading: stored bytes not read yet. Writing: stored bytes written so far.
  uint64_t count;
  UT_SHA256_CTX hash;
  unsigned char mac[32];
  // Writing: when set, the stored bytes go here rather than to |descriptor|.
  StoredSink* sink;
};

// Sets up the record transform of |support| for |direction| under the
// archive key |key| (null or a length below 1: no key, and no transform).
void init_stream_encryption(a_tic_support* support, an_encrypt_dir direction, const unsigned char* key,
                            int key_length);

// Reads the next stored bytes, at most |size| (count bounds it), into
// |buffer| at |position|, adds them to the HMAC and, with a key, decrypts
// them. The number read, 0 at the end, or kStoredReadFailed (errno set) /
// kStoredHashFailed.
// REQUIRES: |size| is a multiple of 8, so the last record's room is there.
constexpr ssize_t kStoredReadFailed = -1;
constexpr ssize_t kStoredHashFailed = -2;
ssize_t read_stored(a_tic_support* support, unsigned char* buffer, size_t size);
// The same for a decoder: the number read, 0 at the end, or a failure of
// decoding (kStepReadData).
Result<size_t> next_stored(a_tic_support* support, unsigned char* buffer, size_t size);

struct archive;

// libarchive client callbacks; the client data is the stream's a_tic_support.
// They return libarchive's statuses: ARCHIVE_OK, or ARCHIVE_FATAL with a
// message left on the handle (never printed).

// Starts the stream's HMAC with the archive key.
int tic_open(struct archive* a, void* client_data);

// Reads the next block of at most kIoBlockSize stored bytes (count bounds it)
// at |position|, adds it to the HMAC and, with a key, decrypts it in place.
// 0 at the end.
ssize_t tic_read(struct archive* a, void* client_data, const void** buffer);

// Finishes the HMAC into mac.
int tic_close(struct archive* a, void* client_data);

// Encrypts one block (at most kIoBlockSize bytes; a last block is zero-padded to a
// multiple of 8), writes it (to the sink, when there is one) and adds it to
// the HMAC. count grows by the
// stored bytes, padding included; the result is |length|, the bytes of
// libarchive's block that were consumed.
ssize_t tic_write(struct archive* a, void* client_data, const void* buffer, size_t length);
