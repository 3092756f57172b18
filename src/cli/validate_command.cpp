#include "cli/commands.h"
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
      complain("validate", name, tic.open_problem());
      return -1;
    }
    const int valid = tic.validate();
    if (valid != 0) {
      complain("validate", name, archive_problem(tic, valid));
      return -1;
    }
    if (!signatures.start(tic) || !signatures.finish()) {
      complain("validate", signatures.subject(), signatures.cause());
      return -1;
    }
    if (tic.validate_streams() != 0) {
      complain("validate", name, error_subject() + ": " + error_cause());
      return -1;
    }
  }
  return 0;
}
