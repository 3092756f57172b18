#include "sign/public_key.h"

#include <cstring>

#include "sign/minisign_text.h"

namespace {

// "Ed": the algorithm of every minisign key.
constexpr unsigned char kKeyAlgorithm[2] = {'E', 'd'};

struct a_key_record {
  unsigned char algorithm[2];
  unsigned char id[kKeyIdSize];
  unsigned char key[kPublicKeySize];
};
static_assert(sizeof(a_key_record) == 42, "a minisign public key is 42 bytes");

bool fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

}  // namespace

bool decode_public_key(std::string_view text, a_public_key* key, std::string* why) {
  const std::vector<std::string_view> lines = minisign_lines(text);
  if (lines.size() != 2 || lines[0].substr(0, kUntrustedCommentPrefix.size()) != kUntrustedCommentPrefix)
    return fail(why, "not a minisign public key");
  a_key_record record;
  if (!decode_minisign_base64(lines[1], reinterpret_cast<unsigned char*>(&record), sizeof record))
    return fail(why, "not a minisign public key");
  if (std::memcmp(record.algorithm, kKeyAlgorithm, sizeof kKeyAlgorithm) != 0)
    return fail(why, "not an Ed25519 minisign public key");
  std::memcpy(key->id, record.id, sizeof key->id);
  std::memcpy(key->key, record.key, sizeof key->key);
  return true;
}

std::string key_id_text(const unsigned char id[kKeyIdSize]) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = kKeyIdSize; i-- > 0;) {
    text += digits[id[i] >> 4];
    text += digits[id[i] & 0xf];
  }
  return text;
}
