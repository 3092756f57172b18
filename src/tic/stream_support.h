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

#include "crypto/record_transform.h"
#include "crypto/sha256.h"

struct a_tic_support {
  static constexpr size_t kBufferSize = 8192;

  // Reading: positioned at the stream's first stored byte. Writing: at the
  // end of the stored bytes written so far.
  int descriptor;
  an_encrypt_data encryption;
  // The block handed to libarchive when reading.
  unsigned char buffer[kBufferSize];
  // Reading: stored bytes not read yet. Writing: stored bytes written so far.
  uint64_t count;
  UT_SHA256_CTX hash;
  unsigned char mac[32];
};
