#include "sign/signature_report.h"

#include "platform/fd.h"
#include "sign/archive_digest.h"
#include "sign/minisign_text.h"
#include "sign/signature_check.h"

bool report_signature(const std::string& archive, const TrustedKeys& keys, const std::string& trust_problem,
                      a_signature_report* out) {
  *out = a_signature_report();
  out->file = signature_file_of(archive);
  std::string text, why;
  bool missing = false;
  if (!read_minisign_file(out->file, &text, &why, &missing)) {
    if (missing) return false;
  } else {
    out->decoded = decode_signature(text, &out->signature, &why);
  }
  if (!trust_problem.empty() || keys.empty()) {
    out->reason = trust_problem.empty() ? "no trusted keys configured" : trust_problem;
    return true;
  }
  out->checked = true;
  if (!out->decoded) {
    out->reason = kBadSignatureFile + why;
    return true;
  }
  if (!signing_library_ready()) {
    out->reason = "libsodium cannot start";
    return true;
  }
  const TrustedKeys::a_trusted_key* signer = nullptr;
  out->reason = signature_refusal(out->signature, keys, &signer);
  if (!out->reason.empty()) return true;
  unsigned char hash[kFileHashSize];
  UniqueFd fd(open_regular_file(archive.c_str(), why));
  if (!fd.valid() || !digest_file(fd.get(), hash, &why)) {
    out->reason = "cannot read the archive: " + why;
    return true;
  }
  out->verifies = file_verifies(out->signature, signer->key, hash);
  out->reason = out->verifies ? signer->file : kArchiveMismatch;
  return true;
}
