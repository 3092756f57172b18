#include "sign/signature_check.h"

#include "sign/archive_digest.h"
#include "sign/minisign_text.h"
#include "tic/archive/tic.h"

std::string signature_file_of(const std::string& archive) { return archive + ".minisig"; }

std::string signature_refusal(const a_signature& signature, const TrustedKeys& keys,
                              const TrustedKeys::a_trusted_key** signer) {
  if (!signature.prehashed) return kLegacySignature;
  *signer = keys.find(signature.key_id);
  if (*signer == nullptr) return kUnknownKey + key_id_text(signature.key_id);
  if (!comment_verifies(signature, (*signer)->key)) return kCommentMismatch;
  return std::string();
}

SignatureCheck::~SignatureCheck() { finish(); }

bool SignatureCheck::refuse(const std::string& subject, const std::string& cause) {
  failed_ = true;
  subject_ = subject;
  cause_ = cause;
  return false;
}

bool SignatureCheck::start(Tic& archives) {
  if (!finish()) return false;
  if (!keys_loaded_) {
    keys_loaded_ = true;
    std::string subject, cause;
    if (!keys_.load_configured(&subject, &cause)) return refuse(subject, cause);
  }
  if (keys_.empty()) return true;
  if (!signing_library_ready()) return refuse("libsodium", "cannot start");

  pending_.clear();
  for (const Tic* archive : archives.archives())
    if (!read_signature(*archive)) return false;
  archives.keep_tables();
  hashing_ = std::thread([this] { hash_pending(); });
  return true;
}

bool SignatureCheck::read_signature(const Tic& archive) {
  const std::string path = archive.path() != nullptr ? archive.path() : "";
  std::string text, why;
  bool missing = false;
  a_pending pending{&archive, {}, nullptr};
  const std::string file = signature_file_of(path);
  if (!read_minisign_file(file, &text, &why, &missing))
    return refuse(path, missing ? kNoSignature + file + " not found" : kBadSignatureFile + why);
  if (!decode_signature(text, &pending.signature, &why)) return refuse(path, kBadSignatureFile + why);
  const std::string refusal = signature_refusal(pending.signature, keys_, &pending.signer);
  if (!refusal.empty()) return refuse(path, refusal);
  pending_.push_back(pending);
  return true;
}

void SignatureCheck::hash_pending() {
  for (const a_pending& p : pending_) {
    const std::string path = p.archive->path() != nullptr ? p.archive->path() : "";
    an_archive_digest digest;
    std::string why;
    if (!digest_archive(*p.archive, &digest, &why)) {
      refuse(path, "cannot read the archive: " + why);
      return;
    }
    if (!file_verifies(p.signature, p.signer->key, digest.hash)) {
      refuse(path, kArchiveMismatch);
      return;
    }
    if (!digest.same_tables) {
      refuse(path, kArchiveChanged);
      return;
    }
  }
}

bool SignatureCheck::finish() {
  if (hashing_.joinable()) hashing_.join();
  return !failed_;
}
