// HMAC-SHA-256 as the archives use it, for the whole-archive code and the
// per-file codes alike.
//
// It is RFC 2104 with SHA-256 (64-byte block, 32-byte result) except for long
// keys: only the first 64 key bytes are XORed into the pads, a longer key is
// cut rather than hashed first. No key (null, or a length below 1) leaves the
// pads as they are, the same as an empty key.
//
// The incremental form keeps its whole state in a UT_SHA256_CTX, so a stream
// context can carry it between callbacks:
//
//   hmac_begin(&hash, key, key_length);   // when the stream opens
//   hmac_add(&hash, data, length);        // for every stored block
//   hmac_finish(&hash, key, key_length, mac);  // when the stream closes
//
// Each step reports the first SHA-256 step that failed, so that a caller can
// name it; HmacStatus::kOk is success.
#pragma once

#include <cstddef>

#include "crypto/sha256.h"

constexpr size_t kHmacLength = UT_SHA256_DIGEST_LENGTH;
constexpr size_t kHmacPadLength = UT_SHA256_BLOCK_LENGTH;
constexpr unsigned char kHmacInnerPad = 0x36;
constexpr unsigned char kHmacOuterPad = 0x5c;

enum class HmacStatus {
  kOk,
  kInitFailed,         // starting the inner hash
  kInnerPadFailed,     // adding the inner pad
  kDataFailed,         // adding message data
  kInnerDigestFailed,  // finishing the inner hash
  kOuterInitFailed,    // starting the outer hash
  kOuterPadFailed,     // adding the outer pad
  kInnerMacFailed,     // adding the inner digest to the outer hash
  kFinalFailed,        // finishing the outer hash
};

// Fills the 64 bytes of |pad| with |fill| and XORs in the first 64 bytes of
// the key (none when |key| is null or |key_length| is below 1).
void hmac_pad(unsigned char* pad, unsigned char fill, const unsigned char* key, int key_length);

// Starts the inner hash: SHA-256 of the inner pad. kOk, kInitFailed or
// kInnerPadFailed.
HmacStatus hmac_begin(UT_SHA256_CTX* hash, const unsigned char* key, int key_length);

// Adds message bytes. kOk or kDataFailed.
HmacStatus hmac_add(UT_SHA256_CTX* hash, const void* data, size_t length);

// Finishes the inner hash and runs the outer one over the outer pad and the
// inner digest, writing the 32-byte code to |mac|. The key must be the one
// given to hmac_begin. kOk or one of the five finishing failures; on failure
// |mac| holds no code.
HmacStatus hmac_finish(UT_SHA256_CTX* hash, const unsigned char* key, int key_length, unsigned char* mac);

// The code of one message held in memory.
HmacStatus hmac_sha256(const unsigned char* key, int key_length, const void* data, size_t length,
                       unsigned char* mac);
