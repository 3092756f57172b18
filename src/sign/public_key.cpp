#include "sign/public_key.h"

#include <cstring>

#include "sign/minisign_text.h"
#include "sign/sign_steps.h"

namespace {

// "Ed": the algorithm of every minisign key.
constexpr unsigned char kKeyAlgorithm[2] = {'E', 'd'};

using a_key_record = a_minisign_record<kPublicKeySize>;
static_assert(sizeof(a_key_record) == 42, "a minisign public key is 42 bytes");

}  // namespace

Result<a_public_key> decode_public_key(std::string_view text) {
  const std::vector<std::string_view> lines = minisign_lines(text);
  if (lines.size() != 2 || lines[0].substr(0, kUntrustedCommentPrefix.size()) != kUntrustedCommentPrefix)
    return refusal_of(kStepPublicKey, "");
  a_key_record record;
  if (!decode_minisign_base64(lines[1], reinterpret_cast<unsigned char*>(&record), sizeof record))
    return refusal_of(kStepPublicKey, "");
  if (std::memcmp(record.algorithm, kKeyAlgorithm, sizeof kKeyAlgorithm) != 0)
    return refusal_of(kStepPublicKey, "", "not an Ed25519 minisign public key");
  a_public_key key;
  std::memcpy(key.id, record.id, sizeof key.id);
  std::memcpy(key.key, record.payload, sizeof key.key);
  return key;
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
