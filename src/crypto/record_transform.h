// The record transform that encrypts every stored stream of a keyed archive.
//
// CAST-128 in cipher-block chaining over 8-byte blocks, with the cipher's
// decryption as the writing direction and its encryption as the reading one:
//   writing  C(i) = CASTDecrypt(P(i) XOR C(i-1))
//   reading  P(i) = CASTEncrypt(C(i)) XOR C(i-1)
// where C(-1), the initialisation vector, is the first 8 key bytes (zero-
// filled when the key is shorter). The cipher is keyed with the first 16 key
// bytes. One state serves one stream from its first block to its last; the
// chain carries over from call to call, so block boundaries need not match
// call boundaries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cast128.h"

enum an_encrypt_dir : int32_t {
  ENCRYPT_NONE = 0,
  ENCRYPT_WRITING = 1,
  ENCRYPT_READING = 2,
};

struct an_encrypt_data {
  an_encrypt_dir direction;
  a_cast_schedule schedule;
  unsigned char chain[8];    // the previous stored block; starts as the IV
  const unsigned char* key;  // the archive key, not owned; also keys the stream's HMAC
  int key_length;
};

static_assert(sizeof(an_encrypt_dir) == 4);
static_assert(offsetof(an_encrypt_data, direction) == 0);
static_assert(offsetof(an_encrypt_data, schedule) == 4);
static_assert(offsetof(an_encrypt_data, chain) == 136);
static_assert(offsetof(an_encrypt_data, key) == 144);
static_assert(offsetof(an_encrypt_data, key_length) == 152);

// Prepares |data| for one stream in |direction| with the archive key.
void __Encrypt_init(an_encrypt_data* data, an_encrypt_dir direction, const unsigned char* key, int key_length);

// Transforms |buffer| in place, block by block, in the state's direction
// (ENCRYPT_NONE leaves it alone).
// REQUIRES: |length| is a multiple of 8, or |buffer| has room up to the next
// multiple of 8: a trailing partial block is transformed as a whole block.
void __Ins_Mangle_Record(an_encrypt_data* data, unsigned char* buffer, unsigned int length);
