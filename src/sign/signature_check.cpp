#include "sign/signature_check.h"

#include <errno.h>

#include <utility>

#include "sign/archive_digest.h"
#include "sign/minisign_text.h"
#include "sign/sign_steps.h"
#include "tic/archive/tic.h"

std::string signature_file_of(const std::string& archive) { return archive + ".minisig"; }

Result<const TrustedKeys::a_trusted_key*> trusted_signer(const std::string& archive, const a_signature& signature,
                                                         const TrustedKeys& keys) {
  if (!signature.prehashed) return refusal_of(kStepSignature, archive, kLegacySignature);
  const TrustedKeys::a_trusted_key* signer = keys.find(signature.key_id);
  if (signer == nullptr) return refusal_of(kStepSignature, archive, kUnknownKey + key_id_text(signature.key_id));
  if (!comment_verifies(signature, signer->key)) return refusal_of(kStepSignature, archive, kCommentMismatch);
  return signer;
}

SignatureCheck::~SignatureCheck() { (void)finish(); }

Outcome SignatureCheck::refuse(a_failure failure) {
  failure_ = std::move(failure);
  return failure_;
}

Outcome SignatureCheck::start(Tic& archives) {
  if (Outcome finished = finish(); !finished) return finished;
  if (!keys_loaded_) {
    keys_loaded_ = true;
    if (Outcome loaded = keys_.load_configured(); !loaded) return refuse(loaded.failure());
  }
  if (keys_.empty()) return Outcome();
  if (!signing_library_ready()) return refuse(refusal_of(kStepSigningLibrary, "libsodium"));

  pending_.clear();
  for (const Tic* archive : archives.archives()) {
    if (Outcome read = read_signature(*archive); !read) return read;
  }
  archives.keep_tables();
  hashing_ = std::thread([this] { hash_pending(); });
  return Outcome();
}

Outcome SignatureCheck::read_signature(const Tic& archive) {
  const std::string path = archive.path() != nullptr ? archive.path() : "";
  const std::string file = signature_file_of(path);
  const Result<std::string> text = read_minisign_file(file);
  if (!text) {
    const bool missing = text.failure().error == ENOENT;
    return refuse(refusal_of(kStepSignature, path,
                             missing ? kNoSignature + file + " not found" : kBadSignatureFile + text.failure().text()));
  }
  Result<a_signature> signature = decode_signature(text.value());
  if (!signature) return refuse(refusal_of(kStepSignature, path, kBadSignatureFile + signature.failure().text()));
  const Result<const TrustedKeys::a_trusted_key*> signer = trusted_signer(path, signature.value(), keys_);
  if (!signer) return refuse(signer.failure());
  pending_.push_back({&archive, std::move(signature.value()), signer.value()});
  return Outcome();
}

void SignatureCheck::hash_pending() {
  for (const a_pending& p : pending_) {
    const std::string path = p.archive->path() != nullptr ? p.archive->path() : "";
    const Result<an_archive_digest> digest = digest_archive(*p.archive);
    if (!digest) {
      (void)refuse(refusal_of(kStepSignature, path, kUnreadableArchive + digest.failure().text()));
      return;
    }
    if (!file_verifies(p.signature, p.signer->key, digest->hash)) {
      (void)refuse(refusal_of(kStepSignature, path, kArchiveMismatch));
      return;
    }
    if (!digest->same_tables) {
      (void)refuse(refusal_of(kStepSignature, path, kArchiveChanged));
      return;
    }
  }
}

Outcome SignatureCheck::finish() {
  if (hashing_.joinable()) hashing_.join();
  return failure_.failed() ? Outcome(failure_) : Outcome();
}
