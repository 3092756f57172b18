#include "sign/signature_report.h"

#include <errno.h>

#include "platform/fd.h"
#include "sign/archive_digest.h"
#include "sign/minisign_text.h"
#include "sign/sign_steps.h"
#include "sign/signature_check.h"

namespace {

// The text of the signature file, decoded when it is one; a failure about
// the file when it cannot be read or decoded, ENOENT when it is not there.
Result<a_signature> read_signature_file(const std::string& file) {
  const Result<std::string> text = read_minisign_file(file);
  if (!text) return text.failure();
  return decode_signature(text.value());
}

// Checks |signature| of |archive| with |keys|: the trusted key's file, or
// why it does not verify the archive.
std::string verdict(const std::string& archive, const a_signature& signature, const TrustedKeys& keys,
                    bool* verifies) {
  if (!signing_library_ready()) return "libsodium cannot start";
  const Result<const TrustedKeys::a_trusted_key*> signer = trusted_signer(archive, signature, keys);
  if (!signer) return signer.failure().text();
  Result<UniqueFd> opened = open_regular_file(archive.c_str());
  unsigned char hash[kFileHashSize];
  const Outcome read = opened ? digest_file(opened->get(), hash) : opened.outcome();
  if (!read) return kUnreadableArchive + read.failure().text();
  *verifies = file_verifies(signature, signer.value()->key, hash);
  return *verifies ? signer.value()->file : kArchiveMismatch;
}

}  // namespace

bool report_signature(const std::string& archive, const TrustedKeys& keys, const Outcome& trust,
                      a_signature_report* out) {
  *out = a_signature_report();
  out->file = signature_file_of(archive);
  const Result<a_signature> signature = read_signature_file(out->file);
  if (!signature && signature.failure().step == kStepMinisignFile && signature.failure().error == ENOENT)
    return false;
  out->decoded = signature.ok();
  if (out->decoded) out->signature = signature.value();
  if (!trust || keys.empty()) {
    out->reason = trust ? "no trusted keys configured" : trust.failure().line();
    return true;
  }
  out->checked = true;
  if (!out->decoded) {
    out->reason = kBadSignatureFile + signature.failure().text();
    return true;
  }
  out->reason = verdict(archive, out->signature, keys, &out->verifies);
  return true;
}
