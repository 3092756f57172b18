#include "cli/commands.h"
#include "tic/archive/multi_tic.h"
#include "crypto/archive_key.h"
#include "sign/signature_check.h"
#include "install/install_steps.h"
#include "tic/archive/tic.h"

// Checks each archive in turn: it must open, its table of contents must load,
// its integrity code must match the product's key, its signature a trusted
// key (when keys are configured), and every stream must match its code. Stops at the first archive that fails and says why on standard
// error; standard output stays empty either way.
int CommandValidate::run() {
  const ArchiveKey key;
  SignatureCheck signatures;
  for (const std::string& name : args) {
    Tic tic(nullptr, false, key.bytes(), key.length());
    if (tic.open(name.c_str()) != 0) {
      complain("validate", name, tic.read_failure().text());
      return -1;
    }
    if (const Outcome valid = tic.integrity(); !valid) {
      complain("validate", name, valid.failure().text());
      return -1;
    }
    Outcome signed_by_trusted_key = signatures.start(tic);
    if (signed_by_trusted_key) signed_by_trusted_key = signatures.finish();
    if (!signed_by_trusted_key) {
      complain("validate", signed_by_trusted_key.failure().subject, signed_by_trusted_key.failure().text());
      return -1;
    }
    if (const Outcome streams = tic.validate_streams(); !streams) {
      complain("validate", name, streams.failure().subject + ": " + streams.failure().text());
      return -1;
    }
  }
  return 0;
}
