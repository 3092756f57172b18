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

constexpr size_t kKeyIdSize = 8;
constexpr size_t kPublicKeySize = 32;

struct a_public_key {
  unsigned char id[kKeyIdSize] = {};
  unsigned char key[kPublicKeySize] = {};
};

// Decodes the text of a public key file. false with |*why| set when it is
// not one.
bool decode_public_key(std::string_view text, a_public_key* key, std::string* why);

// The key id as minisign prints it: "96EA79B2B1E5E5DF".
std::string key_id_text(const unsigned char id[kKeyIdSize]);
