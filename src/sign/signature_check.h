// The check of a command's archives against the publishers' keys this
// machine trusts (sign/trusted_keys.h).
//
//   SignatureCheck check;
//   if (Outcome started = check.start(set); !started) ... started.failure() ...
//   ... work that commits nothing ...
//   if (Outcome checked = check.finish(); !checked) ... checked.failure() ...
//
// start() reads the trust configuration and, when it names keys, the
// signature file <archive>.minisig of every archive: each must be a
// prehashed minisign signature by a trusted key (picked by the key id),
// whose global signature over the trusted comment holds. It then keeps the
// archives' tables (Tic::keep_tables) and hashes the archives, one after
// the other in the set's order, on a thread of its own. finish() waits for
// that thread and tells whether every archive's hash matched its signature
// and the tables in use were the ones hashed. A command commits nothing
// before finish() has succeeded; until then it may work on (decode into
// temporaries) beside the hashing. A failure is about the archive refused
// (kStepSignature, its cause one of those below), or a trust entry
// (kStepTrustedKeys).
//
// With no key configured both succeed, nothing is read and no thread is
// started: the commands behave as they do without signatures.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "sign/signature_file.h"
#include "sign/trusted_keys.h"

class Tic;

// Why an archive is refused (the cause of a failure of kStepSignature),
// after "kestrel: <command>: <archive>: ".
constexpr const char kNoSignature[] = "no signature: ";  // followed by "<archive>.minisig not found"
constexpr const char kLegacySignature[] = "legacy signature: sign it again with a current minisign";
constexpr const char kUnknownKey[] = "signed by unknown key ";  // followed by the key id
constexpr const char kCommentMismatch[] = "comment signature does not match";
constexpr const char kArchiveMismatch[] = "signature does not match the archive";
constexpr const char kArchiveChanged[] = "archive changed while it was checked";
constexpr const char kBadSignatureFile[] = "bad signature file: ";  // followed by why
constexpr const char kUnreadableArchive[] = "cannot read the archive: ";  // followed by why

// The signature file of |archive|.
std::string signature_file_of(const std::string& archive);

// The trusted key that |signature| (of |archive|) is checked with; a
// failure of kStepSignature about |archive| when something keeps it from
// being checked against the archive's bytes: legacy, unknown key, or a
// comment signature that does not hold.
Result<const TrustedKeys::a_trusted_key*> trusted_signer(const std::string& archive, const a_signature& signature,
                                                         const TrustedKeys& keys);

class SignatureCheck {
 public:
  SignatureCheck() = default;
  // Waits for the hashing.
  ~SignatureCheck();
  SignatureCheck(const SignatureCheck&) = delete;
  SignatureCheck& operator=(const SignatureCheck&) = delete;

  // |archives| is one archive or a set (Tic::archives()), every one open
  // with its tables loaded. May be called again once finish() has returned.
  Outcome start(Tic& archives);
  // Waits for the hashing started last; succeeds when every archive passed
  // or nothing was checked. May be called any number of times.
  Outcome finish();

  // True when keys are configured, once start() has read the configuration.
  bool checking() const { return !keys_.empty(); }

 private:
  struct a_pending {
    const Tic* archive;
    a_signature signature;
    const TrustedKeys::a_trusted_key* signer;
  };

  // Keeps |failure| as the check's; returns it.
  Outcome refuse(a_failure failure);
  Outcome read_signature(const Tic& archive);
  void hash_pending();

  bool keys_loaded_ = false;
  TrustedKeys keys_;
  std::vector<a_pending> pending_;
  std::thread hashing_;
  // Written by start() on the calling thread, or by the hashing thread
  // before finish() joins it.
  a_failure failure_;
};
