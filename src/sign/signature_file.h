// A detached signature in the file format of minisign (minisign -S writes
// <file>.minisig):
//
//   untrusted comment: <any text>
//   <base64 of 74 bytes: algorithm, 8-byte key id, 64-byte signature>
//   trusted comment: <text>
//   <base64 of 64 bytes: the global signature>
//
// The algorithm "ED" signs the BLAKE2b-512 of the file (prehashed, what
// minisign writes by default); "Ed" signs the file's bytes themselves (the
// legacy form, minisign -l), which this program does not check: that would
// need the whole file in memory at once. The global signature covers the
// signature and the trusted comment, so the comment cannot be changed
// either. Ed25519 and BLAKE2b come from libsodium.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "sign/public_key.h"

constexpr size_t kSignatureSize = 64;
// BLAKE2b-512: what a prehashed signature signs.
constexpr size_t kFileHashSize = 64;

struct a_signature {
  bool prehashed = false;
  unsigned char key_id[kKeyIdSize] = {};
  unsigned char signature[kSignatureSize] = {};
  std::string trusted_comment;
  unsigned char global_signature[kSignatureSize] = {};
};

// The signature the text of a signature file holds; a failure of
// kStepSignatureFile, naming nothing, when it is not one.
Result<a_signature> decode_signature(std::string_view text);

// True when |key| made the global signature over the signature and the
// trusted comment.
bool comment_verifies(const a_signature& signature, const a_public_key& key);

// True when |key| made the (prehashed) signature over a file whose
// BLAKE2b-512 is |file_hash|.
bool file_verifies(const a_signature& signature, const a_public_key& key,
                   const unsigned char file_hash[kFileHashSize]);

// Readies libsodium; false when it cannot start (no usable random source).
// Called before any signature or hash is computed; cheap after the first.
bool signing_library_ready();
