// A publisher's public key, in the file format of minisign (minisign -G):
//
//   untrusted comment: <any text>
//   <base64 of 42 bytes: "Ed", the 8-byte key id, the 32-byte Ed25519 key>
//
// The key id names the key in every signature it makes; it is shown as
// minisign shows it: the 8 bytes read as a little-endian number, in 16
// upper-case hex digits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/failure.h"

constexpr size_t kKeyIdSize = 8;
constexpr size_t kPublicKeySize = 32;

// The base64 line of a key file, and the first one of a signature file:
// two bytes naming the algorithm, the key id, then the key or the signature.
template <size_t PayloadSize>
struct a_minisign_record {
  unsigned char algorithm[2];
  unsigned char id[kKeyIdSize];
  unsigned char payload[PayloadSize];
};

struct a_public_key {
  unsigned char id[kKeyIdSize] = {};
  unsigned char key[kPublicKeySize] = {};
};

// The key the text of a public key file holds; a failure of
// kStepPublicKey, naming nothing, when it is not one.
Result<a_public_key> decode_public_key(std::string_view text);

// The key id as minisign prints it: "96EA79B2B1E5E5DF".
std::string key_id_text(const unsigned char id[kKeyIdSize]);
