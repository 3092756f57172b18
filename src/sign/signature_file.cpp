#include "sign/signature_file.h"

#include <sodium.h>

#include <cstring>
#include <utility>
#include <vector>

#include "sign/minisign_text.h"
#include "sign/sign_steps.h"

namespace {

constexpr unsigned char kPrehashed[2] = {'E', 'D'};
constexpr unsigned char kLegacy[2] = {'E', 'd'};

using a_signature_record = a_minisign_record<kSignatureSize>;
static_assert(sizeof(a_signature_record) == 74, "a minisign signature line holds 74 bytes");
static_assert(kSignatureSize == crypto_sign_BYTES);
static_assert(kPublicKeySize == crypto_sign_PUBLICKEYBYTES);
static_assert(kFileHashSize <= crypto_generichash_BYTES_MAX);

}  // namespace

Result<a_signature> decode_signature(std::string_view text) {
  const std::vector<std::string_view> lines = minisign_lines(text);
  if (lines.size() != 4 || lines[0].substr(0, kUntrustedCommentPrefix.size()) != kUntrustedCommentPrefix ||
      lines[2].substr(0, kTrustedCommentPrefix.size()) != kTrustedCommentPrefix)
    return refusal_of(kStepSignatureFile, "");
  a_signature signature;
  a_signature_record record;
  if (!decode_minisign_base64(lines[1], reinterpret_cast<unsigned char*>(&record), sizeof record) ||
      !decode_minisign_base64(lines[3], signature.global_signature, sizeof signature.global_signature))
    return refusal_of(kStepSignatureFile, "");
  if (std::memcmp(record.algorithm, kPrehashed, 2) == 0) {
    signature.prehashed = true;
  } else if (std::memcmp(record.algorithm, kLegacy, 2) != 0) {
    return refusal_of(kStepSignatureFile, "", "unknown signature algorithm");
  }
  std::memcpy(signature.key_id, record.id, sizeof signature.key_id);
  std::memcpy(signature.signature, record.payload, sizeof signature.signature);
  signature.trusted_comment = std::string(lines[2].substr(kTrustedCommentPrefix.size()));
  return Result<a_signature>(std::move(signature));
}

bool comment_verifies(const a_signature& signature, const a_public_key& key) {
  std::vector<unsigned char> message(signature.signature, signature.signature + sizeof signature.signature);
  message.insert(message.end(), signature.trusted_comment.begin(), signature.trusted_comment.end());
  return crypto_sign_verify_detached(signature.global_signature, message.data(), message.size(), key.key) == 0;
}

bool file_verifies(const a_signature& signature, const a_public_key& key,
                   const unsigned char file_hash[kFileHashSize]) {
  return signature.prehashed &&
         crypto_sign_verify_detached(signature.signature, file_hash, kFileHashSize, key.key) == 0;
}

bool signing_library_ready() { return sodium_init() >= 0; }
